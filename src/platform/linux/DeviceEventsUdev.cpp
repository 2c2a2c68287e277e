#include "platform/linux/DeviceEventsUdev.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "log/DebugLog.h"

bool bClassifyUdevEvent(const std::string& strAction, const std::string& strSubsystem,
                        const std::string& strDevType, const std::string& strSysName,
                        const std::string& strType, DeviceEvent& ev) {
  if (strAction == "add")
    ev.eAction = EDeviceAction::Arrival;
  else if (strAction == "remove")
    ev.eAction = EDeviceAction::Removal;
  else
    return false;
  ev.strName = strSysName;
  if (strSubsystem == "usb") {
    if (strDevType != "usb_device") return false;
    if (strSysName.rfind("usb", 0) == 0) {
      ev.eClass = EDeviceClass::HostController;
      return true;
    }
    // TYPE is "class/subclass/protocol" in decimal.
    if (strType.rfind("9/", 0) == 0) {
      ev.eClass = EDeviceClass::Hub;
      return true;
    }
    return false;
  }
  if (strSubsystem == "block") {
    for (const char* p : {"loop", "ram", "zram", "nbd", "dm-", "md"})
      if (strSysName.rfind(p, 0) == 0) return false;
    if (strDevType == "partition" || strSysName.rfind("sr", 0) == 0) {
      ev.eClass = EDeviceClass::Volume;
      return true;
    }
    if (strDevType == "disk") {
      ev.eClass = EDeviceClass::Disk;
      return true;
    }
  }
  return false;
}

CDeviceEventsUdev::~CDeviceEventsUdev() {
  vStop();
}

bool CDeviceEventsUdev::bStart(DeviceEventCallback cb) {
  std::lock_guard<std::mutex> l(m_mutex);
  if (m_thread.joinable() || !cb) return false;
  udev* pUdev = udev_new();
  if (!pUdev) {
    vDEBUG_ERR_printf("CDeviceEventsUdev::bStart", "udev_new failed, dwErrorCode %d", errno);
    return false;
  }
  udev_monitor* pMon = udev_monitor_new_from_netlink(pUdev, "udev");
  if (!pMon || udev_monitor_filter_add_match_subsystem_devtype(pMon, "usb", "usb_device") < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(pMon, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(pMon) < 0) {
    vDEBUG_ERR_printf("CDeviceEventsUdev::bStart", "udev monitor not available, dwErrorCode %d", errno);
    if (pMon) udev_monitor_unref(pMon);
    udev_unref(pUdev);
    return false;
  }
  CFileDescriptor fdWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fdWake.bValid()) {
    udev_monitor_unref(pMon);
    udev_unref(pUdev);
    return false;
  }
  const int nWake = fdWake.get();
  m_fdWake = std::move(fdWake);
  m_cb = std::move(cb);
  m_thread = std::jthread([this, pUdev, pMon, nWake](std::stop_token st) { vRun(st, pUdev, pMon, nWake); });
  return true;
}

void CDeviceEventsUdev::vRun(std::stop_token st, udev* pUdev, udev_monitor* pMon, int nWakeFd) {
  int nMonFd = udev_monitor_get_fd(pMon);
  while (!st.stop_requested()) {
    pollfd fds[2] = {{nMonFd, POLLIN, 0}, {nWakeFd, POLLIN, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      vDEBUG_ERR_printf("CDeviceEventsUdev::vRun", "poll failed, dwErrorCode %d", errno);
      break;
    }
    if (fds[1].revents) break;
    if (!(fds[0].revents & POLLIN)) continue;
    udev_device* d = udev_monitor_receive_device(pMon);
    if (!d) continue;
    auto str = [](const char* p) { return std::string(p ? p : ""); };
    DeviceEvent ev;
    bool bDeliver = bClassifyUdevEvent(str(udev_device_get_action(d)), str(udev_device_get_subsystem(d)),
                                       str(udev_device_get_devtype(d)), str(udev_device_get_sysname(d)),
                                       str(udev_device_get_property_value(d, "TYPE")), ev);
    udev_device_unref(d);
    if (!bDeliver) continue;
    try {
      m_cb(ev);
    } catch (...) {
      vDEBUG_ERR_printf("CDeviceEventsUdev::vRun", "catch(...) device event callback, dwErrorCode %d", errno);
    }
  }
  udev_monitor_unref(pMon);
  udev_unref(pUdev);
}

void CDeviceEventsUdev::vStop() {
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_thread.joinable()) return;
  m_thread.request_stop();
  uint64_t one = 1;
  if (::write(m_fdWake.get(), &one, sizeof one) < 0) {
    // the eventfd cannot be full after one write; nothing else to do
  }
  m_thread.join();
  m_fdWake.reset();
  m_cb = nullptr;
}
