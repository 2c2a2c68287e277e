#include "device/ScsiBridge.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/DebugLog.h"

namespace {

thread_local int t_nLastError = 0;  // "dwErrorCode" of the calling thread's last SCSI step

unsigned uHandleText(const IScsiDriveHandle* h) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(h));
}

bool bBadHandle(const IScsiDriveHandle* h) {
  return h == nullptr || h == SCSI_INVALID_HANDLE;
}

ScsiRequest stRequest(std::initializer_list<uint8_t> cdb, EScsiDirection eDir, uint32_t ulTimeoutSec) {
  ScsiRequest r;
  size_t i = 0;
  for (uint8_t b : cdb) r.ucCdb[i++] = b;
  r.ucCdbLen = static_cast<uint8_t>(cdb.size());
  r.eDir = eDir;
  r.ulTimeoutSec = ulTimeoutSec;
  return r;
}

}  // namespace

ScsiRequest stBridgeRegisterRead(uint16_t usAddr, uint8_t* pData, uint32_t dwLen) {
  ScsiRequest r = stRequest({0xE4, static_cast<uint8_t>(dwLen), 0x00, static_cast<uint8_t>(usAddr >> 8),
                             static_cast<uint8_t>(usAddr), 0x00},
                            EScsiDirection::kIn, BRIDGE_READ_TIMEOUT_SEC);
  r.pData = pData;
  r.ulDataLen = dwLen;
  return r;
}

ScsiRequest stBridgeRegisterWrite(uint16_t usAddr, uint8_t ucValue) {
  return stRequest(
      {0xE5, ucValue, 0x00, static_cast<uint8_t>(usAddr >> 8), static_cast<uint8_t>(usAddr), 0x00},
      EScsiDirection::kOut, BRIDGE_WRITE_TIMEOUT_SEC);
}

ScsiRequest stBridgeDisconnect() {
  return stRequest({0xE8, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, EScsiDirection::kIn,
                   BRIDGE_DISCONNECT_TIMEOUT_SEC);
}

ScsiRequest stBridgeFlushCache() {
  return stRequest({0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE7, 0, 0}, EScsiDirection::kOut,
                   BRIDGE_ATA_TIMEOUT_SEC);
}

ScsiRequest stBridgeStandbyImmediate() {
  return stRequest({0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0, 0}, EScsiDirection::kOut,
                   BRIDGE_ATA_TIMEOUT_SEC);
}

std::string strRecordDriveName(const DevRecord& rec) {
  return rec.ucIsCDROM ? strMakeScsiDriveName(true, rec.ucCDROMNumber)
                       : strMakeScsiDriveName(false, rec.ucPhysicalDrive);
}

int CScsiBridge::SCSI5872_AccessRegister(IScsiDriveHandle* hDev, uint8_t ucWrite, uint16_t usAddr,
                                         uint8_t* pBuf, uint32_t dwLen, std::stop_token st) {
  const char* L = "CScsiBridge::SCSI5872_AccessRegister";
  // A length of 0 would send a read CDB asking for 256 bytes into no buffer, and a write has
  // no first byte to send: both are refused like an over-long one.
  if (bBadHandle(hDev) || pBuf == nullptr || dwLen == 0 || dwLen > BRIDGE_REGISTER_MAX_LEN) {
    t_nLastError = EINVAL;
    vDEBUG_ERR_printf(L,
                      "(hDev == NULL) or (dwTotalLen != CONFIG_BIN_SIZE)  hDev:%x , ReadWrite:%x , BufLen:%x "
                      ", dwErrorCode:%x  ",
                      uHandleText(hDev), ucWrite, dwLen, t_nLastError);
    return -10;
  }
  bool bWrite = ucWrite == 1;
  try {
    ScsiResult res;
    if (bWrite) {
      ScsiRequest req = stBridgeRegisterWrite(usAddr, pBuf[0]);
      hDev->bSend(req, res);
      t_nLastError = res.nError;
      if (!res.bGood()) {
        vDEBUG_ERR_printf(L,
                          "(status = Fail) hDev:%x , ReadWrite:%x , dwTotalLen:%x , status:%x , "
                          "ScsiStatus:%x , dwErrorCode:%x  ",
                          uHandleText(hDev), ucWrite, dwLen, res.bRequestOk ? 1u : 0u, res.ucScsiStatus,
                          res.nError);
        return -1;
      }
      return 0;
    }
    std::memset(pBuf, 0, dwLen);
    std::vector<uint8_t> vecData(dwLen, 0);
    ScsiRequest req = stBridgeRegisterRead(usAddr, vecData.data(), dwLen);
    hDev->bSend(req, res);
    for (int nRetry = 1; !res.bRequestOk && nRetry <= BRIDGE_READ_RETRIES; ++nRetry) {
      if (!m_clock.bSleepMs(BRIDGE_READ_RETRY_MS, st)) break;  // stopping: give up as failed
      hDev->bSend(req, res);
      if (res.bRequestOk) {
        // Straight to the debugging channel, whatever the log level.
        std::fprintf(stderr, "\n::DeviceIoControl success after retry:%d\n", nRetry);
        std::fflush(stderr);
      }
    }
    t_nLastError = res.nError;
    if (!res.bGood()) {
      // The buffer stays cleared (its first bytes, at most four, are the zeroed result).
      std::memset(pBuf, 0, dwLen < 4 ? dwLen : 4);
      vDEBUG_ERR_printf(L,
                        "SCSI5872_AccessRegister: (status = Fail) hDev:%x , ReadWrite:%x , BufLen:%x , "
                        "status:%x , ScsiStatus:%x , dwErrorCode:%x  ",
                        uHandleText(hDev), ucWrite, dwLen, res.bRequestOk ? 1u : 0u, res.ucScsiStatus,
                        res.nError);
      return -1;
    }
    std::memcpy(pBuf, vecData.data(), dwLen);
    return 0;
  } catch (...) {
    if (!bWrite) std::memset(pBuf, 0, dwLen);
    vDEBUG_ERR_printf(L, "catch(...): %d", t_nLastError);
    return -1;  // a read that threw has read nothing
  }
}

int CScsiBridge::SCSI5872_DisConnect(IScsiDriveHandle* hDev) {
  const char* L = "CScsiBridge::SCSI5872_DisConnect";
  try {
    ScsiResult res;
    if (bBadHandle(hDev)) {
      // Nothing can be sent on it: the command fails as it would on the drive.
      res.nError = EBADF;
      vDEBUG_ERR_printf(L, "SCSI5872_CPURST: hDev not valid , dwErrorCode %d", res.nError);
    } else {
      ScsiRequest req = stBridgeDisconnect();
      hDev->bSend(req, res);
    }
    t_nLastError = res.nError;
    if (!res.bGood()) {
      vDEBUG_ERR_printf(L, "SCSI5872_CPURST: IOCTL_SCSI_PASS_THROUGH Fail , dwErrorCode %d", res.nError);
      return -1;
    }
    return 0;
  } catch (...) {
    vDEBUG_ERR_printf(L, "SCSI5872_CPURST: dwErrorCode %d", t_nLastError);
    return -1;
  }
}

bool CScsiBridge::bSendAta(int nDrive, bool bFlush) {
  const char* L = bFlush ? "CScsiBridge::bSendFlushCache" : "CScsiBridge::bSendStandbyImmediate";
  const char* pszOp = bFlush ? "bSendFlushCache" : "bSendStandByImmediate";
  try {
    int nErr = 0;
    std::string strName = "\\\\.\\PhysicalDrive" + std::to_string(nDrive);
    auto h = m_scsi.pOpen(strName, &nErr);
    if (!h) {
      t_nLastError = nErr;
      vDEBUG_ERR_printf(L, "%s: CreateFile Fail [%d] , dwErrorCode %d", pszOp, nDrive, nErr);
      return false;
    }
    ScsiResult res;
    ScsiRequest req = bFlush ? stBridgeFlushCache() : stBridgeStandbyImmediate();
    h->bSend(req, res);
    t_nLastError = res.nError;
    if (!res.bGood()) {
      vDEBUG_ERR_printf(L, "%s: IOCTL_SCSI_PASS_THROUGH Fail [%d] , dwErrorCode %d", pszOp, nDrive,
                        res.nError);
      return false;
    }
    return true;  // the handle closes here
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch(...): [%d] , dwErrorCode %d", nDrive, t_nLastError);
    return false;
  }
}

bool CScsiBridge::bSendFlushCache(int nDrive) {
  return bSendAta(nDrive, true);
}
bool CScsiBridge::bSendStandbyImmediate(int nDrive) {
  return bSendAta(nDrive, false);
}

std::unique_ptr<IScsiDriveHandle> CScsiBridge::pOpenRecordDrive(int n, int* pnError) {
  if (m_pDevList == nullptr || n < 0 || n >= MAX_DEV_RECORDS) {
    if (pnError) *pnError = EINVAL;
    return nullptr;
  }
  return m_scsi.pOpen(strRecordDriveName(m_pDevList->dev[n]), pnError);
}

bool CScsiBridge::vDisconnectAllDevice(int n, std::stop_token st) {
  const char* L = "CScsiBridge::vDisconnectAllDevice";
  int nDisk = -1;
  try {
    if (m_pDevList == nullptr || n < 0 || n >= MAX_DEV_RECORDS) {
      vDEBUG_ERR_printf(L, "vDisconnectAllDevice: [%d] CreateFile Fail , dwErrorCode %d", n, EINVAL);
      return false;
    }
    const DevRecord& rec = m_pDevList->dev[n];
    nDisk = rec.ucIsCDROM ? rec.ucCDROMNumber : rec.ucPhysicalDrive;
    int nPhysical = rec.ucPhysicalDrive;
    int nOpenErr = 0;
    auto h = m_scsi.pOpen(strRecordDriveName(rec), &nOpenErr);
    bSendFlushCache(nPhysical);
    if (!m_clock.bSleepMs(BRIDGE_FLUSH_WAIT_MS, st)) return false;
    bSendStandbyImmediate(nPhysical);
    if (!m_clock.bSleepMs(BRIDGE_STANDBY_WAIT_MS, st)) return false;
    if (!h) {
      t_nLastError = nOpenErr;
      vDEBUG_ERR_printf(L, "vDisconnectAllDevice: [%d] CreateFile Fail , dwErrorCode %d", nDisk, nOpenErr);
      return false;
    }
    int iResult = SCSI5872_DisConnect(h.get());
    if (iResult != 0) {
      vDEBUG_ERR_printf(L, "vDisconnectAllDevice: [%d] SCSI5872_DisConnect Fail , iResult %d dwErrorCode %d",
                        nDisk, iResult, t_nLastError);
      return false;
    }
    return true;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch(...): DiskCnt : %d ,  dwErrorCode %d", nDisk, t_nLastError);
    return false;
  }
}
