// The filter device on Linux: a hub found by bus number and port path, reached with
// libusb control transfers on endpoint 0. No interface is claimed: the kernel passes
// vendor requests with device recipient to an open device without one.
//
// Call behaviour:
//   pOpen       blocks while libusb lists the devices (milliseconds); null when the name is
//               malformed, no device sits at that place, or opening is refused; a refused
//               open (LIBUSB_ERROR_ACCESS) names the missing udev rule in its error text.
//   eIoControl  blocks for one control transfer, at most the record's timeout.
//               kSuccess: transfer done; kFailed: stall, time-out, I/O error, bad request;
//               kLeftBus: the device is gone (LIBUSB_ERROR_NO_DEVICE), the handle is dead.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/FilterDevice.h"

struct libusb_context;

// Maps a libusb transfer result (bytes moved, or a negative error) onto an outcome.
EFilterResult eMapLibusbResult(int nResult);
// Operator-facing text for a failed open.
std::string strLibusbOpenError(const std::string& strName, int nResult);

class CLibusbFilterDevicePlatform : public IFilterDevicePlatform {
 public:
  CLibusbFilterDevicePlatform();
  ~CLibusbFilterDevicePlatform() override;
  CLibusbFilterDevicePlatform(const CLibusbFilterDevicePlatform&) = delete;
  CLibusbFilterDevicePlatform& operator=(const CLibusbFilterDevicePlatform&) = delete;

  // False when libusb could not be started; every open then fails.
  bool bReady() const { return m_pContext != nullptr; }
  std::unique_ptr<IFilterDeviceHandle> pOpen(const std::string& strName,
                                             std::string* pstrError = nullptr) override;

 private:
  libusb_context* m_pContext = nullptr;
};
