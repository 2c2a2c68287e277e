#include "platform/linux/LibusbFilterDevice.h"

#include <fcntl.h>
#include <libusb-1.0/libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/FileDescriptor.h"
#include "platform/linux/SysfsRead.h"

EFilterResult eMapUsbfsError(int nErrno) {
  // usbfs answers ENODEV once the device is gone (ESHUTDOWN while it is being removed)
  return nErrno == ENODEV || nErrno == ESHUTDOWN ? EFilterResult::kLeftBus : EFilterResult::kFailed;
}

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
constexpr uint16_t USBFS_CONTROL_MAX = 4096;  // usbfs takes no longer data stage in one control request

class CLibusbFilterDeviceHandle : public IFilterDeviceHandle {
 public:
  CLibusbFilterDeviceHandle(libusb_device_handle* p, CFileDescriptor fd, std::string strName)
      : m_pHandle(p), m_fd(std::move(fd)), m_strName(std::move(strName)) {}
  // libusb leaves a wrapped node open: the handle's descriptor closes after it.
  ~CLibusbFilterDeviceHandle() override { libusb_close(m_pHandle); }

  EFilterResult eIoControl(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, uint8_t* pOut,
                           size_t ulOutLen, size_t* pulTransferred) override {
    if (pulTransferred) *pulTransferred = 0;
    UsbControlSetup s;
    if (!bBuildControlSetup(dwCode, pIn, ulInLen, ulOutLen, s) || (s.bIn && s.wLength && !pOut)) {
      vSetFilterLastError(LIBUSB_ERROR_INVALID_PARAM);
      return EFilterResult::kFailed;
    }
    int rc = 0;
    EFilterResult e = EFilterResult::kSuccess;
    uint8_t* pData = s.bIn ? pOut : const_cast<uint8_t*>(s.pData);  // only an IN transfer writes there
    if (s.wLength <= USBFS_CONTROL_MAX) {
      // Straight to usbfs: one system call, where libusb's synchronous transfer takes
      // several (submit, poll, reap) for the same request.
      usbdevfs_ctrltransfer ct{};
      ct.bRequestType = s.bmRequestType;
      ct.bRequest = s.bRequest;
      ct.wValue = s.wValue;
      ct.wIndex = s.wIndex;
      ct.wLength = s.wLength;
      ct.timeout = s.uTimeoutMs;
      ct.data = pData;
      rc = ::ioctl(m_fd.get(), USBDEVFS_CONTROL, &ct);
      if (rc < 0) {
        const int nErr = errno;
        e = eMapUsbfsError(nErr);
        vSetFilterLastError(nErr);
      }
    } else {
      rc = libusb_control_transfer(m_pHandle, s.bmRequestType, s.bRequest, s.wValue, s.wIndex, pData,
                                   s.wLength, s.uTimeoutMs);
      e = eMapLibusbResult(rc);
      if (e != EFilterResult::kSuccess) vSetFilterLastError(rc);
    }
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
  CFileDescriptor m_fd;
  std::string m_strName;
};
}  // namespace

int nUsbDeviceNode(const std::string& strName, const std::string& strSysRoot, const std::string& strDevRoot,
                   std::string& strNode) {
  strNode.clear();
  FilterDeviceName n;
  if (!bParseFilterDeviceName(strName, n)) return EINVAL;
  const std::string strDir = strSysRoot + "/" + strName.substr(4);  // after "usb:"
  uint32_t ulBus = 0, ulDev = 0;
  int nErr = sysfs::nReadDec(strDir + "/busnum", 255, ulBus);
  if (nErr == 0) nErr = sysfs::nReadDec(strDir + "/devnum", 255, ulDev);
  if (nErr != 0) return nErr;
  if (ulBus != n.ucBus || ulDev == 0) return EINVAL;
  char sz[16];
  std::snprintf(sz, sizeof sz, "/%03u/%03u", static_cast<unsigned>(ulBus), static_cast<unsigned>(ulDev));
  strNode = strDevRoot + sz;
  return 0;
}

CLibusbFilterDevicePlatform::CLibusbFilterDevicePlatform(std::string strSysRoot, std::string strDevRoot)
    : m_strSysRoot(std::move(strSysRoot)), m_strDevRoot(std::move(strDevRoot)) {
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
  std::string strNode;
  int nErr = nUsbDeviceNode(strName, m_strSysRoot, m_strDevRoot, strNode);
  if (nErr != 0)
    return vFail(LIBUSB_ERROR_NOT_FOUND,
                 strLibusbOpenError(strName, nErr == ENOENT ? LIBUSB_ERROR_NOT_FOUND : LIBUSB_ERROR_IO));
  CFileDescriptor fd(::open(strNode.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.bValid()) {
    const int nOpenErr = errno;
    // A refused permission carries the same code on every platform: the caller tells the operator.
    if (nOpenErr == EACCES || nOpenErr == EPERM)
      return vFail(EACCES, strLibusbOpenError(strName, LIBUSB_ERROR_ACCESS));
    return vFail(nOpenErr,
                 strLibusbOpenError(strName, nOpenErr == ENOENT || nOpenErr == ENODEV ? LIBUSB_ERROR_NO_DEVICE
                                                                                      : LIBUSB_ERROR_IO));
  }
  libusb_device_handle* h = nullptr;
  int rc = libusb_wrap_sys_device(m_pContext, static_cast<intptr_t>(fd.get()), &h);
  if (rc != 0) return vFail(rc, strLibusbOpenError(strName, rc));
  return std::make_unique<CLibusbFilterDeviceHandle>(h, std::move(fd), strName);
}
