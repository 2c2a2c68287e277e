#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/MPToolApp.h"
#include "platform/Clock.h"
#include "support/DlgFixture.h"
#include "support/LogCapture.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"
#include "ui/ControlIds.h"
#include "ui/Resources.h"

namespace fs = std::filesystem;

namespace {
struct StartupTest : DlgFixture {
  std::vector<int> exits;
  std::vector<int> runModes;  // the window-less runs start-up handed over, by mode
  int nWindowRuns = 0;        // how often start-up handed over to the window
  fs::path oldCwd = fs::current_path();

  StartupTest() {
    dlg.vSetExitFunction([this](int n) { exits.push_back(n); });
    fs::current_path(dir.path());  // "ProgramMSG.txt" lands here
  }
  ~StartupTest() override {
    fs::current_path(oldCwd);
    vDEBUG_SetLevel(0);
  }
  int run(std::vector<const char*> args) {
    args.insert(args.begin(), "MPTool");
    CMPToolApp app(dlg);
    app.m_fnRunWithoutWindow = [this](CMPToolDlg& d) {
      runModes.push_back(d.m_nCmdLineMode);
      return 42;
    };
    app.m_fnRunWindow = [this](CMPToolDlg&) {
      ++nWindowRuns;
      return 0;
    };
    return app.nRun(static_cast<int>(args.size()), args.data());
  }
  // A copy of the tool serving this test's program folder (its executable lies there).
  void addProcess(pid_t pid) {
    fs::create_directories(dir.path() / "proc" / std::to_string(pid));
    fs::create_symlink(dir.path() / "MPTool", dir.path() / "proc" / std::to_string(pid) / "exe");
  }
  std::string usage() const { return view.boxes().empty() ? "" : view.boxes()[0].strText; }
};
}  // namespace

TEST_F(StartupTest, EmptyCommandLineOpensTheWindowAtLevelZero) {
  vDEBUG_SetLevel(0);
  EXPECT_EQ(run({}), 0);
  EXPECT_EQ(nWindowRuns, 1);
  EXPECT_TRUE(runModes.empty());
  EXPECT_EQ(dlg.m_nCmdLineMode, -1);
  EXPECT_EQ(dlg.m_bShowGUI, 1);
  EXPECT_EQ(g_nDebugLevel.load(), 0);
  EXPECT_TRUE(exits.empty());
}

TEST_F(StartupTest, StartUpPreparesTheWindowInOrder) {
  dir.write("vlnhub.ini", "vendor_id=2F7B\n");
  run({});
  EXPECT_EQ(view.title(), MPTOOL_VERSION_TEXT);
  EXPECT_EQ(view.shown(IDC_PICTURE_PASS), 0);
  EXPECT_EQ(view.shown(IDC_PICTURE_FAIL), 0);
  EXPECT_EQ(view.shown(IDC_STATIC_WARNING_MSG), 0);
  EXPECT_EQ(view.text(IDC_STATIC_VERSION), MPTOOL_VERSION_TEXT);
  EXPECT_EQ(view.textColour(IDC_STATIC_VERSION), RGB(255, 0, 0));
  EXPECT_EQ(view.font(IDC_STATIC_VERSION).nWeight, 700);
  EXPECT_EQ(view.progressRange(IDC_PROGRESS_SEARCH), std::make_pair(0, 100));
  EXPECT_EQ(view.progressPos(IDC_PROGRESS_SEARCH), 0);
  EXPECT_EQ(view.progressColour(IDC_PROGRESS_SEARCH), RGB(20, 232, 20));
  EXPECT_EQ(dlg.m_strINIFilePath, dir.str() + "/vlnhub.ini");
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F7B");  // the settings were loaded
  // the agreement document is written when missing
  EXPECT_EQ(dir.read(AGREEMENT_FILE_NAME), strAgreementHtml());
}

TEST_F(StartupTest, AnExistingAgreementDocumentIsLeftAlone) {
  dir.write(AGREEMENT_FILE_NAME, "site's own text");
  run({});
  EXPECT_EQ(dir.read(AGREEMENT_FILE_NAME), "site's own text");
}

TEST_F(StartupTest, StartUpClearsSharedScanState) {
  utility.m_bScanWaiting = true;
  utility.vSetProgress(77);
  run({});
  EXPECT_FALSE(utility.m_bScanWaiting);
  EXPECT_EQ(utility.ucGetProgress(), 0);
}

TEST_F(StartupTest, UsageShowsTheTextAsInformationAndExitsZero) {
  EXPECT_EQ(run({"/?"}), 0);
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(dlg.m_nCmdLineMode, 0);
  ASSERT_EQ(view.boxes().size(), 1u);
  EXPECT_EQ(view.boxes()[0].strCaption, "Information");
  EXPECT_EQ(usage().rfind(std::string(MPTOOL_VERSION_TEXT) + " command line usage:", 0), 0u);
  EXPECT_FALSE(fs::exists(dir.path() / "ProgramMSG.txt"));  // a box even without a window
  // start-up stopped there
  EXPECT_EQ(view.progressPos(IDC_PROGRESS_SEARCH), -1);
}

TEST_F(StartupTest, LowerCaseOptionsAndValuesArriveUpperCased) {
  LogCapture log(3);
  run({"/s:abcd_1234"});
  EXPECT_EQ(dlg.m_nCmdLineMode, 3);
  EXPECT_EQ(dlg.m_strCmdLineSN, "ABCD1234");
  EXPECT_EQ(dlg.m_bShowGUI, 0);
  EXPECT_EQ(view.windowShown(), 0);
  EXPECT_EQ(g_nDebugLevel.load(), 4);
  EXPECT_TRUE(log.contains("MSG::CMPToolDlg::vCmdLinePreHandler:"));
  EXPECT_TRUE(log.contains("cmd line[/S:ABCD1234]"));
  EXPECT_TRUE(log.contains("AA: InputSN: ABCD1234"));
  EXPECT_TRUE(exits.empty());
}

TEST_F(StartupTest, CommandLineModesSetTheirFields) {
  run({"/led:10"});
  EXPECT_EQ(dlg.m_nCmdLineMode, 4);
  EXPECT_EQ(dlg.m_ucCmdLineLED[0], 1);
  EXPECT_EQ(dlg.m_ucCmdLineLED[1], 0);
}

TEST_F(StartupTest, FirmwareCheckValue) {
  LogCapture log(3);
  run({"/C:0a0b0c0d0e0f"});
  EXPECT_EQ(dlg.m_nCmdLineMode, 1);
  EXPECT_EQ(dlg.m_strCmdLineFW, "0A0B0C0D0E0F");
  EXPECT_TRUE(log.contains("Checked Firmware: 0A0B0C0D0E0F"));
}

TEST_F(StartupTest, EveryWindowLessModeIsHandedToTheRunnerAndAnswersWithItsCode) {
  EXPECT_EQ(run({"/S"}), 42);
  EXPECT_EQ(run({"/IC"}), 42);
  EXPECT_EQ(run({"/?"}), 0);  // ends during start-up
  EXPECT_EQ(runModes, (std::vector<int>{2, 8}));
}

TEST_F(StartupTest, UnmatchedCommandLineShowsUsageAndExitsMinusTen) {
  LogCapture log(3);
  EXPECT_EQ(run({"/S:1234567"}), -10);
  EXPECT_EQ(exits, std::vector<int>{-10});
  EXPECT_TRUE(log.contains("cmd line unmatch"));
  EXPECT_NE(usage().find("OPTIONS:"), std::string::npos);
  EXPECT_EQ(dlg.m_nCmdLineMode, -1);
}

TEST_F(StartupTest, MalformedValuesExitMinusTenWithoutUsage) {
  EXPECT_EQ(run({"/LED:12"}), -10);
  EXPECT_TRUE(view.boxes().empty());
}

TEST_F(StartupTest, DebugOptionSetsTheLevelAndKeepsTheWindow) {
  run({"/dbg3"});
  EXPECT_EQ(g_nDebugLevel.load(), 3);
  EXPECT_EQ(dlg.m_bShowGUI, 1);
  EXPECT_EQ(dlg.m_nCmdLineMode, -1);
}

TEST_F(StartupTest, DebugOptionWithOtherOptionsIgnoresThem) {
  vDEBUG_SetLevel(2);
  EXPECT_EQ(run({"/DBG", "/S"}), 0);
  EXPECT_EQ(nWindowRuns, 1);
  EXPECT_EQ(g_nDebugLevel.load(), 0);
  EXPECT_EQ(dlg.m_strCmdLine, "/S");
  EXPECT_EQ(dlg.m_bShowGUI, 1);
  EXPECT_EQ(dlg.m_nCmdLineMode, -1);
}

TEST_F(StartupTest, SingleInstanceEndsAStaleCopyAndGoesOn) {
  pid_t child = fork();
  if (child == 0) {
    for (;;) pause();
  }
  addProcess(getpid());
  addProcess(child);
  LogCapture log(1);
  EXPECT_EQ(run({}), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(log.contains("OnInitDialog: iProcessCount: 2 , dwProcessID : " + std::to_string(child)));
  EXPECT_TRUE(exits.empty());
}

TEST_F(StartupTest, SingleInstanceRefusesToStartBesideACopyInARun) {
  pid_t child = fork();
  if (child == 0) {
    for (;;) pause();
  }
  addProcess(getpid());
  addProcess(child);
  CRunMarker running(dir.str() + "/run.lock");  // the other copy is in a run
  ASSERT_TRUE(running.bAcquire(clock));
  testing::internal::CaptureStderr();
  EXPECT_EQ(run({}), EXIT_RUN_IN_PROGRESS);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("production run"), std::string::npos);
  EXPECT_EQ(exits, std::vector<int>{EXIT_RUN_IN_PROGRESS});
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);  // still alive
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(ini.m_pINI.ucVendor_id.empty());  // start-up stopped before the settings
}

// The filter driver check of start-up: without it the tool ends with -20 unless it may
// install the driver itself; the package is written to the driver folder either way.
TEST_F(StartupTest, MissingFilterDriverEndsStartUpWithMinusTwentyAfterTheMessage) {
  driver.bRegistered = false;
  EXPECT_EQ(run({"/S"}), EXIT_NO_FILTER_DRIVER);
  EXPECT_EQ(exits, std::vector<int>{EXIT_NO_FILTER_DRIVER});
  EXPECT_TRUE(runModes.empty());
  ASSERT_EQ(view.boxes().size(), 1u);
  EXPECT_EQ(view.boxes()[0].strText, "Please install Velnor Filter Driver first!!");
  EXPECT_TRUE(fs::exists(dir.path() / "tmp/VLN318xFW/FilterDriver/70-vlntufdriver.rules"));
  EXPECT_TRUE(fs::exists(dir.path() / "tmp/VLN318xFW/FilterDriver/DeleteVlntufdriver.sh"));
}

TEST_F(StartupTest, InstalledOrSelfInstallingFilterDriverLetsStartUpGoOn) {
  EXPECT_EQ(run({"/S"}), 42);
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(view.boxes().empty());

  driver.bRegistered = false;
  dir.write("vlnhub.ini", "auto_install_filter_driver_enable=1\n");
  EXPECT_EQ(run({"/S"}), 42);
  EXPECT_TRUE(exits.empty());
  EXPECT_EQ(driver.nInstalls, 0);  // installing is the walk's job
}

TEST_F(StartupTest, PackageIsWrittenAnewAndRemovedOnExit) {
  EXPECT_EQ(dlg.nLoadFilterDriverLib(dir.str() + "/b/"), 0);
  dir.write("b/VLN318xFW/FilterDriver/70-vlntufdriver.rules", "stale");
  dir.write("b/VLN318xFW/Temp/TempBinData.bin", "image");
  EXPECT_EQ(dlg.nLoadFilterDriverLib(dir.str() + "/b/"), 0);
  EXPECT_NE(dir.read("b/VLN318xFW/FilterDriver/70-vlntufdriver.rules").find("VLNTFilter"), std::string::npos);
  EXPECT_EQ(dlg.Remove_FilterDriverAndFiles(dir.str() + "/b/"), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "b/VLN318xFW/FilterDriver/70-vlntufdriver.rules"));
  EXPECT_FALSE(fs::exists(dir.path() / "b/VLN318xFW/FilterDriver/libk4821605.so"));
  EXPECT_FALSE(fs::exists(dir.path() / "b/VLN318xFW/Temp"));
  EXPECT_TRUE(fs::exists(dir.path() / "b/VLN318xFW/FilterDriver"));  // the folder itself stays
  EXPECT_EQ(driver.nRemovals, 0);
  utility.m_bAutoInstallFilterDriver = true;  // the tool installed it: it removes it too
  dlg.Remove_FilterDriverAndFiles(dir.str() + "/b/");
  EXPECT_EQ(driver.nRemovals, 1);

  // A package folder without the rules is -1, without the shim -10.
  dir.write("pkg/70-vlntufdriver.rules", "# VLNTFilter\n");
  dlg.m_strPackageFolder = dir.str() + "/pkg";
  EXPECT_EQ(dlg.nLoadFilterDriverLib(dir.str() + "/c/"), -10);
  dlg.m_strPackageFolder = dir.str() + "/none";
  EXPECT_EQ(dlg.nLoadFilterDriverLib(dir.str() + "/c/"), -1);
  EXPECT_EQ(dlg.nADD_Delete_DevconFile(dir.str(), 1), 0);
  EXPECT_EQ(dlg.nADD_Delete_DevconFile(dir.str() + "/missing", 1), -10);
}
