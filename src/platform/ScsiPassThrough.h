// SCSI pass-through to a drive: the one path to a hub's storage bridge. A drive is opened by
// name, carries one command at a time (a CDB of 6 to 16 bytes with an optional data phase in
// one direction), and is closed by destroying its handle. Linux serves it with SG_IO on the
// drive's block device (platform/linux/ScsiSgIo.h); the simulated bench with its storage
// bridges (platform/sim/SimStorageBridge.h).
//
// Drive names keep the form the rest of the tool writes: "\\.\PHYSICALDRIVE<n>" for the disk
// numbered n and "\\.\CDROM<n>" for the CD-ROM drive numbered n (prefix compared ignoring
// case, so "\\.\PhysicalDrive3" names the same disk). How numbers are given to disks is the
// platform's: see IStorageDriveFinder below.
//
// Also here: how the disk behind a hub is found, for the device record's storage-drive
// fields.
#pragma once

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr size_t SCSI_MAX_CDB = 16;
constexpr size_t SCSI_SENSE_SIZE = 24;   // sense bytes kept per request
constexpr size_t SCSI_MAX_DATA = 65536;  // largest data phase a request may carry
constexpr uint8_t SCSI_STATUS_GOOD = 0x00;
constexpr uint8_t SCSI_STATUS_CHECK_CONDITION = 0x02;
constexpr uint8_t SCSI_STATUS_BUSY = 0x08;
constexpr uint8_t STORAGE_DRIVE_NONE = 127;  // the record's free drive number

enum class EScsiDirection : uint8_t {
  kNone,  // no data phase
  kIn,    // drive to host
  kOut,   // host to drive
};

struct ScsiRequest {
  std::array<uint8_t, SCSI_MAX_CDB> ucCdb{};
  uint8_t ucCdbLen = 0;  // 6, 10, 12 or 16
  EScsiDirection eDir = EScsiDirection::kNone;
  uint8_t* pData = nullptr;   // data phase: filled for kIn, sent for kOut
  size_t ulDataLen = 0;       // 0 = no data phase whatever eDir says
  uint32_t ulTimeoutSec = 3;  // how long the drive may take before the request fails
};

struct ScsiResult {
  bool bRequestOk = false;   // the command reached the drive and it answered
  uint8_t ucScsiStatus = 0;  // the SCSI status byte; meaningful only when bRequestOk
  size_t ulTransferred = 0;  // data bytes moved
  int nError = 0;            // errno when !bRequestOk (ETIMEDOUT, ENODEV, EPERM, EIO, EINVAL...)
  uint8_t ucSenseLen = 0;
  std::array<uint8_t, SCSI_SENSE_SIZE> ucSense{};
  // The outcome every caller tests: the request went through and the status is GOOD.
  bool bGood() const { return bRequestOk && ucScsiStatus == SCSI_STATUS_GOOD; }
};

class IScsiDriveHandle {
 public:
  virtual ~IScsiDriveHandle() = default;
  // One command. Blocks until the drive answers, the request fails, or ulTimeoutSec passes
  // (then bRequestOk is false, nError ETIMEDOUT; the bench's time-out fault waits that long
  // on the bench clock). Returns res.bGood(); never throws. A drive that answers is
  // bRequestOk with its status and sense (CHECK CONDITION for a command it refuses). Errors
  // in nError, the command then not carried out: EINVAL a malformed request (CDB length not
  // 6..16, data length over SCSI_MAX_DATA, data length without a buffer or direction), not
  // sent; ENODEV the drive has gone away (the bench: also every command on a handle opened
  // before its hub left the bus); ETIMEDOUT; EIO the transport failed; Linux EPERM a vendor
  // command without CAP_SYS_RAWIO (logged once per handle as ERR), EBUSY the bus is busy.
  // One thread at a time per handle; separate handles may be used at once from any threads.
  virtual bool bSend(const ScsiRequest& req, ScsiResult& res) = 0;
  virtual const std::string& strName() const = 0;
};

// An "invalid handle" value distinct from null, for callers handed a failed open unchecked.
// It must never be dereferenced.
// The integer-to-pointer cast is meant.
// NOLINTBEGIN(performance-no-int-to-ptr)
inline IScsiDriveHandle* const SCSI_INVALID_HANDLE =
    reinterpret_cast<IScsiDriveHandle*>(~static_cast<uintptr_t>(0));
// NOLINTEND(performance-no-int-to-ptr)

class IScsiPassThroughPlatform {
 public:
  virtual ~IScsiPassThroughPlatform() = default;
  // Opens a drive for reading and writing. Blocks briefly (a device open; never waits for
  // media). Returns null when the name is malformed (EINVAL), the drive does not exist
  // (ENOENT/ENXIO/ENODEV; the bench: ENODEV its bridge is off the bus), may not be opened
  // (EACCES) or, on Linux, is not a block device (ENOTBLK); *pnError gets the errno (0 on
  // success) and *pstrError (when given) one line saying why. Any thread; opens may overlap.
  virtual std::unique_ptr<IScsiDriveHandle> pOpen(const std::string& strDriveName, int* pnError = nullptr,
                                                  std::string* pstrError = nullptr) = 0;
};

// "\\.\PHYSICALDRIVE<n>" or "\\.\CDROM<n>".
inline std::string strMakeScsiDriveName(bool bCDROM, int nNumber) {
  return std::string("\\\\.\\") + (bCDROM ? "CDROM" : "PHYSICALDRIVE") + std::to_string(nNumber);
}

// Parses a drive name; the prefix ignoring case, the number 0..999 in plain decimal.
inline bool bParseScsiDriveName(const std::string& strName, bool& bCDROM, int& nNumber) {
  auto bStarts = [&](const char* pszPrefix, size_t& ulAt) {
    size_t i = 0;
    for (; pszPrefix[i]; ++i)
      if (i >= strName.size() ||
          std::toupper(static_cast<unsigned char>(strName[i])) != static_cast<unsigned char>(pszPrefix[i]))
        return false;
    ulAt = i;
    return true;
  };
  size_t ulAt = 0;
  if (bStarts("\\\\.\\PHYSICALDRIVE", ulAt))
    bCDROM = false;
  else if (bStarts("\\\\.\\CDROM", ulAt))
    bCDROM = true;
  else
    return false;
  size_t ulDigits = strName.size() - ulAt;
  if (ulDigits == 0 || ulDigits > 3) return false;
  int n = 0;
  for (size_t i = ulAt; i < strName.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(strName[i]))) return false;
    n = n * 10 + (strName[i] - '0');
  }
  if (ulDigits > 1 && strName[ulAt] == '0') return false;  // one spelling per drive
  nNumber = n;
  return true;
}

// The storage drive found behind one hub.
struct StorageDriveInfo {
  bool bHasDisk = false;   // a disk (physical drive) was found
  bool bHasCDROM = false;  // a CD-ROM drive was found
  uint8_t ucPhysicalDrive = STORAGE_DRIVE_NONE;
  uint8_t ucCDROMNumber = STORAGE_DRIVE_NONE;
  std::string strDiskDevice;  // what the platform calls them ("sdb", "sr0", a bench name)
  std::string strCDROMDevice;
  // The record's CD-ROM flag: commands go to the CD-ROM drive only when the bridge shows no
  // disk, because flush and standby are sent to the physical drive in any case.
  bool bIsCDROM() const { return bHasCDROM && !bHasDisk; }
  bool bFound() const { return bHasDisk || bHasCDROM; }
};

class IStorageDriveFinder {
 public:
  virtual ~IStorageDriveFinder() = default;
  // Finds the drives of the storage bridge behind a hub, named by its filter device name
  // ("usb:2-1.4"). When the hub carries several, the lowest-numbered disk and CD-ROM drive
  // are taken. Returns 0 (info filled; bFound() false when the hub carries no drive) or an
  // errno: EINVAL a malformed hub name, ENOENT the hub is not there, EIO/EACCES the device
  // tree cannot be read. Reads small files only; never blocks on a device. Any thread; calls
  // may overlap.
  virtual int nFindStorageDrive(const std::string& strHubObjectName, StorageDriveInfo& info) = 0;
};
