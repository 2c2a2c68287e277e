#include "device/VlntUSBDev.h"

CVlntUSBDev::CVlntUSBDev(IFilterDevicePlatform& platform, CVLNTFILTER0& filter, IClock& clock)
    : m_platform(platform), m_filter(filter), m_clock(clock) {}

CVlntUSBDev::~CVlntUSBDev() = default;

std::unique_ptr<IFilterDeviceHandle> CVlntUSBDev::pOpenDevice(int n, std::string* pstrName) {
  if (!bValidIndex(n)) return nullptr;
  const std::string& name = m_pDevList->dev[n].m_strHubObjectName;
  if (pstrName) *pstrName = name;
  if (name.empty()) return nullptr;
  return m_platform.pOpen(name);
}
