#include "ui/DebugDlg.h"

#include <array>
#include <cstdio>

std::vector<std::string> CDebugDlg::vecPortEntries(const DeviceList& list) {
  std::vector<std::string> entries;
  for (const DevRecord& d : list.dev)
    if (d.ucIndex <= 16) entries.push_back(std::to_string(d.ucIndex));
  return entries;
}

std::string CDebugDlg::strDump(const uint8_t* pTable, size_t nSize) {
  std::string s;
  char sz[4];
  for (size_t i = 0; i < nSize; ++i) {
    if (i != 0 && i % 16 == 0)
      s += "\n";
    else if (i != 0 && i % 8 == 0)
      s += "  ";
    std::snprintf(sz, sizeof sz, "%02X ", pTable[i]);
    s += sz;
  }
  return s;
}

std::string CDebugDlg::strReadConfigTable(const DeviceList& list, const ConfigReadFn& fnRead) const {
  if (m_nSelectedDevice < 0 || m_nSelectedDevice >= static_cast<int>(list.dev.size()) || !fnRead) return {};
  std::array<uint8_t, 256> table{};
  const int nResult = fnRead(m_nSelectedDevice, table.data(), static_cast<uint32_t>(table.size()));
  if (nResult < 0) return "Read Reg FAIL: " + std::to_string(nResult);
  table[0] = list.dev[m_nSelectedDevice].m_ucHubBondingOption;
  return strDump(table.data(), table.size());
}
