// The engine's flows: writing a loaded image into the PD controller or the MCU, reading it
// back for the check, and asking the controller its firmware version.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "log/DebugLog.h"
#include "pd/PowerDelivery.h"

namespace {

// CCG3/CCG4 rows travel low byte first in A.
uint16_t usRowLowFirst(uint16_t wRow) {
  return static_cast<uint16_t>(((wRow & 0xFF) << 8) | (wRow >> 8));
}

// A of a Cypress row command: CCG2 takes the row in CDB byte 2, CCG3/CCG4 low byte first.
uint16_t usCypressRowA(uint8_t ucVendor, uint16_t wRow) {
  return ucVendor == PD_VENDOR_CCG2 ? static_cast<uint16_t>(wRow << 8) : usRowLowFirst(wRow);
}

// A CCG2 row above 255 would wrap onto another row of the flash: such an image is refused
// (logged) before anything reaches the controller.
bool bCCG2RowsAddressable(const CPDFirmwareImages& images, const char* pszLabel) {
  for (const auto& [wRow, k] : images.vecDataSlotsByRow(CCG3_ROW_SIZE)) {
    if (wRow <= PD_CCG2_MAX_ROW) continue;
    vDEBUG_ERR_printf(pszLabel, "CCG2 row [%x] cannot be addressed", wRow);
    return false;
  }
  return true;
}

}  // namespace

int CPowerDelivery::nPDFWUpdate(uint8_t ucVendor, const std::string& strPath, int nDrive,
                                std::stop_token st) {
  const char* L = "CPowerDelivery::nPDFWUpdate";
  try {
    vDEBUG_MSG_printf(L, "[%d] nPDFWUpdate Entry~~~ucChipVendor=%x", nDrive, ucVendor);
    const uint8_t ucPD = m_nPDChipVendor;
    if (m_bPDFWEnable && (ucPD == PD_VENDOR_CCG2 || ucPD == PD_VENDOR_CCG3 || ucPD == PD_VENDOR_CCG4) &&
        m_images.m_CypressFWHeader.dwSliconID == 0) {
      vDEBUG_ERR_printf(L, "Cypress PD[%d]  (m_CypressFWHeader.dwSliconID=0)", nDrive);
      return -10;
    }
    if (ucVendor == PD_VENDOR_CCG2 && !bCCG2RowsAddressable(m_images, L)) return -10;
    const std::string strName = strPhysicalAddress(nDrive);
    auto h = pOpenDrive(L, nDrive);
    if (!h) return -1;
    vDEBUG_MSG_printf(L, "file [%s]", strPath.c_str());
    switch (ucVendor) {
      case PD_VENDOR_RICHTEK: {
        vDEBUG_MSG_printf(L, "[%d]RICHMAN  nPDFWUpdate ucChipVendor=%x", nDrive, ucVendor);
        for (uint16_t usAddr = 0; usAddr < RICHTEK_IMAGE_SIZE / 4; ++usAddr) {
          int nResult = nTry(h.get(), 1, PD_WRITE_DATA, usAddr, 0,
                             &m_images.m_RichtekFWBuf[static_cast<size_t>(usAddr) * 4], 4, st, [&](int n) {
                               vDEBUG_ERR_printf(L,
                                                 "SCSI5872_PDVendorCmd PD_WRITE_DATA Retry[%d] , "
                                                 "strPhysicalAddress:[%s] ,  ucAddr=[%x], dwErrorCode %d",
                                                 n, strName.c_str(), usAddr, t_nPDLastError);
                             });
          if (nResult != 0) {
            vDEBUG_ERR_printf(L,
                              "SCSI5872_PDVendorCmd PD_WRITE_DATA Fail , strPhysicalAddress:[%s] ,  "
                              "ucAddr=[%x], dwErrorCode %d",
                              strName.c_str(), usAddr, t_nPDLastError);
            return nResult;
          }
        }
        return 0;
      }
      case PD_VENDOR_CCG2:
      case PD_VENDOR_CCG3:
      case PD_VENDOR_CCG4:
        vDEBUG_MSG_printf(L, "[%d]Cypress  nPDFWUpdate ucChipVendor=%x", nDrive, ucVendor);
        return nWriteCypress(h.get(), ucVendor, strName, st);
      case MCU_VENDOR_ST:
        vDEBUG_MSG_printf(L, "[%d]STM  nPDFWUpdate ucChipVendor=%x", nDrive, ucVendor);
        return nWriteMCU(h.get(), strName, st);
      default:
        return 0;
    }
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}

int CPowerDelivery::nWriteCypress(IScsiDriveHandle* h, uint8_t ucVendor, const std::string& strName,
                                  std::stop_token st) {
  const char* L = "CPowerDelivery::nPDFWUpdate";
  const size_t nRowSize = nCyacdRowSizeOf(ucVendor);
  const char* pszCmd = ucVendor == PD_VENDOR_CCG2   ? "CYPRESS_PD_WRITE_DATA"
                       : ucVendor == PD_VENDOR_CCG3 ? "CYPRESS_PD_CCG3_WRITE_DATA"
                                                    : "CYPRESS_PD_CCG4_WRITE_DATA";
  const uint8_t ucSub = ucVendor == PD_VENDOR_CCG2 ? CYPRESS_PD_WRITE_DATA : CYPRESS_PD_CCG3_WRITE_DATA;
  const uint16_t usB = ucVendor == PD_VENDOR_CCG4 ? 0x100 : 0;
  std::vector<uint8_t> row(nRowSize);
  // Rows are written in ascending order as the cursor meets them; a record out of order
  // waits for a row number that has passed and is never written (the check then finds it).
  size_t nCursor = 0;
  CPDFirmwareImages::RowView rec{};
  for (uint32_t r = 0; r <= 0xFFFF && m_images.bCyacdSlot(nRowSize, nCursor, rec); ++r) {
    if (rec.wRowNum != r) continue;
    ++nCursor;
    if (!CPDFirmwareImages::bIsDataArrayID(rec.ucArrayID)) {
      vDEBUG_WRN_printf(L, "CYPRESS_PD m_CypressFWBuf[%d].ucArrayID is not data, ucArrayID=%x",
                        static_cast<int>(nCursor - 1), rec.ucArrayID);
      continue;
    }
    std::copy(rec.data.begin(), rec.data.end(), row.begin());
    const uint16_t wRow = static_cast<uint16_t>(r);
    const uint16_t usA = usCypressRowA(ucVendor, wRow);
    int nResult = nTry(h, 1, ucSub, usA, usB, row.data(), static_cast<uint32_t>(nRowSize), st, [&](int n) {
      vDEBUG_ERR_printf(L,
                        "SCSI5872_PDVendorCmd %s Retry[%d] , strPhysicalAddress:[%s] ,  nRowCnt=[%x], "
                        "dwErrorCode %d",
                        pszCmd, n, strName.c_str(), r, t_nPDLastError);
    });
    if (nResult != 0) {
      vDEBUG_ERR_printf(L,
                        "SCSI5872_PDVendorCmd PD_CYPRESS_FW_DATA_SECTOR Fail , strPhysicalAddress:[%s] ,  "
                        "nRowCnt=[%x], iResult %d",
                        strName.c_str(), r, nResult);
      return nResult;
    }
  }
  return 0;
}

int CPowerDelivery::nWriteMCU(IScsiDriveHandle* h, const std::string& strName, std::stop_token st) {
  const char* L = "CPowerDelivery::nPDFWUpdate";
  size_t nLength = 0;
  uint16_t wExt = 0;
  std::vector<uint8_t> image = m_images.vecMCUImage(nLength, wExt);
  for (size_t nOffset = 0; nOffset < nLength; nOffset += PD_MCU_PIECE) {
    const auto dwLen = static_cast<uint32_t>(std::min(PD_MCU_PIECE, nLength - nOffset));
    int nResult = nTry(h, 1, ST_MCU_WRITE_DATA, wExt, static_cast<uint16_t>(nOffset), &image[nOffset], dwLen,
                       st, [&](int n) {
                         vDEBUG_ERR_printf(
                             L,
                             "SCSI5872_PDVendorCmd ST_MCU_WRITE_DATA Retry[%d] , strPhysicalAddress:[%s] ,  "
                             "nRowCnt=[%x], dwErrorCode %d",
                             n, strName.c_str(), static_cast<unsigned>(nOffset), t_nPDLastError);
                       });
    if (nResult != 0) {
      vDEBUG_ERR_printf(L,
                        "SCSI5872_PDVendorCmd ST_MCU_WRITE_DATA Fail , strPhysicalAddress:[%s] ,  "
                        "nMCUDataCnt=[%x], dwErrorCode %d",
                        strName.c_str(), static_cast<unsigned>(nOffset), t_nPDLastError);
      return nResult;
    }
  }
  return 0;
}

int CPowerDelivery::nPDFWRead(uint8_t ucVendor, int nDrive, uint8_t* pOut, size_t dwSize,
                              std::stop_token st) {
  const char* L = "CPowerDelivery::nPDFWRead";
  try {
    vDEBUG_MSG_printf(L, "[%d] nPDFWRead Entry~~~", nDrive);
    if (pOut == nullptr) {
      vDEBUG_ERR_printf(L, "no read-back buffer");
      return -10;
    }
    const std::string strName = strPhysicalAddress(nDrive);
    switch (ucVendor) {
      case PD_VENDOR_RICHTEK: {
        if (dwSize < PD_RICHTEK_READ_SIZE) {
          vDEBUG_ERR_printf(L, "read-back buffer [%x] too small", static_cast<unsigned>(dwSize));
          return -10;
        }
        auto h = pOpenDrive(L, nDrive);
        if (!h) return -1;
        for (uint16_t usOffset = 0; usOffset < PD_RICHTEK_READ_SIZE; usOffset += 32) {
          int nResult = nTry(h.get(), 0, PD_READ_DATA, 0x1000, usOffset, pOut + usOffset, 32, st, [](int) {});
          if (nResult != 0) {
            vDEBUG_ERR_printf(L,
                              "SCSI5872_PDVendorCmd PD_READ_DATA Fail , strPhysicalAddress:[%s] ,  "
                              "ucAddr=[%x], dwErrorCode %d",
                              strName.c_str(), usOffset, t_nPDLastError);
            return nResult;
          }
        }
        return 0;
      }
      case PD_VENDOR_CCG2:
      case PD_VENDOR_CCG3: {
        const auto order = m_images.vecDataSlotsByRow(CCG3_ROW_SIZE);
        // (the data slots are 1..n, so the last one ends at n rows)
        if (order.size() * CCG3_ROW_SIZE > dwSize) {
          vDEBUG_ERR_printf(L, "read-back buffer [%x] too small", static_cast<unsigned>(dwSize));
          return -10;
        }
        if (ucVendor == PD_VENDOR_CCG2 && !bCCG2RowsAddressable(m_images, L)) return -10;
        auto h = pOpenDrive(L, nDrive);
        if (!h) return -1;
        int nResult = 0;
        const uint8_t ucSub = ucVendor == PD_VENDOR_CCG2 ? CYPRESS_PD_READ_DATA : CYPRESS_PD_CCG3_READ_DATA;
        for (const auto& [wRow, k] : order) {
          const uint16_t usA = usCypressRowA(ucVendor, wRow);
          nResult =
              nTry(h.get(), 0, ucSub, usA, 0, pOut + (k - 1) * CCG3_ROW_SIZE, CCG3_ROW_SIZE, st, [](int) {});
          if (nResult != 0)
            vDEBUG_ERR_printf(L,
                              "SCSI5872_PDVendorCmd PD_CYPRESS_FW_DATA_SECTOR Fail , strPhysicalAddress:[%s] "
                              ",  nRowCnt=[%x], dwErrorCode %d",
                              strName.c_str(), wRow, t_nPDLastError);
        }
        return nResult;
      }
      case MCU_VENDOR_ST: {
        auto h = pOpenDrive(L, nDrive);
        if (!h) return -1;
        return nReadMCU(h.get(), strName, pOut, dwSize, st);
      }
      default:
        return 0;
    }
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}

int CPowerDelivery::nReadMCU(IScsiDriveHandle* h, const std::string& strName, uint8_t* pOut, size_t dwSize,
                             std::stop_token st) {
  const char* L = "CPowerDelivery::nPDFWRead";
  int nResult = 0;
  if (m_images.m_STMMCUFW.empty() || m_images.m_STMMCUFW[0].ucDataType != HEX_EXT_LINEAR_ADDRESS) {
    vDEBUG_ERR_printf(L, " STM MCU  this->m_STMMCUFW[0].ucDataType is empty!!!!");
    nResult = -10;
  }
  size_t nLength = 0;
  uint16_t wExt = 0;
  (void)m_images.vecMCUImage(nLength, wExt);
  if (nLength > dwSize) {
    vDEBUG_ERR_printf(L, "read-back buffer [%x] too small for [%x]", static_cast<unsigned>(dwSize),
                      static_cast<unsigned>(nLength));
    return -10;
  }
  // Each piece reads what is left of the image, at most 12 bytes: the last one ends at the
  // image's end and never asks past it.
  for (size_t nOffset = 0; nOffset < nLength; nOffset += PD_MCU_PIECE) {
    const auto dwLen = static_cast<uint32_t>(std::min(PD_MCU_PIECE, nLength - nOffset));
    int n = nTry(h, 0, MCU_ST_FW_DATA_SECTOR, wExt, static_cast<uint16_t>(nOffset), pOut + nOffset, dwLen, st,
                 [](int) {});
    if (n != 0) {
      vDEBUG_ERR_printf(L,
                        "SCSI5872_PDVendorCmd ST_MCU_READ_DATA Fail , strPhysicalAddress:[%s] ,  "
                        "nReadByteCnt=[%x], dwErrorCode %d",
                        strName.c_str(), static_cast<unsigned>(nOffset), t_nPDLastError);
      return n;
    }
  }
  return nResult;
}

int CPowerDelivery::nGetPDFWVersion(int nDrive, std::string* pstrOut, std::stop_token st) {
  const char* L = "CPowerDelivery::nGetPDFWVersion";
  try {
    std::string strPD = "NULL", strMCU = "NULL";
    int nResult = 0;
    const std::string strName = strPhysicalAddress(nDrive);
    if (auto h = pOpenDrive(L, nDrive)) {
      const uint8_t ucVendor = m_nPDChipVendor, ucMode = m_ucCCG3DeviceMode;
      const bool bCypress3 = ucVendor == PD_VENDOR_CCG3 || ucVendor == PD_VENDOR_CCG4;
      char sz[40];
      if (ucVendor == PD_VENDOR_RICHTEK) {
        std::array<uint8_t, 2> ans{};
        if (nTry(h.get(), 0, PD_FW_VERSION_RICHTEK, 0, 0, ans.data(), 2, st, [](int) {}) != 0) {
          vDEBUG_ERR_printf(L,
                            "SCSI5872_PDVendorCmd RichTek PD_FW_VERSION Fail , strPhysicalAddress:[%s] ,  "
                            "dwErrorCode %d",
                            strName.c_str(), t_nPDLastError);
          nResult = -1;
        } else {
          std::snprintf(sz, sizeof sz, "%02X%02X", ans[1], ans[0]);
          strPD = sz;
        }
      } else if (ucVendor == PD_VENDOR_CCG2 || (bCypress3 && (ucMode == 1 || ucMode == 2))) {
        const uint8_t ucSub =
            ucVendor != PD_VENDOR_CCG2 && ucMode == 2 ? PD_FW_VERSION_CYPRESS_MODE2 : PD_FW_VERSION_CYPRESS;
        std::array<uint8_t, 16> ans{};
        if (nTry(h.get(), 0, ucSub, 0x1000, 0, ans.data(), 16, st, [](int) {}) != 0) {
          vDEBUG_ERR_printf(L,
                            "SCSI5872_PDVendorCmd CYPress PD_FW_VERSION Fail , strPhysicalAddress:[%s] ,  "
                            "dwErrorCode %d",
                            strName.c_str(), t_nPDLastError);
          nResult = -1;
        } else {
          std::snprintf(sz, sizeof sz, "%02X%02X%02X%02X%02X%02X%02X%02X", ans[8], ans[9], ans[10], ans[11],
                        ans[12], ans[13], ans[14], ans[15]);
          strPD = sz;
        }
      } else if (bCypress3) {
        strPD = "0000000000000000";
      }
    }
    if (m_bMCUFWEnable && m_nMCUChipVendor == MCU_VENDOR_ST) strMCU = "FFFF";
    std::string strText = strPD;
    if (m_bMCUFWEnable) strText = m_bPDFWEnable ? strPD + "/" + strMCU : strMCU;
    {
      std::lock_guard l(m_versionMutex);
      m_strPDFWVersion = strText;
    }
    if (pstrOut != nullptr) *pstrOut = strText;
    return nResult;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}

std::string CPowerDelivery::strPDFWVersion() const {
  std::lock_guard l(m_versionMutex);
  return m_strPDFWVersion;
}
