// The window's control states (normal, R&D, auto mode, run) and the Lock/Unlock button.
// Hidden controls are switched like the shown ones: their states still decide what a run
// may change.
#include <cerrno>

#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"

namespace {

// Always enabled outside a run.
constexpr int kToolButtons[] = {IDC_BUTTON_LOAD_INI, IDC_BUTTON_EXIT, IDC_BUTTON_MIN,
                                IDC_BUTTON_SAFELY_REMOVE, IDC_BUTTON_UNLOCK_MPTOOL};
constexpr int kReadOnlyBoxes[] = {IDC_EDIT_PASS, IDC_EDIT_FAIL, IDC_EDIT_TOTAL, IDC_EDIT_PROGRESS_TEXT};
// The descriptor fields, and the firmware choice, follow "Update F/W" in R&D mode.
constexpr int kDescriptorFields[] = {IDC_COMBO_CONFIG_FORMAT, IDC_EDIT_VID,          IDC_EDIT_PID,
                                     IDC_EDIT_PID_U2,         IDC_EDIT_REVISION,     IDC_EDIT_SERIAL_NUMBER,
                                     IDC_EDIT_MANUFACTURER,   IDC_EDIT_PRODUCT,      IDC_EDIT_CONTAINER_ID,
                                     IDC_COMBO_IDLE_TIMER,    IDC_COMBO_SN_EDIT_TYPE};
constexpr int kFirmwareChoice[] = {IDC_BUTTON_BROWSE_FW, IDC_COMBO_FW_BROWSE};
// The test options that are enabled in R&D mode without a box above them.
constexpr int kTestOptions[] = {
    IDC_CHECK_UPDATE_CONFIG, IDC_CHECK_RELOAD_FW,        IDC_CHECK_EXT_UPDATE_FW, IDC_CHECK_USB_STATUS,
    IDC_COMBO_USB_STATUS,    IDC_CHECK_CONFIG_CHECK,     IDC_CHECK_SN_CHK_HEX,    IDC_CHECK_SN_INCREASE,
    IDC_RADIO_SN_HEX,        IDC_RADIO_SN_DEC,           IDC_COMBO_SN_INCREASE,   IDC_CHECK_INPUT_BARCODE,
    IDC_CHECK_INPUT_HDDSN,   IDC_CHECK_AUTO_SAFE_REMOVE, IDC_CHECK_FORMAT,        IDC_CHECK_WR_TEST,
    IDC_CHECK_PRELOAD,       IDC_CHECK_CAPACITY,         IDC_EDIT_CAPACITY,       IDC_CHECK_SLT};
constexpr int kFormatGroup[] = {IDC_COMBO_FORMAT_TYPE, IDC_COMBO_PARTITION_TYPE, IDC_EDIT_DRIVE_LABEL};

}  // namespace

void CMPToolDlg::vSetLockedControls(bool bStart, bool bAutoMode) {
  IMainView& v = view();
  for (int id : kToolButtons) v.vEnableControl(id, true);
  v.vEnableControl(IDC_BUTTON_START, bStart);
  for (int id : kReadOnlyBoxes) v.vSetReadOnly(id, true);
  v.vEnableControl(IDC_BUTTON_SAVE_INI, false);
  v.vEnableControl(IDC_BUTTON_CLEAR, false);
  for (int id : kDescriptorFields) v.vEnableControl(id, false);
  v.vEnableControl(IDC_BUTTON_MORE_CONFIG, false);
  for (int id : kFirmwareChoice) v.vEnableControl(id, false);
  v.vEnableControl(IDC_CHECK_UPDATE_FW, false);
  for (int id : kTestOptions) v.vEnableControl(id, false);
  vEnableDependentTestOptions(false);
  v.vEnableControl(IDC_CHECK_AUTO_MP, bAutoMode && m_bRDMode);
  v.vEnableControl(IDC_COMBO_AUTO_MP_DEVNUM, false);
  v.vEnableControl(IDC_BUTTON_PD, m_ini.m_pINI.uiExt_fw_enable != 0);
}

void CMPToolDlg::vEnableDependentTestOptions(bool bRD) {
  IMainView& v = view();
  const bool bSpeed = bRD && v.bGetCheck(IDC_CHECK_WR_TEST);
  v.vEnableControl(IDC_CHECK_SPEED_TEST, bSpeed);
  const bool bSpeedEdits = bSpeed && v.bGetCheck(IDC_CHECK_SPEED_TEST);
  v.vEnableControl(IDC_EDIT_READ_SPEED, bSpeedEdits);
  v.vEnableControl(IDC_EDIT_WRITE_SPEED, bSpeedEdits);
  v.vEnableControl(IDC_EDIT_SECONDS, bRD && v.bGetCheck(IDC_CHECK_AUTO_SAFE_REMOVE));
  const bool bPreload = bRD && v.bGetCheck(IDC_CHECK_PRELOAD);
  v.vEnableControl(IDC_COMBO_PRELOAD, bPreload);
  v.vEnableControl(IDC_BUTTON_BROWSE_PRELOAD, bPreload);
  const bool bFormat = bRD && v.bGetCheck(IDC_CHECK_FORMAT);
  for (int id : kFormatGroup) v.vEnableControl(id, bFormat);
  for (int id = IDC_CHECK_SLT_FIRST; id <= IDC_CHECK_SLT_LAST; ++id)
    v.vEnableControl(id, bRD && v.bGetCheck(IDC_CHECK_SLT));
}

void CMPToolDlg::vSetNormalControls() {
  try {
    if (!m_bRDMode) {
      vSetLockedControls(true, false);
      return;
    }
    IMainView& v = view();
    for (int id : kToolButtons) v.vEnableControl(id, true);
    v.vEnableControl(IDC_BUTTON_START, true);
    for (int id : kReadOnlyBoxes) v.vSetReadOnly(id, true);
    v.vEnableControl(IDC_BUTTON_SAVE_INI, true);
    v.vEnableControl(IDC_BUTTON_CLEAR, true);
    const bool bUpdateFW = v.bGetCheck(IDC_CHECK_UPDATE_FW);
    for (int id : kDescriptorFields) v.vEnableControl(id, bUpdateFW);
    for (int id : kFirmwareChoice) v.vEnableControl(id, bUpdateFW);
    v.vEnableControl(IDC_BUTTON_MORE_CONFIG, bUpdateFW && v.bGetCheck(IDC_CHECK_UPDATE_CONFIG));
    v.vEnableControl(IDC_CHECK_UPDATE_FW, true);
    for (int id : kTestOptions) v.vEnableControl(id, true);
    vEnableDependentTestOptions(true);
    v.vEnableControl(IDC_CHECK_AUTO_MP, true);
    v.vEnableControl(IDC_COMBO_AUTO_MP_DEVNUM, v.bGetCheck(IDC_CHECK_AUTO_MP));
    v.vEnableControl(IDC_BUTTON_PD, m_ini.m_pINI.uiExt_fw_enable != 0);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vSetNormalControls", "vSetNormalControls: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::vSetAutoModeControls() {
  try {
    vSetLockedControls(false, true);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vSetAutoModeControls", "vSetAutoModeControls: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::vSetRunControls() {
  try {
    IMainView& v = view();
    for (int id : kToolButtons) v.vEnableControl(id, false);
    v.vEnableControl(IDC_BUTTON_START, false);
    for (int id : kReadOnlyBoxes) v.vSetReadOnly(id, true);
    v.vEnableControl(IDC_BUTTON_SAVE_INI, false);
    v.vEnableControl(IDC_BUTTON_CLEAR, false);
    for (int id : kDescriptorFields) v.vEnableControl(id, false);
    v.vEnableControl(IDC_BUTTON_MORE_CONFIG, false);
    for (int id : kFirmwareChoice) v.vEnableControl(id, false);
    v.vEnableControl(IDC_CHECK_UPDATE_FW, false);
    for (int id : kTestOptions) v.vEnableControl(id, false);
    vEnableDependentTestOptions(false);
    v.vEnableControl(IDC_CHECK_AUTO_MP, false);
    v.vEnableControl(IDC_COMBO_AUTO_MP_DEVNUM, false);
    // the PD button keeps its state through a run
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vSetRunControls", "vSetRunControls: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::vApplyIdleControls() {
  if (!m_bRDMode && m_ini.m_pINI.ucAuto_mp)
    vSetAutoModeControls();
  else
    vSetNormalControls();
}

void CMPToolDlg::OnBnClickedButtonUnlockMptool() {
  try {
    const bool bAutoMode = m_ini.m_pINI.ucAuto_mp != 0;
    if (bAutoMode && !m_bRDMode) bDeleteAllThread();
    if (m_bRDMode) {
      m_bRDMode = false;
    } else {
      CLoginDlg login;
      if (view().nRunModal(EModalDialog::Login) == IDOK)
        login.OnBnClickedOk(view().strGetText(IDC_EDIT_LOGIN_PASSWORD));
      m_bRDMode = login.m_bRDMode;
    }
    view().vSetToolTip(IDC_BUTTON_UNLOCK_MPTOOL, m_bRDMode ? "Unlock" : "Lock");
    view().vShowPicture(IDC_BUTTON_UNLOCK_MPTOOL, m_bRDMode ? "UNLOCK" : "LOCK");
    vApplyIdleControls();
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedButtonUnlockMptool",
                      "OnBnClickedButtonUnlockMptool: m_bChangeMode : %d , dwErrorCode : %d ",
                      m_bRDMode ? 1 : 0, errno);
  }
}
