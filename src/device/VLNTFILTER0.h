// The filter command channel: every hub operation becomes requests of the hub's filter
// device here (register reads and writes, flash block erase, flash download and read-back,
// CPU reset, status polling, and the identity mark that recognises a hub again after
// re-enumeration). It is the only code that talks to the filter device. It keeps no state:
// every operation takes a handle its caller opened, so workers call it at once for
// different hubs. Waits go through the injected clock and end early on a stop request.
//
// Results: 0 success; -1 request failed; -3 the hub left the bus; -10 missing handle or a
// length too big. Byte results: 0xF6 invalid handle, 0xFF failed.
#pragma once

#include <cstdint>
#include <stop_token>

#include "platform/Clock.h"
#include "platform/FilterDevice.h"

using FilterHandle = IFilterDeviceHandle*;

constexpr uint16_t FLAG_REDUNDENT_REG_ADDRESS = 0x7FB;  // identity marker
constexpr uint16_t REG_IDENTITY_BYTE = 0x7FC;
constexpr uint16_t REG_VERSION_AREA = 0x7F0;
constexpr uint16_t REG_ERASE_STATUS = 0x7FF;
constexpr uint16_t CPU_START_POSITION_ADDR = 0x5846;
constexpr uint16_t REG_CPU_RESET = 0x5810;
constexpr uint16_t REG_CHIP_IDENT = 0x5820;
constexpr uint16_t REG_USB_STATUS = 0x5821;
constexpr uint16_t REG_CABLE_ORIENTATION = 0x6802;
constexpr uint16_t REG_16BIT = 0x6400;
constexpr uint16_t REG_LINK_STATE_PORT0 = 0x3038;
constexpr uint8_t SIGNATURE_MARK = 0x5A;
constexpr int MAX_REGISTER_ACCESS = 32;
constexpr int DOWNLOAD_CHUNK = 32;

class CVLNTFILTER0 {
 public:
  explicit CVLNTFILTER0(IClock& clock) : m_clock(clock) {}

  // One request: 0, -1 failed, -3 the hub left the bus. *pdwTransferred = data bytes moved.
  int IO_Sync(FilterHandle h, uint32_t dwCode, const uint8_t* pIn, uint32_t dwInLen, uint8_t* pOut,
              uint32_t dwOutLen, uint32_t* pdwTransferred);
  // Reads or writes 1..32 bytes at a register; ucTimeout in ms, 0 = 2500.
  int RegisterReadWriteCmd(FilterHandle h, uint8_t* pBuf, uint32_t dwLen, uint16_t usAddr, bool bWrite,
                           uint8_t ucTimeout = 0);
  // The same access in the older descriptor form.
  int RegisterReadWriteCmdOld(FilterHandle h, uint8_t* pBuf, uint8_t ucLen, uint16_t usAddr, bool bWrite);
  // Sends dwCount bytes in 32-byte requests of the given download request (0x50/0x51/0x60/0x61).
  int DownLoadCMD(FilterHandle h, const uint8_t* pData, uint32_t dwCount, uint8_t ucRequest, uint8_t ucValue);
  // Mode 0: request 0x54. Other modes: the register sequence, waiting 200 ms and 2000 ms.
  int SendCpuResetByFilterDriver(FilterHandle h, uint8_t ucMode, std::stop_token st = {});
  // Reads flash bytes of the CPU A (0x55) or CPU B (0x65) image at a flash offset.
  int ReadConfigFWCmd(FilterHandle h, uint8_t* pBuf, uint8_t ucLen, uint16_t usOffset, uint8_t ucValue,
                      bool bCPUA);
  int SPIBlockEraseCmd(FilterHandle h, uint8_t ucBlock, uint8_t ucPhase);
  // Waits until a register reads as expected: 1 matched, 0 failed, timed out or stopped.
  int PollingRegStatus(FilterHandle h, uint16_t usAddr, const uint8_t* pExpected, uint8_t ucLen,
                       int nTimeoutSec, std::stop_token st = {});
  uint8_t bIsSignatureMarked(FilterHandle h);    // 1 marked, 0 not, 0xF6 / 0xFF on error
  uint8_t ucGetSignatureMarked(FilterHandle h);  // identity byte, 0xF6 / 0xFF on error
  int WriteSignatureWORD(FilterHandle h, uint16_t usWord);
  int MarkSignatureforIdentify(FilterHandle h, uint8_t ucIdentity);
  int Get_Version(FilterHandle h, uint8_t* pBuf, uint8_t ucLen, bool bClear);

 private:
  int nVendorWrite(FilterHandle h, uint8_t ucRequest, uint16_t usValue, uint16_t usIndex, uint32_t dwDataLen,
                   uint32_t dwTimeout = FILTER_DEFAULT_TIMEOUT_MS);
  IClock& m_clock;
};
