// The one place that chooses the platform the tool runs on: the simulated bench of the file
// named by MPTOOL_SIM when that is set, otherwise this machine (libusb, sysfs, udev, SG_IO).
// Everything above the platform interfaces is the same in both.
#pragma once

#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/DeviceEvents.h"
#include "platform/DeviceState.h"
#include "platform/FilterDevice.h"
#include "platform/PowerCycle.h"
#include "platform/ScsiPassThrough.h"
#include "platform/UsbTree.h"

class CSimBench;
class CSimDeviceEvents;
class CSimScsiPlatform;

class CPlatformSet {
 public:
  // The bench of MPTOOL_SIM, or this machine with machineClock for its waits. Null with a
  // one-line error when the bench cannot be loaded.
  static std::unique_ptr<CPlatformSet> pCreate(IClock& machineClock, std::string& strError);
  // The bench of one file (tests).
  static std::unique_ptr<CPlatformSet> pCreateSimulated(const std::string& strBenchPath,
                                                        std::string& strError);
  static std::unique_ptr<CPlatformSet> pCreateLinux(IClock& machineClock);
  // The filter driver's state of the same platform, needed from start-up on (before any
  // hub is looked at), so made on its own: the bench file's "filter_driver" (a bench that
  // cannot be read counts as installed here; the run then reports the bench's error), or
  // this machine's udev rules.
  static std::unique_ptr<IFilterDriverStatus> pCreateFilterDriver();
  virtual ~CPlatformSet() = default;

  // The clock of every wait: the bench's (scaled) clock on the bench.
  virtual IClock& clock() = 0;
  virtual IFilterDevicePlatform& filterDevices() = 0;
  virtual IUsbTree& tree() = 0;
  virtual IDeviceEvents& events() = 0;
  virtual IDeviceState& state() = 0;
  virtual IScsiPassThroughPlatform& scsi() = 0;
  virtual IStorageDriveFinder& drives() = 0;
  // The power behind a storage bridge (after a PD or MCU update).
  virtual IPowerCyclePlatform& powerCycle() = 0;

  // The bench parts, for tests and bench tools; null on this machine.
  virtual CSimBench* pBench() { return nullptr; }
  virtual CSimDeviceEvents* pSimEvents() { return nullptr; }
  virtual CSimScsiPlatform* pSimScsi() { return nullptr; }
};
