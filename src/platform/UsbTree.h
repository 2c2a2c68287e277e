// The USB tree as the walk sees it: host controllers, each controller's root hub, the ports of
// every hub with what is connected to them, descriptors and strings of the connected devices,
// and the description and hardware id behind a driver key.
//
// Names: a hub is named by its node name (sysfs kernel name on Linux, "usb2" for a root hub,
// "2-1.4" for a hub on port 4 of the hub on port 1 of bus 2; the bench uses the same form).
// A driver key names any device (a controller, a hub, a device on a port) for the two
// look-ups at the end.
//
// Every call returns 0 on success or a positive error number (errno values), which the walk
// logs as its "dwErrorCode". Common ones: ENOENT the hub, port or device is not (or no longer)
// there; EINVAL a port number outside 1..port count or nonsense in what the device reports;
// EPIPE the device refused the request (a stall); EACCES no permission; ENODEV the device
// left the bus during the request; ETIMEDOUT it did not answer.
//
// Blocking: every call reads small files or does at most one control transfer; none waits
// for anything else. No call throws.
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

  // Present host controllers, in a stable order (controller names).
  virtual int nGetHostControllers(std::vector<std::string>& vecControllers) = 0;
  // Driver key of a host controller.
  virtual int nGetHCDDriverKeyName(const std::string& strController, std::string& strKey) = 0;
  // Node name of a controller's root hub.
  virtual int nGetRootHubName(const std::string& strController, std::string& strHub) = 0;
  // Number of downstream ports of a hub (its hub descriptor). ENOENT when the hub is gone:
  // this is also where opening a hub fails.
  virtual int nGetHubPortCount(const std::string& strHub, uint32_t& ulPorts) = 0;
  // What is on port ulPort (1-based) of a hub.
  virtual int nGetConnectionInfo(const std::string& strHub, uint32_t ulPort,
                                 UsbConnectionInfo& info) = 0;
  // Node name of the hub on a port; ENOTTY when the device there is not a hub.
  virtual int nGetConnectionName(const std::string& strHub, uint32_t ulPort,
                                 std::string& strName) = 0;
  // Driver key of the device on a port (also of one whose enumeration failed).
  virtual int nGetConnectionDriverKeyName(const std::string& strHub, uint32_t ulPort,
                                          std::string& strKey) = 0;
  // GET_DESCRIPTOR of string ucIndex in language usLangId from the device on a port,
  // at most usLength bytes: the raw descriptor (bLength, 3, UTF-16LE text). Index 0 gives
  // the language table. Index 0xFF is the chip-identification string of the target hubs.
  virtual int nGetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint8_t ucIndex,
                                   uint16_t usLangId, uint16_t usLength,
                                   std::vector<uint8_t>& vecOut) = 0;
  // Device description and hardware id of the device with that driver key.
  virtual int nGetDeviceDescFromDriverKey(const std::string& strKey, std::string& strDesc) = 0;
  virtual int nGetHardwareIdFromDriverKey(const std::string& strKey, std::string& strHwId) = 0;
  // Every present hub below the root hubs.
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
