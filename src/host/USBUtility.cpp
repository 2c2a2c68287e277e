#include "host/USBUtility.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/FileIO.h"
#include "log/DebugLog.h"
#include "platform/Clock.h"
#include "platform/FileDescriptor.h"
#include "platform/Text.h"

CUSBUtility::CUSBUtility(IClock& clock, USBUtilityOptions options)
    : m_szAppPath(strResolveAppPath(options.strAppPath)),
      m_clock(clock),
      m_options(std::move(options)),
      m_pView(&m_headlessView),
      m_RunMarker(m_options.strRunMarkerPath.empty() ? CRunMarker::strDefaultPath(m_szAppPath)
                                                     : m_options.strRunMarkerPath) {
  // The log's lock exists before anything else can write an entry.
  vDEBUG_Initial_printf();
  try {
    vInitCRC32Table();
  } catch (...) {
    vDEBUG_MSG_printf("CUSBUtility::CUSBUtility", "dwErrorCode:%d", errno);
  }
}

std::string CUSBUtility::strResolveAppPath(std::string strPath) {
  if (strPath.empty()) {
    const char* pszHome = std::getenv("MPTOOL_HOME");
    if (pszHome && *pszHome) strPath = pszHome;
  }
  if (strPath.empty()) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) strPath = exe.parent_path().string();
  }
  std::error_code ec;
  return strRealFolder(strPath, std::filesystem::current_path(ec).string());
}

std::string CUSBUtility::strRealFolder(const std::string& strPath, const std::string& strBase) {
  namespace fs = std::filesystem;
  if (strPath.empty()) return strPath;
  fs::path p = strPath;
  if (p.is_relative()) {
    if (strBase.empty()) return "";  // no base to resolve against: no folder
    p = fs::path(strBase) / p;
  }
  // One folder has one name: ".", "..", doubled separators and links are resolved.
  std::error_code ec;
  fs::path real = fs::weakly_canonical(p, ec);
  std::string s = (ec ? p.lexically_normal() : real).string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// ---------------------------------------------------------------- operator messages

void CUSBUtility::vSetMessageView(IMessageView* pView) {
  m_pView.store(pView ? pView : &m_headlessView);
}

IMessageView& CUSBUtility::view() const {
  return *m_pView.load();
}

int CUSBUtility::ShowProgramMSG(const std::string& strMsg, uint8_t ucType, uint32_t uFlags, bool bToFile) {
  try {
    if (bToFile) {
      if (CFileDescriptor fd(open("ProgramMSG.txt", O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
          fd.bValid()) {
        std::string strLine = strMsg + "\r\n";
        if (!bWriteAll(fd.get(), strLine.data(), strLine.size()))
          vDEBUG_ERR_printf("CUSBUtility::ShowProgramMSG", "write ProgramMSG.txt failed , dwErrorCode %d",
                            errno);
      } else {
        vDEBUG_ERR_printf("CUSBUtility::ShowProgramMSG", "open ProgramMSG.txt failed , dwErrorCode %d",
                          errno);
      }
      m_clock.bSleepMs(1000);
      return 0;
    }
    MessageCaption cap = stMessageCaption(ucType);
    return view().nMessageBox(strMsg, cap.pszCaption, uFlags | cap.uIconFlag);
  } catch (...) {
    vDEBUG_ERR_printf("CUSBUtility::ShowProgramMSG", "ShowProgramMSG , dwErrorCode %d", errno);
    return 0;
  }
}

int CUSBUtility::ShowMessageBox(const std::string& strMsg, uint32_t uFlags, uint8_t ucType) {
  return ShowProgramMSG(strMsg, ucType, uFlags, false);
}

// ---------------------------------------------------------------- platform facts

bool CUSBUtility::IsWow64() {
  try {
    struct utsname u {};
    if (uname(&u) != 0) return false;
    return bIsWow64For(sizeof(void*), u.machine);
  } catch (...) {
    vDEBUG_ERR_printf("CUSBUtility::IsWow64", " dwErrorCode %d", errno);
    return false;
  }
}

uint8_t CUSBUtility::GetOSVersion() {
  // Linux stands where the newest supported system stood: reported as 6.2 with the
  // registry's major number 10, which the table maps to the "10 or later" code.
  const uint32_t dwCurMajorVer = 10, dwCurBuildNumber = 0;
  vDEBUG_MSG_printf("CUSBUtility::GetOSVersion", " !! dwCurMajorVer=[%d], dwCurBuildNumber=[%d]",
                    dwCurMajorVer, dwCurBuildNumber);
  return ucWindowsVersionCode(VER_PLATFORM_WIN32_NT, 6, 2, dwCurMajorVer, dwCurBuildNumber);
}

// ---------------------------------------------------------------- conversions

uint32_t CUSBUtility::vCharToHex(const std::string& strText) {
  uint32_t dwResult = 0;
  for (char ch : strText) {
    const int nDigit = nHexDigit(ch);
    if (nDigit < 0) {
      // Not a hexadecimal digit: the number ends here.
      vDEBUG_WRN_printf("CUSBUtility::vCharToHex", "vCharToHex: not a hex digit in [%s]", strText.c_str());
      break;
    }
    dwResult = (dwResult << 4) + static_cast<uint32_t>(nDigit);
  }
  return dwResult;
}

std::string CUSBUtility::vGUIDToCString(const GUID& guid) {
  char sz[64];
  std::snprintf(sz, sizeof sz, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return sz;
}

namespace {
bool bParseHex(const std::string& s, size_t pos, size_t n, uint32_t& out) {
  out = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    const int nDigit = nHexDigit(s[i]);
    if (nDigit < 0) return false;
    out = (out << 4) + static_cast<uint32_t>(nDigit);
  }
  return true;
}
}  // namespace

GUID CUSBUtility::vCStringToGUID(const std::string& strText) {
  std::string s = strText;
  if (!s.empty() && s.front() == '{' && s.rfind('}') == s.size() - 1 && s.size() >= 2)
    s = s.substr(1, s.size() - 2);
  // The one form a GUID text has: 8-4-4-4-12 hexadecimal digits.
  GUID g;
  bool bOk = s.size() == 36 && s[8] == '-' && s[13] == '-' && s[18] == '-' && s[23] == '-';
  uint32_t v = 0;
  if (bOk && (bOk = bParseHex(s, 0, 8, v))) g.Data1 = v;
  if (bOk && (bOk = bParseHex(s, 9, 4, v))) g.Data2 = static_cast<uint16_t>(v);
  if (bOk && (bOk = bParseHex(s, 14, 4, v))) g.Data3 = static_cast<uint16_t>(v);
  for (int i = 0; bOk && i < 8; ++i) {
    size_t pos = i < 2 ? 19 + 2 * i : 24 + 2 * (i - 2);
    if ((bOk = bParseHex(s, pos, 2, v))) g.Data4[i] = static_cast<uint8_t>(v);
  }
  if (!bOk) {
    vDEBUG_ERR_printf("CUSBUtility::vCStringToGUID", "vCStringToGUID: UuidFromString Fail , dwErrorCode %d",
                      EINVAL);
    return GUID{};
  }
  return g;
}

std::string CUSBUtility::WideStrToMultiStr(const std::u16string& strWide) {
  // UTF-16 to UTF-8, the narrow character set here. A lone surrogate fails the whole text.
  std::string out;
  for (size_t i = 0; i < strWide.size(); ++i) {
    uint32_t cp = strWide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= strWide.size() || strWide[i + 1] < 0xDC00 || strWide[i + 1] > 0xDFFF) return {};
      cp = 0x10000 + ((cp - 0xD800) << 10) + (strWide[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return {};
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// ---------------------------------------------------------------- checksum

void CUSBUtility::vInitCRC32Table() {
  // Filled once: the image builder calls this before every checksum, possibly while another
  // thread computes one, and rewriting a table that others read is a data race.
  std::call_once(m_crcOnce, [this] {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
      m_dwCRC32Table[i] = c;
    }
  });
}

uint32_t CUSBUtility::dwCalcCRC32(const uint8_t* pData, size_t nLength) const {
  uint32_t dwCRC = 0xFFFFFFFFu;
  for (size_t i = 0; i < nLength; ++i) dwCRC = (dwCRC >> 8) ^ m_dwCRC32Table[(dwCRC ^ pData[i]) & 0xFF];
  return ~dwCRC;
}
