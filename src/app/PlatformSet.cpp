#include "app/PlatformSet.h"

#include <cstdlib>

#include "platform/linux/DeviceEventsUdev.h"
#include "platform/linux/DeviceStateSysfs.h"
#include "platform/linux/FilterDriverLinux.h"
#include "platform/linux/LibusbFilterDevice.h"
#include "platform/linux/ScsiSgIo.h"
#include "platform/linux/ScsiSgIoDrives.h"
#include "platform/linux/UsbTreeSysfs.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimBenchFile.h"
#include "platform/sim/SimDeviceEvents.h"
#include "platform/sim/SimDeviceState.h"
#include "platform/sim/SimFilterDevice.h"
#include "platform/sim/SimStorageBridge.h"
#include "platform/sim/SimUsbTree.h"

namespace {

class CSimPlatformSet : public CPlatformSet {
 public:
  CSimPlatformSet(std::unique_ptr<CSimBench> pBench, std::unique_ptr<CSimScsiPlatform> pScsi)
      : m_pBench(std::move(pBench)),
        m_tree(*m_pBench),
        m_events(*m_pBench),
        m_state(*m_pBench),
        m_filterDevices(*m_pBench),
        m_pScsi(std::move(pScsi)) {}
  ~CSimPlatformSet() override { m_events.vStop(); }

  IClock& clock() override { return m_pBench->clock(); }
  IFilterDevicePlatform& filterDevices() override { return m_filterDevices; }
  IUsbTree& tree() override { return m_tree; }
  IDeviceEvents& events() override { return m_events; }
  IDeviceState& state() override { return m_state; }
  IScsiPassThroughPlatform& scsi() override { return *m_pScsi; }
  IStorageDriveFinder& drives() override { return *m_pScsi; }
  IPowerCyclePlatform& powerCycle() override { return *m_pScsi; }
  CSimBench* pBench() override { return m_pBench.get(); }
  CSimDeviceEvents* pSimEvents() override { return &m_events; }
  CSimScsiPlatform* pSimScsi() override { return m_pScsi.get(); }

 private:
  std::unique_ptr<CSimBench> m_pBench;
  CSimUsbTree m_tree;
  CSimDeviceEvents m_events;
  CSimDeviceState m_state;
  CSimFilterDevicePlatform m_filterDevices;
  std::unique_ptr<CSimScsiPlatform> m_pScsi;
};

class CLinuxPlatformSet : public CPlatformSet {
 public:
  explicit CLinuxPlatformSet(IClock& clock) : m_clock(clock), m_state(clock) {}
  ~CLinuxPlatformSet() override { m_events.vStop(); }

  IClock& clock() override { return m_clock; }
  IFilterDevicePlatform& filterDevices() override { return m_filterDevices; }
  IUsbTree& tree() override { return m_tree; }
  IDeviceEvents& events() override { return m_events; }
  IDeviceState& state() override { return m_state; }
  IScsiPassThroughPlatform& scsi() override { return m_scsi; }
  IStorageDriveFinder& drives() override { return m_drives; }
  IPowerCyclePlatform& powerCycle() override { return m_powerCycle; }

 private:
  // Nothing on a station switches the power behind a bridge: the operator does it when asked.
  class COperatorPowerCycle : public IPowerCyclePlatform {
   public:
    bool bPowerCycle(const std::string&) override { return false; }
  };
  IClock& m_clock;
  CLibusbFilterDevicePlatform m_filterDevices;
  CUsbTreeSysfs m_tree;
  CDeviceEventsUdev m_events;
  CDeviceStateSysfs m_state;
  CSgIoScsiPlatform m_scsi;
  CSysfsStorageDriveFinder m_drives;
  COperatorPowerCycle m_powerCycle;
};

}  // namespace

std::unique_ptr<CPlatformSet> CPlatformSet::pCreate(IClock& machineClock, std::string& strError) {
  const char* pszBench = std::getenv("MPTOOL_SIM");
  if (pszBench && *pszBench) return pCreateSimulated(pszBench, strError);
  return pCreateLinux(machineClock);
}

std::unique_ptr<CPlatformSet> CPlatformSet::pCreateSimulated(const std::string& strBenchPath,
                                                             std::string& strError) {
  std::unique_ptr<CSimBench> pBench = CSimBench::pLoad(strBenchPath, strError);
  if (!pBench) return nullptr;
  std::unique_ptr<CSimScsiPlatform> pScsi = CSimScsiPlatform::pFromBench(*pBench, strError);
  if (!pScsi) return nullptr;
  return std::make_unique<CSimPlatformSet>(std::move(pBench), std::move(pScsi));
}

std::unique_ptr<CPlatformSet> CPlatformSet::pCreateLinux(IClock& machineClock) {
  return std::make_unique<CLinuxPlatformSet>(machineClock);
}

std::unique_ptr<IFilterDriverStatus> CPlatformSet::pCreateFilterDriver() {
  const char* pszBench = std::getenv("MPTOOL_SIM");
  if (!pszBench || !*pszBench) return std::make_unique<CFilterDriverStatusLinux>();
  SimBenchSpec def;
  std::string strError;
  if (!bReadSimBenchFile(pszBench, def, strError)) return std::make_unique<CSimFilterDriverStatus>();
  return std::make_unique<CSimFilterDriverStatus>(def.strFilterDriver);
}
