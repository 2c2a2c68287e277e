// Device state and power over sysfs. The suspend setting of a hub is its power/control:
// "on" keeps it awake (0), "auto" lets it suspend (1); the value found first is kept per
// hub, so giving power management back restores what the system had. A restart writes 0
// then 1 to the hub's "authorized": the kernel drops the hub and enumerates it again. The
// rescan waits for the udev queue to run empty (sysfs itself is always current).
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/DeviceState.h"

// True when udev has no events left to handle.
using UdevSettledFn = std::function<bool()>;
bool bUdevQueueIsEmpty();

class CDeviceStateSysfs : public IDeviceState {
 public:
  CDeviceStateSysfs(IClock& clock, std::string strRoot = "/sys/bus/usb/devices",
                    UdevSettledFn settled = bUdevQueueIsEmpty);
  int nRescan() override;
  int nRestartHub(const std::string& strHub) override;
  int nGetSuspendSetting(const std::string& strHub, int& nValue) override;
  int nSetSuspendSetting(const std::string& strHub, int nValue) override;
  std::string strSuspendSettingName(const std::string& strHub) const override;

  static constexpr uint64_t RESCAN_TIMEOUT_MS = 5000;

 private:
  bool bValidHub(const std::string& strHub) const;
  int nReadControl(const std::string& strHub, std::string& strValue);

  IClock& m_clock;
  std::string m_strRoot;
  UdevSettledFn m_settled;
  std::mutex m_mutex;
  std::map<std::string, std::string> m_mapFirstControl;  // hub -> power/control first seen
};
