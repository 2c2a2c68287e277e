// Arrivals and removals of the devices a scan cares about, delivered to one callback.
//
// Classes: a hub (a USB device of class 09 below a root hub), a host controller (a root
// hub: it comes and goes with its controller), a disk (a whole block device), a volume (a
// partition or an optical drive). Everything else is not delivered.
//
// bStart returns at once; events then arrive on a thread of the source's own, one at a
// time, in the order the system sent them. The callback must not call vStop (it would wait
// for itself); an exception leaving it is caught and logged. vStop blocks until no callback
// runs any more and none will; it is safe to call twice and from the destructor.
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
  // Starts delivering; false (and nothing delivered) when the source cannot be opened or
  // is already started.
  virtual bool bStart(DeviceEventCallback cb) = 0;
  virtual void vStop() = 0;
};

const char* pszDeviceClassName(EDeviceClass e);  // "hub", "host controller", "disk", "volume"
