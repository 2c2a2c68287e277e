// Device state and power of the simulated bench. Each hub has a suspend setting (1, power
// management on, until changed); a hub marked suspended in the bench answers no strings.
// A restart takes the hub off the bus and back at once (events as for a reset, without
// touching its chip), and with it every hub below it, which come back after it: when its
// setting is 0 by then, it comes back awake, so the walk's idle check settles as it does on
// real hubs. The rescan has nothing to wait for.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/DeviceState.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimFilterDriver.h"

class CSimDeviceState : public IDeviceState {
 public:
  // Restarts reach the bench's device events as every change of the bus does.
  explicit CSimDeviceState(CSimBench& bench) : m_bench(bench) {}
  int nRescan() override;
  int nRestartHub(const std::string& strHub) override;
  int nGetSuspendSetting(const std::string& strHub, int& nValue) override;
  int nSetSuspendSetting(const std::string& strHub, int nValue) override;
  std::string strSuspendSettingName(const std::string& strHub) const override;

  int nRestartCount() const { return m_nRestarts.load(); }
  int nRescanCount() const { return m_nRescans.load(); }

 private:
  int nHub(const std::string& strHub) const;

  CSimBench& m_bench;
  std::mutex m_mutex;
  std::map<int, int> m_mapSetting;  // hub -> suspend setting; 1 when absent
  std::atomic<int> m_nRestarts{0};
  std::atomic<int> m_nRescans{0};
};
