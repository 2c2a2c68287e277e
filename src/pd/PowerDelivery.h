// The PD/MCU update engine: the firmware side of CPDFirmware (choices, images, loader), the
// one vendor SCSI command (opcode 0xEC) that reaches the USB Power Delivery controller and the
// microcontroller behind a hub's storage bridge, the small operations built directly on it
// (chip detection, the CCG3/CCG4 device mode, the bridge's I2C path to the controller, the
// switch into flash-programming mode), and the flows that write, read back and ask the
// version of the images (PowerDelivery_Flows.cpp).
//
// Every operation that takes a drive number opens "\\.\PHYSICALDRIVE<n>" itself and closes it
// before it returns. Waits go through the injected clock and end early on a stop request (the
// operation then returns its result as it stands). No exception leaves an operation.
//
// Several workers call these operations at the same time, each for its own drive; the detected
// fields are single bytes shared by all of them (the last detection wins).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "host/DeviceList.h"
#include "pd/PDFirmware.h"
#include "platform/Clock.h"
#include "platform/ScsiPassThrough.h"

constexpr uint8_t PD_VENDOR_OPCODE = 0xEC;
constexpr uint32_t PD_VENDOR_MAX_LEN = 256;
constexpr uint32_t PD_WRITE_TIMEOUT_SEC = 60;
constexpr uint32_t PD_READ_TIMEOUT_SEC = 3;
constexpr int PD_CMD_TRIES = 3;
constexpr uint32_t PD_RETRY_MS = 10;            // between tries of a command
constexpr uint32_t PD_MTP_RETRY_MS = 500;       // between tries of the flash-mode switch
constexpr uint32_t PD_MCU_BOOT_WAIT_MS = 1000;  // after the MCU's first bootloader step
constexpr uint8_t PD_CONTROL_SIGNATURE = 0x5A;  // 'Z', byte 0 of the PD_GET_PD_CONTROL answer
constexpr uint32_t PD_CONTROL_LEN = 16;
constexpr uint8_t PD_PHYSICAL_DRIVES = 128;  // drive numbers 0..127

// Sub-commands (CDB byte 1).
enum : uint8_t {
  PD_MPT_AREA = 0x00,
  PD_WRITE_DATA = 0x01,
  PD_FW_VERSION_RICHTEK = 0x03,
  PD_I2C_BUS_OPEN = 0x04,
  PD_I2C_BUS_CLOSE = 0x05,
  PD_READ_DATA = 0x06,
  PD_GET_PD_CONTROL = 0x07,
  PD_FW_VERSION_CYPRESS = 0x21,
  CYPRESS_PD_FLASH_MODE = 0x22,
  CYPRESS_PD_WRITE_DATA = 0x23,
  CYPRESS_PD_READ_DATA = 0x24,
  PD_GET_PD_CCG3_DeviceMode = 0x29,
  CYPRESS_PD_CCG3_READ_DATA = 0x2A,
  CYPRESS_PD_CCG3_WRITE_DATA = 0x2B,  // also CCG4, with B = 0x100 and 256 bytes
  PD_FW_VERSION_CYPRESS_MODE2 = 0x2C,
  CYPRESS_PD_CCG3_FLASH_MODE = 0x2D,
  ST_MCU_ENTER_BOOTLOADER_1 = 0x32,
  ST_MCU_ENTER_BOOTLOADER_2 = 0x33,
  ST_MCU_WRITE_DATA = 0x34,
  MCU_ST_FW_DATA_SECTOR = 0x35,
};

// The request of one vendor command: the 8-byte CDB, direction, data length and time-out as
// the bridge expects them. A and B travel high byte first; sub-command 0x01 carries pBuf[0..3]
// in CDB bytes 4 to 7; byte 6 carries the length for 0x34 and 0x35, byte 7 for 0x06. Data
// travels only for writes 0x23, 0x2B, 0x34 and for reads (0x03 always moves 2 bytes).
// pBuf/dwLen are not checked here.
ScsiRequest stPDVendorRequest(uint8_t ucWrite, uint8_t ucSub, uint16_t usA, uint16_t usB, const uint8_t* pBuf,
                              uint32_t dwLen);

// "dwErrorCode" of the calling thread's last PD step (the error logs name it).
extern thread_local int t_nPDLastError;

// Read-back sizes of the check (the buffers the flows allocate per worker).
constexpr size_t PD_RICHTEK_READ_SIZE = 16384;
constexpr size_t PD_CCG3_READ_SIZE = 0x7FFF80;  // 65535 rows of 128 bytes
constexpr size_t PD_CCG4_READ_SIZE = 0xFFFF00;  // 65535 rows of 256 bytes
constexpr size_t PD_MCU_READ_SIZE = 0xC000;
constexpr size_t PD_MCU_PIECE = 12;         // MCU bytes per command
constexpr uint16_t PD_CCG2_MAX_ROW = 0xFF;  // CCG2 rows travel in one CDB byte

class CPowerDelivery : public CPDFirmware {
 public:
  // pDevList: the device list whose records name the bridges' drives (nClosePDI2CBus).
  CPowerDelivery(IScsiPassThroughPlatform& scsi, IClock& clock, CUSBUtility& utility,
                 const DeviceList* pDevList = nullptr);
  ~CPowerDelivery() override = default;
  CPowerDelivery(const CPowerDelivery&) = delete;
  CPowerDelivery& operator=(const CPowerDelivery&) = delete;

  // One vendor command on an open drive: ucWrite 1 writes, anything else reads. 0 success
  // (request went through, SCSI status 0), -1 failure (a read's buffer is then cleared), -10
  // bad arguments (no or invalid handle, length above 256, no buffer for data, sub-command
  // 0x01 with fewer than 4 bytes) before anything is sent. No retry here: the callers retry.
  int SCSI5872_PDVendorCmd(IScsiDriveHandle* hDev, uint8_t ucWrite, uint8_t ucSub, uint16_t usA, uint16_t usB,
                           uint8_t* pBuf, uint32_t dwLen);

  // Detects the PD controller and the MCU of drive nDrive (PD_GET_PD_CONTROL, 3 tries 10 ms
  // apart); both fields are stored whatever the answer. 0, -1 (not opened) or -3 (no 'Z').
  int nGetPDChipVendor(int nDrive, std::stop_token st = {});
  // Reads the CCG3/CCG4 device mode into m_ucCCG3DeviceMode (0 after three failures). 0 or -1.
  int nGetCCG3DeviceMode(int nDrive, std::stop_token st = {});
  // Opens the bridge's I2C path, then detects the chips (and the device mode of a CCG3/CCG4).
  // Opening the path means the controllers behind it were powered up again, so the drive's
  // MCU bootloader step is due once more. 0 or the first error.
  int nInitializedPDI2CBus(int nDrive, std::stop_token st = {});
  // Puts the target ucVendor (1, 2, 4, 5 a PD family, 20 the MCU) of drive nDrive into flash
  // mode, 3 tries 500 ms apart; with an MCU present its first bootloader step goes first, once
  // per drive while it succeeds. 0, -1 or -10 (unknown target, before the drive is opened).
  int nConfigMTPArea(uint8_t ucVendor, int nDrive, std::stop_token st = {});
  // Closes the I2C path of the bridge of device record nIndex. 0, -1, or -10 for an index
  // outside the list.
  int nClosePDI2CBus(int nIndex);

  // ---- flows (PowerDelivery_Flows.cpp) ----
  // Writes the loaded image of target ucVendor (1, 2, 4, 5 a PD family, 20 the MCU) to drive
  // nDrive; strPath is only logged. Every command up to 3 tries 10 ms apart; one failing
  // three times ends the write with its code. 0 (also for another target: nothing written),
  // -1 (not opened, a command failed), -10 (no silicon id for a Cypress image; a CCG2 image
  // with a row above 255, which one CDB byte cannot name, refused before anything is sent).
  int nPDFWUpdate(uint8_t ucVendor, const std::string& strPath, int nDrive, std::stop_token st = {});
  // Reads back what the target's flash holds into pOut (at most dwSize bytes, laid out as the
  // checks compare): Richtek 16384 bytes, CCG2/CCG3 the loaded rows at (slot - 1) x 128, the
  // MCU image from offset 0. CCG4 and other targets read nothing (0). 0 or a negative code.
  int nPDFWRead(uint8_t ucVendor, int nDrive, uint8_t* pOut, size_t dwSize, std::stop_token st = {});
  // Asks drive nDrive's PD controller its firmware version (the family detected last) and
  // stores the text (strPDFWVersion); with the MCU chosen "/FFFF" or "FFFF" joins it. 0 or -1.
  // pstrOut, when given, receives this call's own text (several workers share the engine).
  int nGetPDFWVersion(int nDrive, std::string* pstrOut = nullptr, std::stop_token st = {});
  std::string strPDFWVersion() const;
  // The drive opens now (a bridge back on the bus after its power cycle); nothing is sent or
  // logged.
  bool bDriveAnswers(int nDrive);

  // "\\.\PHYSICALDRIVE<n>".
  static std::string strPhysicalAddress(int nDrive) { return strMakeScsiDriveName(false, nDrive); }

  // Per drive: the MCU's first bootloader step has been sent to that drive's MCU since its
  // controllers were last powered up. Per drive because each bridge carries its own MCU.
  std::array<std::atomic<uint8_t>, PD_PHYSICAL_DRIVES> m_bMCUBootloaderEntered{};

 private:
  std::unique_ptr<IScsiDriveHandle> pOpenDrive(const char* pszLabel, int nDrive);
  // Up to PD_CMD_TRIES tries of one command, uWaitMs after each failure, logging fnRetry(try).
  template <typename F>
  int nTry(IScsiDriveHandle* h, uint8_t ucWrite, uint8_t ucSub, uint16_t usA, uint16_t usB, uint8_t* pBuf,
           uint32_t dwLen, std::stop_token st, F fnRetry) {
    int nResult = -1;
    for (int nRetry = 0; nRetry < PD_CMD_TRIES; ++nRetry) {
      nResult = SCSI5872_PDVendorCmd(h, ucWrite, ucSub, usA, usB, pBuf, dwLen);
      if (nResult == 0) break;
      fnRetry(nRetry);
      if (!m_clock.bSleepMs(PD_RETRY_MS, st)) break;  // stopping: the failure stands
    }
    return nResult;
  }
  int nWriteCypress(IScsiDriveHandle* h, uint8_t ucVendor, const std::string& strName, std::stop_token st);
  int nWriteMCU(IScsiDriveHandle* h, const std::string& strName, std::stop_token st);
  int nReadMCU(IScsiDriveHandle* h, const std::string& strName, uint8_t* pOut, size_t dwSize,
               std::stop_token st);

  IScsiPassThroughPlatform& m_scsi;
  IClock& m_clock;
  const DeviceList* m_pDevList;
  mutable std::mutex m_versionMutex;
  std::string m_strPDFWVersion = "NULL";
};
