#include "run/ResultTable.h"

#include <strings.h>

#include <cstdio>
#include <exception>

#include "log/DebugLog.h"

const std::array<ResultColumn, RESULT_COLUMNS> g_ResultColumns = {{
    {"Port#", 46},
    {"Status", 90},
    {"VID", 48},
    {"PID", 48},
    {"Serial Number", 164},
    {"FW Version", 112},
    {"CC", 36},
    {"Package", 80},
    {"Update", 80},
    {"ReLink", 80},
    {"", 120},
    {"", 80},
    {"", 80},
}};

namespace {
bool bEqualNoCase(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}
}  // namespace

void vCellColours(const std::string& strText, uint8_t ucColour, uint32_t& rgbBack, uint32_t& rgbText) {
  rgbText = RUN_RGB_WHITE;
  if (ucColour == CELL_GREEN || bEqualNoCase(strText, RESULT_PASS)) {
    rgbBack = RUN_RGB_GREEN;
  } else if (ucColour == CELL_PASS_OR_RED || bEqualNoCase(strText, RESULT_FAIL)) {
    rgbBack = RUN_RGB_RED;
  } else if (ucColour == CELL_BLUE) {
    rgbBack = RUN_RGB_BLUE;
  } else if (ucColour == CELL_ORANGE) {
    rgbBack = RUN_RGB_ORANGE;
  } else {
    rgbBack = RUN_RGB_WHITE;
    rgbText = RUN_RGB_BLACK;
  }
}

void CResultTable::vSetMainResultItemTable() {
  int nRow = 0;
  try {
    for (auto& row : m_cells)
      for (auto& c : row) c = ResultCell{};
    for (nRow = 0; nRow < RESULT_ROWS; ++nRow) {
      for (int c = 0; c < RESULT_COLUMNS; ++c) m_view.vSetCell(nRow, c, "", RUN_RGB_WHITE, RUN_RGB_BLACK);
      vUpdateMainResultItemTable(nRow, COL_PORT, std::to_string(nRow), CELL_PLAIN);
    }
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vSetMainResultItemTable",
                      "vSetMainResultItemTable: Idx/Max = [%d] , dwErrorCode %d", nRow, errno);
  }
}

void CResultTable::vUpdateMainResultItemTable(int nRow, int nColumn, const std::string& strText,
                                              uint8_t ucColour) {
  try {
    if (nRow < 0 || nRow >= RESULT_ROWS || nColumn < 0 || nColumn >= RESULT_COLUMNS) return;
    ResultCell& c = m_cells[nRow][nColumn];
    c.strText = strText.substr(0, 127);
    vCellColours(c.strText, ucColour, c.rgbBack, c.rgbText);
    m_view.vSetCell(nRow, nColumn, c.strText, c.rgbBack, c.rgbText);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vUpdateMainResultItemTable", "vUpdateResultItemTable: dwErrorCode : %d ",
                      errno);
  }
}

void CResultTable::vClearMainResultSubItemStatusTable() {
  try {
    for (int r = 0; r < RESULT_ROWS; ++r)
      for (int c : {COL_UPDATE, COL_RELINK, COL_SPARE}) vUpdateMainResultItemTable(r, c, "", CELL_PLAIN);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vClearMainResultSubItemStatusTable",
                      "vClearMainResultSubItemStatusTable: dwErrorCode : %d ", errno);
  }
}

void CResultTable::vClearMainResultSubItemTable(const INISettings& ini) {
  try {
    for (int r = 0; r < RESULT_ROWS; ++r) {
      if (ini.ucPort_mapping_enable == 1) vUpdateMainResultItemTable(r, COL_PORT, "", CELL_PLAIN);
      for (int c = COL_STATUS; c <= COL_PACKAGE; ++c) vUpdateMainResultItemTable(r, c, "", CELL_PLAIN);
    }
    vClearMainResultSubItemStatusTable();
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vClearMainResultSubItemTable",
                      "vClearMainResultSubItemTable: dwErrorCode : %d ", errno);
  }
}

void CResultTable::vUpdatePortMap(const DeviceList& devList) {
  int n = 0;
  for (const auto& d : devList.dev)
    if (d.bOccupied()) ++n;
  int nFree = 0;
  for (uint32_t id : m_dwPortMap)
    if (id == 0) ++nFree;
  auto bInMap = [&](uint32_t id) {
    for (uint32_t m : m_dwPortMap)
      if (m == id) return true;
    return false;
  };
  int nMissing = 0;
  for (int s = 0; s < n; ++s)
    if (!bInMap(static_cast<uint32_t>(devList.dev[s].nPortId))) ++nMissing;
  if (nFree < nMissing) {
    m_dwPortMap.fill(0);
    for (int s = 0; s < n; ++s) m_dwPortMap[s] = static_cast<uint32_t>(devList.dev[s].nPortId);
  } else {
    for (int s = 0; s < n; ++s) {
      uint32_t id = static_cast<uint32_t>(devList.dev[s].nPortId);
      if (bInMap(id)) continue;
      for (auto& m : m_dwPortMap)
        if (m == 0) {
          m = id;
          break;
        }
    }
  }
  for (int pass = 0; pass < 16; ++pass)
    for (int i = 1; i < RESULT_ROWS; ++i)
      if (m_dwPortMap[i] != 0 && m_dwPortMap[i] < m_dwPortMap[i - 1])
        std::swap(m_dwPortMap[i], m_dwPortMap[i - 1]);
}

int CResultTable::nRowOfSlot(const DeviceList& devList, const INISettings& ini, int nSlot) const {
  if (ini.ucPort_mapping_enable != 1) return nSlot;
  int nRow = -1;  // a port id missing from the map has no row: the cell writes ignore it
  for (int i = 0; i < RESULT_ROWS; ++i)
    if (m_dwPortMap[i] == static_cast<uint32_t>(devList.dev[nSlot].nPortId)) nRow = i;
  return nRow;
}

void CResultTable::vUpdateMainResultSubItemTable(bool bClear, DeviceList& devList, const INISettings& ini) {
  try {
    if (bClear) {
      vClearMainResultSubItemTable(ini);
      vResetRunProgress();
    }
    if (ini.ucPort_mapping_enable == 1) vUpdatePortMap(devList);
    for (int s = 0; s < MAX_DEV_RECORDS; ++s) {
      if (!devList.dev[s].bOccupied()) continue;
      vUpdateMainResultSubItemTable(bClear, devList, ini, s);
    }
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vUpdateMainResultSubItemTable",
                      "bClearSubItemTable : %d , dwErrorCode : %d ", bClear ? 1 : 0, errno);
  }
}

void CResultTable::vUpdateMainResultSubItemTable(bool bClear, DeviceList& devList, const INISettings& ini,
                                                 int nSlot) {
  try {
    if (nSlot < 0 || nSlot >= MAX_DEV_RECORDS) return;
    const DevRecord& d = devList.dev[nSlot];
    if (!d.bOccupied()) return;
    int nRow = nRowOfSlot(devList, ini, nSlot);
    if (ini.ucPort_mapping_enable == 1)
      vUpdateMainResultItemTable(nRow, COL_PORT, std::to_string(d.nPortId), CELL_PLAIN);
    uint8_t ucColour = (d.strUSBText.size() >= 2 && strncasecmp(d.strUSBText.c_str(), "U3", 2) == 0)
                           ? CELL_BLUE
                           : CELL_ORANGE;
    vUpdateMainResultItemTable(nRow, COL_STATUS, d.strUSBText, ucColour);
    vUpdateMainResultItemTable(nRow, COL_VID, d.strVID, ucColour);
    vUpdateMainResultItemTable(nRow, COL_PID, d.strPID, ucColour);
    vUpdateMainResultItemTable(nRow, COL_SN, d.strSerialNumber, ucColour);
    vUpdateMainResultItemTable(nRow, COL_FWVER, d.strFWVersion, ucColour);
    char sz[8];
    if (d.ucCcOrientation == 0xFF)
      snprintf(sz, sizeof sz, "X");
    else
      snprintf(sz, sizeof sz, "%x", d.ucCcOrientation);
    vUpdateMainResultItemTable(nRow, COL_CC, sz, ucColour);
    if (bClear) vClearMainResultSubItemStatusTable();
    vDEBUG_MSG_printf("CMPToolDlg::vUpdateMainResultSubItemTable",
                      "#port[%d], Status[%s], VID[%s], PID[%s], SN[%s], FW[%s]", nRow, d.strUSBText.c_str(),
                      d.strVID.c_str(), d.strPID.c_str(), d.strSerialNumber.c_str(), d.strFWVersion.c_str());
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vUpdateMainResultSubItemTable",
                      "bClearSubItemTable : %d , dwErrorCode : %d ", bClear ? 1 : 0, errno);
  }
}

void CResultTable::vResetRunProgress() {
  m_view.vSetRunProgressText("0%");
  m_view.vSetRunProgress(0);
}

void CResultTable::vShowCounters(const DeviceList& devList) {
  m_view.vSetCounters(std::to_string(devList.m_dwPassCount), std::to_string(devList.m_dwFailCount),
                      std::to_string(devList.m_dwTotalCount));
}

void CResultTable::OnBnClickedButtonClearcount(DeviceList& devList) {
  try {
    devList.m_dwPassCount = devList.m_dwFailCount = devList.m_dwTotalCount = 0;
    m_view.vSetCounters("0", "0", "0");
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedButtonClearcount",
                      "OnBnClickedButtonClearcount: dwErrorCode %d", errno);
  }
}

SavedResults CResultTable::stSaveResults(const DeviceList& devList) {
  SavedResults saved{};
  for (int s = 0; s < devList.DevNums && s < RESULT_ROWS; ++s) {
    const DevResults& r = devList.dev[s].results;
    saved[s][COL_STATUS] = r.ucUSBStatusResult;
    saved[s][COL_PACKAGE] = r.ucCapacityResult;
    saved[s][COL_UPDATE] = r.ucUpdateResult;
    saved[s][COL_RELINK] = r.ucRelinkResult;
    saved[s][COL_SPARE] = r.ucConfigCheckResult;
  }
  return saved;
}

void CResultTable::vRepaintSavedResults(const SavedResults& saved, const DeviceList& devList,
                                        const INISettings& ini, const std::array<bool, RESULT_ROWS>& bRows) {
  auto word = [](uint8_t b) { return b == 1 ? RESULT_PASS : RESULT_FAIL; };
  for (int s = 0; s < devList.DevNums && s < RESULT_ROWS; ++s) {
    if (!bRows[s]) continue;
    uint8_t ucIdx = devList.dev[s].ucIndex;
    if (ucIdx >= RESULT_ROWS) continue;
    const auto& e = saved[ucIdx];
    if (ini.ucCheck_USBStatus_enable == 1)
      vUpdateMainResultItemTable(s, COL_STATUS, word(e[COL_STATUS]), CELL_PLAIN);
    if (ini.ucHDDCapacityCheck_enable == 1)
      vUpdateMainResultItemTable(s, COL_PACKAGE, word(e[COL_PACKAGE]), CELL_PLAIN);
    if (ini.ucFw_enablel == 1) vUpdateMainResultItemTable(s, COL_UPDATE, word(e[COL_UPDATE]), CELL_PLAIN);
    if (ini.ucFw_reload == 1) vUpdateMainResultItemTable(s, COL_RELINK, word(e[COL_RELINK]), CELL_PLAIN);
    // The descriptor check's own outcome, not the update's: a hub whose check failed must not
    // turn PASS again on the repaint.
    if (ini.ucConfig_Check == 1) vUpdateMainResultItemTable(s, COL_UPDATE, word(e[COL_SPARE]), CELL_PLAIN);
  }
}
