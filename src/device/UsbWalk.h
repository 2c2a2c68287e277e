// State of the USB walk and of the target hub identification, kept in the device access
// object (CVlntUSBDev::m_walk), and the records the device state operations take.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class IUsbTree;
class IDeviceState;
class IFilterDriverStatus;
class CUSBUtility;

constexpr int WALK_MAX_HOST_CONTROLLERS = 20;
constexpr int SERIAL_CACHE_SLOTS = 16;
constexpr uint16_t WALK_NO_SERIAL = 0x7FFF;  // GetDeviceDescriptor: no serial number found
constexpr int HUB_POWER_MAX_PATHS = 15;

// Names of the port connection states, by status number.
const char* pszConnectionStatusName(unsigned uStatus);

struct SerialCacheSlot {
  bool bUsed = false;
  std::string strPID, strVID, strManufacturer, strProduct, strSerialNumber;
};

// Hub power record: filled by the caller from a hub entry.
struct HubPowerRecord {
  std::string strDriverName;  // the hub's node name (entry DriverName)
  std::string strVID, strPID;
  std::string strHubText;  // the name of the hub being walked, when the walk fills it
  std::string strUSBRelease, strSerialNumber;
  std::string strDevicePath;  // as found by ucGet6420HWId
  std::string strInstanceId;  // the part of the device path between its last two '#'
};

struct UsbWalkState {
  // The platform the walk runs on (not owned); set by CVlntUSBDev::vSetWalkPlatform.
  IUsbTree* pTree = nullptr;
  IDeviceState* pState = nullptr;
  IFilterDriverStatus* pDriver = nullptr;
  CUSBUtility* pUtility = nullptr;

  bool bOpened = false;
  uint8_t ucTargetNumber = 0;

  // Scan state of the hub or controller being looked at.
  std::string strRootHubName;
  std::string strHCDDriverKeyName, strHCDDeviceDesc, strHCDHardwareId;
  std::string strVID, strPID, strSerialNumber, strIManufacture, strIProduct;
  std::string strDeviceRelease, strUSBRelease;
  std::string strDriverKeyName, strDeviceDesc;  // of a port whose device failed enumeration

  // Lives as long as the object: a hub that stops reporting its serial number gets it back.
  std::array<SerialCacheSlot, SERIAL_CACHE_SLOTS> serialCache{};

  void vResetScanState() {
    strRootHubName.clear();
    strHCDDriverKeyName.clear();
    strHCDDeviceDesc.clear();
    strHCDHardwareId.clear();
    strVID.clear();
    strPID.clear();
    strSerialNumber.clear();
    strIManufacture.clear();
    strIProduct.clear();
    strDeviceRelease.clear();
    strUSBRelease.clear();
    strDriverKeyName.clear();
    strDeviceDesc.clear();
  }
};
