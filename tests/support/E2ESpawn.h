// Starting the built MPTool as its own process on a bench, the way a production script does,
// and waiting for it with a limit, so that a copy that never ends fails its test instead of
// hanging the suite.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

struct E2ESpawn {
  std::string strBench;  // MPTOOL_SIM; empty: not set (the Linux platform)
  std::string strHome;   // MPTOOL_HOME
  std::string strCwd;    // working folder ("ProgramMSG.txt" lands here); empty: strHome
  std::vector<std::string> vecArgs = {"/S"};
  std::string strOut = "/dev/null";  // where standard output goes
  std::string strErr = "/dev/null";  // where standard error (the diagnostic log) goes
  // More of the copy's environment: a value sets a variable, none removes it. The test's own
  // MPTOOL_ variables are never passed on, so a developer's shell cannot change a test.
  std::vector<std::pair<std::string, std::optional<std::string>>> vecEnv;
  bool bBareEnv = false;         // true: nothing of the test's environment but PATH
  unsigned uLimitSeconds = 120;  // a copy still running then is killed (0: no limit)
};

// Starts the copy; the caller reaps it (nWaitMPTool). -1 when no process could be made.
// posix_spawn rather than fork: the child of a forked threaded test may call only
// async-signal-safe functions before exec, and tests start copies from several threads.
inline pid_t pidStartMPTool(const E2ESpawn& s) {
  const std::string strBin = std::string(MPTOOL_BIN_DIR) + "/MPTool";
  std::vector<std::string> vecArgv = {strBin};
  vecArgv.insert(vecArgv.end(), s.vecArgs.begin(), s.vecArgs.end());

  auto bOverridden = [&s](const std::string& strEntry) {
    if (strEntry.rfind("MPTOOL_", 0) == 0) return true;
    for (const auto& [strName, optValue] : s.vecEnv)
      if (strEntry.size() > strName.size() && strEntry.compare(0, strName.size(), strName) == 0 &&
          strEntry[strName.size()] == '=')
        return true;
    return false;
  };
  std::vector<std::string> vecEnvp;
  for (char** pp = environ; pp != nullptr && *pp != nullptr; ++pp) {
    const std::string strEntry = *pp;
    if (s.bBareEnv ? strEntry.rfind("PATH=", 0) == 0 : !bOverridden(strEntry)) vecEnvp.push_back(strEntry);
  }
  if (!s.strBench.empty()) vecEnvp.push_back("MPTOOL_SIM=" + s.strBench);
  vecEnvp.push_back("MPTOOL_HOME=" + s.strHome);
  for (const auto& [strName, optValue] : s.vecEnv)
    if (optValue) vecEnvp.push_back(strName + "=" + *optValue);

  auto vecPointers = [](std::vector<std::string>& v) {
    std::vector<char*> p;
    p.reserve(v.size() + 1);
    for (std::string& str : v) p.push_back(str.data());
    p.push_back(nullptr);
    return p;
  };
  std::vector<char*> argv = vecPointers(vecArgv), envp = vecPointers(vecEnvp);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addchdir_np(&fa, (s.strCwd.empty() ? s.strHome : s.strCwd).c_str());
  posix_spawn_file_actions_addopen(&fa, 1, s.strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, s.strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, strBin.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

// Reaps the copy: its exit status as a shell sees it (0 to 255), or -1000 when it did not
// exit by itself (a signal ended it, or it was still running after uLimitSeconds and was
// killed).
inline int nWaitMPTool(pid_t pid, unsigned uLimitSeconds) {
  if (pid <= 0) return -1000;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(uLimitSeconds);
  // A pidfd turns readable when the process ends, so the wait needs no polling.
  const int fdPid = uLimitSeconds > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid, 0)) : -1;
  int nStatus = 0;
  pid_t got = 0;
  for (;;) {
    got = waitpid(pid, &nStatus, uLimitSeconds > 0 ? WNOHANG : 0);
    if (got < 0 && errno == EINTR) continue;
    if (got != 0 || Clock::now() >= tEnd) break;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - Clock::now()).count();
    if (fdPid >= 0) {
      pollfd p{fdPid, POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::min<long long>(ms + 1, 1000)));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (fdPid >= 0) close(fdPid);
  if (got == 0) {
    kill(pid, SIGKILL);
    while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    return -1000;
  }
  if (got != pid || !WIFEXITED(nStatus)) return -1000;
  return WEXITSTATUS(nStatus);
}

// Runs the copy to its end (see nWaitMPTool).
inline int nRunMPTool(const E2ESpawn& s) {
  return nWaitMPTool(pidStartMPTool(s), s.uLimitSeconds);
}

// An exit status of nWaitMPTool as MPTool returned it (-3 for 253); -1000 stays.
inline int nToolExit(int nStatus) {
  return nStatus == -1000 ? nStatus : static_cast<signed char>(nStatus);
}

// The error and warning entries of a copy's diagnostic log, for a failure's message.
inline std::string strLogProblems(const std::string& strLog) {
  std::istringstream in(strLog);
  std::string strLine, strOut;
  while (std::getline(in, strLine))
    if (strLine.rfind("ERR::", 0) == 0 || strLine.rfind("WRN::", 0) == 0) strOut += strLine + "\n";
  return strOut;
}
