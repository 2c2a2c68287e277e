#include "platform/linux/ScsiSgIo.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "log/DebugLog.h"
#include "platform/FileDescriptor.h"

constexpr int MAX_DRIVE_NUMBER = 126;

int nDiskNumberFromName(const std::string& s) {
  if (s.size() < 3 || s.compare(0, 2, "sd") != 0) return -1;
  // Bijective base 26: a..z, then aa..zz, ...
  long n = 0;
  for (size_t i = 2; i < s.size(); ++i) {
    char c = s[i];
    if (c < 'a' || c > 'z') return -1;
    n = n * 26 + (c - 'a' + 1);
    if (n > MAX_DRIVE_NUMBER + 1) return -1;
  }
  return static_cast<int>(n - 1);
}

int nCDROMNumberFromName(const std::string& s) {
  if (s.size() < 3 || s.compare(0, 2, "sr") != 0) return -1;
  if (s.size() > 3 && s[2] == '0') return -1;
  int n = 0;
  for (size_t i = 2; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    n = n * 10 + (s[i] - '0');
    if (n > MAX_DRIVE_NUMBER) return -1;
  }
  return n;
}

std::string strDiskNameFromNumber(int nNumber) {
  if (nNumber < 0 || nNumber > MAX_DRIVE_NUMBER) return "";
  std::string letters;
  int n = nNumber + 1;
  while (n > 0) {
    --n;
    letters.insert(letters.begin(), static_cast<char>('a' + n % 26));
    n /= 26;
  }
  return "sd" + letters;
}

std::string strSgIoDevicePath(const std::string& strDriveName, const std::string& strDevRoot) {
  bool bCDROM = false;
  int n = 0;
  if (!bParseScsiDriveName(strDriveName, bCDROM, n) || n > MAX_DRIVE_NUMBER) return "";
  return strDevRoot + "/" + (bCDROM ? "sr" + std::to_string(n) : strDiskNameFromNumber(n));
}

int nBuildSgIoHeader(const ScsiRequest& req, sg_io_hdr_t& hdr, uint8_t* pSense) {
  if (req.ucCdbLen < 6 || req.ucCdbLen > SCSI_MAX_CDB) return EINVAL;
  if (req.ulDataLen > SCSI_MAX_DATA) return EINVAL;
  if (req.ulDataLen > 0 && (req.pData == nullptr || req.eDir == EScsiDirection::kNone)) return EINVAL;
  std::memset(&hdr, 0, sizeof(hdr));
  hdr.interface_id = 'S';
  hdr.cmd_len = req.ucCdbLen;
  hdr.cmdp = const_cast<unsigned char*>(req.ucCdb.data());
  hdr.mx_sb_len = SCSI_SENSE_SIZE;
  hdr.sbp = pSense;
  if (req.ulDataLen == 0) {
    hdr.dxfer_direction = SG_DXFER_NONE;
  } else {
    hdr.dxfer_direction = req.eDir == EScsiDirection::kIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    hdr.dxfer_len = static_cast<unsigned int>(req.ulDataLen);
    hdr.dxferp = req.pData;
  }
  uint64_t ullMs = static_cast<uint64_t>(req.ulTimeoutSec) * 1000u;
  hdr.timeout = static_cast<unsigned int>(std::min<uint64_t>(ullMs, UINT_MAX));
  return 0;
}

void vMapSgIoOutcome(int nIoctlResult, int nErrno, const sg_io_hdr_t& hdr, const uint8_t* pSense,
                     ScsiResult& res) {
  res = ScsiResult{};
  if (nIoctlResult < 0) {
    res.nError = nErrno ? nErrno : EIO;
    return;
  }
  uint16_t usDriver = hdr.driver_status & 0x0F;
  if (hdr.host_status == SGIO_DID_TIME_OUT || usDriver == SGIO_DRIVER_TIMEOUT) {
    res.nError = ETIMEDOUT;
    return;
  }
  if (hdr.host_status == SGIO_DID_NO_CONNECT || hdr.host_status == SGIO_DID_BAD_TARGET) {
    res.nError = ENODEV;
    return;
  }
  if (hdr.host_status == SGIO_DID_BUS_BUSY) {
    res.nError = EBUSY;
    return;
  }
  if (hdr.host_status != SGIO_DID_OK) {
    res.nError = EIO;
    return;
  }
  res.bRequestOk = true;
  res.ucScsiStatus = hdr.status;
  int nResid = std::max(0, hdr.resid);
  res.ulTransferred = hdr.dxfer_len > static_cast<unsigned int>(nResid) ? hdr.dxfer_len - nResid : 0;
  if (pSense != nullptr) {
    res.ucSenseLen = static_cast<uint8_t>(std::min<size_t>(hdr.sb_len_wr, SCSI_SENSE_SIZE));
    std::memcpy(res.ucSense.data(), pSense, res.ucSenseLen);
  }
}

std::string strScsiErrorText(int nErrno) {
  switch (nErrno) {
    case 0:
      return "no error";
    case EPERM:
      return "the kernel refused the SCSI command (EPERM): vendor SCSI commands need CAP_SYS_RAWIO; "
             "run MPTool as root or give it the capability (setcap cap_sys_rawio+ep)";
    case EACCES:
      return "no permission to open the drive for reading and writing (EACCES): install the driver "
             "package's udev rules or add the operator to the disk group";
    case ENOENT:
      return "no such drive (ENOENT)";
    case ENXIO:
    case ENODEV:
      return "the drive is no longer there (ENODEV)";
    case ENOTBLK:
      return "not a block device (ENOTBLK)";
    case ETIMEDOUT:
      return "the drive did not answer in time (ETIMEDOUT)";
    case EBUSY:
      return "the drive or its bus is busy (EBUSY)";
    case EINVAL:
      return "malformed drive name or request (EINVAL)";
    case ENOTTY:
      return "the device does not take SCSI commands (ENOTTY)";
    default:
      return std::string(std::strerror(nErrno)) + " (errno " + std::to_string(nErrno) + ")";
  }
}

namespace {

class CSgIoDriveHandle : public IScsiDriveHandle {
 public:
  CSgIoDriveHandle(CFileDescriptor fd, std::string strName, std::string strPath)
      : m_fd(std::move(fd)), m_strName(std::move(strName)), m_strPath(std::move(strPath)) {}

  bool bSend(const ScsiRequest& req, ScsiResult& res) override {
    sg_io_hdr_t hdr;
    uint8_t ucSense[SCSI_SENSE_SIZE] = {};
    int nBad = nBuildSgIoHeader(req, hdr, ucSense);
    if (nBad != 0) {
      res = ScsiResult{};
      res.nError = nBad;
      return false;
    }
    int nRet = ::ioctl(m_fd.get(), SG_IO, &hdr);
    vMapSgIoOutcome(nRet, nRet < 0 ? errno : 0, hdr, ucSense, res);
    if (!res.bRequestOk && res.nError == EPERM && !m_bToldRawIo) {
      m_bToldRawIo = true;
      vDEBUG_ERR_printf("CSgIoDriveHandle::bSend", "SG_IO on %s (opcode 0x%02X): %s", m_strPath.c_str(),
                        req.ucCdb[0], strScsiErrorText(EPERM).c_str());
    }
    return res.bGood();
  }
  const std::string& strName() const override { return m_strName; }

 private:
  CFileDescriptor m_fd;
  std::string m_strName, m_strPath;
  bool m_bToldRawIo = false;
};

}  // namespace

std::unique_ptr<IScsiDriveHandle> CSgIoScsiPlatform::pOpen(const std::string& strDriveName, int* pnError,
                                                           std::string* pstrError) {
  auto fail = [&](int nErr, const std::string& strWhat) -> std::unique_ptr<IScsiDriveHandle> {
    if (pnError) *pnError = nErr;
    if (pstrError) *pstrError = strWhat + ": " + strScsiErrorText(nErr);
    return nullptr;
  };
  std::string strPath = strSgIoDevicePath(strDriveName, m_strDevRoot);
  if (strPath.empty()) return fail(EINVAL, strDriveName);
  CFileDescriptor fd(::open(strPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!fd.bValid()) return fail(errno, strPath);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISBLK(st.st_mode)) return fail(ENOTBLK, strPath);
  if (pnError) *pnError = 0;
  return std::make_unique<CSgIoDriveHandle>(std::move(fd), strDriveName, strPath);
}
