#include "device/VlntUSBDev.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "host/USBUtility.h"
#include "images/ConfigTable.h"
#include "log/DebugLog.h"
#include "platform/DeviceState.h"

CVlntUSBDev::CVlntUSBDev(IFilterDevicePlatform& platform, CVLNTFILTER0& filter, IClock& clock)
    : m_platform(platform), m_filter(filter), m_clock(clock) {}

CVlntUSBDev::~CVlntUSBDev() = default;

std::unique_ptr<IFilterDeviceHandle> CVlntUSBDev::pOpenFilter(const std::string& strName) {
  std::unique_ptr<IFilterDeviceHandle> h = m_platform.pOpen(strName);
  if (!h && nFilterLastError() == EACCES) {
    vReportPermissionRefused(strName);
    vSetFilterLastError(EACCES);  // for the caller's own log entry
  }
  return h;
}

std::unique_ptr<IFilterDeviceHandle> CVlntUSBDev::pOpenDevice(int n, std::string* pstrName) {
  if (!bValidIndex(n)) return nullptr;
  const std::string& name = m_pDevList->dev[n].m_strHubObjectName;
  if (pstrName) *pstrName = name;
  if (name.empty()) return nullptr;
  return pOpenFilter(name);
}

std::vector<FilterDeviceIdentity> CVlntUSBDev::vecExpectedIdentities(int n) const {
  std::vector<FilterDeviceIdentity> v;
  if (!bValidIndex(n)) return v;
  const DevRecord& r = m_pDevList->dev[n];
  auto vAdd = [&v](uint16_t usVID, uint16_t usPID) { v.push_back({USB_CLASS_HUB, usVID, usPID}); };
  // the walk's: the half the record's device name stands for
  char* pEnd = nullptr;
  unsigned long ulVID = std::strtoul(r.strVID.c_str(), &pEnd, 16);
  const bool bVID = !r.strVID.empty() && *pEnd == '\0' && ulVID <= 0xFFFF;
  unsigned long ulPID = std::strtoul(r.strPID.c_str(), &pEnd, 16);
  if (bVID && !r.strPID.empty() && *pEnd == '\0' && ulPID <= 0xFFFF)
    vAdd(static_cast<uint16_t>(ulVID), static_cast<uint16_t>(ulPID));
  // the run's table, once built: what the hub reports after its reset, either half
  const auto& t = r.ucConfigBlock;
  bool bBuilt = false;
  for (uint8_t ucType = 0; ucType <= 3; ++ucType)
    bBuilt |= optConfigSignature(ucType) == t[CFG_OFS_SIGNATURE];
  if (bBuilt) {
    const uint16_t usVID = static_cast<uint16_t>(t[CFG_OFS_VID] | (t[CFG_OFS_VID + 1] << 8));
    vAdd(usVID, static_cast<uint16_t>(t[CFG_OFS_PID] | (t[CFG_OFS_PID + 1] << 8)));
    vAdd(usVID, static_cast<uint16_t>(t[CFG_OFS_PID_U2] | (t[CFG_OFS_PID_U2 + 1] << 8)));
  }
  // a hub whose configuration block was lost (an erase, a write cut short) starts blank
  vAdd(HUB_BLANK_VID, HUB_BLANK_PID);
  vAdd(HUB_BLANK_VID, HUB_BLANK_PID_U2);
  return v;
}

std::unique_ptr<IFilterDeviceHandle> CVlntUSBDev::pOpenRecordedHub(int n, std::string* pstrName) {
  static const char* L = "CVlntUSBDev::pOpenRecordedHub";
  std::string name;
  std::unique_ptr<IFilterDeviceHandle> h = pOpenDevice(n, &name);
  if (pstrName) *pstrName = name;
  if (!h) return h;
  FilterDeviceIdentity id;
  if (!h->bGetDeviceIdentity(id)) {
    vDEBUG_ERR_printf(L, "Dev[%d] [%s] left the bus before its identity was read", n, name.c_str());
    vSetFilterLastError(ENODEV);
    return nullptr;
  }
  for (const FilterDeviceIdentity& e : vecExpectedIdentities(n))
    if (id.ucClass == e.ucClass && id.usVID == e.usVID && id.usPID == e.usPID) return h;
  vDEBUG_ERR_printf(
      L,
      "Dev[%d] [%s] is not the hub of this record: class %02X VID %04X PID %04X, recorded VID %s PID "
      "%s",
      n, name.c_str(), id.ucClass, id.usVID, id.usPID, m_pDevList->dev[n].strVID.c_str(),
      m_pDevList->dev[n].strPID.c_str());
  vSetFilterLastError(ENODEV);
  return nullptr;
}

void CVlntUSBDev::vReportPermissionRefused(const std::string& strDevice) {
  {
    std::lock_guard<std::mutex> l(m_reportMutex);
    if (!m_setPermissionReported.insert(strDevice).second) return;
  }
  const std::string strText = "Permission to open the hub [" + strDevice +
                              "] was refused. Install the udev rules \"" + FILTER_DRIVER_RULES_DIR + "/" +
                              FILTER_DRIVER_RULES_NAME +
                              "\" that grant the operator group access to the hubs, then replug the hub.";
  vDEBUG_ERR_printf("CVlntUSBDev::vReportPermissionRefused", "%s", strText.c_str());
  if (m_eMessages != EOperatorMessages::Box) {
    std::fprintf(stderr, "MPTool: %s\n", strText.c_str());
    std::fflush(stderr);
  }
  if (m_eMessages != EOperatorMessages::StderrOnly && m_walk.pUtility)
    m_walk.pUtility->ShowProgramMSG(strText, MSG_TYPE_ERROR, MB_OK,
                                    m_eMessages == EOperatorMessages::FileAndStderr);
}
