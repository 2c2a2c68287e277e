#include "host/RunMarker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log/DebugLog.h"
#include "platform/Clock.h"
#include "platform/FileDescriptor.h"

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

namespace {
// True when fd still is the file at strPath: a holder removes the file before it lets go, so
// a lock won on a removed file is no mark at all.
bool bIsFileAt(int fd, const std::string& strPath) {
  struct stat stFd = {};
  struct stat stPath = {};
  return fstat(fd, &stFd) == 0 && stat(strPath.c_str(), &stPath) == 0 && stFd.st_dev == stPath.st_dev &&
         stFd.st_ino == stPath.st_ino;
}

// Locks the file at strPath without waiting; nothing held when it is locked, missing or
// cannot be opened (then with bCreate it is created first).
CFileDescriptor fdLockFile(const std::string& strPath, bool bCreate) {
  for (int nTry = 0; nTry < 3; ++nTry) {
    CFileDescriptor fd(open(strPath.c_str(), O_RDWR | O_CLOEXEC | (bCreate ? O_CREAT : 0), 0644));
    if (!fd.bValid()) fd.reset(open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.bValid()) return {};
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return {};
    if (bIsFileAt(fd.get(), strPath)) return fd;
    // Removed meanwhile by the copy that held it: this one closes, the next try takes the new file.
    if (!bCreate) return {};
  }
  return {};
}
}  // namespace

bool CRunMarker::bTryOnce() {
  errno = 0;
  CFileDescriptor fd = fdLockFile(m_strPath, true);
  if (!fd.bValid()) {
    if (errno != EWOULDBLOCK && errno != 0)
      vDEBUG_ERR_printf("CRunMarker::bAcquire", "open run mark %s failed , dwErrorCode %d", m_strPath.c_str(),
                        errno);
    return false;
  }
  // Tell a copy that finds the mark who holds it.
  std::string strPid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd.get(), 0) == 0) {
    ssize_t n = pwrite(fd.get(), strPid.data(), strPid.size(), 0);
    (void)n;
  }
  m_fdMark = std::move(fd);
  return true;
}

int CRunMarker::nRemoveStaleMarks(const std::string& strDir, const std::string& strOwnPath) {
  std::vector<std::string> vecPaths;
  if (DIR* d = opendir(strDir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string strName = e->d_name;
      const std::string strHead = "MPTool.", strTail = ".run.lock";
      if (strName.size() > strHead.size() + strTail.size() &&
          strName.compare(0, strHead.size(), strHead) == 0 &&
          strName.compare(strName.size() - strTail.size(), strTail.size(), strTail) == 0)
        vecPaths.push_back(strDir + "/" += strName);
    }
    closedir(d);
  }
  if (!strOwnPath.empty() && std::find(vecPaths.begin(), vecPaths.end(), strOwnPath) == vecPaths.end())
    vecPaths.push_back(strOwnPath);
  int nRemoved = 0;
  for (const std::string& strPath : vecPaths) {
    // A mark nobody holds belongs to no live process: its holder ended without letting go.
    CFileDescriptor fd = fdLockFile(strPath, false);
    if (!fd.bValid()) continue;
    if (unlink(strPath.c_str()) == 0) ++nRemoved;
  }
  return nRemoved;
}

bool CRunMarker::bAcquire(IClock& clock, uint64_t ullWaitMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_fdMark.bValid()) return true;
  uint64_t ullStart = clock.ullNowMs();
  for (;;) {
    if (bTryOnce()) return true;
    if (clock.ullNowMs() - ullStart >= ullWaitMs) return false;
    clock.bSleepMs(50);
  }
}

void CRunMarker::vRelease() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_fdMark.bValid()) return;
  // Removed while still locked: a copy that opened the file meanwhile sees that it is gone.
  if (unlink(m_strPath.c_str()) != 0 && ftruncate(m_fdMark.get(), 0) != 0) {
    // the pid stays in the file; harmless, the lock is what counts
  }
  flock(m_fdMark.get(), LOCK_UN);
  m_fdMark.reset();
}

bool CRunMarker::bHeld() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_fdMark.bValid();
}

uint32_t CRunMarker::dwHolderPid() const {
  CFileDescriptor fd(open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.bValid()) return 0;
  char buf[32] = {};
  ssize_t n = pread(fd.get(), buf, sizeof buf - 1, 0);
  if (n <= 0) return 0;
  return static_cast<uint32_t>(std::strtoul(buf, nullptr, 10));
}
