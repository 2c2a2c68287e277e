// The result table and counters of the main window as a model: 16 rows (one per device
// slot), 13 columns, a per-cell text and colour store, the clearing and filling routines,
// the port map and the run progress display. Every change is passed on to the view.
//
// The model lives on the window thread: callers on other threads go through CRunEngine,
// which hands the calls to the window thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "host/DeviceList.h"
#include "run/IRunView.h"
#include "settings/INISettings.h"

constexpr int RESULT_ROWS = 16;
constexpr int RESULT_COLUMNS = 13;

// Columns.
constexpr int COL_PORT = 0;
constexpr int COL_STATUS = 1;
constexpr int COL_VID = 2;
constexpr int COL_PID = 3;
constexpr int COL_SN = 4;
constexpr int COL_FWVER = 5;
constexpr int COL_CC = 6;
constexpr int COL_PACKAGE = 7;
constexpr int COL_UPDATE = 8;
constexpr int COL_RELINK = 9;
constexpr int COL_SPARE = 10;

// Colour codes of a cell write.
constexpr uint8_t CELL_GREEN = 1;
constexpr uint8_t CELL_PASS_OR_RED = 2;
constexpr uint8_t CELL_BLUE = 3;
constexpr uint8_t CELL_ORANGE = 4;
constexpr uint8_t CELL_PLAIN = 5;

constexpr const char* RESULT_PASS = "PASS";
constexpr const char* RESULT_FAIL = "FAIL";

// Column titles and widths, in insertion order.
struct ResultColumn {
  const char* pszTitle;
  int nWidth;
};
extern const std::array<ResultColumn, RESULT_COLUMNS> g_ResultColumns;

struct ResultCell {
  std::string strText;
  uint32_t rgbBack = RUN_RGB_WHITE;
  uint32_t rgbText = RUN_RGB_BLACK;
};

// Background and text colour of a cell write with this text and colour code.
void vCellColours(const std::string& strText, uint8_t ucColour, uint32_t& rgbBack, uint32_t& rgbText);

// Per slot: the result bytes the run keeps across its rescan (USB status, capacity,
// update, relink at entry offsets 1, 7, 8 and 9 of 13, and the descriptor check at 10).
using SavedResults = std::array<std::array<uint8_t, RESULT_COLUMNS>, RESULT_ROWS>;

class CResultTable {
 public:
  explicit CResultTable(IRunView& view) : m_view(view) {}

  // Removes all rows and inserts rows 0..15 with their number in column 0.
  void vSetMainResultItemTable();
  // One cell; rows and columns outside the table are ignored. Texts are cut to 127 bytes.
  void vUpdateMainResultItemTable(int nRow, int nColumn, const std::string& strText, uint8_t ucColour);
  void vClearMainResultSubItemStatusTable();
  void vClearMainResultSubItemTable(const INISettings& ini);
  // Identity columns of every occupied slot.
  void vUpdateMainResultSubItemTable(bool bClear, DeviceList& devList, const INISettings& ini);
  // Only one slot's row.
  void vUpdateMainResultSubItemTable(bool bClear, DeviceList& devList, const INISettings& ini, int nSlot);
  void vResetRunProgress();
  // Counters of the device list shown in the boxes.
  void vShowCounters(const DeviceList& devList);
  // Clear: counters to 0 and the boxes to "0".
  void OnBnClickedButtonClearcount(DeviceList& devList);

  static SavedResults stSaveResults(const DeviceList& devList);
  // Only the rows marked in bRows are painted: a hub the rescan found that was not in the run
  // has no results to show.
  void vRepaintSavedResults(const SavedResults& saved, const DeviceList& devList, const INISettings& ini,
                            const std::array<bool, RESULT_ROWS>& bRows);

  // Port map (used with ucPort_mapping_enable): brought up to date from the occupied slots.
  void vUpdatePortMap(const DeviceList& devList);
  const std::array<uint32_t, RESULT_ROWS>& portMap() const { return m_dwPortMap; }
  // Row of a slot: the slot number, or with port mapping the last map entry of its port id.
  int nRowOfSlot(const DeviceList& devList, const INISettings& ini, int nSlot) const;

  const ResultCell& cell(int nRow, int nColumn) const { return m_cells[nRow][nColumn]; }

 private:
  IRunView& m_view;
  std::array<std::array<ResultCell, RESULT_COLUMNS>, RESULT_ROWS> m_cells{};
  std::array<uint32_t, RESULT_ROWS> m_dwPortMap{};
};
