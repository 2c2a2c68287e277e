// The USB tree as the walk sees it: host controllers, each controller's root hub, the ports of
// every hub with what is connected to them, descriptors and strings of the connected devices,
// and the description and hardware id behind a driver key. Linux reads it from sysfs
// (platform/linux/UsbTreeSysfs.h); the simulated bench from its hubs (platform/sim/SimUsbTree.h).
//
// Names: a hub is named by its node name (sysfs kernel name on Linux, "usb2" for a root hub,
// "2-1.4" for a hub on port 4 of the hub on port 1 of bus 2; the bench uses the same form).
// A driver key names any device (a controller, a hub, a device on a port) for the two
// look-ups at the end.
//
// Every call returns 0 on success or a positive error number (errno values), which the walk
// logs as its "dwErrorCode"; each call below lists the ones it gives. No call throws.
//
// Threads: every call may be made from any thread, calls may overlap (Linux keeps no state
// between calls; the bench locks its own). On the bench a call that looks at a hub's identity
// first brings the bus up to date, so device events that are due (a hub back from its reset)
// are delivered on the calling thread before the call returns: a caller must not hold a lock
// there that its device-event callback takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Connection status of a port, numbered as the walk's status names are.
enum EUsbConnectionStatus : uint8_t {
  NoDeviceConnected = 0,
  DeviceConnected = 1,
  DeviceFailedEnumeration = 2,
  DeviceGeneralFailure = 3,
  DeviceCausedOvercurrent = 4,
  DeviceNotEnoughPower = 5,
};

enum class EUsbSpeed : uint8_t { Unknown, Low, Full, High, Super, SuperPlus, SuperPlusX2 };

// The 18-byte standard device descriptor, fields host-ordered.
struct UsbDeviceDescriptor {
  uint8_t bLength = 0;
  uint8_t bDescriptorType = 0;
  uint16_t bcdUSB = 0;
  uint8_t bDeviceClass = 0;
  uint8_t bDeviceSubClass = 0;
  uint8_t bDeviceProtocol = 0;
  uint8_t bMaxPacketSize0 = 0;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  uint16_t bcdDevice = 0;
  uint8_t iManufacturer = 0;
  uint8_t iProduct = 0;
  uint8_t iSerialNumber = 0;
  uint8_t bNumConfigurations = 0;
};

// Parses the first 18 bytes of a device descriptor; false when too short or not one.
bool bParseDeviceDescriptor(const uint8_t* pData, size_t nLen, UsbDeviceDescriptor& desc);

struct UsbConnectionInfo {
  EUsbConnectionStatus eStatus = NoDeviceConnected;
  bool bDeviceIsHub = false;
  UsbDeviceDescriptor desc;  // valid when eStatus is DeviceConnected
  EUsbSpeed eSpeed = EUsbSpeed::Unknown;
};

// One present hub (not a root hub), as the hub interface list gives it.
struct UsbHubInterface {
  std::string strHubName;     // node name, as nGetConnectionName gives it
  std::string strDevicePath;  // upper-case "USB#VID_xxxx&PID_xxxx#<instance>#{class guid}"
  std::string strObjectName;  // name of the hub's filter device ("usb:" + node name)
  std::string strHardwareId;  // "USB\VID_xxxx&PID_xxxx&REV_xxxx"
};

// Class of the hub interface in device paths.
inline constexpr const char* USB_HUB_INTERFACE_GUID = "{F18A0E88-C30C-11D0-8815-00A0C906BED8}";

class IUsbTree {
 public:
  virtual ~IUsbTree() = default;

  // Present host controllers, in a stable order: their root hub names by bus number on
  // Linux, the bench's controllers in file order (each as its USB 2.0 and SuperSpeed root
  // hub). Does not block (lists a folder). Errors: Linux the errno of listing
  // /sys/bus/usb/devices (ENOENT without USB support); the bench none.
  virtual int nGetHostControllers(std::vector<std::string>& vecControllers) = 0;
  // Driver key of a host controller: the controller's own name. Does not block. Errors:
  // ENOENT the name is no root hub, or its controller is gone.
  virtual int nGetHCDDriverKeyName(const std::string& strController, std::string& strKey) = 0;
  // Node name of a controller's root hub: the controller's own name. Does not block.
  // Errors: ENOENT as for nGetHCDDriverKeyName.
  virtual int nGetRootHubName(const std::string& strController, std::string& strHub) = 0;
  // Number of downstream ports of a hub (Linux: its "maxchild"). Does not block. Errors:
  // ENOENT the hub is gone (this is also where opening a hub fails); Linux EINVAL or the
  // read's errno when the count cannot be read; the bench ENOTTY for a device that is not a
  // hub.
  virtual int nGetHubPortCount(const std::string& strHub, uint32_t& ulPorts) = 0;
  // What is on port ulPort (1-based) of a hub. An empty port is 0 with NoDeviceConnected; a
  // device whose descriptor cannot be read (Linux: also a port whose "state" says a device
  // is attached but has no device folder) is 0 with DeviceFailedEnumeration. Does not block.
  // Errors: ENOENT the hub is gone; EINVAL a port outside 1..port count; Linux the errors of
  // reading the port count; the bench ENOTTY when strHub is not a hub.
  virtual int nGetConnectionInfo(const std::string& strHub, uint32_t ulPort, UsbConnectionInfo& info) = 0;
  // Node name of the hub on a port. Does not block. Errors: ENOENT the hub is gone or nothing
  // is on the port; EINVAL a port outside 1..port count; ENOTTY the device there is not a hub;
  // Linux EINVAL or a read's errno when the device's descriptor cannot be read.
  virtual int nGetConnectionName(const std::string& strHub, uint32_t ulPort, std::string& strName) = 0;
  // Driver key of the device on a port (also of one whose enumeration failed): its node name.
  // For an empty port Linux gives the port's own name ("usb1-port2", "1-3-port2"), the bench
  // ENOENT. Does not block. Errors: ENOENT the hub or (Linux) the port folder is gone;
  // EINVAL a port outside 1..port count.
  virtual int nGetConnectionDriverKeyName(const std::string& strHub, uint32_t ulPort,
                                          std::string& strKey) = 0;
  // GET_DESCRIPTOR of string ucIndex in language usLangId from the device on a port,
  // at most usLength bytes: the raw descriptor (bLength, 3, UTF-16LE text). Index 0 gives
  // the language table. Index 0xFF is the chip-identification string of the target hubs.
  // Blocks: Linux answers the strings the kernel read (manufacturer, product, serial, and
  // the language table when it read any) from sysfs, every other one with one control
  // transfer through libusb (open, request, close; up to 1 s); the bench does not wait.
  // Errors: ENOENT the hub or the device is gone; EINVAL a port outside 1..port count, or a
  // language table that is none; EPIPE the device has no such string or refused (a stall;
  // on the bench also every request to a suspended hub); EACCES the device may not be opened
  // (no udev rule); Linux ENODEV the device left during the request, ETIMEDOUT it did not
  // answer, EBUSY, ENOMEM or EIO from libusb.
  virtual int nGetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint8_t ucIndex,
                                   uint16_t usLangId, uint16_t usLength, std::vector<uint8_t>& vecOut) = 0;
  // Device description of the device with that driver key (Linux: its "product"; a
  // controller's is "xHCI Host Controller"). Does not block. Errors: ENOENT no device or port
  // has that key; ENODATA it has no description (an empty port, a device without a product
  // string); Linux a read's errno.
  virtual int nGetDeviceDescFromDriverKey(const std::string& strKey, std::string& strDesc) = 0;
  // Hardware id ("USB\VID_xxxx&PID_xxxx&REV_xxxx") of the device with that driver key. Does
  // not block. Errors: ENOENT no device has that key (a port's key included); Linux EINVAL or
  // a read's errno when its descriptor cannot be read.
  virtual int nGetHardwareIdFromDriverKey(const std::string& strKey, std::string& strHwId) = 0;
  // Every present hub below the root hubs (Linux: sorted by node name; the bench: in bench
  // order, each half of a USB 3 hub). Does not block. Errors: Linux the errno of listing
  // /sys/bus/usb/devices; the bench none.
  virtual int nGetHubInterfaces(std::vector<UsbHubInterface>& vecHubs) = 0;
};

// Helpers shared by the implementations.
// A USB string descriptor (bLength, 3, UTF-16LE) holding text (UTF-8 in), cut to usLength.
std::vector<uint8_t> vecMakeStringDescriptor(const std::string& strUtf8, uint16_t usLength);
// The language table descriptor with one language.
std::vector<uint8_t> vecMakeLanguageDescriptor(uint16_t usLangId, uint16_t usLength);
// "USB#VID_xxxx&PID_xxxx#<instance>#{guid}" and "USB\VID_xxxx&PID_xxxx&REV_xxxx".
std::string strMakeHubDevicePath(uint16_t usVid, uint16_t usPid, const std::string& strInstance);
std::string strMakeHardwareId(uint16_t usVid, uint16_t usPid, uint16_t usRev);
