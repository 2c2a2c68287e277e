#include "host/FileIO.h"

#include <unistd.h>

#include <cerrno>

bool bWriteAll(int fd, const void* pData, size_t nLength) {
  const char* p = static_cast<const char*>(pData);
  size_t nDone = 0;
  while (nDone < nLength) {
    ssize_t n = write(fd, p + nDone, nLength - nDone);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    nDone += static_cast<size_t>(n);
  }
  return true;
}
