// An owned file descriptor: closed when its owner goes, so an early return never leaks one
// and no failure path needs a close of its own. Move-only.
//
// The automatic close keeps errno as it was, so a caller still reads the errno of the call
// that failed. Where the data is only safe once the descriptor is closed (a writer: some
// file systems report a failed write at close), nClose() closes at once and tells how it
// went.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

class CFileDescriptor {
 public:
  CFileDescriptor() = default;
  explicit CFileDescriptor(int fd) : m_fd(fd) {}
  ~CFileDescriptor() { reset(); }
  CFileDescriptor(CFileDescriptor&& other) noexcept : m_fd(other.release()) {}
  CFileDescriptor& operator=(CFileDescriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  CFileDescriptor(const CFileDescriptor&) = delete;
  CFileDescriptor& operator=(const CFileDescriptor&) = delete;

  int get() const { return m_fd; }
  bool bValid() const { return m_fd >= 0; }

  // Hands the descriptor over without closing it; nothing is held afterwards.
  int release() { return std::exchange(m_fd, -1); }

  // Closes the descriptor held, if any (its result is of no interest here), and holds fd.
  void reset(int fd = -1) {
    const int nOld = std::exchange(m_fd, fd);
    if (nOld < 0) return;
    const int nSavedErrno = errno;
    ::close(nOld);
    errno = nSavedErrno;
  }

  // Closes now: 0, or the errno of the failed close (errno is left set to it). Nothing is
  // held afterwards either way, since Linux frees the descriptor even when close fails.
  int nClose() {
    const int fd = release();
    if (fd < 0 || ::close(fd) == 0) return 0;
    return errno;
  }

 private:
  int m_fd = -1;
};
