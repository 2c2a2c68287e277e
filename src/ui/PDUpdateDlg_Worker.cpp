// The PD dialog's Start and Verify, the per-bridge worker and the port status display.
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "host/USBUtility.h"
#include "images/FileBytes.h"
#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/IMainView.h"
#include "ui/PDUpdateDlg.h"

namespace {

constexpr const char* WORKER = "CPDUpdateDlg::PDFWUpdateThreadFun";
constexpr uint32_t PD_START_WAIT_MS = 500;
constexpr uint32_t PD_POWER_UP_WAIT_MS = 2000;
constexpr uint32_t PD_RELOAD_WAIT_MS = 500;
constexpr uint32_t PD_BAR_COLOUR = 0x14E814;
constexpr uint32_t PD_BAR_FAIL_COLOUR = 0x1414E8;
constexpr uint16_t CCG3_LAST_ROW_MODE1 = 1023;  // the check stops at this row
constexpr uint16_t CCG3_LAST_ROW_MODE2 = 1022;

std::string strFormat(const char* pszFormat, int a, int b = 0) {
  char sz[160];
  std::snprintf(sz, sizeof sz, pszFormat, a, b);
  return sz;
}

// Logs the first differing byte and the three after it.
void vLogDifference(const char* pszFormat, size_t nAt, const uint8_t* pFile, const uint8_t* pRead,
                    size_t nEnd) {
  for (size_t i = nAt; i < nAt + 4 && i < nEnd; ++i)
    vDEBUG_MSG_printf(WORKER, pszFormat, static_cast<unsigned>(i), pFile[i], pRead[i]);
}

}  // namespace

// ---- status ----

void CPDUpdateDlg::Show_Message(int nPort, int nCode) {
  try {
    IMainView* v = view();
    if (v == nullptr || nPort < 0 || nPort >= PD_PORTS) return;
    struct Status {
      const char* pszText;
      uint32_t rgb;
    };
    static const Status STATUS[] = {
        {"FAIL", 0x0000FF},      {"PASS", 0x00FF00},  {"Time Out", 0x0000FF},
        {"Mis-Match", 0x00A5FF}, {"Ready", 0x14FA14}, {"Updating", 0xE10000},
        {"Reading", 0xFF1414},   {"", 0xFFFFFF},      {"Comparing", 0xFF1414},
    };
    if (nCode < PD_STATUS_FAIL || nCode > PD_STATUS_COMPARING) return;
    const Status& s = STATUS[nCode - 1];
    v->vSetText(IDC_PD_PORT_STATUS[nPort], s.pszText);
    v->vSetTextColour(IDC_PD_PORT_STATUS[nPort], s.rgb);
  } catch (...) {
    vDEBUG_ERR_printf("CPDUpdateDlg::Show_Message", "Show_Message: dwErrorCode %d", errno);
  }
}

void CPDUpdateDlg::vSetPortProgress(int nPort, int nPos, uint32_t rgbBar) {
  IMainView* v = view();
  if (v == nullptr || nPort < 0 || nPort >= PD_PORTS) return;
  if (rgbBar != 0) v->vSetProgressColour(IDC_PD_PORT_PROGRESS[nPort], rgbBar);
  v->vSetProgressPos(IDC_PD_PORT_PROGRESS[nPort], nPos);
}

// ---- Start and Verify ----

bool CPDUpdateDlg::bFileSuitsChip(const char* pszBox) {
  if (!m_engine.m_bPDFWEnable && !m_engine.m_bMCUFWEnable) {
    // Nothing to write or check: a run would pass every bridge for nothing.
    vDEBUG_ERR_printf("CPDUpdateDlg::bFileSuitsChip", "neither PD nor MCU update chosen");
    m_utility.ShowMessageBox("Please choose PD FW Update or MCU FW Update", MB_OK, MSG_TYPE_ERROR);
    return false;
  }
  if (!m_engine.m_bPDFWEnable) return true;  // the MCU's own checks are the worker's
  const uint8_t ucVendor = m_engine.m_nPDChipVendor, ucType = m_engine.m_ucPDFWFileType;
  const bool bSuits =
      (ucVendor == PD_VENDOR_RICHTEK && ucType == PD_FILE_TYPE_RICHTEK) ||
      ((ucVendor == PD_VENDOR_CCG2 || ucVendor == PD_VENDOR_CCG3 || ucVendor == PD_VENDOR_CCG4) &&
       ucType == PD_FILE_TYPE_CYACD);
  if (!bSuits) m_utility.ShowMessageBox(pszBox, MB_OK, MSG_TYPE_ERROR);
  return bSuits;
}

bool CPDUpdateDlg::bLoadImages(const char* pszLabel) {
  m_engine.m_strMCUFWFilePath = m_strMCUFWFilePath;
  // An MCU-only update has no PD file: the MCU file is the one loaded.
  const std::string& strPath = m_engine.m_bPDFWEnable ? m_strPDFWFilePath : m_strMCUFWFilePath;
  if (m_engine.nCreatePDSPIROMBuffer(strPath) == 0) return true;
  m_utility.ShowMessageBox("nCreatePDSPIROMBuffer failed...!!!", MB_OK, MSG_TYPE_ERROR);
  vDEBUG_MSG_printf(pszLabel, "nCreatePDSPIROMBuffer failed...[%s]!!!", strPath.c_str());
  return false;
}

void CPDUpdateDlg::OnBnClickedButtonPdStart() {
  const char* L = "CPDUpdateDlg::OnBnClickedButtonPdStart";
  try {
    if (bWorkersRunning()) {
      vDEBUG_WRN_printf(L, "PD/MCU update still running");
      return;
    }
    if (!bFileSuitsChip("PD File is not suitable PD Chip!!!Please try to load correct PD Chip or File"))
      return;
    if (!bLoadImages(L)) return;
    Show_Message(0, PD_STATUS_UPDATING);
    m_clock.bSleepMs(PD_START_WAIT_MS);
    m_bTimer = true;
    vStartWorkers();
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch , dwErrorCode %d", errno);
  }
}

void CPDUpdateDlg::OnBnClickedButtonPdFwVerify() {
  const char* L = "CPDUpdateDlg::OnBnClickedButtonPdFwVerify";
  try {
    if (bWorkersRunning()) {
      vDEBUG_WRN_printf(L, "PD/MCU update still running");
      return;
    }
    if (!bFileSuitsChip(
            "PD File is not suitable PD Chip!!!Please try to Set correct PD Chip or load correct PD File"))
      return;
    if (!bLoadImages(L)) return;
    // The image must be the variant of the controller's device mode (its first data row).
    const uint8_t ucVendor = m_engine.m_nPDChipVendor, ucMode = m_engine.m_ucCCG3DeviceMode;
    if (m_engine.m_bPDFWEnable && (ucVendor == PD_VENDOR_CCG3 || ucVendor == PD_VENDOR_CCG4)) {
      CPDFirmwareImages::RowView row{};
      const bool bRow = m_engine.m_images.bCyacdSlot(nCyacdRowSizeOf(ucVendor), 1, row);
      uint16_t wWant = 0;
      if (ucVendor == PD_VENDOR_CCG3) wWant = ucMode == 1 ? 512 : ucMode == 2 ? 48 : 0;
      if (ucVendor == PD_VENDOR_CCG4) wWant = ucMode == 1 ? 265 : ucMode == 2 ? 20 : 0;
      if (!bRow || wWant == 0 || row.wRowNum != wWant) {
        m_utility.ShowMessageBox(
            "PD File is not suitable PD Chip IMAGE!!!\nPlease try to Set correct PD Chip or load correct PD "
            "File",
            MB_OK, MSG_TYPE_ERROR);
        return;
      }
    }
    Show_Message(0, PD_STATUS_READING);
    m_clock.bSleepMs(PD_START_WAIT_MS);
    m_bTimer = true;
    m_bVerify = true;
    vStartWorkers();
  } catch (...) {
    vDEBUG_ERR_printf(L, "catch , dwErrorCode %d", errno);
  }
}

void CPDUpdateDlg::vStartWorkers() {
  std::lock_guard l(m_mutex);
  const int nCount = nBridges();
  for (int i = 0; i < nCount; ++i) {
    m_nRunDrive[i] = nBridgeDrive(i);
    if (IMainView* v = view()) {
      v->vSetProgressRange(IDC_PD_PORT_PROGRESS[i], 0, 100);
      v->vSetProgressColour(IDC_PD_PORT_PROGRESS[i], PD_BAR_COLOUR);
      v->vSetProgressPos(IDC_PD_PORT_PROGRESS[i], 0);
    }
    if (m_workers[i].joinable()) m_workers[i].join();  // the last run's, already ended
    m_bRunning[i] = true;
    const auto ucPort = static_cast<uint8_t>(i);
    m_workers[i] = std::jthread([this, ucPort](std::stop_token st) {
      m_nResult[ucPort] = PDFWUpdateThreadFun(ucPort, st);
      m_bRunning[ucPort] = false;
    });
  }
}

// ---- the worker ----

int CPDUpdateDlg::PDFWUpdateThreadFun(uint8_t ucPort, std::stop_token st) {
  int nResult = -1;
  const int nDrive = ucPort < PD_PORTS ? m_nRunDrive[ucPort].load() : -1;
  try {
    m_ucPDDone[ucPort] = 0;
    m_ucMCUDone[ucPort] = 0;
    vDEBUG_MSG_printf(WORKER, " Start PD/MCU FW Update");
    nResult = nRunWorker(ucPort, nDrive, st);
    m_bTimer = false;
    if (nResult != 0) {
      vDEBUG_MSG_printf(WORKER, " FW Update[%d] is failed...code [%d] ", ucPort, nResult);
      vSetPortProgress(ucPort, 100, PD_BAR_FAIL_COLOUR);
    } else {
      vDEBUG_MSG_printf(WORKER, " FW Update[%d] is PASS...code [%d] ", ucPort, nResult);
      if (m_engine.m_bPDFWEnable) m_ucPDDone[ucPort] = 1;
      if (m_engine.m_bMCUFWEnable) m_ucMCUDone[ucPort] = 1;
      vSetPortProgress(ucPort, 100);
    }
    if (view() != nullptr)
      Show_Message(ucPort, nResult == 0    ? PD_STATUS_PASS
                           : nResult == -9 ? PD_STATUS_TIMEOUT
                                           : PD_STATUS_FAIL);
    else
      vDEBUG_ERR_printf(WORKER, " pPDUpdateDlg->m_hWnd = NULL, dwErrorCode= %d", nResult);
    if (nDrive >= 0 && !st.stop_requested()) m_engine.nGetPDFWVersion(nDrive, nullptr, st);
  } catch (...) {
    vDEBUG_ERR_printf(WORKER, " catch error , dwErrorCode= %d", errno);
  }
  return nResult;
}

int CPDUpdateDlg::nRunWorker(uint8_t ucPort, int nDrive, std::stop_token st) {
  const bool bPD = m_engine.m_bPDFWEnable == 1, bMCU = m_engine.m_bMCUFWEnable == 1;
  const uint8_t ucVendor = m_engine.m_nPDChipVendor;
  const bool bVerify = m_bVerify;
  // A refusal here shows FAIL like any other: the port must not keep "Updating".
  if (nDrive < 0) {
    vDEBUG_ERR_printf(WORKER, "no bridge on port [%d]", ucPort);
    return -10;
  }
  if (bPD && (ucVendor == PD_VENDOR_UNKNOWN || m_engine.m_ucPDFWFileType == PD_FILE_TYPE_NONE)) {
    vDEBUG_ERR_printf(WORKER, "m_nPDChipVendor is UNKNOW or PD File is UNKNOW ");
    return -10;
  }
  if (bMCU && (m_engine.m_nMCUChipVendor == 0 || m_engine.m_ucMCUFWFileType == PD_FILE_TYPE_NONE)) {
    vDEBUG_ERR_printf(WORKER, "m_nMCUChipVendor is UNKNOW Failed, pPDUpdateDlg->m_nMCUChipVendor=%x",
                      m_engine.m_nMCUChipVendor.load());
    return -10;
  }
  m_ucProgress = 5;
  const bool bPDFamily = ucVendor == PD_VENDOR_RICHTEK || ucVendor == PD_VENDOR_CCG2 ||
                         ucVendor == PD_VENDOR_CCG3 || ucVendor == PD_VENDOR_CCG4;
  if (bPD && bPDFamily) {
    const int n = m_engine.nConfigMTPArea(ucVendor, nDrive, st);
    if (n != 0) {
      vDEBUG_ERR_printf(WORKER, "Config PD[%d ][%d] Flase Failed[%d], ", ucPort, nDrive, n);
      m_utility.ShowMessageBox(strFormat("Config PD[%d] Flash Failed!!", ucPort), MB_OK, MSG_TYPE_ERROR);
      return n;
    }
  }
  const bool bMCUTarget = bMCU && m_engine.m_nMCUChipVendor == MCU_VENDOR_ST;
  if (bMCUTarget) {
    const int n = m_engine.nConfigMTPArea(MCU_VENDOR_ST, nDrive, st);
    if (n != 0) {
      vDEBUG_ERR_printf(WORKER, "Config MCU[%d ][%d] Flase Failed[%d], ", ucPort, nDrive, n);
      m_utility.ShowMessageBox(strFormat("MCU[%d] Enter Bootload mode Failed=[%d]!!", ucPort, n), MB_OK,
                               MSG_TYPE_ERROR);
      return n;
    }
    vDEBUG_MSG_printf(WORKER, " Config MCU Flash done....");
    if (const int nMCU = nCheckMCU(ucPort, nDrive, st); nMCU != 0) return nMCU;
  }
  // Whether the flash content itself is compared here; the version is the only check of a
  // CCG4, which has no read-back, so a Verify of one still asks the version after relinking.
  bool bContentChecked = true;
  if (bPD) {
    Show_Message(ucPort, PD_STATUS_UPDATING);
    if (ucVendor != PD_VENDOR_CCG2 || !bVerify) {
      const int n = m_engine.nPDFWUpdate(ucVendor, m_strPDFWFilePath, nDrive, st);
      if (n != 0) {
        vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]FW Update Failed[%d], ", ucPort, nDrive, n);
        return n;
      }
    }
    if (ucVendor == PD_VENDOR_CCG2 || ucVendor == PD_VENDOR_CCG3) {
      Show_Message(ucPort, PD_STATUS_READING);
      if (const int n = nCheckCypress(ucPort, ucVendor, nDrive, st); n != 0) return n;
      if (bVerify) vDEBUG_MSG_printf(WORKER, "Cypress FW verification Pass!!");
    } else if (ucVendor == PD_VENDOR_CCG4) {
      vDEBUG_MSG_printf(
          WORKER, "CCG4 PD[%d]: no read-back, the FW version after the power cycle is the check", ucPort);
      bContentChecked = false;
    }
  }
  // The new firmware runs only after the board's power has been cut: the operator does it
  // (on the bench, the platform does it once the box is answered).
  m_utility.ShowMessageBox(strFormat("Please power cycling Your [%d ]device!!!", ucPort), MB_OK,
                           MSG_TYPE_WARNING);
  m_powerCycle.bPowerCycle(CPowerDelivery::strPhysicalAddress(nDrive));
  m_ucProgress = 85;
  if (!m_clock.bSleepMs(PD_POWER_UP_WAIT_MS, st)) return -10;
  vDEBUG_MSG_printf(WORKER, "Enter ucDevNum[%d] Reload wheil() ", ucPort);
  if (!m_clock.bSleepMs(PD_RELOAD_WAIT_MS, st)) return -10;
  const bool bCheckVersion = bPD && (!bVerify || !bContentChecked);
  int nResult = nWaitRelink(ucPort, nDrive, bCheckVersion, st);
  if (nResult == 0 && bPD && ucVendor == PD_VENDOR_RICHTEK) nResult = nCheckRichtek(ucPort, nDrive, st);
  return nResult;
}

int CPDUpdateDlg::nCheckMCU(uint8_t ucPort, int nDrive, std::stop_token st) {
  int n = m_engine.nPDFWUpdate(MCU_VENDOR_ST, m_strMCUFWFilePath, nDrive, st);
  if (n != 0) {
    vDEBUG_ERR_printf(WORKER, " MCU[%d ][%d]FW Update Failed[%d], ", ucPort, nDrive, n);
    return n;
  }
  Show_Message(ucPort, PD_STATUS_READING);
  std::vector<uint8_t> read(PD_MCU_READ_SIZE, 0);
  n = m_engine.nPDFWRead(MCU_VENDOR_ST, nDrive, read.data(), read.size(), st);
  if (n != 0) {
    vDEBUG_ERR_printf(WORKER, " MCU[%d ][%d]Read Data Failed[%d], ", ucPort, nDrive, n);
    return n;
  }
  m_ucProgress = 90;
  Show_Message(ucPort, PD_STATUS_COMPARING);
  // Every data record against the read-back at its own address, where the write put it.
  const auto& records = m_engine.m_images.m_STMMCUFW;
  for (size_t i = 0; i < records.size() && i < MCU_MAX_RECORDS; ++i) {
    const STMHexRecord& r = records[i];
    if (r.ucByteCount == 0 && r.ucDataType != HEX_DATA) break;
    if (r.ucDataType != HEX_DATA) continue;
    const size_t nAt = r.dwAddress;
    vDEBUG_MSG_printf(WORKER, "LineCnt=[%x], Read buffer offset[%x]", static_cast<unsigned>(i),
                      static_cast<unsigned>(nAt));
    if (nAt + r.ucByteCount > read.size()) return -6;
    for (size_t k = 0; k < r.ucByteCount; ++k) {
      if (r.data[k] == read[nAt + k]) continue;
      vDEBUG_ERR_printf(WORKER, "MCU FW content compare Fail , LineCnt[%x], nAdd[ %x]",
                        static_cast<unsigned>(i), static_cast<unsigned>(nAt + k));
      for (size_t j = k; j < k + 4 && j < r.ucByteCount; ++j)
        vDEBUG_MSG_printf(WORKER, "nAdd[%x], ucpFileBuf[%x] != ReadBuf[%x]", static_cast<unsigned>(nAt + j),
                          r.data[j], read[nAt + j]);
      return -6;
    }
  }
  return 0;
}

int CPDUpdateDlg::nCheckCypress(uint8_t ucPort, uint8_t ucVendor, int nDrive, std::stop_token st) {
  const CPDFirmwareImages& img = m_engine.m_images;
  const size_t nSlots = img.nCyacdSlots(CCG3_ROW_SIZE);
  // The read-back holds the loaded rows only: (slot - 1) x 128 for every data slot.
  std::vector<uint8_t> read(nSlots > 1 ? (nSlots - 1) * CCG3_ROW_SIZE : 0, 0);
  int n = m_engine.nPDFWRead(ucVendor, nDrive, read.data(), read.size(), st);
  if (n != 0) {
    vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]FW Read Failed[%d], ", ucPort, nDrive, n);
    return n;
  }
  m_ucProgress = 90;
  const uint8_t ucMode = m_engine.m_ucCCG3DeviceMode;
  const uint16_t wStop = ucVendor == PD_VENDOR_CCG3 ? (ucMode == 1   ? CCG3_LAST_ROW_MODE1
                                                       : ucMode == 2 ? CCG3_LAST_ROW_MODE2
                                                                     : 0xFFFF)
                                                    : 0xFFFF;
  CPDFirmwareImages::RowView rec{};
  const auto order = img.vecDataSlotsByRow(CCG3_ROW_SIZE);
  for (const auto& [wRow, j] : order) {
    if (wRow >= wStop) break;
    img.bCyacdSlot(CCG3_ROW_SIZE, j, rec);
    vDEBUG_MSG_printf(WORKER, "FW compare , LineCnt[%x], ucRowNum[%x], RowCnt[ %x]", static_cast<unsigned>(j),
                      wRow, wRow);
    const uint8_t* pRead = &read[(j - 1) * CCG3_ROW_SIZE];
    const auto it = std::mismatch(rec.data.begin(), rec.data.end(), pRead);
    if (it.first == rec.data.end()) continue;
    vDEBUG_ERR_printf(WORKER, "FW content compare Fail , LineCnt[%x], RowCnt[ %x]", static_cast<unsigned>(j),
                      wRow);
    vLogDifference("Cnt[%x], ucpFileBuf[%x] != ReadBuf[%x]", static_cast<size_t>(it.first - rec.data.begin()),
                   rec.data.data(), pRead, rec.data.size());
    return -6;
  }
  return 0;
}

int CPDUpdateDlg::nWaitRelink(uint8_t ucPort, int nDrive, bool bCheckVersion, std::stop_token st) {
  const uint64_t ullStart = m_clock.ullNowMs();
  while (!st.stop_requested()) {
    m_ucProgress = static_cast<uint8_t>(m_ucProgress + 1);
    if (m_clock.ullNowMs() - ullStart > PD_RELINK_TIMEOUT_MS) {
      Show_Message(ucPort, PD_STATUS_TIMEOUT);
      m_utility.ShowMessageBox(strFormat("PO[%d] Wait relink failed, Timeout", ucPort), MB_OK,
                               MSG_TYPE_ERROR);
      vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]Relink  Time out[%d], ", ucPort, nDrive, -9);
      return -9;
    }
    // This bridge's own drive must be back (another bridge's return says nothing of it).
    if (m_engine.bDriveAnswers(nDrive)) {
      // The path is opened again in every case: the Richtek read-back and the last version
      // read go over it.
      int n = m_engine.nInitializedPDI2CBus(nDrive, st);
      if (n != 0) {
        m_utility.ShowMessageBox(strFormat("PD[%d] I2C Initialized I2C Bus Failed", ucPort), MB_OK,
                                 MSG_TYPE_ERROR);
        vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]nInitializedPDI2CBus Failed[%d], ", ucPort, nDrive, n);
        return n;
      }
      if (!bCheckVersion) return 0;
      std::string strVersion;
      n = m_engine.nGetPDFWVersion(nDrive, &strVersion, st);
      if (n != 0) {
        m_utility.ShowMessageBox(strFormat("PD[%d] Get FW Version Failed in compare loop, ", ucPort), MB_OK,
                                 MSG_TYPE_ERROR);
        vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]nGetPDFWVersion Failed[%d], ", ucPort, nDrive, n);
        return n;
      }
      // The controller's part of the text (an MCU adds "/FFFF"); hexadecimal digits in
      // either case, as the file and the controller spell them differently.
      const std::string strPD = strVersion.substr(0, strVersion.find('/'));
      if (strcasecmp(strPD.c_str(), m_strPDFWFileVersion.c_str()) != 0) {
        char sz[320];
        std::snprintf(sz, sizeof sz, "PD[%d] FW Version Compare Failed, File[%s], PD[%s]", ucPort,
                      m_strPDFWFileVersion.c_str(), strPD.c_str());
        m_utility.ShowMessageBox(sz, MB_OK, MSG_TYPE_ERROR);
        vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]FW Version Compare Failed, Failed code[%d], ", ucPort, nDrive,
                          -2);
        return -2;
      }
      if (IMainView* v = view()) v->vSetText(IDC_PD_PORT_VERSION[ucPort], strVersion);
      return 0;
    }
    if (!m_clock.bSleepMs(PD_RELINK_POLL_MS, st)) break;
  }
  return -10;  // stopped
}

int CPDUpdateDlg::nCheckRichtek(uint8_t ucPort, int nDrive, std::stop_token st) {
  std::vector<uint8_t> read(PD_RICHTEK_READ_SIZE, 0);
  const int n = m_engine.nPDFWRead(PD_VENDOR_RICHTEK, nDrive, read.data(), read.size(), st);
  if (n != 0) {
    vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]FW nPDFWRead Failed[%d], ", ucPort, nDrive, -2);
    return -2;
  }
  m_ucProgress = 90;
  const FileBytes file = stReadFileBytes(m_strPDFWFilePath, PD_RICHTEK_READ_SIZE);
  if (file.eStatus != EFileRead::Ok || file.ullSize > PD_RICHTEK_READ_SIZE || file.data.empty()) {
    vDEBUG_ERR_printf(WORKER, " PD[%d ][%d]FW Comparsion Failed[%d], ", ucPort, nDrive, -3);
    return -3;
  }
  const auto it = std::mismatch(file.data.begin(), file.data.end(), read.begin());
  if (it.first == file.data.end()) return 0;
  const size_t nAt = static_cast<size_t>(it.first - file.data.begin());
  vDEBUG_ERR_printf(WORKER, "FW content compare Fail , dwFlashFWLeng[ %d]",
                    static_cast<int>(file.data.size()));
  vLogDifference("Cnt[%x], ucpFileBuf[%x] != ReadBuf[%x]", nAt, file.data.data(), read.data(),
                 file.data.size());
  return -6;
}
