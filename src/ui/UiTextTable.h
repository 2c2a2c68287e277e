// The UI text table: the captions, table titles, result words and settings messages of the
// window and its dialogs, in their fixed order, with the system's default locale id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CUiTextTable {
 public:
  CUiTextTable();
  uint16_t m_wLocaleId = 0;          // the system's default locale (0: the C locale)
  std::vector<std::string> m_texts;  // in table order

  // Where the blocks the dialogs use begin.
  size_t m_nLoginTexts = 0;  // "Login", "Password", "Ok", "Cancel"
  size_t m_nAboutTexts = 0;  // "About MPTool", "0.0.0.0", "Ok"
  const std::string& strLogin(size_t n) const { return m_texts[m_nLoginTexts + n]; }
};

// The one table of the process.
const CUiTextTable& uiTexts();
