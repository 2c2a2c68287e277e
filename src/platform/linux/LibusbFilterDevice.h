// The filter device on Linux: a hub found by bus number and port path, reached with
// control transfers on endpoint 0 (usbfs's own control request; libusb for a data stage
// over 4 KiB, which that request does not take). No interface is claimed: the kernel passes
// vendor requests with device recipient to an open device without one.
//
// The device is found through sysfs (its bus and device number at the port path) and its
// usbfs node handed to libusb, not looked up in libusb's own device list: that list follows
// the system's udev daemon, and where none runs (or it lags) a hub that has re-enumerated
// after its reset would never be found again.
//
// Call behaviour:
//   pOpen       blocks for a few sysfs reads and one open (milliseconds); null when the name is
//               malformed, no device sits at that place, or opening is refused; a refused
//               open (LIBUSB_ERROR_ACCESS) names the missing udev rule in its error text.
//   eIoControl  blocks for one control transfer, at most the record's timeout.
//               kSuccess: transfer done; kFailed: stall, time-out, I/O error, bad request;
//               kLeftBus: the device is gone (ENODEV, LIBUSB_ERROR_NO_DEVICE), the handle is dead.
//               nFilterLastError() holds the errno (a libusb code for a long transfer).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/FilterDevice.h"

struct libusb_context;

// Maps the errno of a failed usbfs control request onto an outcome.
EFilterResult eMapUsbfsError(int nErrno);
// Maps a libusb transfer result (bytes moved, or a negative error) onto an outcome.
EFilterResult eMapLibusbResult(int nResult);
// Operator-facing text for a failed open.
std::string strLibusbOpenError(const std::string& strName, int nResult);

// The usbfs node of the device at a filter device name: "<strDevRoot>/BBB/DDD" from the
// busnum and devnum of "<strSysRoot>/<bus>-<port path>". 0, or ENOENT when nothing sits at
// that port path (EINVAL for a malformed name, another errno when sysfs cannot be read).
int nUsbDeviceNode(const std::string& strName, const std::string& strSysRoot, const std::string& strDevRoot,
                   std::string& strNode);

class CLibusbFilterDevicePlatform : public IFilterDevicePlatform {
 public:
  explicit CLibusbFilterDevicePlatform(std::string strSysRoot = "/sys/bus/usb/devices",
                                       std::string strDevRoot = "/dev/bus/usb");
  ~CLibusbFilterDevicePlatform() override;
  CLibusbFilterDevicePlatform(const CLibusbFilterDevicePlatform&) = delete;
  CLibusbFilterDevicePlatform& operator=(const CLibusbFilterDevicePlatform&) = delete;

  // False when libusb could not be started; every open then fails.
  bool bReady() const { return m_pContext != nullptr; }
  std::unique_ptr<IFilterDeviceHandle> pOpen(const std::string& strName,
                                             std::string* pstrError = nullptr) override;

 private:
  libusb_context* m_pContext = nullptr;
  std::string m_strSysRoot, m_strDevRoot;
};
