#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/DeviceState.h"

// "filter_driver" of a bench without the filter driver.
constexpr const char* SIM_FILTER_DRIVER_NONE = "none";

// The bench's filter driver: installed at the bench file's "filter_driver" version
// ("1.0.7.0" when the field is missing), or not installed ("none"). An installation makes it
// "1.0.7.0", a removal "none"; installs, removals and reboots are counted, never carried out.
class CSimFilterDriverStatus : public IFilterDriverStatus {
 public:
  explicit CSimFilterDriverStatus(std::string strVersion = FILTER_DRIVER_VERSION)
      : m_strVersion(std::move(strVersion)) {}
  bool bIsRegistered() override {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_strVersion != SIM_FILTER_DRIVER_NONE;
  }
  int nInstall(bool bInstall) override {
    std::lock_guard<std::mutex> l(m_mutex);
    (bInstall ? m_nInstalls : m_nRemovals)++;
    m_strVersion = bInstall ? FILTER_DRIVER_VERSION : SIM_FILTER_DRIVER_NONE;
    return 0;
  }
  std::string strInstalledVersion() override {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_strVersion == SIM_FILTER_DRIVER_NONE ? std::string() : m_strVersion;
  }
  std::string strRegistrationName() const override { return "bench:filter_driver"; }
  int nReboot() override {
    ++m_nReboots;
    return 0;
  }

  int nInstallCount() const { return m_nInstalls.load(); }
  int nRemoveCount() const { return m_nRemovals.load(); }
  int nRebootCount() const { return m_nReboots.load(); }

 private:
  std::mutex m_mutex;
  std::string m_strVersion;
  std::atomic<int> m_nInstalls{0};
  std::atomic<int> m_nRemovals{0};
  std::atomic<int> m_nReboots{0};
};
