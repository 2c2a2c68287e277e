#include "platform/sim/SimPDController.h"

#include <algorithm>
#include <cstring>

bool bParseSimPDFamily(const std::string& strName, ESimPDFamily& eFamily) {
  if (strName == "richtek")
    eFamily = ESimPDFamily::kRichtek;
  else if (strName == "ccg2")
    eFamily = ESimPDFamily::kCCG2;
  else if (strName == "ccg3")
    eFamily = ESimPDFamily::kCCG3;
  else if (strName == "ccg4")
    eFamily = ESimPDFamily::kCCG4;
  else
    return false;
  return true;
}

CSimPDController::CSimPDController(SimPDSpec def, IClock& clock) : m_def(def), m_clock(clock) {
  size_t ulSize = m_def.eFamily == ESimPDFamily::kRichtek ? 16384 : ulRowSize() * ulRows();
  m_vecFlash.assign(ulSize, 0xFF);
  if (const size_t ulAt = ulVersionOffset(); ulRowSize() > 0 && ulAt + 8 <= m_vecFlash.size())
    std::copy(m_def.ucVersion.begin(), m_def.ucVersion.end(), m_vecFlash.begin() + static_cast<long>(ulAt));
  m_vecRunning = m_vecFlash;
  m_vecMcu.assign(m_def.bMCU ? SIM_PD_MCU_SIZE : 0, 0xFF);
}

size_t CSimPDController::ulRowSize() const {
  switch (m_def.eFamily) {
    case ESimPDFamily::kCCG2:
    case ESimPDFamily::kCCG3:
      return 128;
    case ESimPDFamily::kCCG4:
      return 256;
    default:
      return 0;
  }
}

size_t CSimPDController::ulFirstRow() const {
  const bool bMode2 = m_def.ucDeviceMode == 2;
  switch (m_def.eFamily) {
    case ESimPDFamily::kCCG2:
      return 1;
    case ESimPDFamily::kCCG3:
      return bMode2 ? 48 : 512;
    case ESimPDFamily::kCCG4:
      return bMode2 ? 20 : 265;
    default:
      return 0;
  }
}

size_t CSimPDController::ulVersionOffset() const {
  const size_t ulRow = ulRowSize();
  switch (m_def.eFamily) {
    case ESimPDFamily::kCCG2:
      return (ulFirstRow() + 2) * ulRow;
    case ESimPDFamily::kCCG3:
      return (ulFirstRow() + 1) * ulRow + 96;
    case ESimPDFamily::kCCG4:
      return ulFirstRow() * ulRow + 224;
    default:
      return 4096;
  }
}

size_t CSimPDController::ulRows() const {
  switch (m_def.eFamily) {
    case ESimPDFamily::kCCG2:
      return 256;
    case ESimPDFamily::kCCG3:
      return 1024;
    case ESimPDFamily::kCCG4:
      return 512;
    default:
      return 0;
  }
}

void CSimPDController::vPowerCycle() {
  m_bI2COpen = false;
  m_bFlashMode = false;
  m_eMcu = ESimMcuState::kApplication;
  m_vecRunning = m_vecFlash;
}

uint8_t CSimPDController::ucExecute(const ScsiRequest& req, size_t& ulTransferred) {
  ulTransferred = 0;
  const auto& c = req.ucCdb;
  if (req.ucCdbLen != 8) return SIM_PD_ASC_INVALID_FIELD;
  const uint8_t ucSub = c[1];
  const uint16_t usA = static_cast<uint16_t>((c[2] << 8) | c[3]);
  const uint16_t usB = static_cast<uint16_t>((c[4] << 8) | c[5]);
  const ESimPDFamily f = m_def.eFamily;
  const bool bRichtek = f == ESimPDFamily::kRichtek, bCCG2 = f == ESimPDFamily::kCCG2;
  const bool bCCG3 = f == ESimPDFamily::kCCG3, bCCG4 = f == ESimPDFamily::kCCG4;
  const size_t ulLen = req.ulDataLen;
  const bool bIn = req.eDir == EScsiDirection::kIn;

  // Shapes shared by many sub-commands.
  auto bNoData = [&](uint16_t a, uint16_t b) {
    return !bIn && ulLen == 0 && usA == a && usB == b && c[6] == 0 && c[7] == 0;
  };
  auto bRead = [&](uint16_t a, uint16_t b, size_t n) {
    return bIn && ulLen == n && usA == a && usB == b && c[6] == 0 && c[7] == 0;
  };
  auto bWriteData = [&](size_t n) { return !bIn && ulLen == n && c[6] == 0 && c[7] == 0; };

  // Which sub-commands this controller has at all.
  bool bKnown = false;
  switch (ucSub) {
    case 0x04:
    case 0x05:
    case 0x07:
      bKnown = true;
      break;
    case 0x00:
    case 0x01:
    case 0x03:
    case 0x06:
      bKnown = bRichtek;
      break;
    case 0x21:
      bKnown = bCCG2 || ((bCCG3 || bCCG4) && m_def.ucDeviceMode == 1);
      break;
    case 0x2C:
      bKnown = (bCCG3 || bCCG4) && m_def.ucDeviceMode == 2;
      break;
    case 0x22:
    case 0x23:
    case 0x24:
      bKnown = bCCG2;
      break;
    case 0x29:
    case 0x2B:
    case 0x2D:
      bKnown = bCCG3 || bCCG4;
      break;
    case 0x2A:
      bKnown = bCCG3;
      break;
    case 0x32:
    case 0x33:
    case 0x34:
    case 0x35:
      bKnown = m_def.bMCU;
      break;
    default:
      break;
  }
  if (!bKnown) return SIM_PD_ASC_INVALID_OPCODE;

  if (ucSub == 0x04 || ucSub == 0x05) {
    if (!bNoData(0, 0)) return SIM_PD_ASC_INVALID_FIELD;
    m_bI2COpen = ucSub == 0x04;
    if (!m_bI2COpen) m_bFlashMode = false;
    return 0;
  }
  if (!m_bI2COpen) return SIM_PD_ASC_SEQUENCE;

  uint8_t* d = req.pData;
  switch (ucSub) {
    case 0x07: {  // PD_GET_PD_CONTROL
      if (!bRead(0x1000, 0, 16)) return SIM_PD_ASC_INVALID_FIELD;
      std::memset(d, 0, 16);
      d[0] = 'Z';
      d[1] = static_cast<uint8_t>(f);
      d[8] = m_def.bMCU ? 1 : 0;
      ulTransferred = 16;
      return 0;
    }
    case 0x00:  // PD_MPT_AREA
      if (!bNoData(0, 0x3FFF)) return SIM_PD_ASC_INVALID_FIELD;
      m_bFlashMode = true;
      return 0;
    case 0x22:
    case 0x2D:  // Cypress flash mode
      if (!bNoData(0, 0)) return SIM_PD_ASC_INVALID_FIELD;
      m_bFlashMode = true;
      return 0;
    case 0x01: {  // PD_WRITE_DATA: the word travels in CDB bytes 4..7
      if (bIn || ulLen != 0 || usA > 0x0FFF) return SIM_PD_ASC_INVALID_FIELD;
      if (!m_bFlashMode) return SIM_PD_ASC_SEQUENCE;
      std::memcpy(&m_vecFlash[static_cast<size_t>(usA) * 4], &c[4], 4);
      return 0;
    }
    case 0x03:  // Richtek version, 2 bytes
      if (!bRead(0, 0, 2)) return SIM_PD_ASC_INVALID_FIELD;
      d[0] = m_vecRunning[4096];
      d[1] = m_vecRunning[4097];
      ulTransferred = 2;
      return 0;
    case 0x06: {  // PD_READ_DATA: byte offset in B, length in byte 7
      if (!bIn || ulLen == 0 || usA != 0x1000 || c[6] != 0 || c[7] != ulLen ||
          usB + ulLen > m_vecFlash.size())
        return SIM_PD_ASC_INVALID_FIELD;
      std::memcpy(d, &m_vecFlash[usB], ulLen);
      ulTransferred = ulLen;
      return 0;
    }
    case 0x21:
    case 0x2C:  // Cypress version, 16 bytes
      if (!bRead(0x1000, 0, 16)) return SIM_PD_ASC_INVALID_FIELD;
      std::memset(d, 0, 16);
      std::memcpy(d + 8, &m_vecRunning[ulVersionOffset()], 8);
      ulTransferred = 16;
      return 0;
    case 0x29:  // device mode
      if (!bRead(0x100, 0, 1)) return SIM_PD_ASC_INVALID_FIELD;
      d[0] = m_def.ucDeviceMode;
      ulTransferred = 1;
      return 0;
    case 0x23:
    case 0x24: {  // CCG2 rows: row in byte 2, byte 3 zero
      size_t ulRow = c[2];
      bool bWrite = ucSub == 0x23;
      if (c[3] != 0 || usB != 0 || ulRow >= ulRows() || ulLen != 128 || c[6] != 0 || c[7] != 0 ||
          bIn == bWrite)
        return SIM_PD_ASC_INVALID_FIELD;
      if (bWrite) {
        if (!m_bFlashMode) return SIM_PD_ASC_SEQUENCE;
        std::memcpy(&m_vecFlash[ulRow * 128], d, 128);
      } else {
        std::memcpy(d, &m_vecFlash[ulRow * 128], 128);
        ulTransferred = 128;
      }
      return 0;
    }
    case 0x2A: {  // CCG3 row read: row low byte first
      size_t ulRow = static_cast<size_t>(c[2] | (c[3] << 8));
      if (!bIn || usB != 0 || ulRow >= ulRows() || ulLen != 128 || c[6] != 0 || c[7] != 0)
        return SIM_PD_ASC_INVALID_FIELD;
      std::memcpy(d, &m_vecFlash[ulRow * 128], 128);
      ulTransferred = 128;
      return 0;
    }
    case 0x2B: {  // CCG3/CCG4 row write
      size_t ulRow = static_cast<size_t>(c[2] | (c[3] << 8));
      uint16_t usWantB = bCCG4 ? 0x100 : 0;
      if (usB != usWantB || ulRow >= ulRows() || !bWriteData(ulRowSize())) return SIM_PD_ASC_INVALID_FIELD;
      if (!m_bFlashMode) return SIM_PD_ASC_SEQUENCE;
      std::memcpy(&m_vecFlash[ulRow * ulRowSize()], d, ulRowSize());
      return 0;
    }
    case 0x32:  // MCU: first bootloader step
      if (!bNoData(0, 0)) return SIM_PD_ASC_INVALID_FIELD;
      m_eMcu = ESimMcuState::kStarting;
      m_ullMcuStartMs = m_clock.ullNowMs();
      return 0;
    case 0x33:  // MCU: second step, once the first has had its time
      if (!bNoData(0, 0)) return SIM_PD_ASC_INVALID_FIELD;
      if (m_eMcu == ESimMcuState::kBootloader) return 0;
      if (m_eMcu != ESimMcuState::kStarting || m_clock.ullNowMs() < m_ullMcuStartMs + SIM_PD_MCU_BOOT_MS)
        return SIM_PD_ASC_SEQUENCE;
      m_eMcu = ESimMcuState::kBootloader;
      return 0;
    case 0x34:
    case 0x35: {  // MCU data: 1..12 bytes, length in byte 6
      bool bWrite = ucSub == 0x34;
      if (bIn == bWrite || ulLen < 1 || ulLen > 12 || c[6] != ulLen || c[7] != 0 || usA != SIM_PD_MCU_UPPER ||
          usB + ulLen > SIM_PD_MCU_SIZE)
        return SIM_PD_ASC_INVALID_FIELD;
      if (m_eMcu != ESimMcuState::kBootloader) return SIM_PD_ASC_SEQUENCE;
      if (bWrite) {
        std::memcpy(&m_vecMcu[usB], d, ulLen);
      } else {
        std::memcpy(d, &m_vecMcu[usB], ulLen);
        ulTransferred = ulLen;
      }
      return 0;
    }
    default:
      return SIM_PD_ASC_INVALID_OPCODE;
  }
}
