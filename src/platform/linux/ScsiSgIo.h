// SCSI pass-through on Linux: SG_IO on the drive's block device.
//
// Drive numbers are the kernel's own disk names read as numbers, so a number always names the
// same device node while that device exists, whatever else comes and goes:
//   physical drive n = /dev/sd<letters> with the letters as the kernel counts them
//                      (sda 0, sdb 1, ..., sdz 25, sdaa 26, ..., sddw 126);
//   CD-ROM n         = /dev/sr<n>.
// 127 is the device record's "no drive" value, so only numbers 0..126 are used.
//
// Permissions: opening needs read and write access to the device node (the driver package's
// udev rules or the disk group give it). The kernel lets vendor opcodes (the bridge's E4, E5,
// E8...) through SG_IO only for a process with CAP_SYS_RAWIO; without it the request fails
// with EPERM, and the handle says so in the diagnostic log once.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <string>

#include "platform/ScsiPassThrough.h"

// Host and driver status values the kernel puts into sg_io_hdr (not in the public headers).
constexpr uint16_t SGIO_DID_OK = 0x00;
constexpr uint16_t SGIO_DID_NO_CONNECT = 0x01;
constexpr uint16_t SGIO_DID_BUS_BUSY = 0x02;
constexpr uint16_t SGIO_DID_TIME_OUT = 0x03;
constexpr uint16_t SGIO_DID_BAD_TARGET = 0x04;
constexpr uint16_t SGIO_DRIVER_TIMEOUT = 0x06;
constexpr uint16_t SGIO_DRIVER_SENSE = 0x08;

// Kernel disk names and drive numbers: -1 when the name is not a whole disk / CD-ROM drive
// or its number is above 126; "" for a number outside 0..126.
int nDiskNumberFromName(const std::string& strKernelName);   // "sdb" -> 1 (partitions "sdb1" -> -1)
int nCDROMNumberFromName(const std::string& strKernelName);  // "sr0" -> 0
std::string strDiskNameFromNumber(int nNumber);              // 26 -> "sdaa"

// The device node behind a drive name: "\\.\PHYSICALDRIVE2" -> strDevRoot + "/sdc",
// "\\.\CDROM1" -> strDevRoot + "/sr1". "" for a malformed name or a number above 126.
std::string strSgIoDevicePath(const std::string& strDriveName, const std::string& strDevRoot = "/dev");

// Fills an SG_IO header for one request (sense area pSense of SCSI_SENSE_SIZE bytes). A data
// length of 0 makes a request without data phase, whatever its direction. 0, or EINVAL for
// a malformed request (CDB length outside 6..16, data over SCSI_MAX_DATA, data without buffer).
int nBuildSgIoHeader(const ScsiRequest& req, sg_io_hdr_t& hdr, uint8_t* pSense);

// What one SG_IO call came to: nIoctlResult and nErrno from the call, then the header as the
// kernel left it. A failed call, a host status other than OK or a driver time-out make a failed
// request (nError: the call's errno, ETIMEDOUT, ENODEV for a target no longer there, EBUSY,
// EIO); otherwise the request went through and the SCSI status is the drive's (a CHECK
// CONDITION comes back as status 2 with its sense bytes).
void vMapSgIoOutcome(int nIoctlResult, int nErrno, const sg_io_hdr_t& hdr, const uint8_t* pSense,
                     ScsiResult& res);

// One line for an errno met opening a drive or sending to it, naming the remedy where there is
// one (EPERM: CAP_SYS_RAWIO; EACCES: device node permissions).
std::string strScsiErrorText(int nErrno);

class CSgIoScsiPlatform : public IScsiPassThroughPlatform {
 public:
  // strDevRoot: the folder of the device nodes (tests point it elsewhere).
  explicit CSgIoScsiPlatform(std::string strDevRoot = "/dev") : m_strDevRoot(std::move(strDevRoot)) {}
  // Opens the node O_RDWR | O_NONBLOCK (a CD-ROM drive opens without media); refuses
  // anything that is not a block device (ENOTBLK).
  std::unique_ptr<IScsiDriveHandle> pOpen(const std::string& strDriveName, int* pnError = nullptr,
                                          std::string* pstrError = nullptr) override;

 private:
  std::string m_strDevRoot;
};
