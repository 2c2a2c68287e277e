// Device events from a libudev monitor on the "udev" source: events come after udev has
// handled them, so device nodes and permissions exist when the callback runs. Subsystems
// usb (usb_device) and block are watched; see bClassifyUdevEvent for what is delivered.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/DeviceEvents.h"
#include "platform/FileDescriptor.h"

// Turns one udev event into a device event. strType is the event's TYPE property
// ("9/0/3": class, subclass, protocol), present on add and on remove. False for events that
// are not delivered (other actions, interfaces, non-hub devices, loop and RAM disks).
bool bClassifyUdevEvent(const std::string& strAction, const std::string& strSubsystem,
                        const std::string& strDevType, const std::string& strSysName,
                        const std::string& strType, DeviceEvent& ev);

class CDeviceEventsUdev : public IDeviceEvents {
 public:
  CDeviceEventsUdev() = default;
  ~CDeviceEventsUdev() override;
  bool bStart(DeviceEventCallback cb) override;
  void vStop() override;

 private:
  void vRun(std::stop_token st, struct udev* pUdev, struct udev_monitor* pMon, int nWakeFd);

  std::mutex m_mutex;
  std::jthread m_thread;
  CFileDescriptor m_fdWake;  // written once by vStop to end the thread's poll
  DeviceEventCallback m_cb;
};
