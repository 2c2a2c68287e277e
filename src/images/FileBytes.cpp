#include "images/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "host/FileIO.h"
#include "platform/FileDescriptor.h"

FileBytes stReadFileBytes(const std::string& strPath, uint64_t ullMaxRead) {
  FileBytes r;
  // Non-blocking open: a FIFO named like a firmware file must not hang the window thread.
  CFileDescriptor fd(open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.bValid()) {
    r.nErrno = errno;
    return r;
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) {
    r.nErrno = errno;
    return r;
  }
  if (!S_ISREG(st.st_mode)) {
    r.eStatus = EFileRead::NotRegular;
    r.nErrno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return r;
  }
  r.ullSize = static_cast<uint64_t>(st.st_size);
  const uint64_t ullWant = std::min(r.ullSize, ullMaxRead);
  r.data.resize(static_cast<size_t>(ullWant));
  size_t nDone = 0;
  while (nDone < r.data.size()) {
    ssize_t n = read(fd.get(), r.data.data() + nDone, r.data.size() - nDone);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.nErrno = n < 0 ? errno : 0;
      break;
    }
    nDone += static_cast<size_t>(n);
  }
  if (nDone < r.data.size()) {
    r.data.resize(nDone);
    r.eStatus = EFileRead::ReadShort;
    return r;
  }
  r.eStatus = EFileRead::Ok;
  return r;
}

bool bWriteFileBytes(const std::string& strPath, const uint8_t* pData, size_t nLength) {
  CFileDescriptor fd(open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.bValid()) return false;
  if (!bWriteAll(fd.get(), pData, nLength)) return false;
  return fd.nClose() == 0;
}
