#include "platform/sim/SimDeviceState.h"

#include <cerrno>

int CSimDeviceState::nHub(const std::string& strHub) const {
  bool bSS = false;
  int h = m_bench.nResolveName("usb:" + strHub, bSS);
  if (h < 0) return -1;
  for (int p = h; p >= 0; p = m_bench.nHubParent(p))
    if (!m_bench.bPresent(p)) return -1;
  return h;
}

int CSimDeviceState::nRescan() {
  ++m_nRescans;
  m_bench.vProcessDue();  // hubs whose return is due are back now
  return 0;
}

int CSimDeviceState::nRestartHub(const std::string& strHub) {
  int h = nHub(strHub);
  if (h < 0) return ENOENT;
  ++m_nRestarts;
  int nSetting = 1;
  {
    std::lock_guard<std::mutex> l(m_mutex);
    auto it = m_mapSetting.find(h);
    if (it != m_mapSetting.end()) nSetting = it->second;
  }
  // Re-enumerated with suspend off, the hub is awake and answers again.
  if (nSetting == 0) m_bench.vSetSuspended(h, false);
  return m_bench.bRestartHub(h) ? 0 : ENOENT;
}

int CSimDeviceState::nGetSuspendSetting(const std::string& strHub, int& nValue) {
  int h = nHub(strHub);
  if (h < 0) return ENOENT;
  std::lock_guard<std::mutex> l(m_mutex);
  auto it = m_mapSetting.find(h);
  nValue = it != m_mapSetting.end() ? it->second : 1;
  return 0;
}

int CSimDeviceState::nSetSuspendSetting(const std::string& strHub, int nValue) {
  int h = nHub(strHub);
  if (h < 0) return ENOENT;
  std::lock_guard<std::mutex> l(m_mutex);
  m_mapSetting[h] = nValue != 0 ? 1 : 0;
  return 0;
}

std::string CSimDeviceState::strSuspendSettingName(const std::string& strHub) const {
  return "bench:" + strHub + "/power/control";
}
