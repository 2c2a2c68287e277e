// What the production-run engine needs from the layers below it: the hub operations of a
// worker, the scan of the USB tree, the identity a hub reports on the bus, and the
// firmware-file and image preparation of Start. CRunDevices (RunDevices.h) serves them with
// the device access object and the image builders; engine tests bring their own.
//
// Results keep the device layer's conventions: 0 / negative codes for integer results
// (-3 the hub left the bus), true / false for the boolean ones. Every call may block for
// its transfers; the waits inside end early on a stop request.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "host/DeviceList.h"
#include "settings/INISettings.h"

// The identity a hub reports now: its device descriptor and strings.
struct HubIdentity {
  uint16_t usBcdUSB = 0;
  std::string strVID, strPID, strRevision;  // four upper-case hex digits each
  std::string strManufacturer, strProduct, strSerialNumber;
};

class IRunDevices {
 public:
  virtual ~IRunDevices() = default;
  // ---- worker ----
  // One byte of chip register 0x5820; 0 on success.
  virtual int nReadChipRegister(int n, uint8_t& ucValue) = 0;
  // Mode 1 erases block 0 and writes the record's configuration block; mode 0 reads it back.
  virtual bool bAccessHubConfig(int n, int nMode, uint8_t* pBuf, std::stop_token st) = 0;
  // Writes "TempBinData.bin" into the firmware area (CPU A); 1 on success.
  virtual int vUpdateHubFirmware(int n, std::stop_token st) = 0;
  // Reads the whole 65536-byte CPU A image.
  virtual bool bReadHubSPIROM(int n, uint8_t* pBuf, std::stop_token st) = 0;
  // CPU reset, mode 0: 0 done, -3 the hub left the bus while the request was pending.
  virtual int VLN318xReset(int n, std::stop_token st) = 0;
  // The identity the hub at the record's filter device reports now: 0, -4 not on the bus
  // (yet), -1 a request failed.
  virtual int nReadHubIdentity(int n, HubIdentity& id) = 0;

  // ---- scan ----
  // Walks the USB tree into the device list and identifies the target hubs. False after a
  // failure of the walk itself.
  virtual bool bScanUSB(DeviceList& devList, const INISettings& ini) = 0;

  // ---- Start's preparation ----
  // The firmware type 0..3, or 0xF6 / 0xF2 / 0xFF: vIsValidHubFirmware, or for a
  // configuration ROM file ("Config_" in its path) the type its table's signature gives.
  virtual uint8_t ucFirmwareType(const std::string& strFWPath) = 0;
  // Fills every found hub's configuration block; false when the type was refused.
  virtual bool bSetHubConfigInfo(uint8_t ucFwType) = 0;
  // Builds "TempBinData.bin"; false when the image could not be built.
  virtual bool bCreateTempBinDataFile(uint8_t ucCrc, const std::string& strFWPath) = 0;
  // Loads a configuration ROM file: its identity into the screen's texts and the settings
  // record, its image into "TempBinData.bin". False when the file was refused (its warning
  // was shown).
  virtual bool bReadConfigFromFile(const std::string& strFWPath) = 0;
  // Gives every found hub the table of the configuration ROM file loaded last, each with its
  // own serial number; false when none was loaded.
  virtual bool bSetHubConfigFromRom() = 0;
};
