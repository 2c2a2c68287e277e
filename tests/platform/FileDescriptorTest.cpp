#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/FileDescriptor.h"

namespace {

bool bIsOpen(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

// A descriptor number nothing holds: closing it fails with EBADF.
int nClosedNumber() {
  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(fd);
  return fd;
}

}  // namespace

TEST(FileDescriptor, OwnerClosesOnceAndHandsOver) {
  int nRaw = -1;
  {
    CFileDescriptor fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd.bValid());
    nRaw = fd.get();
    EXPECT_TRUE(bIsOpen(nRaw));
    CFileDescriptor moved(std::move(fd));
    EXPECT_FALSE(fd.bValid());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(moved.get(), nRaw);
    EXPECT_TRUE(bIsOpen(nRaw));
  }
  EXPECT_FALSE(bIsOpen(nRaw));

  // A move over a held descriptor closes the one it replaces.
  CFileDescriptor a(open("/dev/null", O_RDONLY | O_CLOEXEC));
  CFileDescriptor b(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int nA = a.get(), nB = b.get();
  a = std::move(b);
  EXPECT_FALSE(bIsOpen(nA));
  EXPECT_EQ(a.get(), nB);

  // release gives it up unclosed; the new owner closes it.
  const int nReleased = a.release();
  EXPECT_FALSE(a.bValid());
  EXPECT_TRUE(bIsOpen(nReleased));
  CFileDescriptor back(nReleased);
  back.reset();
  EXPECT_FALSE(bIsOpen(nReleased));
  EXPECT_FALSE(back.bValid());
}

TEST(FileDescriptor, AutomaticCloseKeepsTheCallersErrno) {
  {
    CFileDescriptor fd(nClosedNumber());  // its close fails and would set EBADF
    errno = ENOSPC;
  }
  EXPECT_EQ(errno, ENOSPC);
  CFileDescriptor fd(nClosedNumber());
  errno = EIO;
  fd.reset();
  EXPECT_EQ(errno, EIO);
}

TEST(FileDescriptor, CheckedCloseReportsTheCloseError) {
  CFileDescriptor ok(open("/dev/null", O_WRONLY | O_CLOEXEC));
  const int nRaw = ok.get();
  EXPECT_EQ(ok.nClose(), 0);
  EXPECT_FALSE(ok.bValid());
  EXPECT_FALSE(bIsOpen(nRaw));
  EXPECT_EQ(ok.nClose(), 0);  // nothing held: nothing to report

  CFileDescriptor bad(nClosedNumber());
  EXPECT_EQ(bad.nClose(), EBADF);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(bad.bValid());
}
