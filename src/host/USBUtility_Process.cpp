// Process lookup and termination through /proc, reboot, and the single-instance rule.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "host/USBUtility.h"
#include "log/DebugLog.h"
#include "platform/Clock.h"
#include "platform/DeviceState.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {
// The program folder a process serves, as a real path: its MPTOOL_HOME (a relative one taken
// from that process's working folder), otherwise its executable's folder. Empty when it
// cannot be told.
std::string strProgramFolderOf(const fs::path& procDir, const fs::path& exe) {
  std::ifstream in(procDir / "environ", std::ios::binary);
  std::string strVar;
  const std::string strKey = "MPTOOL_HOME=";
  while (std::getline(in, strVar, '\0')) {
    if (strVar.compare(0, strKey.size(), strKey) == 0 && strVar.size() > strKey.size()) {
      std::error_code ec;
      fs::path cwd = fs::read_symlink(procDir / "cwd", ec);
      return CUSBUtility::strRealFolder(strVar.substr(strKey.size()), ec ? "" : cwd.string());
    }
  }
  return CUSBUtility::strRealFolder(exe.parent_path().string(), "");
}

// True once the process has ended (a zombie counts: it runs no code any more).
bool bProcessGone(uint32_t dwPid) {
  if (kill(static_cast<pid_t>(dwPid), 0) != 0 && errno == ESRCH) return true;
  std::ifstream in("/proc/" + std::to_string(dwPid) + "/stat");
  std::string strStat;
  if (!std::getline(in, strStat)) return true;
  size_t p = strStat.rfind(')');  // the name may hold blanks and brackets
  return p != std::string::npos && p + 2 < strStat.size() && (strStat[p + 2] == 'Z' || strStat[p + 2] == 'X');
}

// Process ids under the proc root whose executable's file name is pszName, ascending.
// Processes whose executable cannot be read (another user's, a kernel thread) are skipped.
// With a program folder (a real path), only the copies serving that folder count: a
// station's copies share its settings and hubs, copies for other folders (parallel benches)
// do not.
std::vector<uint32_t> vecMatchingPids(const std::string& strRoot, const char* pszName,
                                      const std::string& strAppPath) {
  std::vector<uint32_t> pids;
  std::error_code ec;
  fs::directory_iterator it(strRoot, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string strId = it->path().filename().string();
    if (strId.empty() || !std::all_of(strId.begin(), strId.end(), ::isdigit)) continue;
    std::error_code ecLink;
    fs::path exe = fs::read_symlink(it->path() / "exe", ecLink);
    if (ecLink) continue;
    std::string strBase = exe.filename().string();
    // A copy whose file was replaced (rebuilt) is still that program.
    const std::string strDeleted = " (deleted)";
    if (strBase.size() > strDeleted.size() &&
        strBase.compare(strBase.size() - strDeleted.size(), strDeleted.size(), strDeleted) == 0)
      strBase.resize(strBase.size() - strDeleted.size());
    if (strBase != pszName) continue;
    if (!strAppPath.empty() && strProgramFolderOf(it->path(), exe) != strAppPath) continue;
    pids.push_back(static_cast<uint32_t>(std::stoul(strId)));
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}
}  // namespace

uint32_t CUSBUtility::GetProcessID(const char* pszName, uint32_t dwSkipPid) {
  try {
    for (uint32_t pid : vecMatchingPids(m_options.strProcRoot, pszName, m_szAppPath))
      if (pid != dwSkipPid) return pid;
  } catch (...) {
    vDEBUG_MSG_printf("CUSBUtility::GetProcessID", "GetProcessID: pName : %s , dwErrorCode %d", pszName,
                      errno);
  }
  return 0;
}

int CUSBUtility::DetectProcess(const char* pszName) {
  try {
    return static_cast<int>(vecMatchingPids(m_options.strProcRoot, pszName, m_szAppPath).size());
  } catch (...) {
    vDEBUG_MSG_printf("CUSBUtility::DetectProcess", "DetectProcess: pName : %s , dwErrorCode %d", pszName,
                      errno);
    return 0;
  }
}

bool CUSBUtility::KillProcess(uint32_t dwPid, uint32_t uExitCode) {
  if (dwPid == 0 || dwPid == static_cast<uint32_t>(getpid())) {
    errno = EPERM;
    vDEBUG_MSG_printf("CUSBUtility::KillProcess",
                      "KillProcess: hProcess = NULL , pId:%x , exitCode:%x , dwErrorCode:%d", dwPid,
                      uExitCode, EPERM);
    errno = EPERM;
    return false;
  }
  if (kill(static_cast<pid_t>(dwPid), SIGTERM) != 0) {
    int nErr = errno;
    vDEBUG_MSG_printf("CUSBUtility::KillProcess",
                      "KillProcess: hProcess = NULL , pId:%x , exitCode:%x , dwErrorCode:%d", dwPid,
                      uExitCode, nErr);
    errno = nErr;
    return false;
  }
  return true;
}

bool CUSBUtility::RebootSystem() {
  if (m_pFilterDriver) {
    int nErr = m_pFilterDriver->nReboot();
    if (nErr != 0)
      vDEBUG_ERR_printf("CUSBUtility::RebootSystem", "RebootSystem: reboot failed , dwErrorCode %d", nErr);
    return nErr == 0;
  }
  const auto& cmd = m_options.rebootCommand;
  if (cmd.empty()) return false;
  std::vector<char*> argv;
  argv.reserve(cmd.size());
  for (const auto& s : cmd) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    vDEBUG_ERR_printf("CUSBUtility::RebootSystem", "RebootSystem: start %s failed , dwErrorCode %d", argv[0],
                      rc);
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

SingleInstanceResult CUSBUtility::stEnforceSingleInstance(const char* pszName) {
  SingleInstanceResult r;
  const std::string& strMark = m_RunMarker.strPath();
  CRunMarker::nRemoveStaleMarks(fs::path(strMark).parent_path().string(), strMark);
  r.iProcessCount = DetectProcess(pszName);
  if (r.iProcessCount <= 1) return r;
  // Taking the mark and ending the other copy are one step: a copy in a run (or whose Start
  // has taken the mark) holds it, and then nothing is ended; while this copy holds it, no
  // copy of this folder can start a run, so the one ended has touched no hub for a run.
  CRunMarker probe(strMark);
  if (!probe.bAcquire(m_clock, 0)) {
    r.eOutcome = ESingleInstance::RunInProgress;
    r.dwRunHolderPid = m_RunMarker.dwHolderPid();
    return r;
  }
  r.dwProcessID = GetProcessID(pszName, static_cast<uint32_t>(getpid()));
  if (r.dwProcessID == 0) {
    // only this copy after all (the other one ended meanwhile)
    r.eOutcome = ESingleInstance::NoOther;
  } else if (KillProcess(r.dwProcessID, 0)) {
    r.eOutcome = ESingleInstance::EndedStale;
    // The mark is let go only once the copy has gone, so it cannot take the mark after all.
    const uint64_t ullStart = m_clock.ullNowMs();
    while (!bProcessGone(r.dwProcessID) && m_clock.ullNowMs() - ullStart < SINGLE_INSTANCE_END_WAIT_MS)
      m_clock.bSleepMs(10);
  } else {
    r.eOutcome = ESingleInstance::EndFailed;
    r.nErrorCode = errno;
  }
  probe.vRelease();
  return r;
}

bool CUSBUtility::bBeginProductionRun(uint64_t ullWaitMs) {
  std::lock_guard<std::mutex> l(m_runHoldMutex);
  if (m_nRunHolds > 0) {
    ++m_nRunHolds;
    return true;
  }
  if (!m_RunMarker.bAcquire(m_clock, ullWaitMs)) return false;
  m_nRunHolds = 1;
  return true;
}

void CUSBUtility::vEndProductionRun() {
  std::lock_guard<std::mutex> l(m_runHoldMutex);
  if (m_nRunHolds == 0) return;
  if (--m_nRunHolds == 0) m_RunMarker.vRelease();
}

bool CUSBUtility::bProductionRunHeld() const {
  std::lock_guard<std::mutex> l(m_runHoldMutex);
  return m_nRunHolds > 0;
}
