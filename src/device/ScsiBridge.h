// SCSI commands to the storage bridge that some hubs carry: bridge register access (the LEDs
// live in register 0xCA30), the disconnect sequence used when hubs are removed, and the ATA
// FLUSH CACHE and STANDBY IMMEDIATE commands carried by ATA PASS-THROUGH (12).
//
// The bridge is reached through the disk or CD-ROM drive it shows (IScsiPassThroughPlatform);
// the drive of a hub is named by its device record's storage-drive fields (see
// StorageDrive.h for how they are filled; with their free values the drive is physical
// drive 127, which never exists, so every command fails to open and nothing is touched).
//
// Every wait goes through the injected clock and ends early on a stop request. No exception
// leaves an operation. One CScsiBridge may be used from several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

#include "host/DeviceList.h"
#include "platform/Clock.h"
#include "platform/ScsiPassThrough.h"

constexpr uint16_t BRIDGE_LED_REGISTER = 0xCA30;
constexpr uint8_t BRIDGE_LED1_MASK = 0x02;  // bit 1
constexpr uint8_t BRIDGE_LED2_MASK = 0x04;  // bit 2
constexpr uint32_t BRIDGE_REGISTER_MAX_LEN = 256;
constexpr int BRIDGE_READ_RETRIES = 30;
constexpr uint32_t BRIDGE_READ_RETRY_MS = 20;
constexpr uint32_t BRIDGE_READ_TIMEOUT_SEC = 3;
constexpr uint32_t BRIDGE_WRITE_TIMEOUT_SEC = 60;
constexpr uint32_t BRIDGE_DISCONNECT_TIMEOUT_SEC = 3;
constexpr uint32_t BRIDGE_ATA_TIMEOUT_SEC = 65535;
constexpr uint32_t BRIDGE_FLUSH_WAIT_MS = 1000;    // after FLUSH CACHE, before STANDBY
constexpr uint32_t BRIDGE_STANDBY_WAIT_MS = 2000;  // after STANDBY, before the disconnect

// The requests, as the bridge expects them.
// E4 n 00 AH AL 00, data in (n is the length's low byte: 256 travels as 0).
ScsiRequest stBridgeRegisterRead(uint16_t usAddr, uint8_t* pData, uint32_t dwLen);
// E5 v 00 AH AL 00, no data phase: the value travels in the CDB.
ScsiRequest stBridgeRegisterWrite(uint16_t usAddr, uint8_t ucValue);
// E8 01 00 00 00 00 00 00 00 00 00 00.
ScsiRequest stBridgeDisconnect();
// A1 06 00 00 00 00 00 00 00 E7 00 00: ATA PASS-THROUGH (12), non-data, FLUSH CACHE.
ScsiRequest stBridgeFlushCache();
// A1 06 00 00 00 00 00 00 00 E0 00 00: ATA PASS-THROUGH (12), non-data, STANDBY IMMEDIATE.
ScsiRequest stBridgeStandbyImmediate();

// The LED register value with the mask bits set (ulEnable 1) or cleared (any other value).
inline uint8_t ucLedRegisterValue(uint8_t ucCurrent, uint8_t ucMask, uint32_t ulEnable) {
  return ulEnable == 1 ? static_cast<uint8_t>(ucCurrent | ucMask) : static_cast<uint8_t>(ucCurrent & ~ucMask);
}

// The drive a device record names: "\\.\CDROM<n>" when its CD-ROM flag is set, else
// "\\.\PHYSICALDRIVE<n>".
std::string strRecordDriveName(const DevRecord& rec);

class CScsiBridge {
 public:
  CScsiBridge(IScsiPassThroughPlatform& scsi, IClock& clock, DeviceList* pDevList = nullptr)
      : m_scsi(scsi), m_clock(clock), m_pDevList(pDevList) {}
  void vSetDevList(DeviceList* pDevList) { m_pDevList = pDevList; }
  IScsiPassThroughPlatform& platform() { return m_scsi; }

  // Reads (ucWrite 0) dwLen bridge registers from usAddr into pBuf, or writes (ucWrite 1)
  // pBuf[0] to usAddr. 0 success, -1 failed (request failed, SCSI status not 0), -10 bad
  // argument (no or invalid handle, no buffer, length 0 or above 256). A read clears pBuf
  // first and leaves it cleared on failure; a read whose request fails is retried up to 30
  // times, 20 ms apart (a retry that succeeds writes "::DeviceIoControl success after retry:"
  // straight to standard error). Blocks for the request (3 s / 60 s time-out) plus retries.
  int SCSI5872_AccessRegister(IScsiDriveHandle* hDev, uint8_t ucWrite, uint16_t usAddr, uint8_t* pBuf,
                              uint32_t dwLen, std::stop_token st = {});
  // Tells the bridge to disconnect. 0 or -1.
  int SCSI5872_DisConnect(IScsiDriveHandle* hDev);
  // Open physical drive nDrive, send the ATA command, close. True on success.
  bool bSendFlushCache(int nDrive);
  bool bSendStandbyImmediate(int nDrive);
  // Flushes, stops and disconnects the drive of device record n: flush, 1000 ms, standby,
  // 2000 ms (both sent even when the record's drive cannot be opened), then the disconnect.
  // True when the drive was opened and the disconnect succeeded. About 3 s.
  bool vDisconnectAllDevice(int n, std::stop_token st = {});

  // Opens the drive of device record n (null when there is no such record or drive).
  std::unique_ptr<IScsiDriveHandle> pOpenRecordDrive(int n, int* pnError = nullptr);

 private:
  bool bSendAta(int nDrive, bool bFlush);

  IScsiPassThroughPlatform& m_scsi;
  IClock& m_clock;
  DeviceList* m_pDevList;
};
