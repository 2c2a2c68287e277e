#include "settings/Ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>

#include "host/FileIO.h"
#include "log/DebugLog.h"
#include "platform/Text.h"
#include "settings/IniKeys.h"
#include "settings/SerialNumber.h"

namespace {

bool bIsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string strTrim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && bIsBlank(s[b])) ++b;
  while (e > b && bIsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool bEqualsNoCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The text as a fixed-size record field would hold it: up to the first zero byte.
size_t nTextLen(const std::string& s) {
  size_t n = s.find('\0');
  return n == std::string::npos ? s.size() : n;
}

std::string strCText(const std::string& s) {
  return s.substr(0, nTextLen(s));
}

// Checks that the settings path names a readable and writable regular file. A folder is
// refused here: reading it would look like an empty, valid file.
bool bCheckINIPath(const std::string& strPath, int& nErr) {
  nErr = 0;
  if (strPath.empty() || access(strPath.c_str(), F_OK) != 0) {
    nErr = errno ? errno : ENOENT;
    vDEBUG_MSG_printf("Ini::vLoadINIFile",
                      "vCheckFilePathExists: Not Exist , strFilePath : %s , err : %d , dwErrorCode %d",
                      strPath.c_str(), nErr, nErr);
    return false;
  }
  struct stat st {};
  if (access(strPath.c_str(), R_OK | W_OK) != 0 || stat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    nErr = errno ? errno : EISDIR;
    if (S_ISDIR(st.st_mode)) nErr = EISDIR;
    vDEBUG_MSG_printf("Ini::vLoadINIFile",
                      "vCheckFilePathExists: Not Read/Write , strFilePath : %s , err : %d , dwErrorCode %d",
                      strPath.c_str(), nErr, nErr);
    return false;
  }
  return true;
}

}  // namespace

// Decimal integer as the C library's atoi reads it (blanks, sign, digits up to the first
// other character, 0 when none), saturated to the 32-bit range instead of overflowing.
int32_t nParseIniInt(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && bIsBlank(s[i])) ++i;
  bool bNeg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) bNeg = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (bNeg) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<int32_t>(v);
}

Ini::Ini(IniMessageFn fnMessage) : m_fnMessage(std::move(fnMessage)) {
  m_fnLocalTime = [] {
    std::time_t t = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&t, &tmNow);
    return tmNow;
  };
}

void Ini::vShowMessage(const std::string& strText, int nType) const {
  if (m_fnMessage) m_fnMessage(strText, nType);
}

void Ini::vSetConfigLengthLimits() {
  m_ConfigLimits.m_ucConfig_VID_Len = 4;
  m_ConfigLimits.m_ucConfig_PID_Len = 4;
  m_ConfigLimits.m_ucConfig_Rev_Len = 4;
  m_ConfigLimits.m_ucConfig_SN_Len = 20;
  m_ConfigLimits.m_ucConfig_Manufacturer_Len = 44;
  m_ConfigLimits.m_ucConfig_Product_Len = 48;
}

uint8_t Ini::vCheckINIType() {
  static const char* kLabel = "Ini::vCheckINIType";
  uint8_t ucResult = INI_CHECK_OK;
  try {
    INISettings& r = m_pINI;
    size_t ucINI_SN_Len = nTextLen(r.ucSerial_number);
    size_t ucINI_Manufacturer_Len = nTextLen(r.ucManufacturer_string);
    size_t ucINI_Product_Len = nTextLen(r.ucProduct_string);
    size_t ucINI_DiskLabel_len = nTextLen(r.ucDrive_label_name);

    m_ConfigLimits.m_ucDevice_DiskLabel_Len = r.ucFormat_drive_type != 0 ? 11 : 32;
    vSetConfigLengthLimits();
    const ConfigLengthLimits& l = m_ConfigLimits;
    // The first refusal of a key keeps what the file held.
    auto vRemember = [this](const char* pszKey, const std::string& strValue, const char* pszMessage) {
      for (const IniRefusedField& f : m_vecRefused)
        if (f.strKey == pszKey) return;
      m_vecRefused.push_back({pszKey, strValue, pszMessage});
    };

    if (ucINI_SN_Len > l.m_ucConfig_SN_Len) {
      std::string strINISN = strCText(r.ucSerial_number);
      vRemember("serial_number", strINISN, "Invalid SN Size");
      r.ucSerial_number.clear();
      ucResult = INI_CHECK_TOO_LONG;
      vDEBUG_MSG_printf(
          kLabel,
          "vCheckINIType: SN Size not accure, this->m_pINI.ucConfig_format : %x , m_ucConfig_SN_Len : "
          "%d , ucINI_SN_Len : %d , strINISN : %s ,  dwErrorCode %d",
          r.ucConfig_format, l.m_ucConfig_SN_Len, static_cast<int>(ucINI_SN_Len), strINISN.c_str(), 0);
      vShowMessage("Invalid SN Size", INI_MSG_WARNING);
    } else if (r.ucCheck_SerialNumber != 0) {
      for (size_t i = 0; i < ucINI_SN_Len; ++i) {
        char c = r.ucSerial_number[i];
        if (nHexDigit(c) >= 0) continue;
        ucResult = INI_CHECK_SN_NOT_HEX;
        vDEBUG_MSG_printf(
            kLabel,
            "vCheckINIType: SN Invalid , this->m_pINI.ucConfig_format : %x , m_ucConfig_SN_Len : %d , "
            "ucINI_SN_Len : %d , strINISN : %s ,  dwErrorCode %d",
            r.ucConfig_format, l.m_ucConfig_SN_Len, static_cast<int>(ucINI_SN_Len),
            strCText(r.ucSerial_number).c_str(), 0);
        vShowMessage("Invalid SN String", INI_MSG_WARNING);
        vRemember("serial_number", strCText(r.ucSerial_number), "Invalid SN String");
        r.ucSerial_number.clear();
        break;
      }
    }
    if (ucINI_Manufacturer_Len > l.m_ucConfig_Manufacturer_Len) {
      std::string strINIManufacturer = strCText(r.ucManufacturer_string);
      vRemember("manufacturer_string", strINIManufacturer, "Invalid Manufacturer Size");
      r.ucManufacturer_string.clear();
      ucResult = INI_CHECK_TOO_LONG;
      vDEBUG_MSG_printf(
          kLabel,
          "vCheckINIType: SN Size not accure, this->m_pINI.ucConfig_format : %x , "
          "m_ucConfig_Manufacturer_Len : %d , ucINI_Manufacturer_Len : %d , strINIManufacturer : %s ,  "
          "dwErrorCode %d",
          r.ucConfig_format, l.m_ucConfig_Manufacturer_Len, static_cast<int>(ucINI_Manufacturer_Len),
          strINIManufacturer.c_str(), 0);
      vShowMessage("Invalid Manufacturer Size", INI_MSG_WARNING);
    }
    if (ucINI_Product_Len > l.m_ucConfig_Product_Len) {
      std::string strINIProduct = strCText(r.ucProduct_string);
      vRemember("product_string", strINIProduct, "Invalid Product Size");
      r.ucProduct_string.clear();
      ucResult = INI_CHECK_TOO_LONG;
      vDEBUG_MSG_printf(
          kLabel,
          "vCheckINIType: SN Size not accure, this->m_pINI.ucConfig_format : %x , "
          "m_ucConfig_Product_Len : %d , ucINI_Product_Len : %d , strINIProduct : %s ,  dwErrorCode %d",
          r.ucConfig_format, l.m_ucConfig_Product_Len, static_cast<int>(ucINI_Product_Len),
          strINIProduct.c_str(), 0);
      vShowMessage("Invalid Product Size", INI_MSG_WARNING);
    }
    if (ucINI_DiskLabel_len > l.m_ucDevice_DiskLabel_Len) {
      vRemember("drive_label_name", strCText(r.ucDrive_label_name), "Invalid DiskLabel Size");
      r.ucDrive_label_name.clear();
      ucResult = INI_CHECK_LABEL_TOO_LONG;
      vDEBUG_MSG_printf(kLabel,
                        "vCheckINIType: DiskLabel Size not accure, ucINI_DiskLabel_len=%d , "
                        "m_ucDevice_DiskLabel_Len= %d, dwErrorCode %d",
                        static_cast<int>(ucINI_DiskLabel_len), l.m_ucDevice_DiskLabel_Len, 0);
      vShowMessage("Invalid DiskLabel Size", INI_MSG_WARNING);
    }
  } catch (...) {
    vDEBUG_MSG_printf(kLabel, "vCheckINIType: this->m_pINI.ucConfig_format : %x , dwErrorCode %d",
                      m_pINI.ucConfig_format, errno);
    vShowMessage("Unknown Error", INI_MSG_WARNING);
    return INI_CHECK_UNEXPECTED;
  }
  return ucResult;
}

bool Ini::vLoadINIFile(const std::string& strINIFilePath) {
  static const char* kLabel = "Ini::vLoadINIFile";
  m_strLoadProblem.clear();
  int nErr = 0;
  if (!bCheckINIPath(strINIFilePath, nErr)) {
    m_pINI = INISettings{};
    m_vecRefused.clear();
    m_strLoadProblem = strINIFilePath + " File/Path Not Read/Write";
    vShowMessage(m_strLoadProblem, INI_MSG_WARNING);
    vDEBUG_MSG_printf(kLabel, "vLoadINIFile: strINIFilePath : %s , dwErrorCode %d", strINIFilePath.c_str(),
                      nErr);
    return false;
  }
  // Refusals of the file as a whole leave the record as it was.
  auto bRefuseFile = [&](const std::string& strText, int nCode) {
    m_strLoadProblem = strText;
    vShowMessage(strText, INI_MSG_WARNING);
    vDEBUG_MSG_printf(kLabel, "vLoadINIFile: strINIFilePath : %s , dwErrorCode %d", strINIFilePath.c_str(),
                      nCode);
    return false;
  };
  // A file that cannot be read leaves an empty record; nErrNow: errno of the failed step.
  auto bFailRead = [&](int nErrNow) {
    m_pINI = INISettings{};
    m_vecRefused.clear();
    m_strLoadProblem = strINIFilePath + " File/Path Not Read/Write";
    vDEBUG_MSG_printf(kLabel, "vLoadINIFile: strINIFilePath : %s , dwErrorCode %d", strINIFilePath.c_str(),
                      nErrNow);
    return false;
  };
  try {
    std::ifstream in(strINIFilePath, std::ios::binary);
    if (!in) return bFailRead(errno);
    // One byte more than allowed tells an oversized file without reading it whole.
    std::string strContent(INI_FILE_MAX_SIZE + 1, '\0');
    in.read(strContent.data(), static_cast<std::streamsize>(strContent.size()));
    if (in.bad()) return bFailRead(errno);
    strContent.resize(static_cast<size_t>(in.gcount()));
    if (strContent.size() > INI_FILE_MAX_SIZE)
      return bRefuseFile(strINIFilePath + " is larger than " + std::to_string(INI_FILE_MAX_SIZE) +
                             " bytes: not a settings file, nothing loaded",
                         EFBIG);
    const INISettings before = m_pINI;
    const std::vector<IniRefusedField> refusedBefore = m_vecRefused;
    m_pINI = INISettings{};
    m_vecRefused.clear();
    long long nSettings = 0;
    const bool bLoaded = bLoadLines(strINIFilePath, strContent, nSettings);
    if (nSettings == 0 && m_pINI.uiVersion == 0) {
      m_pINI = before;
      m_vecRefused = refusedBefore;
      return bRefuseFile(
          strINIFilePath +
              " holds no setting (empty, or not a single-byte text settings file): nothing loaded",
          0);
    }
    return bLoaded;
  } catch (...) {
    return bFailRead(errno);
  }
}

bool Ini::bLoadLines(const std::string& strINIFilePath, const std::string& strContent, long long& nSettings) {
  static const char* kLabel = "Ini::vLoadINIFile";
  // Counted lines number the invalid-line messages; a plain int cannot wrap on any file
  // that fits in memory line by line.
  long long nTotalINICountLine = 0;
  std::string strPending;
  size_t nPos = 0;
  while (nPos < strContent.size()) {
    size_t nEnd = strContent.find('\n', nPos);
    if (nEnd == std::string::npos) nEnd = strContent.size();
    std::string strLine = strContent.substr(nPos, nEnd - nPos);
    nPos = nEnd + 1;
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    if (strLine.empty()) continue;

    std::string strItemName, strRest;
    size_t nEq = strLine.find('=');
    if (nEq == std::string::npos) {
      strItemName = strLine;
    } else {
      strItemName = strLine.substr(0, nEq);
      strRest = strLine.substr(nEq + 1);
    }
    size_t nComment = strRest.find("//");
    std::string strItemValue = strRest.substr(0, nComment);
    if (strItemValue.empty()) strItemValue = strRest;
    strItemName = strTrim(strItemName);
    strItemValue = strTrim(strItemValue);

    if (bEqualsNoCase(strItemName, "[ini_version]") || bEqualsNoCase(strItemName, "[usb_func]")) continue;
    if (bEqualsNoCase(strItemName, "version")) {
      m_pINI.uiVersion = nParseIniInt(strItemValue);
      if (m_pINI.uiVersion != INI_FILE_VERSION) {
        char szMsg[128];
        std::snprintf(szMsg, sizeof(szMsg),
                      "Loaded INI file Versoin[%d] is not suit for current version of MPTool",
                      m_pINI.uiVersion);
        vShowMessage(szMsg, INI_MSG_WARNING);
        return false;
      }
      ++nTotalINICountLine;
      continue;
    }
    bool bHeader = false;
    for (const char* h : kIniCountedHeaders)
      if (bEqualsNoCase(strItemName, h)) bHeader = true;
    if (bHeader) {
      ++nTotalINICountLine;
      continue;
    }

    const IniKeyDef* pKey = nullptr;
    for (const IniKeyDef& k : kIniKeys)
      if (bEqualsNoCase(strItemName, k.pszKey)) pKey = &k;
    if (pKey == nullptr) {
      strPending += std::to_string(nTotalINICountLine) + " " +
                    "Line of Configuration String in INI file is invalid !" + "\r\n";
      vDEBUG_MSG_printf(kLabel, "INI file Setting, strItemName=%s, strItemValue=%s", strItemName.c_str(),
                        strItemValue.c_str());
      ++nTotalINICountLine;
      continue;
    }
    ++nTotalINICountLine;
    ++nSettings;

    if (pKey->pText != nullptr) {
      std::string& strField = m_pINI.*(pKey->pText);
      // A repeated key replaces the earlier value entirely.
      strField.clear();
      size_t nZero = strItemValue.find('\0');
      if (nZero != std::string::npos) {
        vDEBUG_WRN_printf(kLabel, "vLoadINIFile: %s value holds a zero byte at %d, kept up to it",
                          pKey->pszKey, static_cast<int>(nZero));
        strItemValue.resize(nZero);
      }
      if (strItemValue.size() > INI_TEXT_MAX) {
        vDEBUG_WRN_printf(kLabel, "vLoadINIFile: %s value of %d characters cut to %d", pKey->pszKey,
                          static_cast<int>(strItemValue.size()), static_cast<int>(INI_TEXT_MAX));
        strItemValue.resize(INI_TEXT_MAX);
      }
      strField = strItemValue;
      continue;
    }

    int32_t nValue = nParseIniInt(strItemValue);
    switch (pKey->eRule) {
      case IniKeyRule::RemainLength:
        if (nValue > 20 || nValue < 0) nValue = 20;
        break;
      case IniKeyRule::RemainEnable:
        if (nValue != 0 && nValue != 1) nValue = 0;
        break;
      case IniKeyRule::FixLength:
        if (nValue != 0 && (nValue < 12 || nValue > 20)) nValue = 0;
        break;
      case IniKeyRule::Ignored:
        nValue = 0;
        break;
      default:
        break;
    }
    if (pKey->pByte != nullptr) m_pINI.*(pKey->pByte) = static_cast<uint8_t>(nValue & 0xFF);
    if (pKey->pInt != nullptr) m_pINI.*(pKey->pInt) = nValue;
    if (pKey->eRule == IniKeyRule::AutoInstall && m_fnSetAutoInstallFilterDriver)
      m_fnSetAutoInstallFilterDriver(m_pINI.ucAuto_install_filter_driver_enable);
  }
  // Without any setting the file is no settings file; the caller says so instead of listing
  // every line of it as invalid.
  if (nSettings == 0 && m_pINI.uiVersion == 0) return false;
  if (!strPending.empty()) vShowMessage(strPending, INI_MSG_WARNING);
  vDEBUG_MSG_printf(kLabel, "vLoadINIFile: strINIFilePath : %s ucTotalINICountLine : %lld , dwErrorCode %d",
                    strINIFilePath.c_str(), nTotalINICountLine, 0);
  return vCheckINIType() == INI_CHECK_OK;
}

std::string Ini::strBuildINIText() const {
  std::string s;
  char szNum[32];
  for (const IniStoreLine& line : kIniStoreOrder) {
    if (line.eKind == IniStoreKind::Header) {
      s += line.pszText;
      s += "\r\n";
    } else if (line.eKind == IniStoreKind::Empty) {
      s += "\r\n";
    } else if (line.eKind == IniStoreKind::VersionConst) {
      std::snprintf(szNum, sizeof(szNum), "%d", INI_FILE_VERSION);
      s += std::string(line.pszText) + "=" + szNum + "\r\n";
    } else {
      const IniKeyDef* pKey = pFindIniKey(line.pszText);
      if (pKey == nullptr) continue;  // every stored key is in the table
      s += pKey->pszKey;
      s += "=";
      if (pKey->pText != nullptr) {
        std::string strValue = strCText(m_pINI.*(pKey->pText));
        for (const IniRefusedField& f : m_vecRefused)
          if (strValue.empty() && f.strKey == pKey->pszKey) strValue = f.strValue;
        s += strValue;
      } else {
        int nValue = pKey->pByte != nullptr ? static_cast<int>(m_pINI.*(pKey->pByte))
                                            : static_cast<int>(m_pINI.*(pKey->pInt));
        std::snprintf(szNum, sizeof(szNum), "%d", nValue);
        s += szNum;
      }
      s += "\r\n";
    }
  }
  return s;
}

bool Ini::vStoreINIFile(const std::string& strINIFilePath) {
  static const char* kLabel = "Ini::vStoreINIFile";
  // Only a load's refusals are kept: a value refused here was never in the file.
  const size_t nRefusedAtLoad = m_vecRefused.size();
  const uint8_t ucCheck = vCheckINIType();
  m_vecRefused.resize(nRefusedAtLoad);
  if (ucCheck != INI_CHECK_OK) {
    m_nLastFileError = EINVAL;
    vDEBUG_MSG_printf(kLabel,
                      "vStoreINIFile: Check INI Type Not Valid , strINIFilePath : %s , dwErrorCode %d",
                      strINIFilePath.c_str(), 0);
    return false;
  }
  try {
    const std::string strText = strBuildINIText();
    int nErr = 0;
    const EFileReplace e = eReplaceFile(strINIFilePath, strText, nErr, m_storeFaults);
    m_nLastFileError = e == EFileReplace::Failed ? (nErr ? nErr : EIO) : 0;
    if (e != EFileReplace::Failed) return true;
    vDEBUG_MSG_printf(kLabel, "vStoreINIFile: strINIFilePath : %s , dwErrorCode %d", strINIFilePath.c_str(),
                      m_nLastFileError);
    return false;
  } catch (...) {
    m_nLastFileError = errno ? errno : EIO;
    vDEBUG_MSG_printf(kLabel, "vStoreINIFile: strINIFilePath : %s , dwErrorCode %d", strINIFilePath.c_str(),
                      m_nLastFileError);
    return false;
  }
}

std::string strWindowlessRunRefusal(const Ini& ini, const std::string& strCmdLineSN) {
  const INISettings& r = ini.m_pINI;
  if (r.ucSN_EditType == SN_EDIT_BARCODE)
    return "Start refused: SN_EditType 3 (From Barcode) takes each serial number from the barcode dialog, "
           "which needs the window";
  // A configuration ROM file brings its own table; config_format other than 1 writes none.
  const bool bWritesTable = r.ucFw_enablel == 1 && r.ucConfig_format == 1 &&
                            r.ucFw_binary_name.find("Config_") == std::string::npos;
  if (!bWritesTable) return {};
  std::string strFields;
  for (const IniRefusedField& f : ini.vecRefusedAtLoad()) {
    if (f.strKey == "drive_label_name") continue;  // not part of the table
    if (f.strKey == "serial_number" && !strCmdLineSN.empty()) continue;
    strFields += (strFields.empty() ? "" : ", ") + f.strKey + " (" + f.strMessage + ")";
  }
  if (strFields.empty()) return {};
  return "Start refused: " + strFields +
         " refused in the settings file; the run would write it empty into every hub";
}
