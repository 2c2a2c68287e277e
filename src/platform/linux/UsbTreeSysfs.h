// The USB tree read from sysfs (/sys/bus/usb/devices). Root hubs are the "usbN" entries, and
// each stands for one host controller (an xHCI controller shows as two: its USB 2 and its
// SuperSpeed root hub, as the kernel lists them). A device on port p of hub "usbN" is "N-p",
// on port p of hub "N-x.y" it is "N-x.y.p". Hubs are the devices with bDeviceClass 09;
// "maxchild" gives the port count, "descriptors" the device descriptor (falling back to
// idVendor, idProduct, bcdDevice, version, bDeviceClass when it is missing), "speed" the
// speed, "manufacturer", "product" and "serial" the three standard strings.
//
// The kernel lists every device and interface as a link in /sys/bus/usb/devices; a hub's
// ports are folders below its interface only: a root hub "usbN" has the interface "N-0:1.0"
// and the ports "N-0:1.0/usbN-portP", any other hub "B-P" has "B-P:1.0/B-P-portK". A port
// with no device directory reports the port's "state" there (kernels from 6.5 on): anything
// but "not attached" means a device is on the port that did not finish enumeration; without
// the file such a port looks empty. A device directory without a readable device descriptor
// is such a device too; its driver key is its node name, a bare port's is the port's name.
//
// Strings other than the three the kernel read (the chip-identification string 0xFF, the
// language table) go to the device itself through libusb; the reader is injectable.
//
// Driver keys are node names; a controller's key is its root hub's name, whose "product" is
// the controller's description ("xHCI Host Controller").
#pragma once

#include <functional>
#include <string>

#include "platform/UsbTree.h"

// Reads a string descriptor from a device by bus and device number. Returns 0 or an errno.
using RawStringReader = std::function<int(int nBus, int nDevNum, uint8_t ucIndex, uint16_t usLangId,
                                          uint16_t usLength, std::vector<uint8_t>& vecOut)>;

// The libusb reader: opens the device, one GET_DESCRIPTOR, closes it. Blocks up to 1 s.
int nLibusbReadStringDescriptor(int nBus, int nDevNum, uint8_t ucIndex, uint16_t usLangId, uint16_t usLength,
                                std::vector<uint8_t>& vecOut);

class CUsbTreeSysfs : public IUsbTree {
 public:
  explicit CUsbTreeSysfs(std::string strRoot = "/sys/bus/usb/devices",
                         RawStringReader reader = nLibusbReadStringDescriptor);

  int nGetHostControllers(std::vector<std::string>& vecControllers) override;
  int nGetHCDDriverKeyName(const std::string& strController, std::string& strKey) override;
  int nGetRootHubName(const std::string& strController, std::string& strHub) override;
  int nGetHubPortCount(const std::string& strHub, uint32_t& ulPorts) override;
  int nGetConnectionInfo(const std::string& strHub, uint32_t ulPort, UsbConnectionInfo& info) override;
  int nGetConnectionName(const std::string& strHub, uint32_t ulPort, std::string& strName) override;
  int nGetConnectionDriverKeyName(const std::string& strHub, uint32_t ulPort, std::string& strKey) override;
  int nGetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint8_t ucIndex, uint16_t usLangId,
                           uint16_t usLength, std::vector<uint8_t>& vecOut) override;
  int nGetDeviceDescFromDriverKey(const std::string& strKey, std::string& strDesc) override;
  int nGetHardwareIdFromDriverKey(const std::string& strKey, std::string& strHwId) override;
  int nGetHubInterfaces(std::vector<UsbHubInterface>& vecHubs) override;

  // Node name of the device on port ulPort of hub strHub ("usb2", 3 -> "2-3").
  static std::string strChildName(const std::string& strHub, uint32_t ulPort);
  // The hub's interface ("usb2" -> "2-0:1.0", "2-1" -> "2-1:1.0"), the name of its port
  // ulPort ("usb2-port3", "2-1-port3") and the port's folder below the listing.
  static std::string strHubInterfaceName(const std::string& strHub);
  static std::string strPortName(const std::string& strHub, uint32_t ulPort);
  static std::string strPortFolder(const std::string& strHub, uint32_t ulPort);
  // The device descriptor of a device directory; 0 or an errno.
  int nReadDeviceDescriptor(const std::string& strDev, UsbDeviceDescriptor& desc) const;

 private:
  std::string strPath(const std::string& strDev, const char* pszFile = nullptr) const;
  bool bExists(const std::string& strDev) const;
  bool bPortExists(const std::string& strHub, uint32_t ulPort) const;
  // The device directory name of a port of strHub; 0, or ENOENT / EINVAL for a hub or port
  // that does not exist.
  int nCheckPort(const std::string& strHub, uint32_t ulPort, std::string& strChild) const;
  // nCheckPort, then the device descriptor of what sits on the port.
  int nReadPortDevice(const std::string& strHub, uint32_t ulPort, std::string& strChild,
                      UsbDeviceDescriptor& d) const;

  std::string m_strRoot;
  RawStringReader m_reader;
};
