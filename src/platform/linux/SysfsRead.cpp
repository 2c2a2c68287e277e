#include "platform/linux/SysfsRead.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileDescriptor.h"
#include "platform/Text.h"

namespace sysfs {

int nReadFile(const std::string& strPath, std::string& strOut) {
  strOut.clear();
  CFileDescriptor fd(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.bValid()) return errno;
  char buf[4096];
  int nErr = 0;
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      nErr = errno;
      break;
    }
    if (n == 0) break;
    strOut.append(buf, static_cast<size_t>(n));
    if (strOut.size() > 65536) {
      nErr = EFBIG;
      break;
    }
  }
  if (nErr == EISDIR) nErr = EINVAL;
  return nErr;
}

int nReadText(const std::string& strPath, std::string& strOut) {
  std::string s;
  int nErr = nReadFile(strPath, s);
  strOut.clear();
  if (nErr != 0) return nErr;
  size_t nl = s.find('\n');
  if (nl != std::string::npos) s.resize(nl);
  size_t b = s.find_first_not_of(" \t\r");
  size_t e = s.find_last_not_of(" \t\r");
  if (b == std::string::npos) return EINVAL;
  strOut = s.substr(b, e - b + 1);
  return 0;
}

bool bParseHex(const std::string& s, uint32_t ulMax, uint32_t& ulOut) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    const int d = nHexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  if (v > ulMax) return false;
  ulOut = v;
  return true;
}

bool bParseDec(const std::string& s, uint32_t ulMax, uint32_t& ulOut) {
  if (s.empty() || s.size() > 9) return false;
  uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > ulMax) return false;
  ulOut = v;
  return true;
}

int nReadHex(const std::string& strPath, uint32_t ulMax, uint32_t& ulOut) {
  std::string s;
  int nErr = nReadText(strPath, s);
  if (nErr != 0) return nErr;
  return bParseHex(s, ulMax, ulOut) ? 0 : EINVAL;
}

int nReadDec(const std::string& strPath, uint32_t ulMax, uint32_t& ulOut) {
  std::string s;
  int nErr = nReadText(strPath, s);
  if (nErr != 0) return nErr;
  return bParseDec(s, ulMax, ulOut) ? 0 : EINVAL;
}

int nWriteText(const std::string& strPath, const std::string& strText) {
  // O_TRUNC: sysfs ignores it, and a plain file (a copy of a tree) must not keep old bytes.
  CFileDescriptor fd(::open(strPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!fd.bValid()) return errno;
  ssize_t n;
  do {
    n = ::write(fd.get(), strText.data(), strText.size());
  } while (n < 0 && errno == EINTR);
  const int nErr = n < 0 ? errno : (static_cast<size_t>(n) != strText.size() ? EIO : 0);
  const int nCloseErr = fd.nClose();
  return nErr != 0 ? nErr : nCloseErr;
}

}  // namespace sysfs
