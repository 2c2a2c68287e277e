#include "device/VLNTFILTER0.h"

#include <cstring>

#include "log/DebugLog.h"

namespace {
constexpr uint8_t REQ_REG_READ = 0x52, REQ_REG_WRITE = 0x53, REQ_REG_6400 = 0x40, REQ_CPU_RESET = 0x54,
                  REQ_ERASE = 0x57, REQ_READ_A = 0x55, REQ_READ_B = 0x65;

// A handle value printed in log entries.
int nHandleNumber(FilterHandle h) {
  return static_cast<int>(reinterpret_cast<uintptr_t>(h) & 0x7FFFFFFF);
}

void vRecord(uint8_t* p, uint32_t dwTimeout, uint32_t f2, uint32_t f3, uint32_t f4, uint32_t f5,
             uint32_t f6) {
  FilterRequestRecord r{dwTimeout, f2, f3, f4, f5, f6};
  r.vEncode(p);
}
}  // namespace

int CVLNTFILTER0::IO_Sync(FilterHandle h, uint32_t dwCode, const uint8_t* pIn, uint32_t dwInLen,
                          uint8_t* pOut, uint32_t dwOutLen, uint32_t* pdwTransferred) {
  if (pdwTransferred) *pdwTransferred = 0;
  if (!h || h == FILTER_INVALID_HANDLE) return -10;
  size_t ulDone = 0;
  EFilterResult e = h->eIoControl(dwCode, pIn, dwInLen, pOut, dwOutLen, &ulDone);
  // A vendor read is answered whole or not at all: a short answer is a failed request,
  // whatever the device below made of it.
  if (e == EFilterResult::kSuccess && dwCode == VLNTFILTER0_IOCTL_VENDOR_READ && ulDone != dwOutLen) {
    vDEBUG_MSG_printf("CVLNTFILTER0::IO_Sync", "DeviceIoControl short read, code = %x, %u of %u bytes",
                      dwCode, static_cast<unsigned>(ulDone), dwOutLen);
    return -1;
  }
  if (e == EFilterResult::kSuccess) {
    if (pdwTransferred) *pdwTransferred = static_cast<uint32_t>(ulDone);
    return 0;
  }
  vDEBUG_MSG_printf("CVLNTFILTER0::IO_Sync", "DeviceIoControl Failed, code = %x, dwError = %d", dwCode,
                    nFilterLastError());
  return e == EFilterResult::kLeftBus ? -3 : -1;
}

int CVLNTFILTER0::nVendorWrite(FilterHandle h, uint8_t ucRequest, uint16_t usValue, uint16_t usIndex,
                               uint32_t dwDataLen, uint32_t dwTimeout) {
  uint8_t req[FILTER_RECORD_SIZE + MAX_REGISTER_ACCESS] = {};
  vRecord(req, dwTimeout, FILTER_TYPE_VENDOR, FILTER_RECIPIENT_DEVICE, ucRequest, usValue, usIndex);
  uint32_t dwDone = 0;
  return IO_Sync(h, VLNTFILTER0_IOCTL_VENDOR_WRITE, req,
                 static_cast<uint32_t>(FILTER_RECORD_SIZE) + dwDataLen, nullptr, 0, &dwDone);
}

int CVLNTFILTER0::RegisterReadWriteCmd(FilterHandle h, uint8_t* pBuf, uint32_t dwLen, uint16_t usAddr,
                                       bool bWrite, uint8_t ucTimeout) {
  static const char* L = "CVLNTFILTER0::RegisterReadWriteCmd";
  if (!h) {
    vDEBUG_MSG_printf(L, "Driver Handle is NULL");
    return -10;
  }
  if (dwLen > MAX_REGISTER_ACCESS || (dwLen && !pBuf)) {
    vDEBUG_MSG_printf(L, "Buffer size is too big");
    return -10;
  }
  uint32_t dwTimeout = ucTimeout ? ucTimeout : FILTER_DEFAULT_TIMEOUT_MS;
  uint8_t ucRequest = bWrite ? REQ_REG_WRITE : REQ_REG_READ;
  uint16_t usValue = 0;
  if (usAddr == REG_16BIT) {
    ucRequest = REQ_REG_6400;
    // the register takes a 16-bit value, first byte low; a one-byte write sends a zero high byte
    if (bWrite && dwLen) usValue = static_cast<uint16_t>(pBuf[0] + 256 * (dwLen > 1 ? pBuf[1] : 0));
  } else if (bWrite && dwLen) {
    usValue = pBuf[0];
  }
  int nRet;
  if (bWrite) {
    // the hub takes the value from the value field; the data stage is zeros
    nRet = nVendorWrite(h, ucRequest, usValue, usAddr, dwLen, dwTimeout);
  } else {
    uint8_t req[FILTER_RECORD_SIZE];
    vRecord(req, dwTimeout, FILTER_TYPE_VENDOR, FILTER_RECIPIENT_DEVICE, ucRequest, 0, usAddr);
    uint8_t work[255] = {};
    uint32_t dwDone = 0;
    nRet = IO_Sync(h, VLNTFILTER0_IOCTL_VENDOR_READ, req, sizeof req, work, dwLen, &dwDone);
    if (nRet == 0 && dwLen) std::memcpy(pBuf, work, dwLen);
  }
  if (nRet != 0) {
    vDEBUG_ERR_printf(L, "set_device_paths: couldn't send device command");
    return -1;
  }
  return 0;
}

int CVLNTFILTER0::RegisterReadWriteCmdOld(FilterHandle h, uint8_t* pBuf, uint8_t ucLen, uint16_t usAddr,
                                          bool bWrite) {
  static const char* L = "CVLNTFILTER0::RegisterReadWriteCmdOld";
  if (!h) {
    vDEBUG_MSG_printf(L, "Deriver Handle is NULL");
    return -10;
  }
  if (ucLen > MAX_REGISTER_ACCESS || (ucLen && !pBuf)) {
    vDEBUG_MSG_printf(L, "Buffer size is too big");
    return -10;
  }
  uint8_t req[FILTER_RECORD_SIZE];
  vRecord(req, FILTER_DEFAULT_TIMEOUT_MS, bWrite ? REQ_REG_WRITE : REQ_REG_READ,
          (bWrite && ucLen) ? pBuf[0] : 0, usAddr, 0, 0);
  uint8_t work[MAX_REGISTER_ACCESS] = {};
  uint32_t dwDone = 0;
  // The descriptor form may answer short; a read must still bring every byte asked for.
  if (IO_Sync(h, VLNTFILTER0_IOCTL_GET_DESCRIPTOR, req, sizeof req, work, ucLen, &dwDone) != 0 ||
      (!bWrite && dwDone != ucLen)) {
    vDEBUG_MSG_printf(L, "set_device_paths: couldn't read device descriptor");
    return -1;
  }
  if (!bWrite && ucLen) std::memcpy(pBuf, work, ucLen);
  return 0;
}

int CVLNTFILTER0::DownLoadCMD(FilterHandle h, const uint8_t* pData, uint32_t dwCount, uint8_t ucRequest,
                              uint8_t ucValue) {
  static const char* L = "CVLNTFILTER0::DownLoadCMD";
  if (!h) {
    vDEBUG_MSG_printf(L, "Driver Handle is NULL");
    return -10;
  }
  // the whole count rides in the 16-bit index of every request
  if (dwCount > 0xFFFF || (dwCount && !pData)) return -10;
  uint8_t req[FILTER_RECORD_SIZE + DOWNLOAD_CHUNK];
  vRecord(req, FILTER_DEFAULT_TIMEOUT_MS, FILTER_TYPE_VENDOR, FILTER_RECIPIENT_DEVICE, ucRequest, ucValue,
          dwCount);
  const uint32_t dwChunks = (dwCount + DOWNLOAD_CHUNK - 1) / DOWNLOAD_CHUNK;
  for (uint32_t i = 0; i < dwChunks; ++i) {
    uint32_t dwOff = i * DOWNLOAD_CHUNK;
    uint32_t n = dwCount - dwOff < static_cast<uint32_t>(DOWNLOAD_CHUNK) ? dwCount - dwOff : DOWNLOAD_CHUNK;
    std::memcpy(req + FILTER_RECORD_SIZE, pData + dwOff, n);
    if (n < static_cast<uint32_t>(DOWNLOAD_CHUNK))
      std::memset(req + FILTER_RECORD_SIZE + n, 0, DOWNLOAD_CHUNK - n);
    uint32_t dwDone = 0;
    int nRet = IO_Sync(h, VLNTFILTER0_IOCTL_VENDOR_WRITE, req, sizeof req, nullptr, 0, &dwDone);
    if (nRet != 0) {
      vDEBUG_MSG_printf(L, "Write Cmd failed...dwWrCnt[%d], ErrorCode[%d]", static_cast<int>(i),
                        nFilterLastError());
      return nRet;
    }
  }
  return 0;
}

int CVLNTFILTER0::SendCpuResetByFilterDriver(FilterHandle h, uint8_t ucMode, std::stop_token st) {
  static const char* L = "CVLNTFILTER0::SendCpuResetByFilterDriver";
  if (!h) {
    vDEBUG_MSG_printf(L, "Driver Handle is NULL");
    return -10;
  }
  if (ucMode == 0) return nVendorWrite(h, REQ_CPU_RESET, 0, 0, 0);
  if (nVendorWrite(h, REQ_REG_WRITE, 0, CPU_START_POSITION_ADDR, 1) != 0) {
    vDEBUG_ERR_printf(L, "set_device_paths: couldn't send device command");
    vDEBUG_MSG_printf(L, "CPU_START_POSITION_ADDR command failed ErrorCode[%d]", nFilterLastError());
    return -1;
  }
  if (!m_clock.bSleepMs(200, st)) return -1;  // stopped before the reset was triggered
  uint8_t ucOne = 1;
  RegisterReadWriteCmd(h, &ucOne, 1, REG_CPU_RESET, true, 200);  // the hub may drop off before answering
  m_clock.bSleepMs(2000, st);
  return 0;
}

int CVLNTFILTER0::ReadConfigFWCmd(FilterHandle h, uint8_t* pBuf, uint8_t ucLen, uint16_t usOffset,
                                  uint8_t ucValue, bool bCPUA) {
  static const char* L = "CVLNTFILTER0::ReadConfigFWCmd";
  if (!h) {
    vDEBUG_MSG_printf(L, "Driver Handle is NULL");
    return -10;
  }
  if (ucLen && !pBuf) return -10;
  uint8_t req[FILTER_RECORD_SIZE];
  vRecord(req, FILTER_DEFAULT_TIMEOUT_MS, FILTER_TYPE_VENDOR, FILTER_RECIPIENT_DEVICE,
          bCPUA ? REQ_READ_A : REQ_READ_B, ucValue, usOffset);
  // Through a buffer of its own: a failed read leaves the caller's bytes as they were.
  uint8_t work[255] = {};
  uint32_t dwDone = 0;
  if (IO_Sync(h, VLNTFILTER0_IOCTL_VENDOR_READ, req, sizeof req, work, ucLen, &dwDone) != 0) {
    vDEBUG_MSG_printf(L, "set_device_paths: couldn't read device descriptor");
    return -1;
  }
  if (ucLen) std::memcpy(pBuf, work, ucLen);
  return 0;
}

int CVLNTFILTER0::SPIBlockEraseCmd(FilterHandle h, uint8_t ucBlock, uint8_t ucPhase) {
  static const char* L = "CVLNTFILTER0::SPIBlockEraseCmd";
  if (!h) {
    vDEBUG_MSG_printf(L, "Driver Handle is NULL");
    return -10;
  }
  if (nVendorWrite(h, REQ_ERASE, static_cast<uint16_t>(ucPhase * 256 + ucBlock), 0, 0) != 0) {
    vDEBUG_MSG_printf(L, "IO_Sync Failed ");
    return -1;
  }
  return 0;
}

int CVLNTFILTER0::PollingRegStatus(FilterHandle h, uint16_t usAddr, const uint8_t* pExpected, uint8_t ucLen,
                                   int nTimeoutSec, std::stop_token st) {
  static const char* L = "CVLNTFILTER0::PollingRegStatus";
  // whole seconds, as the time-out is given
  const int64_t llStart = static_cast<int64_t>(m_clock.ullNowMs() / 1000);
  uint8_t buf[MAX_REGISTER_ACCESS];
  for (;;) {
    if (!m_clock.bSleepMs(100, st)) return 0;
    int nRet = RegisterReadWriteCmd(h, buf, ucLen, usAddr, false);
    if (nRet != 0) {
      vDEBUG_ERR_printf(L, "RegisterReadWriteCmd Failed ,  dwErrorCode %d", nFilterLastError());
      return 0;
    }
    // time before value: a match that arrives late still counts as a time-out
    if (static_cast<int64_t>(m_clock.ullNowMs() / 1000) - llStart > nTimeoutSec) {
      vDEBUG_ERR_printf(L, " Time Out (%ds), ucTargetValue=%d", nTimeoutSec, ucLen ? pExpected[0] : 0);
      return 0;
    }
    if (ucLen == 0 || std::memcmp(buf, pExpected, ucLen) == 0) {
      vDEBUG_MSG_printf(L, "  ucTargetValue=%d, pBLockEraseStatus[0]=%d", ucLen ? pExpected[0] : 0,
                        ucLen ? buf[0] : 0);
      return 1;
    }
  }
}

namespace {
// Reads the marker and the identity byte; 0 on success, else the byte result to give.
uint8_t ucReadMark(CVLNTFILTER0& f, FilterHandle h, uint8_t* buf, const char* L) {
  if (h == FILTER_INVALID_HANDLE) return 0xF6;
  if (!h) {
    vDEBUG_MSG_printf(L, "Driver Handle is NULL");
    vDEBUG_ERR_printf(L, "VLNTFILTER1.RegisterReadWriteCmd Failed  Error:%d", -10);
    return 0xFF;
  }
  uint8_t req[FILTER_RECORD_SIZE];
  vRecord(req, FILTER_DEFAULT_TIMEOUT_MS, FILTER_TYPE_VENDOR, FILTER_RECIPIENT_DEVICE, REQ_REG_READ, 0,
          FLAG_REDUNDENT_REG_ADDRESS);
  uint32_t dwDone = 0;
  uint8_t work[4] = {};
  int nRet = f.IO_Sync(h, VLNTFILTER0_IOCTL_VENDOR_READ, req, sizeof req, work, 4, &dwDone);
  if (nRet == 0) std::memcpy(buf, work, 4);
  if (nRet != 0) {
    vDEBUG_ERR_printf(L, "set_device_paths: couldn't send device command");
    vDEBUG_ERR_printf(L, "VLNTFILTER1.RegisterReadWriteCmd Failed  Error:%d", nRet);
    return 0xFF;
  }
  return 0;
}
}  // namespace

uint8_t CVLNTFILTER0::bIsSignatureMarked(FilterHandle h) {
  uint8_t buf[4] = {};
  uint8_t r = ucReadMark(*this, h, buf, "CVLNTFILTER0::bIsSignatureMarked");
  if (r) return r;
  return buf[0] == SIGNATURE_MARK ? 1 : 0;
}

uint8_t CVLNTFILTER0::ucGetSignatureMarked(FilterHandle h) {
  uint8_t buf[4] = {};
  uint8_t r = ucReadMark(*this, h, buf, "CVLNTFILTER0::ucGetSignatureMarked");
  if (r) return r;
  return buf[1];
}

int CVLNTFILTER0::WriteSignatureWORD(FilterHandle h, uint16_t usWord) {
  static const char* L = "CVLNTFILTER0::WriteSignatureWORD";
  if (h == FILTER_INVALID_HANDLE) return -10;
  uint8_t lo = static_cast<uint8_t>(usWord), hi = static_cast<uint8_t>(usWord >> 8);
  int nRet = RegisterReadWriteCmd(h, &lo, 1, FLAG_REDUNDENT_REG_ADDRESS, true);
  if (nRet == 0) nRet = RegisterReadWriteCmd(h, &hi, 1, REG_IDENTITY_BYTE, true);
  if (nRet != 0) {
    vDEBUG_ERR_printf(L, "RegisterReadWriteCmd Failed  Error:%d", nRet);
    return -1;
  }
  return 0;
}

int CVLNTFILTER0::MarkSignatureforIdentify(FilterHandle h, uint8_t ucIdentity) {
  static const char* L = "CVLNTFILTER0::MarkSignatureforIdentify";
  if (h == FILTER_INVALID_HANDLE) return -10;
  int nRet = WriteSignatureWORD(h, 0xFFFF);
  if (nRet == 0) nRet = WriteSignatureWORD(h, static_cast<uint16_t>(ucIdentity * 256 + SIGNATURE_MARK));
  if (nRet != 0) {
    vDEBUG_ERR_printf(L, "VLNTFILTER1.RegisterReadWriteCmd Failed  Error:%d", nRet);
    return -1;
  }
  // Only a read-back that finds the mark counts; a failed read (0xF6, 0xFF) is no proof.
  uint8_t r = bIsSignatureMarked(h);
  if (r != 1) {
    vDEBUG_ERR_printf(L, "bIsSignatureMarked Failed  Error:%d", r);
    return -1;
  }
  return 0;
}

int CVLNTFILTER0::Get_Version(FilterHandle h, uint8_t* pBuf, uint8_t ucLen, bool bClear) {
  static const char* L = "CVLNTFILTER0::Get_Version";
  uint8_t ucClear = 0xFF;
  if (RegisterReadWriteCmd(h, pBuf, ucLen, REG_VERSION_AREA, false) == 0) {
    if (bClear && RegisterReadWriteCmd(h, &ucClear, 1, FLAG_REDUNDENT_REG_ADDRESS, true) != 0)
      vDEBUG_MSG_printf(L,
                        "Clear DriverHandle[%d] FLAG_REDUNDENT_REG_ADDRESS by RegisterReadWriteCmd() FAIL! "
                        "iRetFlag: %d",
                        nHandleNumber(h), -1);
    return 0;
  }
  int nRet = RegisterReadWriteCmdOld(h, pBuf, ucLen, REG_VERSION_AREA, false);
  if (nRet != 0) return nRet;
  if (bClear) {
    int n = RegisterReadWriteCmdOld(h, &ucClear, 1, FLAG_REDUNDENT_REG_ADDRESS, true);
    if (n != 0)
      vDEBUG_MSG_printf(L,
                        "Clear DriverHandle[%d] FLAG_REDUNDENT_REG_ADDRESS by RegisterReadWriteCmd() FAIL! "
                        "iRetFlag: %d",
                        nHandleNumber(h), n);
  }
  return 0;
}
