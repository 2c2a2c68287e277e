#include "ui/UiTextTable.h"

#include <clocale>
#include <initializer_list>

#include "run/ResultTable.h"

namespace {
// The locale id of the language the process runs in: English (United States) for the C,
// POSIX and en_US locales, otherwise unknown (0).
uint16_t wDefaultLocaleId() {
  const char* psz = std::setlocale(LC_MESSAGES, nullptr);
  std::string s = psz ? psz : "C";
  if (s == "C" || s == "POSIX" || s.rfind("en_US", 0) == 0) return 0x0409;
  return 0;
}
}  // namespace

CUiTextTable::CUiTextTable() : m_wLocaleId(wDefaultLocaleId()) {
  auto add = [this](std::initializer_list<const char*> texts) {
    for (const char* p : texts) m_texts.emplace_back(p);
  };
  add({"Port#", "VID", "PID3.0", "PID2.0", "Serial Number", "M. String", "P. String", "FW Version", "Update",
       "Update_B", "ReLink", "Verify F/W", "SLT U3", "SLT U2", "", ""});
  add({"DENY", "LOAD", "MISMATCH", "Port0", "Port1", "Port2", "Port3", "Port4", "Velnor VLN318 MP Tool",
       "Load INI", "Save INI", "Unlock", "Lock", "Unlock Register Tool", "", ""});
  m_nCaptionTexts = m_texts.size();
  add({"Device Configuration", "Format", "Vendor ID", "Product ID", "Device Revision", "Serial Number",
       "S/N Increase", "EP0 M.String", "EP0 P.String", "SN Edit Type", "0.User define", "1.Increase HEX",
       "2.Increase DEC", "3.From Barcode", "4.From HDDSN"});
  m_nIdleTimerTexts = m_texts.size();
  add({"3 Min", "5 Min", "10 Min", "15 Min", "20 Min", "30 Min", "1 Hr", "2 Hr", "3 Hr", "4 Hr", "5 Hr",
       "Never"});
  m_nFunctionTexts = m_texts.size();
  add({"Removable Device", "Default by FW", "Device Function", "MP Auto Mode", "Update Config", "Update FW",
       "Update Ext FW", "USB Status", "Partition / Format", "Reload FW", "W/R Test", "Format Type",
       "Drive Label", "Device Firmware"});
  m_nColumnTitles = m_texts.size();
  for (const ResultColumn& c : g_ResultColumns) m_texts.emplace_back(c.pszTitle);
  add({"Config Update", "SLT", "Format", "R/W Test", "Preload", "QC", "ExtFWUpg", "ExtFWVer", "Part/Fmt",
       "Device Config Chk", "LED Check", "Safely Remove", "FW WD", "FW/C", "Lab", "H/FW", "CFC"});
  m_nResultWords = m_texts.size();
  add({"PASS", "FAIL", "-----", "", "", "", "Pass", "Fail", "Total", "Progress Bar", "Progress"});
  m_nChoiceTexts = m_texts.size();
  add({"DISABLE", "INCREASE", "RANDOM", "DECREASE", "UNICQUE", "UnChanged", "TYPE1", "TYPE2", "NTFS", "FAT32",
       "exFAT", "USB 2.0", "USB 3.0", "USB 3.1", "MBR", "GPT"});
  m_nLoginTexts = m_texts.size();
  add({"Login", "Password", "Ok", "Cancel"});
  m_nAboutTexts = m_texts.size();
  add({"About MPTool", "0.0.0.0", "Ok"});
  add({"Unknown Error", "Invalid Config Type", "Invalid SN Size", "Invalid Manufacturer Size",
       "Invalid Product Size", "Invalid SN String", "Invalid DiskLabel Size", "File/Path Not Exist",
       "File/Path Not Read/Write", "Line of Configuration String in INI file is invalid !",
       "VID Format not valid", "PID Format not valid", "Device Revision Format not valid",
       "Device Revision Format not valid", "WrRdTest file size too large",
       "Serial Number Invalid, at least 12 digits"});
}

const std::string& CUiTextTable::str(size_t nBlock, size_t n) const {
  static const std::string strNone;
  return nBlock + n < m_texts.size() ? m_texts[nBlock + n] : strNone;
}

std::vector<std::string> CUiTextTable::vecRange(size_t nBlock, size_t n, size_t nCount) const {
  std::vector<std::string> v;
  v.reserve(nCount);
  for (size_t i = 0; i < nCount; ++i) v.push_back(str(nBlock, n + i));
  return v;
}

const CUiTextTable& uiTexts() {
  static const CUiTextTable table;
  return table;
}
