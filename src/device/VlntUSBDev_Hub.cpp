// Hub flash and register operations of the device access object.
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/VlntUSBDev.h"
#include "log/DebugLog.h"

namespace {
constexpr uint8_t REQ_FW_A = 0x50, REQ_CFG_A = 0x51, REQ_FW_B = 0x60, REQ_CFG_B = 0x61;
}

int CVlntUSBDev::VLN318xAccessRegister(int n, uint8_t* pBuf, uint32_t dwLen, uint16_t usAddr, bool bWrite) {
  if (!m_pDevList || m_pDevList->m_DriverNum == 0) return -4;
  if (!bValidIndex(n)) return -10;
  std::string name;
  auto h = pOpenDevice(n, &name);
  if (!h) return -4;
  int nRet = m_filter.RegisterReadWriteCmd(h.get(), pBuf, dwLen, usAddr, bWrite);
  if (nRet != 0)
    vDEBUG_ERR_printf("CVlntUSBDev::VLN318xAccessRegister", "RegisterReadWriteCmd failed, CreateFile[%s] ",
                      name.c_str());
  return nRet;
}

int CVlntUSBDev::VLN318xBlockErase(int n, uint8_t ucBlock, std::stop_token st) {
  static const char* L = "CVlntUSBDev::VLN318xBlockErase";
  if (!bValidIndex(n) || m_pDevList->drv[n].ObjectName.empty()) return -10;
  std::string name;
  auto h = pOpenRecordedHub(n, &name);
  if (!h) {
    vDEBUG_ERR_printf(L, "ucTargetNumber[%d], CreateFile[%s] failed, dwErrorCode %d", n, name.c_str(),
                      nFilterLastError());
    return -1;
  }
  const uint8_t ucDone = 1;
  int nRet = m_filter.SPIBlockEraseCmd(h.get(), ucBlock, 0);
  if (nRet != 0) {
    vDEBUG_WRN_printf(L, "SPIBlockEraseCmd[%d] Bolcok 0, return %d, dwErrorCode %d", n, nRet,
                      nFilterLastError());
    return nRet;
  }
  if (m_filter.PollingRegStatus(h.get(), REG_ERASE_STATUS, &ucDone, 1, 3, st) == 0) {
    // counted as done; the read-back compare of the run catches an erase that did not happen
    vDEBUG_WRN_printf(L, "PollingRegStatus [Dev%d] TimeOut!!! Bolcok 0, dwErrorCode %d", n,
                      nFilterLastError());
    return 0;
  }
  nRet = m_filter.SPIBlockEraseCmd(h.get(), ucBlock, 1);
  if (nRet != 0)
    vDEBUG_ERR_printf(L, "SPIBlockEraseCmd[%d] return %d, dwErrorCode %d", n, nRet, nFilterLastError());
  if (m_filter.PollingRegStatus(h.get(), REG_ERASE_STATUS, &ucDone, 1, 3, st) == 0)
    vDEBUG_ERR_printf(L, "PollingRegStatus [Dev%d] TimeOut!!! Bolcok 0, dwErrorCode %d", n,
                      nFilterLastError());
  return nRet;
}

int CVlntUSBDev::VLN318xConfigWrite(int n, const uint8_t* pBlock, uint8_t ucValue, bool bCPUA) {
  static const char* L = "CVlntUSBDev::VLN318xConfigWrite";
  if (!bValidIndex(n) || m_pDevList->drv[n].ObjectName.empty() || !pBlock) return -10;
  std::string name;
  auto h = pOpenRecordedHub(n, &name);
  if (!h) {
    vDEBUG_ERR_printf(L, "ucTargetNumber[%d], CreateFile[%s] failed, dwErrorCode %d", n, name.c_str(),
                      nFilterLastError());
    return -1;
  }
  int nRet = m_filter.DownLoadCMD(h.get(), pBlock, CONFIG_BIN_SIZE, bCPUA ? REQ_CFG_A : REQ_CFG_B, ucValue);
  if (nRet != 0)
    vDEBUG_ERR_printf(L, "VLN318xConfigWrite[%d] return %d, dwErrorCode %d", n, nRet, nFilterLastError());
  return nRet;
}

int CVlntUSBDev::VLN318xConfigRead(int n, uint8_t* pBuf, uint32_t dwSize, uint8_t ucValue, bool bCPUA) {
  static const char* L = "CVlntUSBDev::VLN318xConfigRead";
  if (!bValidIndex(n) || !pBuf || dwSize < CONFIG_BIN_SIZE) return -10;
  auto h = pOpenDevice(n);
  if (!h) {
    vDEBUG_ERR_printf(L, "Target[%d] CreateFile FAIL, ret:%d", n, -1);
    return -1;
  }
  for (uint32_t off = 0; off < CONFIG_BIN_SIZE; off += 32) {
    int nRet = m_filter.ReadConfigFWCmd(h.get(), pBuf + off, 32, static_cast<uint16_t>(off), ucValue, bCPUA);
    if (nRet != 0) {
      vDEBUG_ERR_printf(L, "Target[%d] ReadConfigFWCmd FAIL, ret:%d", n, nFilterLastError());
      vDEBUG_ERR_printf(L, "Target[%d] ReadConfigFWCmd FAIL, ret:%d", n, nRet);
      return -1;
    }
  }
  return 0;
}

int CVlntUSBDev::VLN318xFirmwareRead(int n, uint8_t* pBuf, uint8_t ucValue, bool bCPUA) {
  static const char* L = "CVlntUSBDev::VLN318xFirmwareRead";
  if (!bValidIndex(n) || !pBuf) return -10;
  std::string name;
  auto h = pOpenDevice(n, &name);
  if (!h) {
    vDEBUG_ERR_printf(L, "Target[%d] CreateFile FAIL[%s], ret:%d", n, name.c_str(), -1);
    return -1;
  }
  uint8_t head[32];
  std::fill(std::begin(head), std::end(head), 0xFF);
  m_filter.ReadConfigFWCmd(h.get(), head, 32, HUB_FIRMWARE_AREA, ucValue,
                           bCPUA);  // a failed read leaves 0xFFFF
  uint16_t wFWLength = static_cast<uint16_t>(head[0] | (head[1] << 8));
  if (!bFirmwareLengthInWindow(wFWLength)) {
    vDEBUG_ERR_printf(L, "Target[%d] ReadConfigFWCmd FAIL, wFWLength=%x, Error:%d", n, wFWLength,
                      nFilterLastError());
    return -1;
  }
  // the whole area, whatever the length, from the same image whose length was read
  for (uint32_t off = HUB_FIRMWARE_AREA; off < HUB_IMAGE_SIZE; off += 32) {
    if (m_filter.ReadConfigFWCmd(h.get(), pBuf + (off - HUB_FIRMWARE_AREA), 32, static_cast<uint16_t>(off),
                                 ucValue, bCPUA) != 0)
      return -1;
  }
  return 0;
}

int CVlntUSBDev::VLN318xFirmwareWrite(int n, uint8_t ucValue, bool bCPUA, const std::string& strImagePath) {
  static const char* L = "CVlntUSBDev::VLN318xFirmwareWrite";
  if (!bValidIndex(n)) return -10;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(strImagePath, ec)) return -1;
  std::ifstream in(strImagePath, std::ios::binary);
  uintmax_t ulLen = std::filesystem::file_size(strImagePath, ec);
  if (!in || ec) return -1;
  uintmax_t ulRounded = (ulLen + 31) / 32 * 32;
  if (!bImageFitsFirmwareArea(ulLen)) {
    vDEBUG_ERR_printf(L,
                      "Malloc ucpFileBuf Fail , dwFWFileLen %d , strFWBinaryNamePath  %s , dwErrorCode : %d",
                      static_cast<int>(ulRounded), strImagePath.c_str(), 0);
    return -1;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(ulRounded), 0);
  if (ulLen && !in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(ulLen))) return -1;
  auto h = pOpenRecordedHub(n);
  if (!h) return -1;
  // no erase here: erasing block 0 for the configuration cleared the whole image already
  int nRet = m_filter.DownLoadCMD(h.get(), buf.data(), static_cast<uint32_t>(ulRounded),
                                  bCPUA ? REQ_FW_A : REQ_FW_B, ucValue);
  if (nRet != 0)
    vDEBUG_ERR_printf(L, "DownLoad[%d] FW return %d, dwErrorCode %d", n, nRet, nFilterLastError());
  return nRet;
}

int CVlntUSBDev::VLN318xReset(int n, uint8_t ucMode, std::stop_token st) {
  if (!m_pDevList || m_pDevList->m_DriverNum == 0) return -4;
  if (!bValidIndex(n)) return -10;
  std::string name;
  auto h = pOpenDevice(n, &name);
  if (!h) {
    vDEBUG_ERR_printf("CVlntUSBDev::VLN318xReset", "Target[%d] CreateFile FAIL,objectname=%s,  Error:%d", n,
                      name.c_str(), nFilterLastError());
    return -4;
  }
  return m_filter.SendCpuResetByFilterDriver(h.get(), ucMode, st);
}

bool CVlntUSBDev::bAccessHubConfig(int n, int nMode, uint8_t* pBuf, uint8_t ucValue, bool bCPUA,
                                   std::stop_token st) {
  if (!bCPUA) ucValue = 1;
  bool bOk;
  if (nMode == 2) {
    bOk = VLN318xBlockErase(n, ucValue, st) == 0;
  } else if (nMode == 1) {
    bOk = VLN318xBlockErase(n, ucValue, st) == 0 && VLN318xConfigWrite(n, pBuf, ucValue, bCPUA) == 0;
  } else {
    bOk = VLN318xConfigRead(n, pBuf, CONFIG_BIN_SIZE, ucValue, bCPUA) == 0;
  }
  m_clock.bSleepMs(500, st);
  return bOk;
}

bool CVlntUSBDev::bReadHubSPIROM(int n, uint8_t* pBuf, uint8_t ucValue, bool bCPUA, std::stop_token st) {
  static const char* L = "CVlntUSBDev::bReadHubSPIROM";
  if (!pBuf) return false;
  bool bResult = true;
  for (int i = 0; i < 3; ++i) {
    uint8_t cfg[CONFIG_BIN_SIZE];
    std::fill(std::begin(cfg), std::end(cfg), 0xFF);
    if (VLN318xConfigRead(n, cfg, CONFIG_BIN_SIZE, ucValue, bCPUA) != 0) {
      bResult = false;
      vDEBUG_ERR_printf(L, "VLN318xConfigRead Failed[%d] , Retry[%d], dwErrorCode=%x", n, i,
                        nFilterLastError());
      vRescan();
    }
    std::copy(std::begin(cfg), std::end(cfg), pBuf);
    if (VLN318xFirmwareRead(n, pBuf + CONFIG_BIN_SIZE, ucValue, true) != 0) {
      bResult = false;
      vDEBUG_ERR_printf(L, "VLN318xFirmwareRead Failed[%d] , Retry[%d], dwErrorCode=%x", n, i,
                        nFilterLastError());
      vRescan();
      break;
    }
    if (st.stop_requested()) break;
  }
  m_clock.bSleepMs(500, st);
  return bResult;
}

int CVlntUSBDev::vUpdateHubFirmware(int n, uint8_t ucValue, bool bIsCPU_A, std::stop_token st) {
  static const char* L = "CVlntUSBDev::vUpdateHubFirmware";
  std::string strPath = m_strAppPath + "/" + "VLNFW_Temp";
  if (bIsCPU_A)
    strPath += "/TempBinData.bin";
  else
    vDEBUG_ERR_printf(L, " !!!! bIsCPU_A=%d", bIsCPU_A ? 1 : 0);
  int nResult = 1;
  if (VLN318xFirmwareWrite(n, ucValue, bIsCPU_A, strPath) != 0) {
    vDEBUG_ERR_printf(L, "VLN318xFirmwareWrite, strFWPath %s, dwErrorCode %d", strPath.c_str(),
                      nFilterLastError());
    nResult = 0;
  }
  m_clock.bSleepMs(800, st);
  return nResult;
}

uint8_t CVlntUSBDev::vGetHubSpeedRate(int n, uint8_t ucPort) {
  static const char* L = "CVlntUSBDev::vGetHubSpeedRate";
  if (ucPort > 4) return HUB_SPEED_UNKNOWN;
  uint8_t v = 0xFF;
  if (VLN318xAccessRegister(n, &v, 1, static_cast<uint16_t>(REG_LINK_STATE_PORT0 + 256 * ucPort), false) !=
      0) {
    vDEBUG_ERR_printf(L, "Dev[%d] VLN318xAccessRegister Failed", n);
    return HUB_SPEED_UNKNOWN;
  }
  vDEBUG_MSG_printf(L, "Dev[%d] vGetHubSpeedRate: 0x%02x", n, v);
  if (!(v & 0x20)) {
    vDEBUG_MSG_printf(L, "Dev[%d] UsbSuper Speed (Usb3.0)", n);
    return HUB_SPEED_5G_X1;
  }
  vDEBUG_MSG_printf(L, "Dev[%d] UsbSuper Speed Plus (Usb3.x)", n);
  const bool bTwoLanes = v & 0x10;
  switch ((v >> 2) & 3) {
    case 0:
      return bTwoLanes ? HUB_SPEED_5G_X2 : HUB_SPEED_5G_X1;
    case 1:
      return bTwoLanes ? HUB_SPEED_10G_X2 : HUB_SPEED_10G_X1;
    default:
      return HUB_SPEED_UNKNOWN;
  }
}

uint8_t CVlntUSBDev::vGetHubCcOrien(int n) {
  static const char* L = "CVlntUSBDev::vGetHubCcOrien";
  uint8_t v = 0xFF;
  if (VLN318xAccessRegister(n, &v, 1, REG_CABLE_ORIENTATION, false) != 0) {
    vDEBUG_ERR_printf(L, "Dev[%d] VLN318xAccessRegister Failed: 0x%02x", n, v);
    return 0xFF;
  }
  vDEBUG_MSG_printf(L, "Dev[%d] vGetHubCcOrien: 0x%02x", n, v);
  switch (v >> 6) {
    case 1:
      return 1;
    case 2:
      return 2;
    default:
      return 0xFF;
  }
}
