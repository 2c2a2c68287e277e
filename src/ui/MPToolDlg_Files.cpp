// The window's file choices: the folder its file dialogs open in, the firmware browse button
// and list, the preload folder's browse button, and "Create Config", which writes a
// configuration ROM file from the firmware list's file with the window's fields.
#include <cerrno>
#include <filesystem>
#include <string>

#include "images/FirmwareList.h"
#include "images/HubImages.h"
#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"

std::string CMPToolDlg::strDialogFolder() const {
  return m_strLastDialogFolder.empty() ? m_utility.m_szAppPath : m_strLastDialogFolder;
}

std::string CMPToolDlg::strPickPath(FilePick pick) {
  pick.strInitialPath = strDialogFolder();
  std::string strPath = view().strPickFile(pick);
  if (strPath.empty()) return strPath;
  if (pick.bFolder) {
    m_strLastDialogFolder = strPath;
  } else {
    const std::string strFolder = std::filesystem::path(strPath).parent_path().string();
    if (!strFolder.empty()) m_strLastDialogFolder = strFolder;
  }
  return strPath;
}

void CMPToolDlg::OnBnClickedButtonDevicwfirmwareFwbrowse() {
  try {
    if (!m_pFirmwareSelection) return;
    FilePick pick;
    pick.strTitle = "Browse FW";
    pick.strFilter = FIRMWARE_FILE_FILTER;
    const std::string strPath = strPickPath(pick);
    // the selection's list is the window's list as it stands now
    m_pFirmwareSelection->m_FirmwareList.vSetEntries(m_vecFWBrowse);
    m_pFirmwareSelection->OnBnClickedButtonDevicwfirmwareFwbrowse(strPath);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedButtonDevicwfirmwareFwbrowse",
                      "OnBnClickedButtonDevicwfirmwareFwbrowse: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::OnCbnSelchangeComboDevicwfirmwareFwbrowse() {
  try {
    if (!m_pFirmwareSelection) return;
    m_pFirmwareSelection->OnCbnSelchangeComboDevicwfirmwareFwbrowse(view().strGetText(IDC_COMBO_FW_BROWSE));
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnCbnSelchangeComboDevicwfirmwareFwbrowse",
                      "OnCbnSelchangeComboDevicwfirmwareFwbrowse: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::OnBnClickedButtonBrowsePreload() {
  try {
    FilePick pick;
    pick.bFolder = true;
    pick.strTitle = "Browse Preload File";
    const std::string strFolder = strPickPath(pick);
    if (strFolder.empty()) return;
    if (!m_utility.vCheckFilePathExists(strFolder, true)) return;
    vInsertNewest(m_vecPreloadPaths, strFolder);
    view().vSetList(IDC_COMBO_PRELOAD, m_vecPreloadPaths);
    view().vSetListSelection(IDC_COMBO_PRELOAD, 0);
    m_ini.m_pINI.ucPreload_folder_path = strFolder.substr(0, std::min(strFolder.size(), INI_TEXT_MAX));
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedButtonBrowsePreload",
                      "OnBnClickedButtonBrowsePreload: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::OnBnClickedCreateConfig() {
  try {
    if (!m_pHubImages) return;
    // the messages (refusal, success) are the image builder's own
    m_pHubImages->OnBnClickedCreateConfig(view().strGetText(IDC_COMBO_FW_BROWSE));
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedCreateConfig", "OnBnClickedCreateConfig: dwErrorCode %d",
                      errno);
  }
}
