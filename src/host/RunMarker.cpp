#include "host/RunMarker.h"

#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "log/DebugLog.h"
#include "platform/Clock.h"

CRunMarker::CRunMarker(std::string strPath) : m_strPath(std::move(strPath)) {}

CRunMarker::~CRunMarker() {
  vRelease();
}

std::string CRunMarker::strDefaultPath(const std::string& strAppPath) {
  std::string strDir = "/run/lock";
  if (access(strDir.c_str(), W_OK | X_OK) != 0) {
    const char* pszTmp = std::getenv("TMPDIR");
    strDir = (pszTmp && *pszTmp) ? pszTmp : "/tmp";
  }
  uint64_t ullHash = 1469598103934665603ull;  // FNV-1a: the same name in every build
  for (unsigned char c : strAppPath) ullHash = (ullHash ^ c) * 1099511628211ull;
  char szHash[32];
  std::snprintf(szHash, sizeof(szHash), "%016llx", static_cast<unsigned long long>(ullHash));
  return strDir + "/MPTool." + szHash + ".run.lock";
}

bool CRunMarker::bTryOnce() {
  int fd = open(m_strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) fd = open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    vDEBUG_ERR_printf("%s:%d: open run mark %s failed , dwErrorCode %d", "CRunMarker::bAcquire", __LINE__,
                      m_strPath.c_str(), errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  // Tell a copy that finds the mark who holds it.
  std::string strPid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    ssize_t n = pwrite(fd, strPid.data(), strPid.size(), 0);
    (void)n;
  }
  m_fd = fd;
  return true;
}

bool CRunMarker::bAcquire(IClock& clock, uint64_t ullWaitMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_fd >= 0) return true;
  uint64_t ullStart = clock.ullNowMs();
  for (;;) {
    if (bTryOnce()) return true;
    if (clock.ullNowMs() - ullStart >= ullWaitMs) return false;
    clock.bSleepMs(50);
  }
}

void CRunMarker::vRelease() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_fd < 0) return;
  if (ftruncate(m_fd, 0) != 0) {
    // the pid stays in the file; harmless, the lock is what counts
  }
  flock(m_fd, LOCK_UN);
  close(m_fd);
  m_fd = -1;
}

bool CRunMarker::bHeld() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_fd >= 0;
}

uint32_t CRunMarker::dwHolderPid() const {
  int fd = open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[32] = {};
  ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  close(fd);
  if (n <= 0) return 0;
  return static_cast<uint32_t>(std::strtoul(buf, nullptr, 10));
}
