// The USB walk: every host controller, its root hub and every hub below it, depth first.
// Each external hub that answers the chip-identification request becomes a hub entry of
// the device list, with its names, strings, firmware version, port and depth.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "device/VlntUSBDev.h"
#include "host/USBUtility.h"
#include "log/DebugLog.h"
#include "platform/DeviceState.h"
#include "platform/Text.h"
#include "platform/UsbTree.h"

namespace {

std::string strTrim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool bEqualNoCase(const std::string& a, const std::string& b) {
  return strUpper(a) == strUpper(b);
}

}  // namespace

const char* pszConnectionStatusName(unsigned uStatus) {
  static const char* const names[] = {"No device connected",       "Device connected",
                                      "Device FAILED enumeration", "Device general FAILURE",
                                      "Device caused overcurrent", "Not enough power for device"};
  return uStatus < 6 ? names[uStatus] : "Device general FAILURE";
}

void CVlntUSBDev::vSetWalkPlatform(IUsbTree* pTree, IDeviceState* pState, IFilterDriverStatus* pDriver,
                                   CUSBUtility* pUtility) {
  m_walk.pTree = pTree;
  m_walk.pState = pState;
  m_walk.pDriver = pDriver;
  m_walk.pUtility = pUtility;
  // the hub operations' "rescan for hardware changes" is this object's
  m_fnRescan = [this] { bScanForHardwaeChanges(); };
}

int CVlntUSBDev::Open(DeviceList* pDevList, const std::string& strSetting) {
  (void)strSetting;  // the target-chip selection: every supported chip is walked alike
  try {
    m_pDevList = pDevList;
    m_walk.bOpened = true;
    Enum();
    // Device records come only with the identification that follows, so the walk's own
    // result is whether it recorded any hub entry.
    return m_pDevList && m_pDevList->m_DriverNum != 0 ? 0 : -4;
  } catch (...) {
    vDEBUG_ERR_printf("CVlntUSBDev::Open", "catch(...) Open:  Error:%d", errno);
    return -4;
  }
}

void CVlntUSBDev::Enum() {
  static const char* L = "CVlntUSBDev::Enum";
  try {
    if (!m_pDevList || !m_walk.pTree) return;
    if (m_walk.pUtility) m_walk.pUtility->m_bScanInterrupt = false;
    if (m_walk.bOpened)
      vClearPrivateData();
    else
      m_walk.ucTargetNumber = 0;
    if (m_walk.pUtility && m_walk.pUtility->m_bScanInterrupt) {
      vDEBUG_WRN_printf(L, "Scan Interrupt after GetDeviceList()");
      return;
    }
    std::vector<std::string> vecControllers;
    int nCount = OpenDevice(vecControllers, WALK_MAX_HOST_CONTROLLERS, false);
    for (int i = 0; i < nCount; ++i) {
      if (vecControllers[i].empty()) {
        vDEBUG_ERR_printf(L, "Enum: strHostControllerName[%d] : dwErrorCode : %d", i, ENOENT);
        continue;
      }
      EnumerateHostController(vecControllers[i], i);
    }
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch(...) Enum: dwErrorCode : %d", errno);
  }
}

int CVlntUSBDev::OpenDevice(std::vector<std::string>& vecControllers, int nMaxCount, bool bOverlapped) {
  static const char* L = "CVlntUSBDev::OpenDevice";
  (void)bOverlapped;
  vecControllers.clear();
  std::vector<std::string> vecFound;
  int nErr = m_walk.pTree->nGetHostControllers(vecFound);
  if (nErr != 0) {
    vDEBUG_ERR_printf(L, "CreateFile Fail: dwErrorCode = %d, DevicePath:%s", nErr, "");
    return 0;
  }
  for (const auto& c : vecFound) {
    if (static_cast<int>(vecControllers.size()) >= nMaxCount) break;
    std::string strKey;
    nErr = m_walk.pTree->nGetHCDDriverKeyName(c, strKey);
    if (nErr != 0) {
      // gone between the listing and the open
      vDEBUG_ERR_printf(L, "CreateFile Fail: dwErrorCode = %d, DevicePath:%s", nErr, c.c_str());
      continue;
    }
    vecControllers.push_back(c);
  }
  return static_cast<int>(vecControllers.size());
}

void CVlntUSBDev::EnumerateHostController(const std::string& strController, int nIndex) {
  static const char* L = "CVlntUSBDev::EnumerateHostController";
  (void)nIndex;
  int nErr = GetHCDDriverKeyName(strController, m_walk.strHCDDriverKeyName);
  if (nErr != 0) {
    vDEBUG_ERR_printf(L, "EnumerateHostController: GetHCDDriverKeyName Fail , dwErrorCode : %d ", nErr);
  } else {
    DriverNameToDeviceDesc(m_walk.strHCDDriverKeyName, m_walk.strHCDDeviceDesc);
    DriverNameToHARDWARE(m_walk.strHCDDriverKeyName, m_walk.strHCDHardwareId);
    vDEBUG_MSG_printf(L, "EnumerateHostController: HCD DriverKey Name is %s ",
                      m_walk.strHCDDriverKeyName.c_str());
    vDEBUG_MSG_printf(L, "EnumerateHostController: HCD Device Desc is %s ", m_walk.strHCDDeviceDesc.c_str());
    vDEBUG_MSG_printf(L, "EnumerateHostController: HARDWARE ID is %s ", m_walk.strHCDHardwareId.c_str());
  }
  std::string strRoot;
  nErr = GetRootHubName(strController, strRoot);
  if (nErr != 0) {
    vDEBUG_ERR_printf(L, "EnumerateHostController: GetRootHubName Fail , dwErrorCode : %d", nErr);
    return;
  }
  m_walk.strRootHubName = strRoot;
  vDEBUG_MSG_printf(L, "EnumerateHostController: Root hub name is %s ", strRoot.c_str());
  uint32_t ulPorts = 0;
  nErr = m_walk.pTree->nGetHubPortCount(strRoot, ulPorts);
  if (nErr == ENOENT) {
    vDEBUG_ERR_printf(L, "EnumerateHostController: CreateFile[%s] fail , dwErrorCode : %d", strRoot.c_str(),
                      nErr);
    return;
  }
  if (nErr != 0) {
    vDEBUG_ERR_printf(L, "EnumerateHostController: IOCTL_USB_GET_NODE_INFORMATION fail , dwErrorCode : %d",
                      nErr);
    return;
  }
  if (m_pDevList->ucSkipWalk != 1) GetPortData(strRoot, ulPorts, 0, strRoot);
}

int CVlntUSBDev::GetHCDDriverKeyName(const std::string& strController, std::string& strKey) {
  return m_walk.pTree->nGetHCDDriverKeyName(strController, strKey);
}

int CVlntUSBDev::GetRootHubName(const std::string& strController, std::string& strHub) {
  return m_walk.pTree->nGetRootHubName(strController, strHub);
}

int CVlntUSBDev::GetDriverKeyName(const std::string& strHub, uint32_t ulPort, std::string& strKey) {
  return m_walk.pTree->nGetConnectionDriverKeyName(strHub, ulPort, strKey);
}

int CVlntUSBDev::DriverNameToDeviceDesc(const std::string& strKey, std::string& strDesc) {
  static const char* L = "CVlntUSBDev::DriverNameToDeviceDesc";
  int nErr = m_walk.pTree->nGetDeviceDescFromDriverKey(strKey, strDesc);
  if (nErr == ENOENT)
    vDEBUG_ERR_printf(L, "DriverNameToDeviceDesc: No Find any one , dwErrorCode %d", nErr);
  else if (nErr != 0)
    vDEBUG_ERR_printf(L, "DriverNameToDeviceDesc: Not Find Device Descriptor , dwErrorCode %d", nErr);
  return nErr;
}

int CVlntUSBDev::DriverNameToHARDWARE(const std::string& strKey, std::string& strHwId) {
  static const char* L = "CVlntUSBDev::DriverNameToHARDWARE";
  int nErr = m_walk.pTree->nGetHardwareIdFromDriverKey(strKey, strHwId);
  if (nErr == ENOENT)
    vDEBUG_ERR_printf(L, "DriverNameToDeviceDesc: No Find any one , dwErrorCode %d", nErr);
  else if (nErr != 0)
    vDEBUG_ERR_printf(L, "DriverNameToDeviceDesc: Not Find Device Descriptor , dwErrorCode %d", nErr);
  return nErr;
}

std::string CVlntUSBDev::GetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint16_t usLangId,
                                             uint8_t ucIndex) {
  static const char* L = "CVlntUSBDev::GetStringDescriptor";
  (void)usLangId;  // the device's first language is used, as the device itself says
  if (ucIndex == 0) return {};
  std::vector<uint8_t> v;
  int nErr = m_walk.pTree->nGetStringDescriptor(strHub, ulPort, 0, 0, 4, v);
  if (nErr != 0 || v.size() < 4) {
    vDEBUG_ERR_printf(L,
                      "GetStringDescriptor : IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION Get uspLanguageID "
                      "Fail , dwErrorCode %d",
                      nErr ? nErr : EINVAL);
    return {};
  }
  uint16_t usLang = static_cast<uint16_t>(v[2] | (v[3] << 8));
  if (usLang == 0xFFFF) return {};
  nErr = m_walk.pTree->nGetStringDescriptor(strHub, ulPort, ucIndex, usLang, 255, v);
  if (nErr != 0) {
    vDEBUG_ERR_printf(
        L, "GetStringDescriptor : IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION Fail , dwErrorCode %d", nErr);
    return {};
  }
  // The low byte of each UTF-16 unit, up to the first 0; anything not printable reads '2'.
  std::string s;
  size_t nEnd = v.size();
  if (!v.empty() && v[0] >= 2 && v[0] < nEnd) nEnd = v[0];
  for (size_t i = 2; i < nEnd; i += 2) {
    uint8_t c = v[i];
    if (c == 0) break;
    s += (c >= 32 && c <= 126) ? static_cast<char>(c) : '2';
  }
  return s;
}

uint16_t CVlntUSBDev::GetDeviceDescriptor(const std::string& strHub, uint32_t ulPort,
                                          const UsbDeviceDescriptor& d) {
  static const char* L = "CVlntUSBDev::GetDeviceDescriptor";
  UsbWalkState& w = m_walk;
  w.strVID = strHex4(d.idVendor);
  w.strPID = strHex4(d.idProduct);
  w.strDeviceRelease = strHex4(d.bcdDevice);
  w.strUSBRelease = strHex4(d.bcdUSB);
  w.strIManufacture = strTrim(GetStringDescriptor(strHub, ulPort, 0x0409, d.iManufacturer));
  w.strIProduct = strTrim(GetStringDescriptor(strHub, ulPort, 0x0409, d.iProduct));
  w.strSerialNumber = strUpper(strTrim(GetStringDescriptor(strHub, ulPort, 0x0409, d.iSerialNumber)));

  char sz[256];
  std::string t = "Device Descriptor\r\n";
  auto add = [&](int n) {
    if (n > 0) t.append(sz, std::min<size_t>(static_cast<size_t>(n), sizeof sz - 1));
  };
  add(std::snprintf(sz, sizeof sz, "bLength %2.2x\r\n", d.bLength));
  add(std::snprintf(sz, sizeof sz, "bDescriptorType %2.2x\r\n", d.bDescriptorType));
  add(std::snprintf(sz, sizeof sz, "bcdUSB %s\r\n", w.strUSBRelease.c_str()));
  add(std::snprintf(sz, sizeof sz, "bDeviceClass %2.2x\r\n", d.bDeviceClass));
  add(std::snprintf(sz, sizeof sz, "bDeviceSubClass %2.2x\r\n", d.bDeviceSubClass));
  add(std::snprintf(sz, sizeof sz, "bDeviceProtocol %2.2x\r\n", d.bDeviceProtocol));
  add(std::snprintf(sz, sizeof sz, "bMaxEP0Size %2.2x\r\n", d.bMaxPacketSize0));
  add(std::snprintf(sz, sizeof sz, "wVendorID %s [%2.2x]\r\n", w.strVID.c_str(), d.idVendor & 0xFF));
  add(std::snprintf(sz, sizeof sz, "wProductID %s [%2.2x]\r\n", w.strPID.c_str(), d.idProduct & 0xFF));
  add(std::snprintf(sz, sizeof sz, "wDeviceID %s [%2.2x]\r\n", w.strDeviceRelease.c_str(),
                    d.bcdDevice & 0xFF));
  add(std::snprintf(sz, sizeof sz, "Tmp %2.2x\r\n", d.iManufacturer));
  add(std::snprintf(sz, sizeof sz, "iManufacturer %s\r\n", w.strIManufacture.c_str()));
  add(std::snprintf(sz, sizeof sz, "Tmp %2.2x\r\n", d.iProduct));
  add(std::snprintf(sz, sizeof sz, "iProduct %s\r\n", w.strIProduct.c_str()));
  add(std::snprintf(sz, sizeof sz, "Tmp %2.2x\r\n", d.iSerialNumber));
  add(std::snprintf(sz, sizeof sz, "iSerialNumber %s\r\n", w.strSerialNumber.c_str()));
  add(std::snprintf(sz, sizeof sz, "bNumConfigurations %2.2x", d.bNumConfigurations));
  vDEBUG_MSG_printf(L, "GetDeviceDescriptor:\r\n%s", t.c_str());

  auto bSameKeys = [&](const SerialCacheSlot& s) {
    return s.strPID == w.strPID && s.strVID == w.strVID && s.strManufacturer == w.strIManufacture &&
           s.strProduct == w.strIProduct;
  };
  if (!w.strSerialNumber.empty()) {
    bool bAllFive =
        !w.strPID.empty() && !w.strVID.empty() && !w.strIManufacture.empty() && !w.strIProduct.empty();
    bool bKnown = std::any_of(w.serialCache.begin(), w.serialCache.end(), [&](const SerialCacheSlot& s) {
      return s.bUsed && bSameKeys(s) && s.strSerialNumber == w.strSerialNumber;
    });
    if (bAllFive && !bKnown) {
      for (auto& s : w.serialCache) {
        if (s.bUsed) continue;
        s = SerialCacheSlot{true, w.strPID, w.strVID, w.strIManufacture, w.strIProduct, w.strSerialNumber};
        break;
      }
    }
    return 0;
  }
  for (const auto& s : w.serialCache) {
    if (s.bUsed && bSameKeys(s)) {
      w.strSerialNumber = s.strSerialNumber;
      return 0;
    }
  }
  return WALK_NO_SERIAL;
}

bool CVlntUSBDev::bVLNHubGetDeviceDescriptor(const std::string& strHub, uint32_t ulPort, uint16_t& usChipId,
                                             int* pnError) {
  static const char* L = "CVlntUSBDev::bVLNHubGetDeviceDescriptor";
  usChipId = 0;
  std::vector<uint8_t> v;
  int nErr = m_walk.pTree->nGetStringDescriptor(strHub, ulPort, 0, 0, 4, v);
  if (pnError) *pnError = nErr;
  if (nErr != 0) {
    vDEBUG_MSG_printf(L,
                      "GetStringDescriptor : IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION "
                      "strRootHubName=%s, ulPortIndex=%d , dwErrorCode %d",
                      strHub.c_str(), static_cast<int>(ulPort), nErr);
    return false;
  }
  nErr = m_walk.pTree->nGetStringDescriptor(strHub, ulPort, 0xFF, 0, 16, v);
  if (nErr == 0 && v.size() < 2) nErr = EINVAL;  // too short to carry a chip id
  if (pnError) *pnError = nErr;
  if (nErr != 0) {
    vDEBUG_MSG_printf(
        L,
        "GetStringDescriptor : IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION bVLNHubGetDeviceDescriptor() "
        "Fail , strRootHubName=%s,ulPortIndex =%d,  dwErrorCode %d",
        strHub.c_str(), static_cast<int>(ulPort), nErr);
    return false;
  }
  for (int i = 0; i < 2; ++i) vDEBUG_MSG_printf(L, "Packet.Data[%d]: 0x%02X ", i, v[i]);
  usChipId = static_cast<uint16_t>(v[0] + 256 * v[1]);
  return true;
}

int CVlntUSBDev::GetObjecNameFromDriverName(DriverInfo& entry, bool bHub, bool bRetry) {
  static const char* L = "CVlntUSBDev::GetObjecNameFromDriverName";
  (void)bHub;  // every hub of the tree is listed; the walk only looks up hubs
  const uint64_t ullStart = m_clock.ullNowMs();
  std::vector<UsbHubInterface> vec;
  int nErr = m_walk.pTree->nGetHubInterfaces(vec);
  if (nErr != 0 || vec.empty()) {
    vDEBUG_ERR_printf(L, "Can not found any Hubs");
    return -1;
  }
  for (;;) {
    for (const auto& i : vec) {
      if (!bEqualNoCase(i.strHubName, entry.DriverName)) continue;
      entry.ObjectName = i.strObjectName;
      vDEBUG_MSG_printf(L, "GetObjecNameFromDriverName[%s]", entry.ObjectName.c_str());
      return 0;
    }
    if (!bRetry) return -4;
    uint64_t ullPassed = m_clock.ullNowMs() - ullStart;
    if (ullPassed / 1000 > 3) {
      vDEBUG_MSG_printf(L, " TimeOut: %d ,  strDeviceName=%s, Driverinfo->DriverName=%s",
                        static_cast<int>(ullPassed), entry.ObjectName.c_str(), entry.DriverName.c_str());
      return -9;
    }
    bScanForHardwaeChanges();
    vDEBUG_MSG_printf(L, "Can not find Target Hubs[%s] Retry ", entry.DriverName.c_str());
    m_clock.bSleepMs(100);  // let the tree change before looking again
    nErr = m_walk.pTree->nGetHubInterfaces(vec);
    if (nErr != 0) {
      vDEBUG_ERR_printf(L, "Can not found any Hubs, GetLastError=%d", nErr);
      return -4;
    }
  }
}

bool CVlntUSBDev::GetPortData(const std::string& strHub, uint32_t ulPortCount, int iHubDepth,
                              const std::string& strHubName) {
  static const char* L = "CVlntUSBDev::GetPortData";
  UsbWalkState& w = m_walk;
  DeviceList& dl = *m_pDevList;
  vDEBUG_MSG_printf(L, "In GetPortData with fHandle = %x, ulPortCount = %x, iHubDepth = %x ",
                    static_cast<unsigned>(std::hash<std::string>{}(strHub)&0xFFFF), ulPortCount,
                    static_cast<unsigned>(iHubDepth));
  for (uint32_t ulPort = 1; ulPort <= ulPortCount; ++ulPort) {
    if (w.pUtility) w.pUtility->vSetProgress(static_cast<uint8_t>((w.pUtility->ucGetProgress() + 2) % 100));
    // a. what is on the port
    UsbConnectionInfo info;
    int nErr = w.pTree->nGetConnectionInfo(strHub, ulPort, info);
    if (nErr != 0) {
      vDEBUG_MSG_printf(L, "iHubDepth[%d]  ulPortCount[%d] Port[%d]  = %s ,", iHubDepth,
                        static_cast<int>(ulPortCount), static_cast<int>(ulPort),
                        pszConnectionStatusName(DeviceGeneralFailure));
      continue;
    }
    // b. anything but a connected hub is passed over
    if (info.eStatus == DeviceFailedEnumeration) {
      nErr = GetDriverKeyName(strHub, ulPort, w.strDriverKeyName);
      w.strDeviceDesc.clear();
      if (nErr == 0) nErr = w.pTree->nGetDeviceDescFromDriverKey(w.strDriverKeyName, w.strDeviceDesc);
      vDEBUG_MSG_printf(L,
                        " Port[%d] iHubDepth[%d] ulPortCount[%d]= %s , DeviceFailedEnumeration , "
                        "strDriverKeyName : %s , strDeviceDesc : %s , dwErrorCode = %d",
                        static_cast<int>(ulPort), iHubDepth, static_cast<int>(ulPortCount),
                        pszConnectionStatusName(info.eStatus), w.strDriverKeyName.c_str(),
                        w.strDeviceDesc.c_str(), nErr);
      continue;
    }
    if (info.eStatus != DeviceConnected) {
      vDEBUG_MSG_printf(L, "iHubDepth[%d]  ulPortCount[%d] Port[%d]  = %s ,", iHubDepth,
                        static_cast<int>(ulPortCount), static_cast<int>(ulPort),
                        pszConnectionStatusName(info.eStatus));
      continue;
    }
    if (!info.bDeviceIsHub) continue;

    // c. the hub's name
    std::string strConnectedHubName;
    nErr = w.pTree->nGetConnectionName(strHub, ulPort, strConnectedHubName);
    if (nErr != 0 || strConnectedHubName.empty()) {
      vDEBUG_ERR_printf(L, " IOCTL_USB_GET_NODE_CONNECTION_NAME Fail , dwErrorCode %d", nErr);
      continue;
    }
    vDEBUG_MSG_printf(L, "strConnectedHubName %s", strConnectedHubName.c_str());

    // d. descriptor and strings
    if (GetDeviceDescriptor(strHub, ulPort, info.desc) == WALK_NO_SERIAL) {
      vDEBUG_ERR_printf(
          L,
          " Invalid GetDeviceDescriptor , ulPortIndex [%d] , iHubDepth[%d] ulPortCount[%d] , usLanguageID:%d "
          ", strVID:%s , strPID:%s , strIManufacture:%s , strIProduct:%s , strSerialNumber:%s",
          static_cast<int>(ulPort), iHubDepth, static_cast<int>(ulPortCount), 0x7FFF, w.strVID.c_str(),
          w.strPID.c_str(), w.strIManufacture.c_str(), w.strIProduct.c_str(), w.strSerialNumber.c_str());
    }

    // e. a target hub without strings is asleep: keep it awake and restart it
    std::string strIdlePath;  // the interface path the power step found for this hub
    dl.drv[dl.m_DriverNum].strDevicePath.clear();
    // a hub with the blank chip's or the run's vendor id may be a target; no other is
    const bool bMayBeTarget = bEqualNoCase(w.strVID, "2F7B") ||
                              (!dl.strTargetVID.empty() && bEqualNoCase(w.strVID, dl.strTargetVID));
    if (bMayBeTarget && w.strIManufacture.empty() && w.strIProduct.empty()) {
      vDEBUG_MSG_printf(L,
                        "VLN6420 is Idle ?? strVID:%s , strPID:%s , strIManufacture:%s , strIProduct:%s , "
                        "strSerialNumber:%s",
                        w.strVID.c_str(), w.strPID.c_str(), w.strIManufacture.c_str(), w.strIProduct.c_str(),
                        w.strSerialNumber.c_str());
      HubPowerRecord rec;
      rec.strDriverName = strConnectedHubName;
      rec.strVID = w.strVID;
      rec.strPID = w.strPID;
      rec.strHubText = strHubName;
      rec.strUSBRelease = w.strUSBRelease;
      rec.strSerialNumber = w.strSerialNumber;
      bSet6420HubPowerManagementByRegistry(rec, 0);
      std::vector<std::string> vecPaths;
      ucGet6420HWId(rec, vecPaths);
      strIdlePath = dl.drv[dl.m_DriverNum].strDevicePath;
      m_clock.bSleepMs(500);
    }

    // f. the hub's device name (looked up, not kept)
    DriverInfo probe;
    probe.DriverName = strConnectedHubName;
    if (GetObjecNameFromDriverName(probe, true, true) != 0)
      vDEBUG_ERR_printf(L, "GetObjecNameFromDriverName Failed, str318xDriverName=%s",
                        strConnectedHubName.c_str());

    // g. only hubs that answer the chip-identification request are recorded
    uint16_t usChipId = 0;
    int nIdentError = 0;
    if (bVLNHubGetDeviceDescriptor(strHub, ulPort, usChipId, &nIdentError)) {
      if (usChipId == 0x6420)
        vDEBUG_MSG_printf(L, "Find Velnor USB Hub :: 7604 series");
      else if (usChipId == 0x7483)
        vDEBUG_MSG_printf(L, "Find Velnor USB Hub :: 7483 series");
      else
        vDEBUG_MSG_printf(L, "Find Velnor USB Hub :: Unknown series");

      // h. driver checks
      if (w.pUtility) {
        if (w.pUtility->m_bAutoInstallFilterDriver && !w.pUtility->bIsInstallVlntFilterDriverFromRegistry()) {
          if (w.pUtility->InstallFilterDriver(1) == 0)
            vDEBUG_MSG_printf(L, "pUtility.InstallFilterDriver() Success");
        }
      }
      if (w.pDriver) {
        std::string strVer = w.pDriver->strInstalledVersion();
        if (strVer != FILTER_DRIVER_VERSION)
          vDEBUG_ERR_printf(L, "Error! Version of Filter Driver=%s", strVer.c_str());
      }

      // i. the entry
      DriverInfo& e = dl.drv[dl.m_DriverNum];
      e = DriverInfo{};  // nothing of an earlier scan stays
      e.strDevicePath = strIdlePath;
      e.DriverName = strConnectedHubName;
      if (GetObjecNameFromDriverName(e, true, true) != 0) {
        vDEBUG_ERR_printf(L, "GetObjecNameFromDriverName Failed, str318xDriverName=%s",
                          strConnectedHubName.c_str());
        e.ObjectName = "usb:" + strConnectedHubName;  // the filter device's name by rule
      }
      if (dl.m_DriverNum >= MAX_DRIVER_USED) {
        vDEBUG_ERR_printf(
            L, "Find un-reasonable case, there are some exactly the same Hubs cascade, m_DriverNum=%d ",
            dl.m_DriverNum);
        dl.m_DriverNum = 1;
        return false;
      }
      vDEBUG_MSG_printf(L, " Get the ObjecName =%s", e.ObjectName.c_str());

      // j. clear an old mark and read the version; up to three tries
      for (int nTry = 0; nTry < 3; ++nTry) {
        std::unique_ptr<IFilterDeviceHandle> h = pOpenFilter(e.ObjectName);
        if (!h) {
          vDEBUG_ERR_printf(L, "This device[%s] handle can not be open, dwErrorCode %d", e.ObjectName.c_str(),
                            nFilterLastError());
          continue;
        }
        int nRet = m_filter.WriteSignatureWORD(h.get(), 0xFFFF);
        if (nRet != 0) {
          vDEBUG_ERR_printf(L, "VLNTFILTER1.RegisterReadWriteCmd Failed  Error:%d", nRet);
          continue;
        }
        nRet = m_filter.Get_Version(h.get(), e.ucFWVersion.data(), 16, false);
        if (nRet != 0) {
          vDEBUG_ERR_printf(L, "Get_Version Failed,  dwErrorCode=%d", nRet);
          continue;
        }
        break;
      }
      e.strVID = w.strVID;
      e.strPID = w.strPID;
      e.strSerialNumber = w.strSerialNumber;
      e.strManufacturer = w.strIManufacture;
      e.strProduct = w.strIProduct;
      e.strDeviceRelease = w.strDeviceRelease;
      e.strUSBRelease = w.strUSBRelease;
      e.ucPort = static_cast<uint8_t>(ulPort);
      e.ucDepth = static_cast<uint8_t>(iHubDepth);
      ++dl.m_DriverNum;
    } else if (nIdentError == EACCES && bMayBeTarget) {
      // not ours to open: the operator hears it, and the scan goes on without the hub. The
      // udev rules grant only hubs of these vendor ids: telling of any other hub of the
      // machine (a monitor's, the computer's own) would ask for rules that are installed.
      vReportPermissionRefused("usb:" + strConnectedHubName);
    }

    // k. the hubs behind it
    uint32_t ulChildPorts = 0;
    nErr = w.pTree->nGetHubPortCount(strConnectedHubName, ulChildPorts);
    if (nErr != 0) {
      vDEBUG_ERR_printf(L, "IOCTL_USB_GET_NODE_INFORMATION (ConnectedHubHandle) Fail , dwErrorCode %d", nErr);
      continue;
    }
    GetPortData(strConnectedHubName, ulChildPorts, iHubDepth + 1, strConnectedHubName);
  }
  return true;
}
