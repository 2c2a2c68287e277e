#include "host/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "log/DebugLog.h"
#include "platform/FileDescriptor.h"

namespace {

const char* L = "FileIO::eReplaceFile";
constexpr const char* kTempInfix = ".tmp-";
constexpr size_t kTempRandomLen = 6;  // the XXXXXX of mkstemp

std::string strFolderOf(const std::string& strPath) {
  size_t n = strPath.find_last_of('/');
  if (n == std::string::npos) return ".";
  return n == 0 ? "/" : strPath.substr(0, n);
}

std::string strNameOf(const std::string& strPath) {
  size_t n = strPath.find_last_of('/');
  return n == std::string::npos ? strPath : strPath.substr(n + 1);
}

// Removes the temporary files of an earlier replacement of strName that never reached its
// rename (the process ended in between).
void vRemoveStaleTemps(const std::string& strFolder, const std::string& strName) {
  DIR* pDir = opendir(strFolder.c_str());
  if (pDir == nullptr) return;
  const std::string strStart = strName + kTempInfix;
  std::vector<std::string> vecStale;
  while (dirent* p = readdir(pDir)) {
    std::string s = p->d_name;
    if (s.size() == strStart.size() + kTempRandomLen && s.compare(0, strStart.size(), strStart) == 0)
      vecStale.push_back(strFolder + "/" += s);
  }
  closedir(pDir);
  for (const std::string& s : vecStale) {
    struct stat st {};
    if (lstat(s.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (unlink(s.c_str()) == 0) vDEBUG_MSG_printf(L, "removed the stale temporary file [%s]", s.c_str());
  }
}

// Rewrites an existing file where it is: the new bytes over the old from the start, then
// the length cut, then synced. The file is never empty on the way.
bool bRewriteInPlace(const std::string& strTarget, const std::string& strText, int& nErr,
                     const FileReplaceFaults& faults) {
  CFileDescriptor fd(faults.nInPlaceErrno != 0 ? (errno = faults.nInPlaceErrno, -1)
                                               : open(strTarget.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.bValid()) {
    nErr = errno;
    return false;
  }
  bool bOk = bWriteAll(fd.get(), strText.data(), strText.size()) &&
             ftruncate(fd.get(), static_cast<off_t>(strText.size())) == 0 && fsync(fd.get()) == 0;
  if (!bOk) nErr = errno;
  const int nCloseErr = fd.nClose();
  if (nCloseErr != 0 && bOk) {
    nErr = nCloseErr;
    bOk = false;
  }
  return bOk;
}

}  // namespace

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

std::string strFollowLinks(const std::string& strPath) {
  std::string s = strPath;
  // As many hops as the kernel itself follows before it gives up on a loop.
  for (int nHop = 0; nHop < 40; ++nHop) {
    struct stat st {};
    if (lstat(s.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return s;
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = readlink(s.c_str(), buf.data(), buf.size());
    if (n < 0 || static_cast<size_t>(n) >= buf.size()) return s;
    std::string strLink(buf.data(), static_cast<size_t>(n));
    s = strLink[0] == '/' ? strLink : strFolderOf(s) + "/" += strLink;
  }
  return s;
}

EFileReplace eReplaceFile(const std::string& strPath, const std::string& strText, int& nErr,
                          const FileReplaceFaults& faults) {
  nErr = 0;
  const std::string strTarget = strFollowLinks(strPath);
  const std::string strFolder = strFolderOf(strTarget);
  struct stat st {};
  const bool bExists = lstat(strTarget.c_str(), &st) == 0;
  if (bExists && !S_ISREG(st.st_mode)) {
    nErr = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return EFileReplace::Failed;
  }
  vRemoveStaleTemps(strFolder, strNameOf(strTarget));

  std::string strTemp = strTarget + kTempInfix + std::string(kTempRandomLen, 'X');
  CFileDescriptor fd(faults.nMakeTempErrno != 0 ? (errno = faults.nMakeTempErrno, -1)
                                                : mkstemp(strTemp.data()));
  if (!fd.bValid()) {
    nErr = errno;
    if (!bExists) return EFileReplace::Failed;
    vDEBUG_MSG_printf(L, "no temporary file beside [%s] (errno %d): rewritten in place", strTarget.c_str(),
                      nErr);
    return bRewriteInPlace(strTarget, strText, nErr, faults) ? EFileReplace::InPlace : EFileReplace::Failed;
  }
  bool bOk = true;
  if (bExists) {
    // The new file is made by this process; it takes over the old one's owner and group.
    // When that is not allowed, the rename would hand the file to this user: rewrite in
    // place instead, which keeps them.
    struct stat stTemp {};
    if (fstat(fd.get(), &stTemp) == 0 && (stTemp.st_uid != st.st_uid || stTemp.st_gid != st.st_gid) &&
        fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
      fd.reset();
      unlink(strTemp.c_str());
      return bRewriteInPlace(strTarget, strText, nErr, faults) ? EFileReplace::InPlace : EFileReplace::Failed;
    }
  }
  bOk = fchmod(fd.get(), bExists ? (st.st_mode & 07777) : 0644) == 0 &&
        bWriteAll(fd.get(), strText.data(), strText.size()) && fsync(fd.get()) == 0;
  if (!bOk) nErr = errno;
  const int nCloseErr = fd.nClose();
  if (nCloseErr != 0 && bOk) {
    nErr = nCloseErr;
    bOk = false;
  }
  if (bOk && rename(strTemp.c_str(), strTarget.c_str()) != 0) {
    nErr = errno;
    bOk = false;
  }
  if (!bOk) {
    unlink(strTemp.c_str());
    return EFileReplace::Failed;
  }
  // The rename itself lives in the folder: sync it too, or a power loss may undo it.
  CFileDescriptor fdFolder(open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fdFolder.bValid() || fsync(fdFolder.get()) != 0)
    vDEBUG_WRN_printf(L, "folder [%s] not synced after the rename , dwErrorCode %d", strFolder.c_str(),
                      errno);
  return EFileReplace::Renamed;
}
