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

  // Where the blocks the window and its dialogs use begin.
  size_t m_nCaptionTexts = 0;    // "Device Configuration", "Format", ... "4.From HDDSN"
  size_t m_nIdleTimerTexts = 0;  // "3 Min" ... "5 Hr", "Never"
  size_t m_nFunctionTexts = 0;   // "Removable Device", ... "Device Firmware"
  size_t m_nColumnTitles = 0;    // the result table's column titles
  size_t m_nResultWords = 0;     // "PASS", "FAIL", "-----", ..., "Progress Bar", "Progress"
  size_t m_nChoiceTexts = 0;     // "DISABLE", "INCREASE", ... "MBR", "GPT"
  size_t m_nLoginTexts = 0;      // "Login", "Password", "Ok", "Cancel"
  size_t m_nAboutTexts = 0;      // "About MPTool", "0.0.0.0", "Ok"
  // Text n of the block that begins at nBlock; an empty text past the table's end.
  const std::string& str(size_t nBlock, size_t n) const;
  // Texts n to n + nCount - 1 of a block.
  std::vector<std::string> vecRange(size_t nBlock, size_t n, size_t nCount) const;
  const std::string& strLogin(size_t n) const { return str(m_nLoginTexts, n); }
};

// The one table of the process.
const CUiTextTable& uiTexts();
