#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Clock.h"
#include "support/DlgFixture.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"
#include "ui/ControlIds.h"
#include "ui/HeadlessMainView.h"
#include "ui/MPToolDlg.h"

namespace fs = std::filesystem;

namespace {
using DlgTest = DlgFixture;
}  // namespace

TEST_F(DlgTest, DefaultsOfTheCommandLineFields) {
  EXPECT_EQ(dlg.m_nCmdLineMode, -1);
  EXPECT_EQ(dlg.m_bShowGUI, 1);
  EXPECT_TRUE(dlg.m_strCmdLine.empty());
  EXPECT_EQ(dlg.m_ucCmdLineLED[0], 0);
  EXPECT_EQ(dlg.m_ucCmdLineLED[1], 0);
  EXPECT_FALSE(dlg.m_bRDMode);
}

TEST_F(DlgTest, ProgramMessagesAreBoxesInWindowModeAndFileLinesWithout) {
  fs::path old = fs::current_path();
  fs::current_path(dir.path());
  dlg.nShowProgramMSG("input SN should have 12 digits", MSG_TYPE_WARNING);
  dlg.m_bShowGUI = 0;
  dlg.nShowProgramMSG("None of Velnor device was found!!", MSG_TYPE_ERROR);
  fs::current_path(old);
  auto boxes = view.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].strText, "input SN should have 12 digits");
  EXPECT_EQ(boxes[0].strCaption, "Warning");
  EXPECT_EQ(dir.read("ProgramMSG.txt"), "None of Velnor device was found!!\r\n");
}

TEST_F(DlgTest, SettingsMessagesGoThroughTheWindowAndTheFlagReachesTheUtilities) {
  ini.vLoadINIFile(dir.str() + "/missing.ini");
  EXPECT_FALSE(view.boxes().empty());  // the load's message is shown, not lost
  dir.write("a.ini", "auto_install_filter_driver_enable=1\n");
  ini.vLoadINIFile(dir.str() + "/a.ini");
  EXPECT_TRUE(utility.m_bAutoInstallFilterDriver);
}

TEST_F(DlgTest, ExitRequestIsRecordedAndTheFirstCodeWins) {
  std::vector<int> codes;
  dlg.vSetExitFunction([&](int n) { codes.push_back(n); });
  EXPECT_FALSE(dlg.bExitRequested());
  dlg.vExitProcess(-10);
  dlg.vExitProcess(0);
  EXPECT_TRUE(dlg.bExitRequested());
  EXPECT_EQ(*dlg.nExitCode(), -10);
  EXPECT_EQ(codes, (std::vector<int>{-10, 0}));
}

TEST_F(DlgTest, InitialPrivateDataFreesEverySlotAndCounter) {
  dlg.m_ToolsDevList.DevNums = 3;
  dlg.m_ToolsDevList.m_dwPassCount = 5;
  dlg.m_ToolsDevList.dev[2].ucIndex = 2;
  dlg.m_ToolsDevList.dev[2].strSerialNumber = "SN01";
  dlg.m_ToolsDevList.flags.ucFw_enablel = 1;
  dlg.m_ucRunStatus = 2;
  dlg.vInitialPrivateData();
  EXPECT_EQ(dlg.m_ToolsDevList.DevNums, 0);
  EXPECT_EQ(dlg.m_ToolsDevList.m_dwPassCount, 0u);
  EXPECT_EQ(dlg.m_ToolsDevList.flags.ucFw_enablel, 0);
  EXPECT_FALSE(dlg.m_ToolsDevList.dev[2].bOccupied());
  EXPECT_TRUE(dlg.m_ToolsDevList.dev[2].strSerialNumber.empty());
  EXPECT_EQ(dlg.m_ToolsDevList.dev[2].strCapacity, "NULL");
  EXPECT_EQ(dlg.m_ucRunStatus, 0);
}

TEST_F(DlgTest, ReplacingTheViewAlsoReroutesUtilityBoxes) {
  RecordingView other;
  dlg.vSetView(other);
  utility.ShowMessageBox("PD update", MB_OK, MSG_TYPE_INFORMATION);
  EXPECT_TRUE(view.boxes().empty());
  EXPECT_EQ(other.boxes().size(), 1u);
}

TEST(HeadlessMainView, KeepsWhatWasWrittenAndAnswersSafely) {
  CHeadlessMainView v;
  v.vSetText(IDC_EDIT_SERIAL_NUMBER, "SN0001");
  EXPECT_EQ(v.strGetText(IDC_EDIT_SERIAL_NUMBER), "SN0001");
  EXPECT_EQ(v.strGetText(IDC_EDIT_VID), "");
  v.vSetCheck(IDC_CHECK_UPDATE_FW, true);
  EXPECT_TRUE(v.bGetCheck(IDC_CHECK_UPDATE_FW));
  EXPECT_FALSE(v.bGetCheck(IDC_EDIT_VID));  // nothing ticked there
  EXPECT_EQ(v.nGetListSelection(IDC_COMBO_CONFIG_FORMAT), -1);
  v.vSetListSelection(IDC_COMBO_CONFIG_FORMAT, 2);
  EXPECT_EQ(v.nGetListSelection(IDC_COMBO_CONFIG_FORMAT), 2);
  EXPECT_EQ(v.nRunModal(EModalDialog::Login), IDCANCEL);
  EXPECT_EQ(v.strPickFile({}), "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(v.nMessageBox("Update config with default value ?", "warning", MB_YESNO), IDNO);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Update config with default value ?\n");
}
