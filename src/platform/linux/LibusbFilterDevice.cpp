#include "platform/linux/LibusbFilterDevice.h"

#include <libusb-1.0/libusb.h>

#include <cerrno>
#include <cstring>

EFilterResult eMapLibusbResult(int nResult) {
  if (nResult >= 0) return EFilterResult::kSuccess;
  if (nResult == LIBUSB_ERROR_NO_DEVICE) return EFilterResult::kLeftBus;
  return EFilterResult::kFailed;  // stall (PIPE), TIMEOUT, IO, OVERFLOW, ...
}

std::string strLibusbOpenError(const std::string& strName, int nResult) {
  switch (nResult) {
    case LIBUSB_ERROR_ACCESS:
      return "no permission to open " + strName +
             ": install the udev rule that grants the operator group access to target hubs, then replug the "
             "hub";
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
      return "no device at " + strName;
    default:
      return "cannot open " + strName + ": " + libusb_error_name(nResult);
  }
}

namespace {
class CLibusbFilterDeviceHandle : public IFilterDeviceHandle {
 public:
  CLibusbFilterDeviceHandle(libusb_device_handle* p, std::string strName)
      : m_pHandle(p), m_strName(std::move(strName)) {}
  ~CLibusbFilterDeviceHandle() override { libusb_close(m_pHandle); }

  EFilterResult eIoControl(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, uint8_t* pOut,
                           size_t ulOutLen, size_t* pulTransferred) override {
    if (pulTransferred) *pulTransferred = 0;
    UsbControlSetup s;
    if (!bBuildControlSetup(dwCode, pIn, ulInLen, ulOutLen, s) || (s.bIn && s.wLength && !pOut)) {
      vSetFilterLastError(LIBUSB_ERROR_INVALID_PARAM);
      return EFilterResult::kFailed;
    }
    // libusb writes into the data pointer for an out transfer's buffer only when reading.
    int rc = libusb_control_transfer(m_pHandle, s.bmRequestType, s.bRequest, s.wValue, s.wIndex,
                                     s.bIn ? pOut : const_cast<uint8_t*>(s.pData), s.wLength, s.uTimeoutMs);
    EFilterResult e = eMapLibusbResult(rc);
    if (e != EFilterResult::kSuccess) vSetFilterLastError(rc);
    size_t ulDone = rc > 0 ? static_cast<size_t>(rc) : 0;
    // A short answer is no answer for a vendor read, and what the hub did not send is zero.
    if (s.bIn) e = eFinishInTransfer(dwCode, e, pOut, ulOutLen, ulDone, LIBUSB_ERROR_IO);
    if (e == EFilterResult::kSuccess && pulTransferred) *pulTransferred = ulDone;
    return e;
  }
  const std::string& strName() const override { return m_strName; }
  bool bGetDeviceIdentity(FilterDeviceIdentity& id) override {
    // libusb keeps the descriptor of the device it opened: no transfer
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(libusb_get_device(m_pHandle), &d) != 0) return false;
    id.ucClass = d.bDeviceClass;
    id.usVID = d.idVendor;
    id.usPID = d.idProduct;
    return true;
  }

 private:
  libusb_device_handle* m_pHandle;
  std::string m_strName;
};
}  // namespace

CLibusbFilterDevicePlatform::CLibusbFilterDevicePlatform() {
  if (libusb_init(&m_pContext) != 0) m_pContext = nullptr;
}

CLibusbFilterDevicePlatform::~CLibusbFilterDevicePlatform() {
  if (m_pContext) libusb_exit(m_pContext);
}

std::unique_ptr<IFilterDeviceHandle> CLibusbFilterDevicePlatform::pOpen(const std::string& strName,
                                                                        std::string* pstrError) {
  auto vFail = [&](int rc, std::string text) {
    vSetFilterLastError(rc);
    if (pstrError) *pstrError = std::move(text);
    return std::unique_ptr<IFilterDeviceHandle>();
  };
  FilterDeviceName want;
  if (!bParseFilterDeviceName(strName, want))
    return vFail(LIBUSB_ERROR_INVALID_PARAM, "not a filter device name: " + strName);
  if (!m_pContext) return vFail(LIBUSB_ERROR_OTHER, "libusb could not be started");
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(m_pContext, &list);
  if (n < 0) return vFail(static_cast<int>(n), strLibusbOpenError(strName, static_cast<int>(n)));
  libusb_device* found = nullptr;
  for (ssize_t i = 0; i < n && !found; ++i) {
    if (libusb_get_bus_number(list[i]) != want.ucBus) continue;
    uint8_t ports[7];
    int depth = libusb_get_port_numbers(list[i], ports, 7);
    if (depth == want.ucDepth && std::memcmp(ports, want.ucPorts, depth) == 0) found = list[i];
  }
  libusb_device_handle* h = nullptr;
  int rc = found ? libusb_open(found, &h) : LIBUSB_ERROR_NOT_FOUND;
  libusb_free_device_list(list, 1);
  // A refused permission carries the same code on every platform: the caller tells the operator.
  if (rc != 0) return vFail(rc == LIBUSB_ERROR_ACCESS ? EACCES : rc, strLibusbOpenError(strName, rc));
  return std::make_unique<CLibusbFilterDeviceHandle>(h, strName);
}
