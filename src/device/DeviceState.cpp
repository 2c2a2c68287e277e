// Device state and hub power: the hardware rescan, the restart of a hub found among the
// present hub interfaces, and the hub's selective-suspend setting.
#include "platform/DeviceState.h"

#include <cerrno>

#include "device/VlntUSBDev.h"
#include "host/USBUtility.h"
#include "log/DebugLog.h"
#include "platform/Text.h"
#include "platform/UsbTree.h"

namespace {
std::string strAfter(const std::string& s, const char* pszTag, size_t n) {
  size_t p = s.find(pszTag);
  return p == std::string::npos ? std::string() : s.substr(p + std::char_traits<char>::length(pszTag), n);
}
// The part between the last two '#' of an interface path.
std::string strInstanceOf(const std::string& strPath) {
  size_t e = strPath.rfind('#');
  if (e == std::string::npos || e == 0) return {};
  size_t b = strPath.rfind('#', e - 1);
  return b == std::string::npos ? std::string() : strPath.substr(b + 1, e - b - 1);
}
}  // namespace

bool CVlntUSBDev::bScanForHardwaeChanges() {
  static const char* L = "CVlntUSBDev::bScanForHardwaeChanges";
  try {
    if (!m_walk.pState) {
      vDEBUG_ERR_printf(L, "CM_Locate_DevNode Failed, , dwErrorCode %d", ENODEV);
      return false;
    }
    int nErr = m_walk.pState->nRescan();
    if (nErr != 0) {
      vDEBUG_ERR_printf(L, "CM_Reenumerate_DevNode Failed, , dwErrorCode %d", nErr);
      return false;
    }
    return true;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch(...) dwErrorCode %d", errno);
    return false;
  }
}

uint8_t CVlntUSBDev::ucGet6420HWId(HubPowerRecord& rec, std::vector<std::string>& vecPaths) {
  static const char* L = "CVlntUSBDev::ucGet6420HWId";
  vecPaths.clear();
  if (!m_walk.pTree) return 0;
  std::vector<UsbHubInterface> vec;
  int nErr = m_walk.pTree->nGetHubInterfaces(vec);
  if (nErr != 0) {
    vDEBUG_ERR_printf(L, "hDevInfo = INVALID_HANDLE_VALUE, dwErrorCode : %d", nErr);
    return 0;
  }
  const std::string strDriver = strUpper(rec.strDriverName);
  uint8_t ucCount = 0;
  for (const auto& i : vec) {
    const std::string strPath = strUpper(i.strDevicePath);
    const std::string strVID = strAfter(strPath, "VID_", 4), strPID = strAfter(strPath, "PID_", 4);
    const std::string strInstance = strInstanceOf(strPath);
    vDEBUG_MSG_printf(L, "VID[%s], PID[%s], HWID[%s], strHid[%s]", strVID.c_str(), strPID.c_str(),
                      i.strHardwareId.c_str(), strInstance.c_str());
    // Node names nest ("2-1" is part of "2-1.4"), so the instance must match whole.
    if (strDriver.empty() || strInstance != strDriver) continue;
    rec.strVID = strVID;
    rec.strPID = strPID;
    rec.strInstanceId = strInstance;
    std::string strDevConParam = "Restart " + i.strHardwareId;
    vDEBUG_MSG_printf(L, "Trigger Device!!!!!Get Hub ID Number, strDevConParam[%s]", strDevConParam.c_str());
    if (m_walk.pState) {
      nErr = m_walk.pState->nRestartHub(i.strHubName);
      if (nErr != 0) vDEBUG_ERR_printf(L, "OpenDevice fail, dwErrorCode : %d", nErr);
    }
    m_clock.bSleepMs(500);
    if (static_cast<int>(vecPaths.size()) < HUB_POWER_MAX_PATHS) vecPaths.push_back(strPath);
    ++ucCount;
  }
  return ucCount;
}

bool CVlntUSBDev::bSet6420HubPowerManagementByRegistry(HubPowerRecord& rec, uint8_t ucValue) {
  static const char* L = "CVlntUSBDev::bSet6420HubPowerManagementByRegistry";
  if (!m_walk.pState) return false;
  std::vector<std::string> vecPaths;
  if (ucValue == 1) {
    if (!rec.strDevicePath.empty()) vecPaths.push_back(rec.strDevicePath);
  } else {
    if (ucGet6420HWId(rec, vecPaths) == 0) ucGet6420HWId(rec, vecPaths);
    if (!vecPaths.empty()) {
      rec.strDevicePath = vecPaths[0];
      if (m_pDevList && m_pDevList->m_DriverNum < MAX_DRIVER_INFO)
        m_pDevList->drv[m_pDevList->m_DriverNum].strDevicePath = vecPaths[0];
    }
  }
  for (const auto& strPath : vecPaths) {
    // the hub's node name is the path's instance; its setting is the hub's power/control
    std::string strHub = strInstanceOf(strPath);
    std::string strKey = m_walk.pState->strSuspendSettingName(strHub);
    const char* pszName = "control";
    int nCurrent = -1;
    int nErr = m_walk.pState->nGetSuspendSetting(strHub, nCurrent);
    if (nErr != 0) {
      nErr = m_walk.pState->nSetSuspendSetting(strHub, ucValue);
      if (nErr != 0)
        vDEBUG_WRN_printf(L, "RegCreateKeyEx fail, szSubKeyHub3=%s, dwErrorCode=%d", strKey.c_str(), nErr);
      continue;
    }
    if (nCurrent == ucValue) continue;
    vDEBUG_MSG_printf(
        L, "Hub's power management is enable, set it disable szSubKeyHub3=%s, szKeyName=%s, szKeyValue=%d",
        strKey.c_str(), pszName, nCurrent);
    nErr = m_walk.pState->nSetSuspendSetting(strHub, ucValue);
    if (nErr != 0) {
      vDEBUG_ERR_printf(L, "set registry value fail, szSubKeyHub3=%s, szKeyName=%s, szKeyValue=%d",
                        strKey.c_str(), pszName, ucValue);
      return false;
    }
  }
  return true;
}

int CVlntUSBDev::SetPWManagementEnable() {
  static const char* L = "CMPToolDlg::SetPWManagementEnable";
  if (!m_pDevList || m_pDevList->DevNums == 0) {
    vDEBUG_WRN_printf(L, " Hubs number is 0 ");
    return -4;
  }
  DeviceList& dl = *m_pDevList;
  for (int n = 0; n < dl.m_DriverNum && n < MAX_DRIVER_INFO; ++n) {
    DriverInfo& e = dl.drv[n];
    HubPowerRecord rec;
    rec.strVID = e.strVID;
    rec.strPID = e.strPID;
    rec.strUSBRelease = e.strUSBRelease;
    rec.strSerialNumber = e.strSerialNumber;
    rec.strDriverName = e.DriverName;
    rec.strHubText = e.DriverName;
    vDEBUG_MSG_printf(L, " Set Power Management registery to be active!!!m_DriverNum=%d ", n);
    std::vector<std::string> vecPaths;
    if (ucGet6420HWId(rec, vecPaths) == 0) ucGet6420HWId(rec, vecPaths);
    if (!vecPaths.empty()) {
      e.strDevicePath = vecPaths[0];
      rec.strDevicePath = vecPaths[0];
    }
    if (m_walk.pUtility) m_walk.pUtility->m_bAutoInstallFilterDriver = false;
    if (!bSet6420HubPowerManagementByRegistry(rec, 1)) {
      vDEBUG_ERR_printf(L, " Set Power Management registery to be active Failed!!!m_DriverNum=%d, HubName=%s",
                        n, e.DriverName.c_str());
      return -3;
    }
  }
  return 0;
}
