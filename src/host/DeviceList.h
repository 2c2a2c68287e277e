// The device list: everything known about the target hubs of the current scan and the run
// that follows. Plain records, no logic beyond giving slots their free values; the walk,
// identification, the run and its workers fill and read the fields. A hub is addressed
// everywhere by its device index n (0 to 15), the number of its device record.
//
// Header-only on purpose: the images, settings and run code read these records, so they
// depend on nothing but the standard library.
#pragma once

#include <array>
#include <cstdint>
#include <string>

constexpr int MAX_DEV_RECORDS = 16;  // device records
// A USB 3 hub takes two hub entries (its USB 2 and its SuperSpeed half), so the entries hold
// both halves of as many hubs as there are device records; a walk that finds more is taken
// for an endless cascade of identical hubs. One entry more is allocated: the walk fills it
// before it finds the list full.
constexpr int MAX_DRIVER_USED = 2 * MAX_DEV_RECORDS;  // hub entries in use at most
constexpr int MAX_DRIVER_INFO = MAX_DRIVER_USED + 1;  // hub entries allocated
constexpr int MAX_RUN_SLOTS = 8;                      // a run takes part only with slots 0 to 7
constexpr int CONFIG_BIN_SIZE = 256;                  // configuration table
constexpr uint8_t DEV_SLOT_EMPTY = 0xFF;

// One hub found by the USB walk.
struct DriverInfo {
  std::string DriverName;     // the hub's node path
  std::string ObjectName;     // name of the hub's filter device
  std::string strDeviceDesc;  // left empty by the walk
  std::string strVID, strPID, strSerialNumber, strManufacturer, strProduct;
  std::string strDeviceRelease;           // four hex digits of bcdDevice
  std::string strUSBRelease;              // four hex digits of bcdUSB, for example "0320"
  std::string strDevicePath;              // interface path, stored by the power-management step
  std::array<uint8_t, 16> ucFWVersion{};  // version area; the first six bytes are the version
  uint8_t ucPort = 0;                     // port on the parent hub, 1-based
  uint8_t ucDepth = 0;                    // 0 for a hub on a root hub port
  uint8_t ucPositionIndex = 0;            // always 0
};

// Result bytes of a device record, 1 = passed, 0 = failed, in the record's order.
struct DevResults {
  uint8_t ucReserved0 = 0;
  uint8_t ucUpdateResult = 0;
  uint8_t ucRelinkResult = 0;
  uint8_t ucPartitionResult = 0;
  uint8_t ucFormatResult = 0;
  uint8_t ucWrTestResult = 0;
  uint8_t ucPreloadResult = 0;
  uint8_t ucWorkerCleared = 0;
  uint8_t ucUSBStatusResult = 0;
  uint8_t ucReserved1 = 0;
  uint8_t ucReserved2 = 0;
  uint8_t ucNeverEnabled = 0;
  uint8_t ucConfigCheckResult = 0;
  uint8_t ucCapacityResult = 0;
};

// One target hub.
struct DevRecord {
  uint8_t ucIndex = DEV_SLOT_EMPTY;  // own number 0..15; 0xFF = slot empty; above 16 = no hub
  int32_t nPortId = -1;              // port id for the result table's port map
  uint8_t ucLogicalAddress = 127;    // storage drive's logical address
  uint8_t ucIsCDROM = 0;             // storage drive: CD-ROM flag,
  uint8_t ucPhysicalDrive = 127;     //   physical drive number,
  uint8_t ucCDROMNumber = 127;       //   CD-ROM number
  std::string strPID, strVID, strSerialNumber, strManufacturer, strProduct;
  std::string strDeviceRelease, strUSBRelease;
  std::string strDiskSerialNumber;
  std::string strFWVersion;  // 12 lower-case hex digits of the first six version bytes
  uint8_t ucChipCode = 0;
  uint8_t ucFWType = 0;  // bits 6..4 of chip register 0x5820; not reset
  uint8_t ucProtocolCode = 0;
  int32_t nPort = -1;      // port on the parent hub
  std::string strUSBText;  // for example "U3.2_10Gx2"
  uint8_t m_ucHubDepth = 0;
  uint8_t m_ucPositionIndex = 0;
  std::array<uint8_t, 5> ucPortSpeed{};  // speed codes of ports 0..4; all 1 on a USB 2 hub
  uint8_t ucCcOrientation = 0xFF;        // 1 or 2, 0xFF unknown
  uint8_t m_ucHubBondingOption = 0;      // package code, bits 1..0 of register 0x5821
  std::string strDriverName;
  std::string m_strDeviceDesc;
  std::string m_strHubObjectName;                        // the filter device every hub operation opens
  std::array<uint8_t, CONFIG_BIN_SIZE> ucConfigBlock{};  // table to write; not reset
  std::string strCapacity = "NULL";
  std::string strExtFWVersion = "NULL";
  uint8_t ucRunStatus = 0;
  DevResults results;

  bool bOccupied() const { return ucIndex != DEV_SLOT_EMPTY; }

  // Gives the slot its free values. The USB release, firmware type, depth, speeds and the
  // configuration block are not reset, as the scan relies on.
  void vFree() {
    ucIndex = DEV_SLOT_EMPTY;
    nPortId = -1;
    ucLogicalAddress = 127;
    ucIsCDROM = 0;
    ucPhysicalDrive = 127;
    ucCDROMNumber = 127;
    strPID.clear();
    strVID.clear();
    strSerialNumber.clear();
    strManufacturer.clear();
    strProduct.clear();
    strDeviceRelease.clear();
    strDiskSerialNumber.clear();
    strFWVersion.clear();
    nPort = -1;
    strUSBText.clear();
    strCapacity = "NULL";
    strExtFWVersion = "NULL";
    ucRunStatus = 0;
    results = DevResults{};
  }
};

// Run flags copied from the settings before a run.
struct DevListRunFlags {
  uint8_t ucFw_enablel = 0;
  uint8_t ucFw_enablel2 = 0;  // the update flag is held twice
  uint8_t ucFw_reload = 0;
  uint8_t ucFormat_enable = 0;
  uint8_t ucCheck_USBStatus_enable = 0;
  uint8_t ucWr_test_enable = 0;
  uint8_t ucSpeed_test_enable = 0;
  uint8_t ucPreload_enable = 0;
  uint8_t ucAuto_Safe_Remove = 0;
  uint8_t ucConfig_Check = 0;
  uint8_t ucHDDCapacityCheck_enable = 0;
};

struct DeviceList {
  int32_t DevNums = 0;     // device records in use, 0..16
  uint8_t ucSkipWalk = 0;  // 1 = the walk below the root hubs is skipped
  DevListRunFlags flags;
  uint32_t m_dwPassCount = 0, m_dwFailCount = 0, m_dwTotalCount = 0;
  std::array<DevRecord, MAX_DEV_RECORDS> dev{};
  uint8_t m_MaxHubDepth = 0;
  uint8_t ucReMarkedDepth = 0;  // largest depth among halves recognised by the identity mark
  uint8_t m_DriverNum = 0;      // hub entries in use, 0..MAX_DRIVER_USED
  // Hub entries of the last scan that a failed request kept from being identified (not
  // opened, mark not read or not written, registers not read): that scan's records are in
  // doubt, and a scan again may find what this one missed.
  uint8_t ucUnidentified = 0;
  std::array<DriverInfo, MAX_DRIVER_INFO> drv{};
  std::string m_strFWName;   // short name of the run's firmware file
  std::string strTargetVID;  // treated like "2F7B" by the walk's idle check
  uint8_t ucSLT = 0;         // copy of ucRunSlt_enable
};
