#include "pd/PowerDelivery.h"

#include <cerrno>
#include <cstring>

#include "log/DebugLog.h"

thread_local int t_nPDLastError = 0;

namespace {

unsigned uHandleText(const IScsiDriveHandle* h) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(h));
}

bool bCarriesData(uint8_t ucSub) {
  return ucSub == CYPRESS_PD_WRITE_DATA || ucSub == CYPRESS_PD_CCG3_WRITE_DATA || ucSub == ST_MCU_WRITE_DATA;
}

uint8_t ucHi(uint16_t us) {
  return static_cast<uint8_t>(us >> 8);
}
uint8_t ucLo(uint16_t us) {
  return static_cast<uint8_t>(us);
}

}  // namespace

ScsiRequest stPDVendorRequest(uint8_t ucWrite, uint8_t ucSub, uint16_t usA, uint16_t usB, const uint8_t* pBuf,
                              uint32_t dwLen) {
  bool bWrite = ucWrite == 1;
  ScsiRequest r;
  r.ucCdbLen = 8;
  auto& c = r.ucCdb;
  c[0] = PD_VENDOR_OPCODE;
  c[1] = ucSub;
  c[2] = ucHi(usA);
  c[3] = ucLo(usA);
  c[4] = ucHi(usB);
  c[5] = ucLo(usB);
  if (ucSub == PD_WRITE_DATA && pBuf != nullptr && dwLen >= 4) {
    for (int i = 0; i < 4; ++i) c[4 + i] = pBuf[i];
  } else if (ucSub == ST_MCU_WRITE_DATA || ucSub == MCU_ST_FW_DATA_SECTOR) {
    c[6] = static_cast<uint8_t>(dwLen);
  } else if (ucSub == PD_READ_DATA) {
    c[7] = static_cast<uint8_t>(dwLen);
  }
  r.ulTimeoutSec = bWrite ? PD_WRITE_TIMEOUT_SEC : PD_READ_TIMEOUT_SEC;
  r.eDir = bWrite ? EScsiDirection::kOut : EScsiDirection::kIn;
  if (bWrite) {
    r.ulDataLen = bCarriesData(ucSub) ? dwLen : 0;
  } else {
    r.ulDataLen = ucSub == PD_FW_VERSION_RICHTEK ? 2 : dwLen;
  }
  return r;
}

CPowerDelivery::CPowerDelivery(IScsiPassThroughPlatform& scsi, IClock& clock, CUSBUtility& utility,
                               const DeviceList* pDevList)
    : CPDFirmware(utility), m_scsi(scsi), m_clock(clock), m_pDevList(pDevList) {
  for (auto& b : m_bMCUBootloaderEntered) b = 0;
}

int CPowerDelivery::SCSI5872_PDVendorCmd(IScsiDriveHandle* hDev, uint8_t ucWrite, uint8_t ucSub, uint16_t usA,
                                         uint16_t usB, uint8_t* pBuf, uint32_t dwLen) {
  const char* L = "CPowerDelivery::SCSI5872_PDVendorCmd";
  bool bWrite = ucWrite == 1;
  // A data phase needs a buffer, and sub-command 0x01 takes its four bytes from it.
  bool bNeedsBuf = bWrite ? (bCarriesData(ucSub) && dwLen > 0) || ucSub == PD_WRITE_DATA : dwLen > 0;
  if (hDev == nullptr || hDev == SCSI_INVALID_HANDLE || dwLen > PD_VENDOR_MAX_LEN ||
      (bNeedsBuf && pBuf == nullptr) || (bWrite && ucSub == PD_WRITE_DATA && dwLen < 4)) {
    t_nPDLastError = EINVAL;
    vDEBUG_ERR_printf(
        L,
        "(hDev == NULL) or (dwTotalLen != CONFIG_BIN_SIZE)  hDev:%x , ReadWrite:%x , BufLen:%x , "
        "dwErrorCode:%x  ",
        uHandleText(hDev), ucWrite, dwLen, t_nPDLastError);
    return -10;
  }
  try {
    std::array<uint8_t, PD_VENDOR_MAX_LEN> data{};  // the data area, cleared for every command
    ScsiRequest req = stPDVendorRequest(ucWrite, ucSub, usA, usB, pBuf, dwLen);
    ScsiResult res;
    if (bWrite) {
      if (req.ulDataLen > 0) std::memcpy(data.data(), pBuf, req.ulDataLen);
      req.pData = data.data();
      hDev->bSend(req, res);
      t_nPDLastError = res.nError;
      if (!res.bGood()) {
        vDEBUG_ERR_printf(L,
                          "SCSI5872_AccessRegister: (status = Fail) hDev:%x , ReadWrite:%x , dwTotalLen:%x , "
                          "status:%x , ScsiStatus:%x , dwErrorCode:%d  ",
                          uHandleText(hDev), ucWrite, dwLen, res.bRequestOk ? 1u : 0u, res.ucScsiStatus,
                          res.nError);
        return -1;
      }
      return 0;
    }
    if (dwLen > 0) std::memset(pBuf, 0, dwLen);
    req.pData = data.data();
    hDev->bSend(req, res);
    t_nPDLastError = res.nError;
    if (!res.bGood()) {
      if (dwLen > 0) std::memset(pBuf, 0, dwLen);
      vDEBUG_ERR_printf(L,
                        "(status = Fail) hDev:%x , ReadWrite:%x , BufLen:%x , status:%x , ScsiStatus:%x , "
                        "dwErrorCode:%x  ",
                        uHandleText(hDev), ucWrite, dwLen, res.bRequestOk ? 1u : 0u, res.ucScsiStatus,
                        res.nError);
      return -1;
    }
    if (dwLen > 0) std::memcpy(pBuf, data.data(), dwLen);
    return 0;
  } catch (...) {
    if (!bWrite && pBuf != nullptr) std::memset(pBuf, 0, dwLen);
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;  // a command that threw has not been carried out
  }
}

std::unique_ptr<IScsiDriveHandle> CPowerDelivery::pOpenDrive(const char* pszLabel, int nDrive) {
  int nErr = 0;
  std::string strName = strPhysicalAddress(nDrive);
  auto h = m_scsi.pOpen(strName, &nErr);
  if (!h) {
    t_nPDLastError = nErr;
    vDEBUG_ERR_printf(pszLabel, "CreateFile Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d",
                      strName.c_str(), nErr);
  }
  return h;
}

bool CPowerDelivery::bDriveAnswers(int nDrive) {
  try {
    int nErr = 0;
    return m_scsi.pOpen(strPhysicalAddress(nDrive), &nErr) != nullptr;
  } catch (...) {
    return false;
  }
}

int CPowerDelivery::nGetPDChipVendor(int nDrive, std::stop_token st) {
  const char* L = "CPowerDelivery::nGetPDChipVendor";
  try {
    std::string strName = strPhysicalAddress(nDrive);
    auto h = pOpenDrive(L, nDrive);
    if (!h) return -1;
    std::array<uint8_t, PD_CONTROL_LEN> ans{};
    int nResult = nTry(h.get(), 0, PD_GET_PD_CONTROL, 0x1000, 0, ans.data(), PD_CONTROL_LEN, st, [&](int n) {
      vDEBUG_ERR_printf(L,
                        "SCSI5872_PDVendorCmd PD_GET_PD_CONTROL Retry[%d] , strPhysicalAddress:[%s] ,  "
                        "dwErrorCode %d",
                        n, strName.c_str(), t_nPDLastError);
    });
    if (ans[0] != PD_CONTROL_SIGNATURE) {
      vDEBUG_ERR_printf(L,
                        "SCSI5872_PDVendorCmd PD_GET_PD_CONTROL  , strPhysicalAddress:[%s] ,  dwErrorCode %d",
                        strName.c_str(), t_nPDLastError);
      nResult = -3;
    }
    m_nPDChipVendor = ans[1];
    m_nMCUChipVendor = ans[8] != 0 ? MCU_VENDOR_ST : 0;
    vDEBUG_MSG_printf(L, "m_nPDChipVendor=[%x], m_nMCUChipVendor=[%x]", m_nPDChipVendor.load(),
                      m_nMCUChipVendor.load());
    return nResult;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}

int CPowerDelivery::nGetCCG3DeviceMode(int nDrive, std::stop_token st) {
  const char* L = "CPowerDelivery::nGetCCG3DeviceMode";
  try {
    std::string strName = strPhysicalAddress(nDrive);
    auto h = pOpenDrive(L, nDrive);
    if (!h) return -1;
    uint8_t ucMode = 0;
    int nResult = nTry(h.get(), 0, PD_GET_PD_CCG3_DeviceMode, 0x100, 0, &ucMode, 1, st, [&](int n) {
      vDEBUG_ERR_printf(
          L,
          "SCSI5872_PDVendorCmd PD_GET_PD_CCG3_DeviceMode Retry[%d] , strPhysicalAddress:[%s] ,  "
          "dwErrorCode %d",
          n, strName.c_str(), t_nPDLastError);
    });
    m_ucCCG3DeviceMode = ucMode;
    return nResult;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}

int CPowerDelivery::nInitializedPDI2CBus(int nDrive, std::stop_token st) {
  const char* L = "CPowerDelivery::nInitializedPDI2CBus";
  try {
    std::string strName = strPhysicalAddress(nDrive);
    {
      auto h = pOpenDrive(L, nDrive);
      if (!h) return -1;
      int nResult = SCSI5872_PDVendorCmd(h.get(), 1, PD_I2C_BUS_OPEN, 0, 0, nullptr, 0);
      if (nResult != 0) {
        vDEBUG_ERR_printf(
            L, "SCSI5872_PDVendorCmd PD Initialization Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d",
            strName.c_str(), t_nPDLastError);
        return nResult;
      }
    }  // the drive is closed before the detection opens it again
    if (nDrive >= 0 && nDrive < PD_PHYSICAL_DRIVES) m_bMCUBootloaderEntered[nDrive] = 0;
    int nResult = nGetPDChipVendor(nDrive, st);
    if (nResult != 0) {
      vDEBUG_ERR_printf(L, "nGetPDChipVendor Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d",
                        strName.c_str(), t_nPDLastError);
      return nResult;
    }
    uint8_t ucVendor = m_nPDChipVendor;
    if (ucVendor == PD_VENDOR_CCG3 || ucVendor == PD_VENDOR_CCG4) {
      nResult = nGetCCG3DeviceMode(nDrive, st);
      if (nResult != 0) {
        vDEBUG_ERR_printf(L, "nGetCCG3DeviceMode Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d",
                          strName.c_str(), t_nPDLastError);
        return nResult;
      }
    }
    return 0;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}

int CPowerDelivery::nConfigMTPArea(uint8_t ucVendor, int nDrive, std::stop_token st) {
  const char* L = "CPowerDelivery::nConfigMTPArea";
  try {
    vDEBUG_MSG_printf(L, "nConfigMTPArea Entry~~");
    if (ucVendor == PD_VENDOR_UNKNOWN) {
      vDEBUG_ERR_printf(L, "m_nPDChipVendor is UNKNOW Failed");
      return -10;
    }
    uint8_t ucSub = 0;
    uint16_t usB = 0;
    const char* pszFail = nullptr;
    switch (ucVendor) {
      case PD_VENDOR_RICHTEK:
        ucSub = PD_MPT_AREA;
        usB = 0x3FFF;
        pszFail =
            "SCI5872_PDVendorCmd PD_MPT_AREA Fail ,nRetry[]%d,  strPhysicalAddress:[%s] ,  dwErrorCode %d";
        break;
      case PD_VENDOR_CCG2:
        ucSub = CYPRESS_PD_FLASH_MODE;
        pszFail =
            "SCI5872_PDVendorCmd CYPRESS_PD_FLASH_MODE Fail ,nRetry[%d],  strPhysicalAddress:[%s] ,  "
            "dwErrorCode "
            "%d";
        break;
      case PD_VENDOR_CCG3:
      case PD_VENDOR_CCG4:
        ucSub = CYPRESS_PD_CCG3_FLASH_MODE;
        pszFail =
            "SCI5872_PDVendorCmd CYPRESS_PD_CCG3_FLASH_MODE Fail ,nRetry[%d],  strPhysicalAddress:[%s] ,  "
            "dwErrorCode %d";
        break;
      case MCU_VENDOR_ST:
        ucSub = ST_MCU_ENTER_BOOTLOADER_2;
        pszFail =
            "SCSI5872_PDVendorCmd ST_MCU_ENTER_BOOTLOADER Fail ,retry[%d],  strPhysicalAddress:[%s] ,  "
            "dwErrorCode "
            "%d";
        break;
      default:
        // Refused before anything reaches the drive, the MCU's first step included.
        vDEBUG_ERR_printf(L, "m_nPDChipVendor is KNOWN[%d]", m_nPDChipVendor.load());
        return -10;
    }
    std::string strName = strPhysicalAddress(nDrive);
    auto h = pOpenDrive(L, nDrive);
    if (!h) return -1;
    std::atomic<uint8_t>* pEntered =
        nDrive >= 0 && nDrive < PD_PHYSICAL_DRIVES ? &m_bMCUBootloaderEntered[nDrive] : nullptr;
    int nResult = -1;
    for (int nRetry = 0; nRetry < PD_CMD_TRIES; ++nRetry) {
      if (m_nMCUChipVendor == MCU_VENDOR_ST && pEntered != nullptr && *pEntered == 0) {
        *pEntered = 1;
        nResult = SCSI5872_PDVendorCmd(h.get(), 1, ST_MCU_ENTER_BOOTLOADER_1, 0, 0, nullptr, 0);
        if (nResult != 0) {
          vDEBUG_ERR_printf(L,
                            "SCSI5872_PDVendorCmd ST_MCU_ENTER_BOOTLOADER Fail , retry[%d],  "
                            "strPhysicalAddress:[%s] ,  dwErrorCode %d",
                            nRetry, strName.c_str(), t_nPDLastError);
          *pEntered = 0;
          if (!m_clock.bSleepMs(PD_MTP_RETRY_MS, st)) break;
          continue;
        }
        if (!m_clock.bSleepMs(PD_MCU_BOOT_WAIT_MS, st)) {
          nResult = -1;  // stopped before the target was switched
          break;
        }
      }
      nResult = SCSI5872_PDVendorCmd(h.get(), 1, ucSub, 0, usB, nullptr, 0);
      if (nResult == 0) break;
      vDEBUG_ERR_printf(L, pszFail, nRetry, strName.c_str(), t_nPDLastError);
      if (!m_clock.bSleepMs(PD_MTP_RETRY_MS, st)) break;
    }
    return nResult;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}

int CPowerDelivery::nClosePDI2CBus(int nIndex) {
  const char* L = "CPowerDelivery::nClosePDI2CBus";
  try {
    if (m_pDevList == nullptr || nIndex < 0 || nIndex >= MAX_DEV_RECORDS) {
      t_nPDLastError = EINVAL;
      vDEBUG_ERR_printf(L, "no device record [%d] , dwErrorCode %d", nIndex, t_nPDLastError);
      return -10;
    }
    int nDrive = m_pDevList->dev[nIndex].ucPhysicalDrive;
    std::string strName = strPhysicalAddress(nDrive);
    auto h = pOpenDrive(L, nDrive);
    if (!h) return -1;
    int nResult = SCSI5872_PDVendorCmd(h.get(), 1, PD_I2C_BUS_CLOSE, 0, 0, nullptr, 0);
    if (nResult != 0)
      vDEBUG_ERR_printf(
          L, "SCSI5872_PDVendorCmd PD_I2C_BUS_CLOSE Fail , strPhysicalAddress:[%s] ,  dwErrorCode %d",
          strName.c_str(), t_nPDLastError);
    return nResult;
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch %d", t_nPDLastError);
    return -1;
  }
}
