// Arrivals and removals of the devices a scan cares about, delivered to one callback. Linux
// listens to a libudev monitor (platform/linux/DeviceEventsUdev.h); the simulated bench
// reports its own bus changes (platform/sim/SimDeviceEvents.h).
//
// Classes: a hub (a USB device of class 09 below a root hub), a host controller (a root
// hub: it comes and goes with its controller), a disk (a whole block device), a volume (a
// partition or an optical drive). Everything else is not delivered.
//
// Events arrive one at a time, in the order the system sent them, on a thread that is not
// the caller's to choose: Linux, the monitor's own thread; the bench, the bench's timer
// thread or any thread whose bench call changed the bus (a reset, a restart, a rescan, a
// look at a hub that was due back), inside that call. So the callback must be quick, must
// not wait for another thread that may be calling the platform, and must not call vStop
// (it would wait for itself). An exception leaving it is caught and logged.
#pragma once

#include <functional>
#include <string>

enum class EDeviceAction { Arrival, Removal };
enum class EDeviceClass { Hub, HostController, Disk, Volume };

struct DeviceEvent {
  EDeviceAction eAction = EDeviceAction::Arrival;
  EDeviceClass eClass = EDeviceClass::Hub;
  std::string strName;  // node name of a hub or root hub ("2-1.4", "usb2"); "sdb", "sdb1", "sr0"
};

using DeviceEventCallback = std::function<void(const DeviceEvent&)>;

class IDeviceEvents {
 public:
  virtual ~IDeviceEvents() = default;
  // Starts delivering to cb. Returns at once (Linux: after opening the monitor and starting
  // its thread). False, and nothing delivered, when cb is empty, the source is already
  // started or cannot be opened (Linux: no udev or no netlink monitor, logged as ERR; no
  // eventfd). A monitor whose poll fails later stops delivering (logged as ERR). Any thread
  // but the callback's.
  virtual bool bStart(DeviceEventCallback cb) = 0;
  // Stops delivering. Blocks until no callback runs any more and none will (Linux: wakes
  // and joins the monitor thread). Safe to call twice, when never started and from the
  // destructor; any thread but the callback's. Cannot fail.
  virtual void vStop() = 0;
};

const char* pszDeviceClassName(EDeviceClass e);  // "hub", "host controller", "disk", "volume"
