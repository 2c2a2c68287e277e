// The Start handler: every pre-check, the configuration blocks and the flash image, then
// the run thread.
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "device/UsbSpeedWords.h"
#include "host/IMessageView.h"
#include "images/FlashImage.h"
#include "images/HubFirmware.h"
#include "images/HubImages.h"
#include "log/DebugLog.h"
#include "run/RunEngine.h"
#include "settings/SerialNumber.h"

namespace {
const char* L = "CMPToolDlg::OnBnClickedButtonStart";

std::string strFormat(const char* pszFormat, const std::string& a) {
  char sz[512];
  snprintf(sz, sizeof sz, pszFormat, a.c_str());
  return sz;
}
}  // namespace

EStartResult CRunEngine::eRefuse(const std::string& strWhy, int nExitCode) {
  // A command-line run has nobody to answer a refusal: say why in "ProgramMSG.txt" and
  // end, rather than have the auto thread press Start again every second for ever.
  if (bWindowless()) {
    if (!strWhy.empty()) m_utility.ShowProgramMSG(strWhy, MSG_TYPE_WARNING, MB_OK, true);
    vExit(nExitCode);
    return EStartResult::ExitRequested;
  }
  return EStartResult::Refused;
}

bool CRunEngine::bTakeRunMark(std::string& strWhy) {
  if (m_bRunMarked) return true;
  // Another copy's start-up holds the mark only for a moment; a run holds it throughout.
  if (m_utility.bBeginProductionRun(m_config.timings.uRunMarkWaitMs)) {
    m_bRunMarked = true;
    return true;
  }
  const uint32_t dwHolder = m_utility.runMarker().dwHolderPid();
  char sz[700];
  if (dwHolder != 0)
    snprintf(sz, sizeof sz,
             "Production run refused: another copy of MPTool (process %u) holds the run mark [%s] of this "
             "program folder [%s]",
             dwHolder, m_utility.runMarker().strPath().c_str(), m_utility.m_szAppPath.c_str());
  else
    snprintf(sz, sizeof sz,
             "Production run refused: the run mark [%s] of this program folder [%s] cannot be taken",
             m_utility.runMarker().strPath().c_str(), m_utility.m_szAppPath.c_str());
  strWhy = sz;
  vDEBUG_ERR_printf(L, "%s", sz);
  if (!bWindowless()) m_utility.ShowProgramMSG(strWhy, MSG_TYPE_ERROR, MB_OK, false);
  return false;
}

void CRunEngine::vDropRunMark() {
  if (m_bRunMarked.exchange(false)) m_utility.vEndProductionRun();
}

uint8_t CRunEngine::ucCountTestItems() const {
  const INISettings& ini = m_ini.m_pINI;
  int n = 0;
  if (ini.ucFw_enablel == 1) n += 1;
  if (ini.ucFw_reload == 1) n += 1;
  if (ini.ucFormat_enable == 1) n += 2;
  if (ini.ucWr_test_enable == 1) n += 1;
  if (ini.ucPreload_enable == 1) n += 1;
  if (ini.ucCheck_USBStatus_enable == 1) n += 1;
  if (ini.ucHDDCapacityCheck_enable == 1) n += 1;
  return static_cast<uint8_t>(n);
}

EStartResult CRunEngine::OnBnClickedButtonStart() {
  try {
    INISettings& ini = m_ini.m_pINI;
    if (m_bMainRunning) {
      // Only one run at a time: its records exist once.
      vDEBUG_MSG_printf(L, "OnBnClickedButtonStart: a run is in progress");
      return EStartResult::Refused;
    }
    m_view.vReadScreen(m_screen);
    // A configuration ROM file chosen as firmware brings the identity the hubs get: it is
    // read before the checks, as choosing it in the firmware list does, and read again at
    // every Start, so that only this file's image can reach a hub. A missing file is left to
    // the file check below.
    const bool bConfigRom = ini.ucFw_enablel == 1 && bPathNamesConfigRom(m_screen.strFWPath);
    if (bConfigRom && m_utility.vCheckFilePathExists(m_screen.strFWPath, false)) {
      if (!m_devices.bReadConfigFromFile(m_screen.strFWPath)) {
        std::string strWhy = strFormat("Configuration ROM file [%s] could not be loaded", m_screen.strFWPath);
        vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
        return eRefuse(strWhy);
      }
      m_view.vReadScreen(m_screen);  // the window shows the file's texts now
    }
    // 1. Default values on the screen (window mode only).
    if (!bWindowless() && ini.ucConfig_format != 0 && ini.ucFw_enablel == 1 &&
        m_view.bScreenAtDefaults(m_screen)) {
      if (m_view.nMessageBox("Update config with default value ?", "warning", MB_YESNO | MB_ICONQUESTION) ==
          IDNO)
        return EStartResult::Refused;
    }
    // 2. Fixed serial length; 3. serial digits.
    for (const std::string& strWarn : {strCheckSNFixLength(ini, m_screen.strSerialNumber),
                                       strCheckSNDigits(ini, m_screen.strSerialNumber)}) {
      if (strWarn.empty()) continue;
      m_utility.ShowProgramMSG(strWarn, MSG_TYPE_WARNING, MB_OK, bWindowless());
      if (bWindowless()) {
        vExit(EXIT_START_REFUSED);
        return EStartResult::ExitRequested;
      }
      m_screen.strSerialNumber.clear();
      m_view.vSetSerialNumberBox("");
      return EStartResult::Refused;
    }
    // 4. Bar colour of the run.
    m_view.vSetRunProgressColour(bUsbTextIsSuperSpeed(m_devList.dev[0].strUSBText) ? RUN_RGB_BLUE
                                                                                   : RUN_RGB_ORANGE);
    // 5. Descriptor field formats.
    bool bPreCheck = true;
    std::string strError;
    if (m_screen.strVID.size() != 4) bPreCheck = false, strError += "VID Format not valid \r\n";
    if (m_screen.strPID.size() != 4) bPreCheck = false, strError += "PID Format not valid \r\n";
    if (m_screen.strRevision.size() != 4)
      bPreCheck = false, strError += "Device Revision Format not valid \r\n";
    // 6. / 7. Serial length and padding.
    SNStartLength sn = stCheckStartSNLength(ini, m_screen.strSerialNumber, m_config.cmdLine.m_strCmdLineSN);
    if (sn.bScreenChanged) {
      m_view.vSetSerialNumberBox(sn.strSN);
      ini.ucSerial_number = sn.strSN.substr(0, INI_TEXT_MAX);
    }
    // The serial number the tables and the checks of the run use, padded where the rules pad
    // it (a command-line one too).
    m_screen.strSerialNumber = sn.strSN;
    if (ini.ucSN_EditType == SN_EDIT_HDDSN) {
      if (!sn.strError.empty()) bPreCheck = false, strError += sn.strError;
      if (!bPreCheck) {
        m_utility.ShowProgramMSG(strError, MSG_TYPE_WARNING, MB_OK, bWindowless());
        if (bWindowless()) {
          vExit(EXIT_START_REFUSED);
          return EStartResult::ExitRequested;
        }
      }
    } else if (!sn.strError.empty()) {
      // Nothing to count after the prefix: every hub of the run would get the same serial.
      m_utility.ShowProgramMSG(sn.strError, MSG_TYPE_WARNING, MB_OK, bWindowless());
      if (bWindowless()) {
        vExit(EXIT_START_REFUSED);
        return EStartResult::ExitRequested;
      }
      return EStartResult::Refused;
    }
    // 8. Test items.
    uint8_t ucTestItemCount = ucCountTestItems();
    // 9. Firmware file.
    bool bFileOk = true;
    if (ini.ucFw_enablel == 1) bFileOk = m_utility.vCheckFilePathExists(m_screen.strFWPath, !bWindowless());
    // 10.
    if (!bFileOk || ucTestItemCount == 0 || !bPreCheck) {
      vDEBUG_MSG_printf(
          L, "OnBnClickedButtonStart: Pre-Check Fail , ucTestItemCount[%d] , m_bUpdateFW[%d]=[%s] , ",
          ucTestItemCount, ini.ucFw_enablel, m_screen.strFWPath.c_str());
      vDEBUG_MSG_printf(L, "No Thread [%d/%d] To Run ", 0, m_devList.DevNums);
      std::string strWhy;
      if (!bFileOk)
        strWhy = "File/Path Not Exist : " + m_screen.strFWPath;
      else if (ucTestItemCount == 0)
        strWhy = "No test item is enabled";
      else
        strWhy = strError;
      return eRefuse(strWhy);
    }
    // 11. Firmware type against every hub.
    uint8_t ucFwType = 0;
    if (ini.ucFw_enablel == 1) {
      ucFwType = m_devices.ucFirmwareType(m_screen.strFWPath);
      if (ucFwType > 3) {
        // No configuration table can be built for such a file: the command line ends with
        // the code of a refused firmware type.
        std::string strWhy =
            strFormat(bConfigRom ? "Invalid configuration ROM file [%s]" : "Invalid hub firmware file [%s]",
                      m_screen.strFWPath);
        vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
        if (!bWindowless()) m_view.nMessageBox(strWhy, "Warning", MB_OK | MB_ICONWARNING);
        return eRefuse(strWhy, bConfigRom ? EXIT_START_REFUSED : EXIT_INVALID_FW_TYPE);
      }
      for (int i = 0; i < m_devList.DevNums && i < MAX_DEV_RECORDS; ++i) {
        if (m_devList.dev[i].ucFWType == ucFwType) continue;
        char sz[600];
        snprintf(sz, sizeof sz, "!! MISMATCH !!\nFWfile[%s], bFwType=%d.\nBut Dev[%d] is[%d]",
                 m_screen.strFWPath.c_str(), ucFwType, i, m_devList.dev[i].ucFWType);
        vDEBUG_ERR_printf(L, "%s", sz);
        if (m_view.nMessageBox(sz, "Warning", MB_OKCANCEL | MB_ICONWARNING) == IDCANCEL) return eRefuse(sz);
      }
    }
    // 12. Short firmware name.
    {
      std::string s = m_screen.strFWPath;
      size_t p = s.find_last_of("\\/");
      if (p != std::string::npos) s = s.substr(p + 1);
      size_t c = s.find("Config_");
      if (c != std::string::npos) s.erase(c, 7);
      s = s.substr(0, 15);
      std::string t;
      for (char ch : s)
        if (ch != '_') t += ch;
      m_devList.m_strFWName = t;
    }
    // 13. Slots 0..7.
    MAIN_THREAD_INFO info;
    for (int i = 0; i < MAX_RUN_SLOTS; ++i) {
      if (m_devList.dev[i].ucIndex == DEV_SLOT_EMPTY) continue;
      info.ucSelected[i] = 1;
      ++info.ucDevCount;
    }
    if (info.ucDevCount == 0) {
      vDEBUG_ERR_printf(L, "s No Thread [%d/%d] To Run ", 0, m_devList.DevNums);
      return eRefuse("None of Velnor device was found!!");
    }
    // The run mark, before the run's files are written: no hub is touched for a run without
    // it, and a copy that holds it is never ended by another copy's start-up.
    {
      std::string strWhy;
      if (!bTakeRunMark(strWhy)) return eRefuse(strWhy);
    }
    // Line mode: the line hands out the serial numbers, before the blocks are built from them.
    if (m_config.pLine != nullptr) {
      std::string strWhy;
      if (!bReserveLineSerials(info, strWhy)) {
        if (!bWindowless()) m_view.nMessageBox(strWhy, "Error", MB_OK | MB_ICONERROR);
        vDropRunMark();
        return eRefuse(strWhy);
      }
    }
    // 14.
    if (m_screen.bIdleTimerFirst) ini.ucIdle_timer = 0;
    m_view.vShowPicture(ERunPicture::Pass, false);
    m_view.vShowPicture(ERunPicture::Fail, false);
    // 15.
    m_utility.m_strFWFilePath = m_screen.strFWPath;
    // 16. Configuration blocks and the flash image: a run never writes an image the tool
    // itself could not build.
    if (ini.ucFw_enablel == 1) {
      if (bConfigRom) {
        // The file's own table and image, loaded above.
        if (!m_devices.bSetHubConfigFromRom()) {
          std::string strWhy =
              strFormat("Configuration ROM file [%s] could not be loaded", m_screen.strFWPath);
          vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
          vDropRunMark();
          return eRefuse(strWhy);
        }
        m_view.vReadScreen(m_screen);  // the PID_U2 of the file's table
        vDEBUG_MSG_printf(L, "do nothing?");
      } else {
        if (!m_devices.bSetHubConfigInfo(ucFwType)) {
          std::string strWhy = "Invalid Config Type";
          vDEBUG_ERR_printf(L, "vSetHubConfigInfo refused type %d", ucFwType);
          vDropRunMark();
          return eRefuse(strWhy);
        }
        if (!m_devices.bCreateTempBinDataFile(ini.ucCrc32, m_screen.strFWPath)) {
          std::string strWhy = strFormat("Flash image of [%s] could not be built", m_screen.strFWPath);
          vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
          if (!bWindowless()) m_view.nMessageBox(strWhy, "Error", MB_OK | MB_ICONERROR);
          vDropRunMark();
          return eRefuse(strWhy);
        }
      }
      // An image the hub cannot take is refused here, before any hub is erased, by the
      // same firmware-area rules the write and the read-back apply.
      std::string strImageWhy;
      if (!bIsHubFlashImageFile(strTempBinDataFilePath(m_utility.m_szAppPath), strImageWhy)) {
        std::string strWhy =
            strFormat("Flash image of [%s] cannot be written to the hub: ", m_screen.strFWPath) + strImageWhy;
        vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
        if (!bWindowless()) m_view.nMessageBox(strWhy, "Error", MB_OK | MB_ICONERROR);
        vDropRunMark();
        return eRefuse(strWhy);
      }
    }
    // Run flags of the device list.
    DevListRunFlags& f = m_devList.flags;
    f.ucFw_enablel = f.ucFw_enablel2 = ini.ucFw_enablel;
    f.ucFw_reload = ini.ucFw_reload;
    f.ucFormat_enable = ini.ucFormat_enable;
    f.ucCheck_USBStatus_enable = ini.ucCheck_USBStatus_enable;
    f.ucWr_test_enable = ini.ucWr_test_enable;
    f.ucSpeed_test_enable = ini.ucSpeed_test_enable;
    f.ucPreload_enable = ini.ucPreload_enable;
    f.ucAuto_Safe_Remove = ini.ucAuto_Safe_Remove;
    f.ucConfig_Check = ini.ucConfig_Check;
    f.ucHDDCapacityCheck_enable = ini.ucHDDCapacityCheck_enable;
    m_strRunSN = m_screen.strSerialNumber;
    // The run's serial numbers are taken (the next one saved) before any hub is written, so
    // that none is given twice even when the run never reaches its end.
    {
      std::string strWhy;
      if (!bTakeRunSerialNumbers(info.ucDevCount, strWhy)) {
        if (!bWindowless()) m_view.nMessageBox(strWhy, "Error", MB_OK | MB_ICONERROR);
        vDropRunMark();
        return eRefuse(strWhy);
      }
    }
    // 17.
    m_view.vSetControls(ERunControls::Run);
    // 18.
    info.ucTestItemCount = ucTestItemCount;
    m_MainInfo = info;
    std::jthread old;
    {
      CScopedLock l(m_threadsMutex);
      old = std::move(m_pMainThread);
      CScopedLock w(m_walkMutex);
      m_bMainRunning = true;
      m_pMainThread = std::jthread([this](std::stop_token st) { MainThreadFun(st); });
    }
    vStopThread(old);  // the previous run has ended; its object goes now
    return EStartResult::Started;
  } catch (...) {
    vDEBUG_ERR_printf(L, "OnBnClickedButtonStart: dwErrorCode %d", errno);
    if (!m_bMainRunning) vDropRunMark();
    return EStartResult::Refused;
  }
}
