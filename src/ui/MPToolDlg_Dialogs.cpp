// The window's side of the More Config, serial-number entry, configuration check and PD dialogs.
#include <cerrno>

#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"
#include "ui/PDUpdateDlg.h"

void CMPToolDlg::vSetMoreConfigGUIByINIFile() {
  m_moreConfigDlg.vFromSettings(m_ini.m_pINI);
}

void CMPToolDlg::OnBnClickedMoreConfig() {
  try {
    m_moreConfigDlg.vFromSettingsForDialog(m_ini.m_pINI);
    if (view().nRunModal(EModalDialog::MoreConfig) == IDOK) m_moreConfigDlg.vToSettings(m_ini.m_pINI);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedMoreConfig", "OnBnClickedMoreConfig: dwErrorCode : %d ", errno);
  }
}

void CMPToolDlg::OnBnClickedDEBUG() {
  try {
    view().nRunModal(EModalDialog::CheckConfig);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedDEBUG", "OnBnClickedDEBUG:  dwErrorCode %d", errno);
  }
}

bool CMPToolDlg::bDevicePresent() const {
  for (const DevRecord& d : m_ToolsDevList.dev)
    if (d.ucIndex <= 16) return true;
  return false;
}

void CMPToolDlg::OnAboutBox() {
  try {
    view().nRunModal(EModalDialog::About);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnAboutBox", "OnAboutBox: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::OnBnClickedPdBtn() {
  if (m_pPDUpdateDlg == nullptr) return;
  try {
    m_pPDUpdateDlg->vFromSettings(m_ini.m_pINI);
    view().nRunModal(EModalDialog::PowerDelivery);
    m_pPDUpdateDlg->vToSettings(m_ini.m_pINI);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedPdBtn", "OnBnClickedPdBtn:  dwErrorCode %d", errno);
  }
}
