// The window's control states and the R&D lock, through a recording view.
#include <gtest/gtest.h>

#include "run/IRunView.h"
#include "support/DlgFixture.h"
#include "support/LogCapture.h"
#include "ui/ControlIds.h"
#include "ui/LoginDlg.h"

namespace {

struct ControlStateTest : DlgFixture {
  bool bOn(int nId) { return view.enabled(nId) == 1; }
  bool bOff(int nId) { return view.enabled(nId) == 0; }
  void vExpectReadOnlyBoxes() {
    for (int id : {IDC_EDIT_PASS, IDC_EDIT_FAIL, IDC_EDIT_TOTAL, IDC_EDIT_PROGRESS_TEXT})
      EXPECT_EQ(view.readOnly(id), 1) << id;
  }
};

TEST_F(ControlStateTest, NormalStateOutsideRDModeLocksTheSettingsButKeepsTheToolButtons) {
  ini.m_pINI.uiExt_fw_enable = 1;
  view.vSetCheck(IDC_CHECK_UPDATE_FW, true);
  dlg.vSetNormalControls();
  for (int id : {IDC_BUTTON_LOAD_INI, IDC_BUTTON_EXIT, IDC_BUTTON_MIN, IDC_BUTTON_SAFELY_REMOVE,
                 IDC_BUTTON_UNLOCK_MPTOOL, IDC_BUTTON_START, IDC_BUTTON_PD})
    EXPECT_TRUE(bOn(id)) << id;
  for (int id : {IDC_BUTTON_SAVE_INI,    IDC_BUTTON_CLEAR,        IDC_EDIT_VID,
                 IDC_EDIT_PID,           IDC_EDIT_PID_U2,         IDC_EDIT_REVISION,
                 IDC_EDIT_SERIAL_NUMBER, IDC_EDIT_MANUFACTURER,   IDC_EDIT_PRODUCT,
                 IDC_EDIT_CONTAINER_ID,  IDC_COMBO_CONFIG_FORMAT, IDC_COMBO_IDLE_TIMER,
                 IDC_COMBO_SN_EDIT_TYPE, IDC_BUTTON_MORE_CONFIG,  IDC_BUTTON_BROWSE_FW,
                 IDC_COMBO_FW_BROWSE,    IDC_CHECK_UPDATE_FW,     IDC_CHECK_RELOAD_FW,
                 IDC_CHECK_AUTO_MP,      IDC_CHECK_WR_TEST,       IDC_EDIT_SECONDS})
    EXPECT_TRUE(bOff(id)) << id;
  vExpectReadOnlyBoxes();
}

TEST_F(ControlStateTest, RDModeOpensTheSettingsAsUpdateFirmwareAndTheOptionBoxesSay) {
  dlg.m_bRDMode = true;
  view.vSetCheck(IDC_CHECK_UPDATE_FW, true);
  view.vSetCheck(IDC_CHECK_WR_TEST, true);
  view.vSetCheck(IDC_CHECK_PRELOAD, true);
  dlg.vSetNormalControls();
  for (int id :
       {IDC_BUTTON_SAVE_INI, IDC_BUTTON_CLEAR, IDC_EDIT_VID, IDC_EDIT_SERIAL_NUMBER, IDC_COMBO_FW_BROWSE,
        IDC_BUTTON_BROWSE_FW, IDC_CHECK_UPDATE_FW, IDC_CHECK_RELOAD_FW, IDC_CHECK_AUTO_MP, IDC_BUTTON_START,
        IDC_CHECK_SPEED_TEST, IDC_COMBO_PRELOAD, IDC_BUTTON_BROWSE_PRELOAD})
    EXPECT_TRUE(bOn(id)) << id;
  // dependants whose boxes are clear, and More Config without "Update Config"
  for (int id : {IDC_EDIT_READ_SPEED, IDC_EDIT_WRITE_SPEED, IDC_EDIT_SECONDS, IDC_COMBO_FORMAT_TYPE,
                 IDC_EDIT_DRIVE_LABEL, IDC_BUTTON_MORE_CONFIG, IDC_COMBO_AUTO_MP_DEVNUM, IDC_BUTTON_PD})
    EXPECT_TRUE(bOff(id)) << id;
  view.vSetCheck(IDC_CHECK_UPDATE_CONFIG, true);
  dlg.vSetNormalControls();
  EXPECT_TRUE(bOn(IDC_BUTTON_MORE_CONFIG));
  vExpectReadOnlyBoxes();

  // Without "Update F/W" the descriptors, the firmware choice and More Config close again.
  view.vSetCheck(IDC_CHECK_UPDATE_FW, false);
  dlg.vSetNormalControls();
  for (int id :
       {IDC_EDIT_VID, IDC_EDIT_PRODUCT, IDC_COMBO_FW_BROWSE, IDC_BUTTON_BROWSE_FW, IDC_BUTTON_MORE_CONFIG})
    EXPECT_TRUE(bOff(id)) << id;
  EXPECT_TRUE(bOn(IDC_CHECK_UPDATE_FW));
  EXPECT_TRUE(bOn(IDC_BUTTON_SAVE_INI));
}

TEST_F(ControlStateTest, AutoModeAndRunStates) {
  dlg.vSetAutoModeControls();
  EXPECT_TRUE(bOff(IDC_BUTTON_START));
  EXPECT_TRUE(bOn(IDC_BUTTON_SAFELY_REMOVE));
  EXPECT_TRUE(bOn(IDC_BUTTON_LOAD_INI));
  EXPECT_TRUE(bOff(IDC_CHECK_AUTO_MP));  // only an R&D operator may switch it off
  EXPECT_TRUE(bOff(IDC_BUTTON_SAVE_INI));
  dlg.m_bRDMode = true;
  dlg.vSetAutoModeControls();
  EXPECT_TRUE(bOn(IDC_CHECK_AUTO_MP));

  ini.m_pINI.uiExt_fw_enable = 1;
  view.vEnableControl(IDC_BUTTON_PD, true);
  ini.m_pINI.uiExt_fw_enable = 0;
  dlg.vSetRunControls();
  for (int id : {IDC_BUTTON_LOAD_INI, IDC_BUTTON_EXIT, IDC_BUTTON_MIN, IDC_BUTTON_SAFELY_REMOVE,
                 IDC_BUTTON_UNLOCK_MPTOOL, IDC_BUTTON_START, IDC_BUTTON_SAVE_INI, IDC_BUTTON_CLEAR,
                 IDC_EDIT_VID, IDC_CHECK_AUTO_MP, IDC_CHECK_UPDATE_FW})
    EXPECT_TRUE(bOff(id)) << id;
  EXPECT_TRUE(bOn(IDC_BUTTON_PD));  // a run leaves it as it was
  vExpectReadOnlyBoxes();
}

TEST_F(ControlStateTest, TheRunEnginesStatesReachTheWindowsRoutines) {
  auto pRunView = dlg.pNewRunView();
  ini.m_pINI.ucAuto_mp = 1;
  pRunView->vSetControls(ERunControls::AutoMode);
  EXPECT_TRUE(bOff(IDC_BUTTON_START));
  pRunView->vSetControls(ERunControls::Run);
  EXPECT_TRUE(bOff(IDC_BUTTON_LOAD_INI));
  // An R&D operator gets the normal state back at the end of an auto-mode run.
  dlg.m_bRDMode = true;
  pRunView->vSetControls(ERunControls::AutoMode);
  EXPECT_TRUE(bOn(IDC_BUTTON_START));
  EXPECT_TRUE(bOn(IDC_BUTTON_SAVE_INI));
}

TEST(LoginDlgTest, OnlyThePasswordSwitchesTheRDModeOn) {
  LogCapture log;
  for (const char* pszWrong : {"", "   ", "QUILLO", "QUILLONS", "Q UILLON"}) {
    CLoginDlg d;
    d.OnBnClickedOk(pszWrong);
    EXPECT_FALSE(d.m_bRDMode) << pszWrong;
  }
  EXPECT_TRUE(log.contains("Loing Password Fail , m_LoginDialogPassword : QUILLO , m_bRDMode : 0"));
  for (const char* pszRight : {"QUILLON", "quillon", "  QuIlLoN  "}) {
    CLoginDlg d;
    d.OnBnClickedOk(pszRight);
    EXPECT_TRUE(d.m_bRDMode) << pszRight;
    EXPECT_EQ(d.m_LoginDialogPassword.size(), 7u);
  }
}

TEST_F(ControlStateTest, LockUnlockLogsInThroughTheDialogAndSwitchesBack) {
  view.vSetText(IDC_EDIT_LOGIN_PASSWORD, "wrong");
  view.vQueueModal(IDOK);
  dlg.OnBnClickedButtonUnlockMptool();
  EXPECT_FALSE(dlg.m_bRDMode);
  EXPECT_EQ(view.toolTip(IDC_BUTTON_UNLOCK_MPTOOL), "Lock");

  view.vSetText(IDC_EDIT_LOGIN_PASSWORD, " quillon ");
  view.vQueueModal(IDCANCEL);  // cancelled: the text is not looked at
  dlg.OnBnClickedButtonUnlockMptool();
  EXPECT_FALSE(dlg.m_bRDMode);

  view.vQueueModal(IDOK);
  dlg.OnBnClickedButtonUnlockMptool();
  EXPECT_TRUE(dlg.m_bRDMode);
  EXPECT_EQ(view.toolTip(IDC_BUTTON_UNLOCK_MPTOOL), "Unlock");
  EXPECT_TRUE(bOn(IDC_BUTTON_SAVE_INI));

  // Locking again asks for nothing.
  size_t nModals = view.modals().size();
  ini.m_pINI.ucAuto_mp = 1;
  dlg.OnBnClickedButtonUnlockMptool();
  EXPECT_EQ(view.modals().size(), nModals);
  EXPECT_FALSE(dlg.m_bRDMode);
  EXPECT_EQ(view.toolTip(IDC_BUTTON_UNLOCK_MPTOOL), "Lock");
  EXPECT_TRUE(bOff(IDC_BUTTON_START));  // auto mode's state without R&D
}

}  // namespace
