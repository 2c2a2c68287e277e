// The PD dialog's window side: hand-over of the settings, opening, file choices, check boxes,
// the progress timer and closing. The workers are in PDUpdateDlg_Worker.cpp.
#include "ui/PDUpdateDlg.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>

#include "host/USBUtility.h"
#include "log/DebugLog.h"
#include "pd/PDFirmwareVersion.h"
#include "settings/INISettings.h"
#include "ui/ControlIds.h"
#include "ui/IMainView.h"

namespace {

constexpr size_t PD_LIST_ENTRIES = 5;
constexpr size_t PD_SETTING_PATH_MAX = 255;  // the settings keep at most this much of a path

// The path at the top of a list of the last files, newest first, without repeats.
void vPutOnTop(std::vector<std::string>& list, const std::string& strPath) {
  if (strPath.empty()) return;
  list.erase(std::remove(list.begin(), list.end(), strPath), list.end());
  list.insert(list.begin(), strPath);
  if (list.size() > PD_LIST_ENTRIES) list.resize(PD_LIST_ENTRIES);
}

}  // namespace

CPDUpdateDlg::CPDUpdateDlg(IScsiPassThroughPlatform& scsi, IClock& clock, CUSBUtility& utility,
                           const DeviceList& devList, IPowerCyclePlatform& powerCycle)
    : m_utility(utility),
      m_clock(clock),
      m_devList(devList),
      m_powerCycle(powerCycle),
      m_engine(scsi, clock, utility, &devList) {}

CPDUpdateDlg::~CPDUpdateDlg() {
  try {
    vWindowClosed();
    if (!m_bShown) return;  // never opened: no I2C path of ours to close
    for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
      if (!bIsBridge(m_devList.dev[i])) continue;
      if (m_engine.nClosePDI2CBus(i) != 0)
        vDEBUG_ERR_printf("CPDUpdateDlg::~CPDUpdateDlg", "PD[%d] Close I2C Bus Failed", i);
    }
  } catch (...) {
    vDEBUG_ERR_printf("CPDUpdateDlg::~CPDUpdateDlg", "catch , dwErrorCode %d", errno);
  }
}

bool CPDUpdateDlg::bIsBridge(const DevRecord& d) {
  return d.bOccupied() && d.ucIndex <= 16 && d.ucPhysicalDrive != STORAGE_DRIVE_NONE;
}

int CPDUpdateDlg::nBridges() const {
  int n = 0;
  for (const DevRecord& d : m_devList.dev)
    if (bIsBridge(d)) ++n;
  return std::min(n, PD_PORTS);
}

int CPDUpdateDlg::nBridgeDrive(int nPort) const {
  int n = 0;
  for (const DevRecord& d : m_devList.dev) {
    if (!bIsBridge(d)) continue;
    if (n++ == nPort) return d.ucPhysicalDrive;
  }
  return -1;
}

// ---- hand-over ----

void CPDUpdateDlg::vFromSettings(const INISettings& s) {
  m_engine.m_bPDFWEnable = s.ucPDFw_enablel == 1 ? 1 : 0;
  m_engine.m_bMCUFWEnable = s.ucMCUFw_enablel == 1 ? 1 : 0;
  m_strPDFWFilePath = s.ucPd_binary_name;
  m_strMCUFWFilePath = s.ucMcu_binary_name;
}

void CPDUpdateDlg::vToSettings(INISettings& s) const {
  s.ucPd_binary_name = m_strPDFWFilePath.substr(0, PD_SETTING_PATH_MAX);
  s.ucMcu_binary_name = m_strMCUFWFilePath.substr(0, PD_SETTING_PATH_MAX);
  s.ucPDFw_enablel = m_engine.m_bPDFWEnable;
  s.ucMCUFw_enablel = m_engine.m_bMCUFWEnable;
}

// ---- opening ----

bool CPDUpdateDlg::OnInitDialog(IMainView& v) {
  const char* L = "CPDUpdateDlg::OnInitDialog";
  try {
    vDEBUG_MSG_printf(L, "OnInitDialog....");
    m_pView = &v;
    m_bShown = true;
    m_ucProgress = 0;
    m_engine.m_nPDChipVendor = PD_VENDOR_UNKNOWN;
    m_engine.m_nMCUChipVendor = 0;
    m_engine.m_ucCCG3DeviceMode = 0;
    m_engine.m_ucPDFWFileType = PD_FILE_TYPE_NONE;
    // The MCU file handed over from the settings is as good as one chosen here.
    m_engine.m_ucMCUFWFileType = ucMCUFileTypeOfPath(m_strMCUFWFilePath);
    m_bVerify = false;
    for (int i = 0; i < PD_PORTS; ++i) {
      m_ucPDDone[i] = 0;
      m_ucMCUDone[i] = 0;
      v.vSetFont(IDC_PD_PORT_STATUS[i], FontSpec{"Arial", 16, 0, 700});
    }
    v.vSetText(IDC_BUTTON_PD_FIRMWARE_FWBROWSE, "PD Browse FW");
    v.vSetText(IDC_BUTTON_MCU_FIRMWARE_FWBROWSE, "MCU Browse FW");
    v.vSetText(IDC_BUTTON_PD_START, "PD FW Update");
    vSetGroupGUIByINI(true);
    vSetGroupGUIByINI(false);

    const int nCount = nBridges();
    if (nCount == 0) {
      vDEBUG_ERR_printf(L, "Do not detect VLN725x");
      m_utility.ShowMessageBox("Can not Found VLN725x Device", MB_OK, MSG_TYPE_ERROR);
      m_pView = nullptr;
      return false;
    }
    if (!m_strPDFWFilePath.empty()) {
      m_strPDFWFileVersion = strGetPDFWVersionFromFile(m_engine, m_strPDFWFilePath);
      if (m_strPDFWFileVersion != PD_VERSION_REJECTED)
        v.vSetText(IDC_STATIC_PD_FILE_VERSION, m_strPDFWFileVersion);
    }
    for (int i = 0; i < nCount; ++i) {
      const int nDrive = nBridgeDrive(i);
      if (m_engine.nInitializedPDI2CBus(nDrive) != 0) {
        vDEBUG_ERR_printf(L, "PD[%d] I2C Initialized I2C Bus Failed", i);
        Show_Message(i, PD_STATUS_EMPTY);
        continue;
      }
      std::string strVersion;
      if (m_engine.nGetPDFWVersion(nDrive, &strVersion) == 0) {
        v.vSetText(IDC_PD_PORT_VERSION[i], strVersion);
        Show_Message(i, PD_STATUS_READY);
        m_bVerify = false;
      }
    }
    return true;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch , dwErrorCode %d", errno);
    return true;
  }
}

void CPDUpdateDlg::vSetGroupGUIByINI(bool bMCU) {
  IMainView* v = view();
  if (v == nullptr) return;
  try {
    const bool bOn = bMCU ? m_engine.m_bMCUFWEnable == 1 : m_engine.m_bPDFWEnable == 1;
    const int nCheck = bMCU ? IDC_CHECK_MCU_FWUPG_ENABLE : IDC_CHECK_PD_FWUPG_ENABLE;
    const int nList = bMCU ? IDC_COMBO_MCU_FIRMWARE_FWBROWSE : IDC_COMBO_PD_FIRMWARE_FWBROWSE;
    const int nBrowse = bMCU ? IDC_BUTTON_MCU_FIRMWARE_FWBROWSE : IDC_BUTTON_PD_FIRMWARE_FWBROWSE;
    std::vector<std::string>& list = bMCU ? m_vecMCUFiles : m_vecPDFiles;
    v->vSetCheck(nCheck, bOn);
    v->vEnableControl(nList, bOn);
    v->vEnableControl(nBrowse, bOn);
    vPutOnTop(list, bMCU ? m_strMCUFWFilePath : m_strPDFWFilePath);
    v->vSetList(nList, list);
    if (!list.empty()) v->vSetListSelection(nList, 0);
  } catch (...) {
    vDEBUG_ERR_printf("CPDUpdateDlg::vSetGroupGUIByINI", "iFWBrowseCurCount : %d , dwErrorCode %d",
                      static_cast<int>((bMCU ? m_vecMCUFiles : m_vecPDFiles).size()), errno);
  }
}

// ---- controls ----

void CPDUpdateDlg::vOnCommand(int nId) {
  switch (nId) {
    case IDC_CHECK_MCU_FWUPG_ENABLE:
      OnBnClickedCheckMcuFwupgEnable();
      break;
    case IDC_CHECK_PD_FWUPG_ENABLE:
      OnBnClickedCheckPdFwupgEnable();
      break;
    case IDC_BUTTON_MCU_FIRMWARE_FWBROWSE:
      OnBnClickedButtonMcuFirmwareFwbrowse();
      break;
    case IDC_BUTTON_PD_FIRMWARE_FWBROWSE:
      OnBnClickedButtonFirmwareFwbrowse();
      break;
    case IDC_BUTTON_PD_START:
      OnBnClickedButtonPdStart();
      break;
    case IDC_BUTTON_PD_FW_VERIFY:
      OnBnClickedButtonPdFwVerify();
      break;
    default:
      break;
  }
}

void CPDUpdateDlg::OnBnClickedCheckMcuFwupgEnable() {
  vOnGroupCheck(true);
}

void CPDUpdateDlg::OnBnClickedCheckPdFwupgEnable() {
  vOnGroupCheck(false);
}

void CPDUpdateDlg::vOnGroupCheck(bool bMCU) {
  IMainView* v = view();
  if (v == nullptr) return;
  std::atomic<uint8_t>& choice = bMCU ? m_engine.m_bMCUFWEnable : m_engine.m_bPDFWEnable;
  try {
    const bool bOn = v->bGetCheck(bMCU ? IDC_CHECK_MCU_FWUPG_ENABLE : IDC_CHECK_PD_FWUPG_ENABLE);
    choice = bOn ? 1 : 0;
    v->vEnableControl(bMCU ? IDC_COMBO_MCU_FIRMWARE_FWBROWSE : IDC_COMBO_PD_FIRMWARE_FWBROWSE, bOn);
    v->vEnableControl(bMCU ? IDC_BUTTON_MCU_FIRMWARE_FWBROWSE : IDC_BUTTON_PD_FIRMWARE_FWBROWSE, bOn);
  } catch (...) {
    vDEBUG_ERR_printf("CPDUpdateDlg::vOnGroupCheck",
                      bMCU ? "ucMCUFw_enablel : %d , dwErrorCode %d" : "ucPDFw_enablel : %d , dwErrorCode %d",
                      choice.load(), errno);
  }
}

void CPDUpdateDlg::OnBnClickedButtonFirmwareFwbrowse() {
  const char* L = "CPDUpdateDlg::OnBnClickedButtonFirmwareFwbrowse";
  IMainView* v = view();
  if (v == nullptr || bWorkersRunning()) return;
  try {
    FilePick pick;
    pick.strFilter = "PD Files (*.cyacd)|*.cyacd| PD Files (*.cyacd)|*.cyacd| All Files (*.*)|*.*||";
    pick.strInitialPath = m_utility.m_szAppPath;
    const std::string strPath = v->strPickFile(pick);
    if (strPath.empty() || !m_utility.vCheckFilePathExists(strPath, false)) return;
    // Reading the version classifies the file; a rejected file leaves the choice as it was.
    const uint8_t ucPDType = m_engine.m_ucPDFWFileType, ucMCUType = m_engine.m_ucMCUFWFileType;
    const std::string strVersion = strGetPDFWVersionFromFile(m_engine, strPath);
    if (strcasecmp(strVersion.c_str(), PD_VERSION_REJECTED) == 0) {
      m_engine.m_ucPDFWFileType = ucPDType;
      m_engine.m_ucMCUFWFileType = ucMCUType;
      vDEBUG_WRN_printf(L, "PD file not taken [%s]", strPath.c_str());
      return;
    }
    m_strPDFWFileVersion = strVersion;
    v->vSetText(IDC_STATIC_PD_FILE_VERSION, strVersion);
    m_strPDFWFilePath = strPath;
    vPutOnTop(m_vecPDFiles, strPath);
    v->vSetList(IDC_COMBO_PD_FIRMWARE_FWBROWSE, m_vecPDFiles);
    v->vSetListSelection(IDC_COMBO_PD_FIRMWARE_FWBROWSE, 0);
    m_engine.m_ucPDFWFileType = ucPDFileTypeOfPath(strPath);
  } catch (...) {
    vDEBUG_ERR_printf(L, " dwErrorCode %d", errno);
  }
}

void CPDUpdateDlg::OnBnClickedButtonMcuFirmwareFwbrowse() {
  IMainView* v = view();
  if (v == nullptr || bWorkersRunning()) return;
  try {
    FilePick pick;
    pick.strFilter = "MCU Files (*.hex)|*.hex| All Files (*.*)|*.*||";
    pick.strInitialPath = m_utility.m_szAppPath;
    const std::string strPath = v->strPickFile(pick);
    if (strPath.empty() || !m_utility.vCheckFilePathExists(strPath, false)) return;
    m_strMCUFWFilePath = strPath;
    vPutOnTop(m_vecMCUFiles, strPath);
    v->vSetList(IDC_COMBO_MCU_FIRMWARE_FWBROWSE, m_vecMCUFiles);
    v->vSetListSelection(IDC_COMBO_MCU_FIRMWARE_FWBROWSE, 0);
    // A file that is no ".hex" is no MCU image: the update then refuses it.
    m_engine.m_ucMCUFWFileType = ucMCUFileTypeOfPath(strPath);
  } catch (...) {
    vDEBUG_ERR_printf("CPDUpdateDlg::OnBnClickedButtonMcuFirmwareFwbrowse", " dwErrorCode %d", errno);
  }
}

void CPDUpdateDlg::OnTimer() {
  IMainView* v = view();
  if (v == nullptr || !m_bTimer) return;
  uint8_t ucProgress = m_ucProgress;
  if (ucProgress >= 100) {
    ucProgress = 0;
    m_ucProgress = 0;
  }
  for (int i = 0; i < PD_PORTS; ++i)
    if (m_bRunning[i]) v->vSetProgressPos(IDC_PD_PORT_PROGRESS[i], ucProgress);
}

bool CPDUpdateDlg::OnBnClickedClose() {
  if (bWorkersRunning()) {
    // The workers report to this window and are writing firmware: it stays until they end.
    vDEBUG_WRN_printf("CPDUpdateDlg::OnBnClickedClose", "PD/MCU update still running, the dialog stays");
    return false;
  }
  if (nBridges() == 0) vDEBUG_ERR_printf("CPDUpdateDlg::OnBnClickedClose", "Do not detect VLN725x");
  return true;
}

void CPDUpdateDlg::vWindowClosed() {
  {
    std::lock_guard l(m_mutex);
    for (auto& w : m_workers) w.request_stop();
  }
  vWaitWorkers();
  m_bTimer = false;
  m_pView = nullptr;
}

bool CPDUpdateDlg::bWorkersRunning() const {
  return std::any_of(m_bRunning.begin(), m_bRunning.end(), [](const auto& b) { return b.load(); });
}

void CPDUpdateDlg::vWaitWorkers() {
  std::lock_guard l(m_mutex);
  for (auto& w : m_workers)
    if (w.joinable()) w.join();
}
