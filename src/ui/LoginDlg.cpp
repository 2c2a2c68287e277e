#include "ui/LoginDlg.h"

#include <cctype>
#include <cerrno>

#include "log/DebugLog.h"

namespace {
constexpr const char* RD_PASSWORD = "QUILLON";

bool bEqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string strTrim(const std::string& s) {
  const char* kBlanks = " \t\r\n";
  size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}
}  // namespace

void CLoginDlg::OnBnClickedOk(const std::string& strEdit) {
  try {
    m_LoginDialogPassword = strTrim(strEdit);
    if (!m_LoginDialogPassword.empty() && bEqualIgnoringCase(m_LoginDialogPassword, RD_PASSWORD)) {
      m_bRDMode = true;
      return;
    }
  } catch (...) {
  }
  vDEBUG_ERR_printf("CLoginDlg::OnBnClickedOk",
                    "Loing Password Fail , m_LoginDialogPassword : %s , m_bRDMode : %d , dwErrorCode : %d ",
                    m_LoginDialogPassword.c_str(), m_bRDMode ? 1 : 0, errno);
}
