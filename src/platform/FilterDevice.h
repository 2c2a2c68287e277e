// The hub's filter device: the one path to a hub's registers and SPI flash. A device is
// opened by name, serves three requests that each carry the 24-byte request record, and is
// closed by destroying its handle. Linux serves it with libusb control transfers
// (platform/linux/LibusbFilterDevice.h); the simulated bench with its hub chips
// (platform/sim/SimFilterDevice.h).
//
// Device names have the form "usb:<bus>-<port path>", for example "usb:2-1.4": stable across
// a hub reset, unlike the device number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Request codes.
constexpr uint32_t VLNTFILTER0_IOCTL_VENDOR_WRITE = 0x222010;    // record + N data bytes, out
constexpr uint32_t VLNTFILTER0_IOCTL_VENDOR_READ = 0x222014;     // record, L bytes in
constexpr uint32_t VLNTFILTER0_IOCTL_GET_DESCRIPTOR = 0x22200C;  // standard GET_DESCRIPTOR

constexpr size_t FILTER_RECORD_SIZE = 24;
constexpr size_t FILTER_MAX_INPUT = 65536;  // record included
constexpr size_t FILTER_MAX_OUTPUT = 65536;
constexpr uint32_t FILTER_DEFAULT_TIMEOUT_MS = 2500;
constexpr uint32_t FILTER_TYPE_VENDOR = 2;
constexpr uint32_t FILTER_RECIPIENT_DEVICE = 0;

// Six unsigned 32-bit little-endian fields. In the GET_DESCRIPTOR form the fields after the
// timeout read: descriptor type, descriptor index, language id, recipient, 0.
struct FilterRequestRecord {
  uint32_t dwTimeout = FILTER_DEFAULT_TIMEOUT_MS;
  uint32_t dwType = FILTER_TYPE_VENDOR;
  uint32_t dwRecipient = FILTER_RECIPIENT_DEVICE;
  uint32_t dwRequest = 0;
  uint32_t dwValue = 0;
  uint32_t dwIndex = 0;

  void vEncode(uint8_t* p) const {
    const uint32_t f[6] = {dwTimeout, dwType, dwRecipient, dwRequest, dwValue, dwIndex};
    for (int i = 0; i < 6; ++i)
      for (int b = 0; b < 4; ++b) p[i * 4 + b] = static_cast<uint8_t>(f[i] >> (8 * b));
  }
  static FilterRequestRecord stDecode(const uint8_t* p) {
    uint32_t f[6];
    for (size_t i = 0; i < 6; ++i)
      f[i] =
          p[i * 4] | (p[i * 4 + 1] << 8) | (p[i * 4 + 2] << 16) | (static_cast<uint32_t>(p[i * 4 + 3]) << 24);
    return {f[0], f[1], f[2], f[3], f[4], f[5]};
  }
};

// What a request comes to. The channel above maps kFailed to -1 and kLeftBus to -3.
enum class EFilterResult {
  kSuccess,
  kFailed,   // refused, stalled, timed out, malformed request
  kLeftBus,  // the hub is no longer on the bus (reset, unplugged); the handle is dead
};

// What the opened device says it is, from its device descriptor as the host holds it.
struct FilterDeviceIdentity {
  uint8_t ucClass = 0;  // bDeviceClass; 0x09 for a hub
  uint16_t usVID = 0;
  uint16_t usPID = 0;
};
constexpr uint8_t USB_CLASS_HUB = 0x09;

class IFilterDeviceHandle {
 public:
  virtual ~IFilterDeviceHandle() = default;
  // One request. Blocks until the transfer completes, fails, or the record's timeout passes.
  // pIn holds the record (24 bytes) and, for VENDOR_WRITE, the data stage; pOut receives the
  // data stage of a read (at most ulOutLen bytes). *pulTransferred is set to the bytes of the
  // data stage moved (0 on failure). A VENDOR_READ answered short fails; bytes of pOut the
  // device did not answer are zero (eFinishInTransfer). A malformed request (input under 24 or over 65536
  // bytes, output over 65536, unknown code) fails without touching the hub.
  // Thread-safe per handle only in the sense that separate handles may be used at once.
  // On the bench a request takes the modelled transfer time, one at a time per controller,
  // and one that takes the hub off the bus (a CPU reset) delivers the device events that
  // follow on the calling thread before it returns.
  virtual EFilterResult eIoControl(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, uint8_t* pOut,
                                   size_t ulOutLen, size_t* pulTransferred) = 0;
  // The device name this handle was opened with.
  virtual const std::string& strName() const = 0;
  // Class, vendor and product id of the device this handle opened (whatever now sits at
  // the name's bus and port path). Does not block and sends no request. False when the
  // device has left the bus since the handle was opened.
  virtual bool bGetDeviceIdentity(FilterDeviceIdentity& id) = 0;
};

// An "invalid handle" value distinct from a null handle: some callers are handed
// the result of a failed open unchecked. It must never be dereferenced.
// The integer-to-pointer cast is meant.
// NOLINTBEGIN(performance-no-int-to-ptr)
inline IFilterDeviceHandle* const FILTER_INVALID_HANDLE =
    reinterpret_cast<IFilterDeviceHandle*>(~static_cast<uintptr_t>(0));
// NOLINTEND(performance-no-int-to-ptr)

class IFilterDevicePlatform {
 public:
  virtual ~IFilterDevicePlatform() = default;
  // Opens a filter device by name. Blocks briefly (device lookup). Returns null when the
  // device does not exist, has left the bus or cannot be opened; then *pstrError (when
  // given) says why, and nFilterLastError() holds the system's error code: EACCES on every
  // platform when the user may not open the device. Thread-safe: several workers open
  // different hubs at once.
  virtual std::unique_ptr<IFilterDeviceHandle> pOpen(const std::string& strName,
                                                     std::string* pstrError = nullptr) = 0;
};

// The last system error code of the calling thread's most recent filter operation
// (errno or a libusb code on Linux, a bench code in the simulation), for log entries.
int nFilterLastError();
void vSetFilterLastError(int nError);

// One control transfer as a request record asks for it.
struct UsbControlSetup {
  uint8_t bmRequestType = 0;  // bit 7 set: device to host
  uint8_t bRequest = 0;
  uint16_t wValue = 0;
  uint16_t wIndex = 0;
  uint16_t wLength = 0;
  bool bIn = false;
  unsigned int uTimeoutMs = 0;
  const uint8_t* pData = nullptr;  // data stage of an out transfer (points into the input)
};
constexpr uint8_t USB_REQUEST_GET_DESCRIPTOR = 6;

// Decodes one request into the control transfer it stands for: VENDOR_WRITE and VENDOR_READ
// use the record's type, recipient, request, value and index; GET_DESCRIPTOR sends the
// standard request. False for a malformed request: unknown code, input under 24 or over
// 65536 bytes, output over 65536, or a data stage over 65535 bytes (wLength is 16-bit).
bool bBuildControlSetup(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, size_t ulOutLen,
                        UsbControlSetup& setup);

// How every backend ends an IN transfer (VENDOR_READ, GET_DESCRIPTOR), so that no byte of
// the output that the device did not answer reaches a caller: the output beyond the bytes
// answered is zeroed (all of it after a failure), and a vendor read answered with fewer
// bytes than asked is a failed request with nothing moved (its error code nShortError).
// GET_DESCRIPTOR may answer short: ulTransferred says how many bytes came.
EFilterResult eFinishInTransfer(uint32_t dwCode, EFilterResult eResult, uint8_t* pOut, size_t ulOutLen,
                                size_t& ulTransferred, int nShortError);

// Parses "usb:<bus>-<port>[.<port>...]" (bus 1..255, 1..7 ports of 1..255 each).
struct FilterDeviceName {
  uint8_t ucBus = 0;
  uint8_t ucDepth = 0;  // number of ports in the path
  uint8_t ucPorts[7] = {};
};
bool bParseFilterDeviceName(const std::string& strName, FilterDeviceName& out);
std::string strMakeFilterDeviceName(uint8_t ucBus, const uint8_t* pucPorts, int nDepth);
