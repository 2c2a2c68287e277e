// Serial numbers: counting on the text digit by digit, the digit checks, the rules the run
// applies, and the data side of the Hex/Dec boxes and of the serial-number entry dialog.
// Nothing here keeps state; every function may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "settings/INISettings.h"

// Serial-number sources (ucSN_EditType).
constexpr uint8_t SN_EDIT_USER = 0;
constexpr uint8_t SN_EDIT_HEX = 1;
constexpr uint8_t SN_EDIT_DEC = 2;
constexpr uint8_t SN_EDIT_BARCODE = 3;
constexpr uint8_t SN_EDIT_HDDSN = 4;

// Adds ucCount to the serial number, in hexadecimal when ucHex is non-zero, else decimal.
// Text with characters other than hexadecimal digits is counted on its last seven
// characters, keeping their width.
std::string vAddLimitSN(const std::string& strSerialNumber, uint8_t ucCount, uint8_t ucHex);

// True when the text suits the edit type: type 1 only "0123456789ABCDEF", type 2 only
// "0123456789"; any other type passes.
bool bIsValidSNDigits(const std::string& strSN, uint8_t ucSN_EditType);

// The serial number without its fixed prefix (the first uiSN_remain_value_length
// characters when uiSN_remain_value_enable is set).
std::string strSNWithoutPrefix(const INISettings& ini, const std::string& strSN);
// The fixed prefix itself (empty when not enabled).
std::string strSNPrefix(const INISettings& ini, const std::string& strSN);

// Pads on the left with "0" to nWidth characters (longer texts unchanged).
std::string strPadSNLeft(const std::string& strSN, size_t nWidth);
// Pads the counted part with "0" so that the whole is nWidth characters: the zeros go after
// the fixed prefix, which stays as it is.
std::string strPadSNAfterPrefix(const INISettings& ini, const std::string& strSN, size_t nWidth);

// Run start, fixed length: the warning "input SN should have %d digits", or empty when
// the serial number is fine.
std::string strCheckSNFixLength(const INISettings& ini, const std::string& strSN);
// Run start, digits: the warning "SN digits [%s] should be all %s", or empty.
std::string strCheckSNDigits(const INISettings& ini, const std::string& strSN);

// Run start, serial-number length and padding of the start steps (after the fixed length and
// digits checks).
struct SNStartLength {
  std::string strSN;            // the serial number of the run (padded where the rules say)
  bool bScreenChanged = false;  // the screen's serial number was padded: show it and copy it
                                // into the record's serial number
  std::string strError;         // error text to collect ("" when none); for edit types 1 and 2
                                // a serial number that is all fixed prefix (nothing to count)
};
// strScreenSN is the serial-number box; strCmdLineSN the command-line serial number (may be
// empty).
SNStartLength stCheckStartSNLength(const INISettings& ini, const std::string& strScreenSN,
                                   const std::string& strCmdLineSN);

// The serial number ucCount places after strSN. Edit types 1 (hexadecimal) and 2 (decimal)
// keep the fixed prefix as it is and count only the rest; other edit types do not count.
// Hub i of a run carries the count i and the run's next serial number the count of its
// hubs: one rule for both, so the saved value is always the one after the last hub's.
std::string strSerialNumberAfter(const INISettings& ini, const std::string& strSN, uint8_t ucCount);
// True when a run moves the serial number on: firmware update on, a plain firmware file
// (no "Config_" in its path) and edit type 1 or 2.
bool bRunAdvancesSN(const INISettings& ini, const std::string& strFWFilePath);

// The Hex and Dec boxes of the main window. The caller passes the box's new state and the
// serial-number field; the result gives both boxes, whether the field is to be emptied and
// the warning to show (empty when none). The settings fields are set here.
struct SNIncreaseBoxes {
  bool bHex = false;
  bool bDec = false;
  bool bClearSNField = false;
  std::string strWarning;
};
SNIncreaseBoxes OnBnClickedStaticDevicedescriptorSnincHex(INISettings& ini, bool bHexTicked,
                                                          const std::string& strSNField);
SNIncreaseBoxes OnBnClickedStaticDevicedescriptorSnincDec(INISettings& ini, bool bDecTicked,
                                                          const std::string& strSNField);

// Data side of the serial-number entry dialog.
class CSNDlgData {
 public:
  CSNDlgData(INISettings& ini, uint8_t ucSNLimit = 20) : m_ini(ini), m_ucLimit(ucSNLimit) {}

  // Opening: the field is emptied; it takes at most nFieldLimit() characters.
  void OnInitDialog();
  // A change of the field. bDevicePresent: at least one device slot holds a found device.
  // Returns the text to write back into the field.
  std::string OnEnChangeEditSNandPStringDlgPCBSN(const std::string& strFieldText, bool bDevicePresent);
  // Enter: true when the scan is accepted (the dialog closes with OK); otherwise the text
  // and the field are emptied.
  bool bOnEnter();

  size_t nFieldLimit() const { return m_ucLimit; }
  const std::string& strField() const { return m_strField; }

  std::string m_strSNandPStringDlgPCBSN;

 private:
  INISettings& m_ini;
  uint8_t m_ucLimit;
  std::string m_strField;
};
