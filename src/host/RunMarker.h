// The "production run in progress" mark shared by the copies of the tool that serve one
// program folder (one station's settings, logs and hubs).
// The copy in a run holds an exclusive lock (flock) on one file and writes its process id
// into it; another copy tests the lock without waiting. The lock goes with the process, so
// a copy that dies in a run leaves no held mark. The holder removes the file when it lets
// go; a file left by a copy that died is removed by the next copy that sweeps the folder.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/FileDescriptor.h"

class IClock;

class CRunMarker {
 public:
  explicit CRunMarker(std::string strPath);
  ~CRunMarker();
  CRunMarker(const CRunMarker&) = delete;
  CRunMarker& operator=(const CRunMarker&) = delete;

  // Takes the mark, trying every 50 ms for up to ullWaitMs on the clock (0: one try).
  // True when this object holds it (also when it already did).
  bool bAcquire(IClock& clock, uint64_t ullWaitMs = 0);
  void vRelease();
  bool bHeld() const;
  // The process id the current holder wrote, 0 when unknown.
  uint32_t dwHolderPid() const;
  const std::string& strPath() const { return m_strPath; }

  // /run/lock when it is writable, otherwise $TMPDIR or /tmp; the file
  // "MPTool.<hash of the program folder>.run.lock", so copies serving other folders
  // (for example parallel test benches) never see each other's runs.
  static std::string strDefaultPath(const std::string& strAppPath);
  // Removes the run marks in strDir ("MPTool.*.run.lock") that no live process holds, and
  // strOwnPath when it lies elsewhere. Returns how many were removed.
  static int nRemoveStaleMarks(const std::string& strDir, const std::string& strOwnPath = "");

 private:
  bool bTryOnce();

  std::string m_strPath;
  mutable std::mutex m_mutex;
  CFileDescriptor m_fdMark;  // the locked mark while this copy holds it
};
