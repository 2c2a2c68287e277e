#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "host/USBUtility.h"
#include "platform/Clock.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {
struct BoxCall {
  std::string text, caption;
  uint32_t flags;
};
class FakeMessageView : public IMessageView {
 public:
  int nAnswer = IDOK;
  std::vector<BoxCall> calls;
  int nMessageBox(const std::string& t, const std::string& c, uint32_t f) override {
    calls.push_back({t, c, f});
    return nAnswer;
  }
};

struct Fixture : testing::Test {
  TempDir dir;
  CScaledClock clock{0.001};
  USBUtilityOptions opts() {
    USBUtilityOptions o;
    o.strAppPath = dir.str();
    o.strProcRoot = (dir.path() / "proc").string();
    o.strRunMarkerPath = (dir.path() / "run.lock").string();
    return o;
  }
};
using USBUtilityTest = Fixture;

bool bIsRoot() {
  return geteuid() == 0;
}
}  // namespace

TEST_F(USBUtilityTest, ProgramFolderComesFromOptionThenEnvironmentThenExecutable) {
  auto o = opts();
  o.strAppPath = dir.str() + "/";
  CUSBUtility a(clock, o);
  EXPECT_EQ(a.m_szAppPath, dir.str());  // no trailing separator

  o.strAppPath.clear();
  setenv("MPTOOL_HOME", "/srv/line1/", 1);
  CUSBUtility b(clock, o);
  EXPECT_EQ(b.m_szAppPath, "/srv/line1");

  unsetenv("MPTOOL_HOME");
  CUSBUtility c(clock, o);
  EXPECT_EQ(c.m_szAppPath, fs::read_symlink("/proc/self/exe").parent_path().string());
}

TEST_F(USBUtilityTest, CharToHexReadsHexDigitsCaseInsensitively) {
  CUSBUtility u(clock, opts());
  EXPECT_EQ(u.vCharToHex(""), 0u);
  EXPECT_EQ(u.vCharToHex("0A"), 10u);
  EXPECT_EQ(u.vCharToHex("1F"), 31u);
  EXPECT_EQ(u.vCharToHex("ff"), 255u);
  EXPECT_EQ(u.vCharToHex("fF"), u.vCharToHex("Ff"));
  EXPECT_EQ(u.vCharToHex("DEADBEEF"), 0xDEADBEEFu);
  // a character that is no digit ends the number
  EXPECT_EQ(u.vCharToHex("1G2"), 1u);
}

TEST_F(USBUtilityTest, GuidTextRoundTripsWithOrWithoutBraces) {
  CUSBUtility u(clock, opts());
  GUID g = u.vCStringToGUID("{F18A0E88-C30C-11D0-8815-00A0C906BED8}");
  EXPECT_EQ(g.Data1, 0xF18A0E88u);
  EXPECT_EQ(g.Data2, 0xC30C);
  EXPECT_EQ(g.Data3, 0x11D0);
  EXPECT_EQ(g.Data4[0], 0x88);
  EXPECT_EQ(g.Data4[7], 0xD8);
  EXPECT_EQ(u.vGUIDToCString(g), "{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
  EXPECT_EQ(u.vCStringToGUID("f18a0e88-c30c-11d0-8815-00a0c906bed8"), g);
}

TEST_F(USBUtilityTest, MalformedGuidTextGivesZeroGuidAndError) {
  CUSBUtility u(clock, opts());
  LogCapture log(3);
  EXPECT_EQ(u.vCStringToGUID("{f18a0e88-c30c-11d0-8815-00a0c906bed8"), GUID{});
  EXPECT_TRUE(log.contains("vCStringToGUID: UuidFromString Fail"));
  EXPECT_EQ(u.vCStringToGUID(""), GUID{});
  EXPECT_EQ(u.vCStringToGUID("{f18a0e88-c30c-11d0-8815-00a0c906bezz}"), GUID{});
  EXPECT_EQ(u.vCStringToGUID("{f18a0e88+c30c-11d0-8815-00a0c906bed8}"), GUID{});
}

TEST_F(USBUtilityTest, WideTextConvertsToNarrowAndRefusesBrokenSurrogates) {
  CUSBUtility u(clock, opts());
  EXPECT_EQ(u.WideStrToMultiStr(u"Hub 3.0"), "Hub 3.0");
  EXPECT_EQ(u.WideStrToMultiStr(u"\u00e9"), "\xc3\xa9");
  EXPECT_EQ(u.WideStrToMultiStr(u"\U0001F600"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(u.WideStrToMultiStr(std::u16string(1, char16_t(0xD800))), "");
  EXPECT_EQ(u.WideStrToMultiStr(std::u16string(1, char16_t(0xDC00)) + u"a"), "");
}

TEST_F(USBUtilityTest, Crc32MatchesTheStandardCheckValues) {
  CUSBUtility u(clock, opts());
  u.vInitCRC32Table();
  const std::string s = "123456789";
  EXPECT_EQ(u.dwCalcCRC32(reinterpret_cast<const uint8_t*>(s.data()), s.size()), 0xCBF43926u);
  EXPECT_EQ(u.dwCalcCRC32(nullptr, 0), 0u);
  const uint8_t zeros[4] = {};
  EXPECT_EQ(u.dwCalcCRC32(zeros, 4), 0x2144DF1Cu);
  EXPECT_EQ(u.m_dwCRC32Table[1], 0x77073096u);
  u.vInitCRC32Table();  // called again before each checksum: same table
  EXPECT_EQ(u.m_dwCRC32Table[255], 0x2D02EF8Du);
}

TEST_F(USBUtilityTest, GetOSVersionOnLinuxIsTheNewestClass) {
  CUSBUtility u(clock, opts());
  EXPECT_EQ(u.GetOSVersion(), 64);
  if (sizeof(void*) == 8) {
    EXPECT_FALSE(u.IsWow64());  // a 64-bit build is never WOW64
  }
}

// ---------------------------------------------------------------- files and folders

TEST_F(USBUtilityTest, CheckFilePathExistsAndItsMessage) {
  CUSBUtility u(clock, opts());
  FakeMessageView view;
  u.vSetMessageView(&view);
  auto f = dir.write("a.bin", "x");
  EXPECT_TRUE(u.vCheckFilePathExists(f.string(), true));
  EXPECT_TRUE(u.vCheckFilePathExists(dir.str(), true));  // folders pass like files
  EXPECT_TRUE(view.calls.empty());
  EXPECT_FALSE(u.vCheckFilePathExists(dir.str() + "/missing", false));
  EXPECT_TRUE(view.calls.empty());
  EXPECT_FALSE(u.vCheckFilePathExists(dir.str() + "/missing", true));
  ASSERT_EQ(view.calls.size(), 1u);
  EXPECT_EQ(view.calls[0].text, dir.str() + "/missing File/Path Not Read/Write");
  if (!bIsRoot()) {
    chmod(f.c_str(), 0444);
    EXPECT_FALSE(u.vCheckFilePathExists(f.string(), false));
  }
}

TEST_F(USBUtilityTest, FileVersionReadsOurVersionLineAndNeverFailsWithoutOne) {
  CUSBUtility u(clock, opts());
  std::string v = "untouched";
  EXPECT_EQ(u.vGetFileVersionInfo(dir.str() + "/none.rules", v), -5);
  EXPECT_EQ(v, "untouched");

  auto withVersion = dir.write("vlnt.rules", "# udev rules\n# FileVersion: 1.0.7.0\nSUBSYSTEM==\"usb\"\n");
  EXPECT_EQ(u.vGetFileVersionInfo(withVersion.string(), v), 0);
  EXPECT_EQ(v, "1.0.7.0");

  auto leadingZeros = dir.write("b.rules", "FileVersion:01.00.07.00");
  EXPECT_EQ(u.vGetFileVersionInfo(leadingZeros.string(), v), 0);
  EXPECT_EQ(v, "1.0.7.0");

  auto without = dir.write("c.rules", "no version here 1.0.7.0\n");
  EXPECT_EQ(u.vGetFileVersionInfo(without.string(), v), 0);
  EXPECT_NE(v, "1.0.7.0");
  EXPECT_EQ(v, "unknown");

  auto tooBig = dir.write("d.rules", "FileVersion: 1.0.70000.0");
  EXPECT_EQ(u.vGetFileVersionInfo(tooBig.string(), v), 0);
  EXPECT_EQ(v, "unknown");

  EXPECT_EQ(u.vGetFileVersionInfo(dir.str(), v), 0);  // a folder exists but has no version
  EXPECT_EQ(v, "unknown");
}

TEST_F(USBUtilityTest, DeleteFolderMissingFolderOrFileIsNoError) {
  CUSBUtility u(clock, opts());
  EXPECT_EQ(u.nDeleteFolder(dir.str() + "/VLNFW_Temp", true), 0);
  auto f = dir.write("plain.txt", "x");
  EXPECT_EQ(u.nDeleteFolder(f.string(), true), 0);
  EXPECT_TRUE(fs::exists(f));  // a file is no folder to walk
}

TEST_F(USBUtilityTest, DeleteFolderRecursiveRemovesTheWholeTree) {
  CUSBUtility u(clock, opts());
  dir.write("VLNFW_Temp/TempBinData.bin", "1");
  auto ro = dir.write("VLNFW_Temp/sub/deeper/readonly.rom", "2");
  chmod(ro.c_str(), 0444);
  dir.write("VLNFW_Temp/sub/b.rom", "3");
  EXPECT_EQ(u.nDeleteFolder(dir.str() + "/VLNFW_Temp", true), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "VLNFW_Temp"));
}

TEST_F(USBUtilityTest, DeleteFolderNonRecursiveKeepsFoldersThatHoldFolders) {
  CUSBUtility u(clock, opts());
  dir.write("T/a.bin", "1");
  dir.write("T/sub/b.bin", "2");
  EXPECT_EQ(u.nDeleteFolder(dir.str() + "/T", false), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "T/a.bin"));
  EXPECT_TRUE(fs::exists(dir.path() / "T/sub/b.bin"));
  EXPECT_TRUE(fs::exists(dir.path() / "T"));
  // without subfolders the folder itself goes
  dir.write("U/a.bin", "1");
  EXPECT_EQ(u.nDeleteFolder(dir.str() + "/U", false), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "U"));
}

TEST_F(USBUtilityTest, DeleteFolderNeverTouchesDotNamesAndReportsTheRemovalError) {
  CUSBUtility u(clock, opts());
  dir.write("T/.keep", "1");
  dir.write("T/a.bin", "2");
  dir.write("T/sub/.hidden", "3");
  int n = u.nDeleteFolder(dir.str() + "/T", true);
  EXPECT_EQ(n, ENOTEMPTY);  // the first folder that cannot go ends the walk
  EXPECT_TRUE(fs::exists(dir.path() / "T/sub/.hidden"));
  EXPECT_TRUE(fs::exists(dir.path() / "T/.keep"));
}

TEST_F(USBUtilityTest, DeleteFolderDoesNotFollowLinksOutOfTheFolder) {
  CUSBUtility u(clock, opts());
  auto outside = dir.write("outside/precious.ini", "keep me");
  dir.write("T/a.bin", "1");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "T/link");
  EXPECT_EQ(u.nDeleteFolder(dir.str() + "/T", true), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "T"));
  EXPECT_TRUE(fs::exists(outside));
}

TEST_F(USBUtilityTest, DeleteFolderReturnsTheErrorOfAFileThatCannotGo) {
  if (bIsRoot()) GTEST_SKIP() << "root deletes anything";
  CUSBUtility u(clock, opts());
  dir.write("T/locked/a.bin", "1");
  chmod((dir.path() / "T/locked").c_str(), 0555);
  EXPECT_EQ(u.nDeleteFolder(dir.str() + "/T", true), EACCES);
  EXPECT_TRUE(fs::exists(dir.path() / "T/locked/a.bin"));
  chmod((dir.path() / "T/locked").c_str(), 0755);
}

// ---------------------------------------------------------------- operator messages

TEST_F(USBUtilityTest, ProgramMessageToFileAppendsLinesAndPausesOnTheClock) {
  CUSBUtility u(clock, opts());
  FakeMessageView view;
  u.vSetMessageView(&view);
  fs::path old = fs::current_path();
  fs::current_path(dir.path());
  uint64_t t0 = clock.ullNowMs();
  EXPECT_EQ(u.ShowProgramMSG("None of Velnor device was found!!", 1, MB_OK, true), 0);
  EXPECT_EQ(u.ShowProgramMSG("input SN should have 12 digits", 3, MB_OK, true), 0);
  uint64_t t1 = clock.ullNowMs();
  fs::current_path(old);
  EXPECT_EQ(dir.read("ProgramMSG.txt"),
            "None of Velnor device was found!!\r\ninput SN should have 12 digits\r\n");
  EXPECT_GE(t1 - t0, 2000u);  // one second per message, in tool time
  EXPECT_TRUE(view.calls.empty());
}

TEST_F(USBUtilityTest, ProgramMessageKeepsExistingFileContent) {
  CUSBUtility u(clock, opts());
  dir.write("ProgramMSG.txt", "old line\r\n");
  fs::path old = fs::current_path();
  fs::current_path(dir.path());
  u.ShowProgramMSG("new", 4, MB_OK, true);
  fs::current_path(old);
  EXPECT_EQ(dir.read("ProgramMSG.txt"), "old line\r\nnew\r\n");
}

TEST_F(USBUtilityTest, ProgramMessageBoxGetsCaptionIconAndReturnsTheAnswer) {
  CUSBUtility u(clock, opts());
  FakeMessageView view;
  view.nAnswer = IDYES;
  u.vSetMessageView(&view);
  EXPECT_EQ(u.ShowProgramMSG("Update config with default value ?", 5, MB_YESNO, false), IDYES);
  EXPECT_EQ(u.ShowMessageBox("PD update done", MB_OK, 4), IDYES);
  ASSERT_EQ(view.calls.size(), 2u);
  EXPECT_EQ(view.calls[0].caption, "Question");
  EXPECT_EQ(view.calls[0].flags, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(view.calls[1].caption, "Information");
  EXPECT_EQ(view.calls[1].flags, MB_ICONINFORMATION);
  u.vSetMessageView(nullptr);  // back to the headless view
  testing::internal::CaptureStdout();
  EXPECT_EQ(u.ShowProgramMSG("Delete all?", 5, MB_YESNO, false), IDNO);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Delete all?\n");
}

TEST_F(USBUtilityTest, RebootRunsTheConfiguredCommandAndReportsItsOutcome) {
  auto o = opts();
  o.rebootCommand = {"sh", "-c", "exit 0"};
  EXPECT_TRUE(CUSBUtility(clock, o).RebootSystem());
  o.rebootCommand = {"sh", "-c", "exit 3"};
  EXPECT_FALSE(CUSBUtility(clock, o).RebootSystem());
  o.rebootCommand = {dir.str() + "/no-such-program"};
  EXPECT_FALSE(CUSBUtility(clock, o).RebootSystem());
}
