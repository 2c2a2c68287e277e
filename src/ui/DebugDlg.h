// The configuration check dialog's data side: the hubs it offers and the hexadecimal dump
// of a hub's 256-byte configuration table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/DeviceList.h"

class CDebugDlg {
 public:
  // Reads a hub's configuration table: (device index, buffer, size) -> 0 or a negative code.
  using ConfigReadFn = std::function<int(int nIndex, uint8_t* pBuf, uint32_t dwSize)>;

  int m_nSelectedDevice = -1;
  int m_nSelectedImage = 0;

  // The port list: "%d" of the index of every record in use, in record order.
  static std::vector<std::string> vecPortEntries(const DeviceList& list);
  // The dump: "%02X " per byte, a line feed before every sixteenth, two more blanks in the
  // middle of a line.
  static std::string strDump(const uint8_t* pTable, size_t nSize);
  // "Read Config Table": the dump of the selected hub (its package code in byte 0), or the
  // failure text "Read Reg FAIL: %d". Empty without a selection.
  std::string strReadConfigTable(const DeviceList& list, const ConfigReadFn& fnRead) const;
};
