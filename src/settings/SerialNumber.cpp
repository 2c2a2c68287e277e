#include "settings/SerialNumber.h"

#include <cerrno>
#include <cstdio>

#include "log/DebugLog.h"
#include "platform/Text.h"

namespace {

bool bIsDec(char c) {
  return c >= '0' && c <= '9';
}
bool bIsHexUpper(char c) {
  return bIsDec(c) || (c >= 'A' && c <= 'F');
}

char cDigit(int v) {
  return static_cast<char>(static_cast<unsigned char>(v < 10 ? v + '0' : v + 55));
}

}  // namespace

std::string vAddLimitSN(const std::string& strSerialNumber, uint8_t ucCount, uint8_t ucHex) {
  static const char* kLabel = "CUSBUtility::vAddLimitSN";
  try {
    std::string strUp = strUpper(strSerialNumber);
    std::string strRet = strUp;
    bool bDigitsOk = true;
    for (char c : strUp)
      if (ucHex != 0 ? !bIsHexUpper(c) : !bIsDec(c)) bDigitsOk = false;
    if ((ucHex == 0 && !bDigitsOk) || strUp.empty()) {
      vDEBUG_MSG_printf(kLabel, "vAddLimitSN: ucSerialNumberLen[%d] <= 0,  bHexCheck_Result = %d",
                        static_cast<int>(strUp.size()), bDigitsOk ? 1 : 0);
      return strUp;
    }

    // Digit by digit from the last, the count added to the last character in one step.
    int nCarry = 0;
    for (size_t n = strUp.size(); n-- > 0;) {
      char c = strUp[n];
      int v = bIsDec(c) ? c - '0' : static_cast<unsigned char>(c) - 55;
      if (n == strUp.size() - 1) v += ucCount;
      v += nCarry;
      if (ucHex != 0) {
        if (v < 16) {
          strRet[n] = cDigit(v);
          nCarry = 0;
        } else {
          strRet[n] = cDigit(v - 16);
          nCarry = 1;
        }
      } else {
        if (v < 10) {
          strRet[n] = cDigit(v);
          nCarry = 0;
        } else {
          v -= 10;
          if (v >= 0 && v <= 9) strRet[n] = cDigit(v);
          nCarry = 1;
        }
      }
    }
    if (nCarry != 0)
      vDEBUG_MSG_printf(kLabel, "vAddLimitSN: strSerialNumber[%s] , ucCount[%d] , ", strSerialNumber.c_str(),
                        ucCount);

    bool bInvalid = false;
    for (char c : strUp) {
      if (bIsHexUpper(c)) continue;
      bInvalid = true;
      vDEBUG_ERR_printf(
          kLabel, "vAddLimitSN: Not Invalid strRetSerialNumber[%s] , strSerialNumber[%s] , ucCount[%d] , ",
          strRet.c_str(), strSerialNumber.c_str(), ucCount);
    }
    if (bInvalid) {
      // Count on the last seven characters read as a hexadecimal number. The sum keeps the
      // width of the characters it replaces, so the serial number keeps its length.
      size_t nTail = strUp.size() > 7 ? 7 : strUp.size();
      std::string strHead = strUp.substr(0, strUp.size() - nTail);
      std::string strTailText = strUp.substr(strUp.size() - nTail);
      unsigned long ulValue = 0;
      for (char c : strTailText) {
        const int nDigit = nHexDigit(c);
        if (nDigit < 0) break;
        ulValue = ulValue * 16 + static_cast<unsigned long>(nDigit);
      }
      ulValue += ucCount;
      char sz[32];
      std::snprintf(sz, sizeof(sz), "%0*lX", static_cast<int>(nTail), ulValue);
      strRet = strHead + sz;
    }
    return strRet;
  } catch (...) {
    vDEBUG_MSG_printf(kLabel, "vAddLimitSN: strSerialNumber[%s] , ucCount[%d] , dwErrorCode %d",
                      strSerialNumber.c_str(), ucCount, errno);
    return strSerialNumber;
  }
}

bool bIsValidSNDigits(const std::string& strSN, uint8_t ucSN_EditType) {
  const char* pszAllowed = nullptr;
  if (ucSN_EditType == SN_EDIT_HEX) pszAllowed = "0123456789ABCDEF";
  if (ucSN_EditType == SN_EDIT_DEC) pszAllowed = "0123456789";
  if (pszAllowed == nullptr) return true;
  size_t nRun = strSN.find_first_not_of(pszAllowed);
  return nRun == std::string::npos;
}

std::string strSNPrefix(const INISettings& ini, const std::string& strSN) {
  if (ini.uiSN_remain_value_enable == 0 || ini.uiSN_remain_value_length <= 0) return {};
  return strSN.substr(0, static_cast<size_t>(ini.uiSN_remain_value_length));
}

std::string strSNWithoutPrefix(const INISettings& ini, const std::string& strSN) {
  return strSN.substr(strSNPrefix(ini, strSN).size());
}

std::string strPadSNLeft(const std::string& strSN, size_t nWidth) {
  if (strSN.size() >= nWidth) return strSN;
  return std::string(nWidth - strSN.size(), '0') + strSN;
}

std::string strPadSNAfterPrefix(const INISettings& ini, const std::string& strSN, size_t nWidth) {
  const std::string strPrefix = strSNPrefix(ini, strSN);
  if (strSN.size() >= nWidth) return strSN;
  return strPrefix + strPadSNLeft(strSN.substr(strPrefix.size()), nWidth - strPrefix.size());
}

std::string strCheckSNFixLength(const INISettings& ini, const std::string& strSN) {
  if (ini.uiSN_fix_length > 0 && ini.ucSN_EditType != SN_EDIT_HDDSN &&
      strSN.size() != static_cast<size_t>(ini.uiSN_fix_length)) {
    char sz[64];
    std::snprintf(sz, sizeof(sz), "input SN should have %d digits", ini.uiSN_fix_length);
    return sz;
  }
  return {};
}

std::string strCheckSNDigits(const INISettings& ini, const std::string& strSN) {
  if (ini.ucSN_EditType == SN_EDIT_BARCODE || ini.ucSN_EditType == SN_EDIT_HDDSN) return {};
  std::string strChecked = strSNWithoutPrefix(ini, strSN);
  // The digit test of the edit type: a user-defined serial number (type 0) always passes.
  if (bIsValidSNDigits(strChecked, ini.ucSN_EditType)) return {};
  return "SN digits [" + strChecked + "] should be all " +
         (ini.ucSN_EditType == SN_EDIT_HEX ? "heximal" : "decimal");
}

SNStartLength stCheckStartSNLength(const INISettings& ini, const std::string& strScreenSN,
                                   const std::string& strCmdLineSN) {
  SNStartLength r;
  if (ini.ucSN_EditType == SN_EDIT_HDDSN) {
    size_t nTested;
    if (!strCmdLineSN.empty()) {
      nTested = strCmdLineSN.size();
      r.strSN = strPadSNLeft(strCmdLineSN, 12);
    } else {
      r.strSN = strScreenSN;
      if (ini.uiSN_Numbers != 0 && !strScreenSN.empty() && strScreenSN.size() < 12) {
        r.strSN = strPadSNLeft(strScreenSN, 12);
        r.bScreenChanged = true;
      }
      nTested = r.strSN.size();
    }
    if (ini.uiSN_Numbers != 0) {
      if (nTested > 0 && nTested < static_cast<size_t>(ini.uiSN_Numbers)) {
        char sz[80];
        std::snprintf(sz, sizeof(sz), "Serial Number Invalid, at least %d digits\r\n", ini.uiSN_Numbers);
        r.strError = sz;
      }
    } else if (nTested > 0 && nTested < 8) {
      r.strError = std::string("Serial Number Invalid, at least 12 digits") + "\r\n";
    }
    return r;
  }
  r.strSN = strScreenSN;
  if (!strScreenSN.empty() && strScreenSN.size() < 8) {
    r.strSN = strPadSNAfterPrefix(ini, strScreenSN, 8);
    r.bScreenChanged = true;
  }
  if ((ini.ucSN_EditType == SN_EDIT_HEX || ini.ucSN_EditType == SN_EDIT_DEC) && !r.strSN.empty() &&
      strSNWithoutPrefix(ini, r.strSN).empty()) {
    char sz[96];
    std::snprintf(sz, sizeof(sz), "SN [%s] has no digits to count after its fixed prefix of %d characters",
                  r.strSN.c_str(), ini.uiSN_remain_value_length);
    r.strError = sz;
  }
  return r;
}

std::string strSerialNumberAfter(const INISettings& ini, const std::string& strSN, uint8_t ucCount) {
  if (ini.ucSN_EditType != SN_EDIT_HEX && ini.ucSN_EditType != SN_EDIT_DEC) return strSN;
  const std::string strPrefix = strSNPrefix(ini, strSN);
  return strPrefix +
         vAddLimitSN(strSN.substr(strPrefix.size()), ucCount, ini.ucSN_EditType == SN_EDIT_HEX ? 1 : 0);
}

bool bRunAdvancesSN(const INISettings& ini, const std::string& strFWFilePath) {
  return strFWFilePath.find("Config_") == std::string::npos && ini.ucFw_enablel == 1 &&
         (ini.ucSN_EditType == SN_EDIT_HEX || ini.ucSN_EditType == SN_EDIT_DEC);
}

namespace {

// Shared by the two boxes: bFirst is the clicked box (Hex or Dec).
SNIncreaseBoxes stClickSNBox(INISettings& ini, bool bTicked, const std::string& strSNField, bool bHexBox) {
  int32_t& nThis = bHexBox ? ini.ucSerial_number_increase_Hex : ini.ucSerial_number_increase_Dec;
  int32_t& nOther = bHexBox ? ini.ucSerial_number_increase_Dec : ini.ucSerial_number_increase_Hex;
  SNIncreaseBoxes r;
  nThis = bTicked ? 1 : 0;
  nOther = bTicked ? 0 : 1;
  std::string strChecked = strSNWithoutPrefix(ini, strSNField);
  if (bTicked && !bIsValidSNDigits(strChecked, ini.ucSN_EditType)) {
    r.bClearSNField = true;
    nThis = 0;
    nOther = 1;
    r.strWarning = bHexBox ? "SN digits should be all heximal" : "SN digits should be all decimal";
  }
  r.bHex = (bHexBox ? nThis : nOther) != 0;
  r.bDec = (bHexBox ? nOther : nThis) != 0;
  return r;
}

}  // namespace

SNIncreaseBoxes OnBnClickedStaticDevicedescriptorSnincHex(INISettings& ini, bool bHexTicked,
                                                          const std::string& strSNField) {
  try {
    return stClickSNBox(ini, bHexTicked, strSNField, true);
  } catch (...) {
    vDEBUG_ERR_printf(
        "CMPToolDlg::OnBnClickedStaticDevicedescriptorSnincHex",
        "OnBnClickedStaticDevicedescriptorSnincHex: ucSerial_number_increase_Hex : %d , dwErrorCode "
        "%d",
        ini.ucSerial_number_increase_Hex, errno);
    return {ini.ucSerial_number_increase_Hex != 0, ini.ucSerial_number_increase_Dec != 0, false, {}};
  }
}

SNIncreaseBoxes OnBnClickedStaticDevicedescriptorSnincDec(INISettings& ini, bool bDecTicked,
                                                          const std::string& strSNField) {
  try {
    return stClickSNBox(ini, bDecTicked, strSNField, false);
  } catch (...) {
    vDEBUG_ERR_printf(
        "CMPToolDlg::OnBnClickedStaticDevicedescriptorSnincDec",
        "OnBnClickedStaticDevicedescriptorSnincDec: ucSerial_number_increase_Dec : %d , dwErrorCode "
        "%d",
        ini.ucSerial_number_increase_Dec, errno);
    return {ini.ucSerial_number_increase_Hex != 0, ini.ucSerial_number_increase_Dec != 0, false, {}};
  }
}

void CSNDlgData::OnInitDialog() {
  m_strField.clear();
}

std::string CSNDlgData::OnEnChangeEditSNandPStringDlgPCBSN(const std::string& strFieldText,
                                                           bool bDevicePresent) {
  try {
    if (!bDevicePresent) {
      m_strField.clear();
      m_strSNandPStringDlgPCBSN.clear();
      m_ini.ucSerial_number.clear();
      return m_strField;
    }
    std::string strText = strFieldText.substr(0, m_ucLimit);
    if (m_ini.ucCheck_SerialNumber != 0) {
      std::string strKept;
      for (char c : strText)
        if (nHexDigit(c) >= 0) strKept += c;
      strText = strKept;
    }
    m_strSNandPStringDlgPCBSN = strText;
    m_strField = strText;
    m_ini.ucSerial_number = strText;
  } catch (...) {
    vDEBUG_MSG_printf("CSNDlg::OnEnChangeEditSNandPStringDlgPCBSN",
                      "OnEnChangeEditSNandPStringDlgPCBSN: m_strSNandPStringDlgPCBSN : %s , dwErrorCode %d",
                      m_strSNandPStringDlgPCBSN.c_str(), errno);
  }
  return m_strField;
}

bool CSNDlgData::bOnEnter() {
  std::string strText = strUpper(m_strField);
  bool bAccept = m_ini.uiSN_Numbers != 0 ? strText.size() == static_cast<size_t>(m_ini.uiSN_Numbers)
                                         : strText.size() >= 12;
  if (bAccept) {
    m_strSNandPStringDlgPCBSN = strText;
    m_strField = strText;
    return true;
  }
  m_strSNandPStringDlgPCBSN.clear();
  m_strField.clear();
  return false;
}
