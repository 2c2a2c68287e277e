#include <cstdio>
#include <mutex>

#include "host/IMessageView.h"

int nSafeAnswer(uint32_t uFlags) {
  switch (uFlags & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
      return IDCANCEL;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

int CHeadlessMessageView::nMessageBox(const std::string& strText, const std::string&, uint32_t uFlags) {
  // Scripts read standard output: one message, whole, then a line break.
  static std::mutex s_mutex;
  std::lock_guard<std::mutex> lock(s_mutex);
  std::fwrite(strText.data(), 1, strText.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  return nSafeAnswer(uFlags);
}
