#include "images/FirmwareList.h"

#include <algorithm>
#include <cerrno>

#include "images/HubFirmware.h"
#include "log/DebugLog.h"

static const char* const kBrowseLabel = "CMPToolDlg::OnBnClickedButtonDevicwfirmwareFwbrowse";
static const char* const kSelLabel = "CMPToolDlg::OnCbnSelchangeComboDevicwfirmwareFwbrowse";

void CFirmwareList::vInsertNewest(const std::string& strPath) {
  const bool bWasFull = m_vecEntries.size() >= MAX_ENTRIES;
  m_vecEntries.insert(m_vecEntries.begin(), strPath);
  if (bWasFull) m_vecEntries.erase(m_vecEntries.begin() + MAX_ENTRIES);  // the sixth entry
  if (m_vecEntries.size() > MAX_ENTRIES) m_vecEntries.resize(MAX_ENTRIES);
}

void CFirmwareList::vSetEntries(const std::vector<std::string>& vecPaths) {
  m_vecEntries.assign(vecPaths.begin(),
                      vecPaths.begin() + static_cast<std::ptrdiff_t>(std::min(vecPaths.size(), MAX_ENTRIES)));
}

std::string CFirmwareList::strBrowseListText() const {
  std::string s;
  for (const std::string& e : m_vecEntries) s += e + "\r\n";
  return s;
}

CFirmwareSelection::CFirmwareSelection(CHubImages& images, IConfigForm& form)
    : m_images(images), m_form(form) {}

const std::string& CFirmwareSelection::strDialogFolder() const {
  return m_images.utility().m_szAppPath;
}

EFirmwareChoice CFirmwareSelection::eApplyChoice(const std::string& strPath) {
  if (bPathNamesConfigRom(strPath)) {
    m_eLastConfigRom = m_images.vReadConfigFromFile(strPath);
    m_form.vEnableConfigFields(false);
    return m_eLastConfigRom == EReadConfigResult::Loaded ? EFirmwareChoice::ConfigRomLoaded
                                                         : EFirmwareChoice::ConfigRomRefused;
  }
  m_form.vEnableConfigFields(m_images.ini().ucFw_enablel != 0);
  return EFirmwareChoice::Chosen;
}

EFirmwareChoice CFirmwareSelection::OnBnClickedButtonDevicwfirmwareFwbrowse(
    const std::string& strPickedPath) {
  try {
    if (strPickedPath.empty()) return EFirmwareChoice::Unchanged;
    if (!m_images.utility().vCheckFilePathExists(strPickedPath, true)) return EFirmwareChoice::Unchanged;
    m_FirmwareList.vInsertNewest(strPickedPath);
    m_form.vShowFirmwareList(m_FirmwareList.vecEntries(), 0);
    m_strComboBoxDeviceFirmwareFWBrowse = strPickedPath;
    m_images.vSaveBINBrowseList(m_FirmwareList.strBrowseListText());
    m_images.ini().ucFw_binary_name = strPickedPath.substr(0, std::min(strPickedPath.size(), INI_TEXT_MAX));
    return eApplyChoice(strPickedPath);
  } catch (...) {
    vDEBUG_ERR_printf(kBrowseLabel, "OnBnClickedButtonDevicwfirmwareFwbrowse: dwErrorCode %d", errno);
    return EFirmwareChoice::Failed;
  }
}

EFirmwareChoice CFirmwareSelection::OnCbnSelchangeComboDevicwfirmwareFwbrowse(
    const std::string& strSelectedText) {
  try {
    m_strComboBoxDeviceFirmwareFWBrowse = strSelectedText;
    m_images.ini().ucFw_binary_name =
        strSelectedText.substr(0, std::min(strSelectedText.size(), INI_TEXT_MAX));
    return eApplyChoice(strSelectedText);
  } catch (...) {
    vDEBUG_ERR_printf(kSelLabel,
                      "OnCbnSelchangeComboDevicwfirmwareFwbrowse: m_strComboBoxDeviceFirmwareFWBrowse : %s , "
                      "dwErrorCode %d",
                      m_strComboBoxDeviceFirmwareFWBrowse.c_str(), errno);
    return EFirmwareChoice::Failed;
  }
}
