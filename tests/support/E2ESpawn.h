// Starting the built MPTool as its own process on a bench, the way a production script does.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

struct E2ESpawn {
  std::string strBench;              // MPTOOL_SIM
  std::string strHome;               // MPTOOL_HOME
  std::string strCwd;                // working folder ("ProgramMSG.txt" lands here); empty: strHome
  std::string strArg = "/S";         // the one command-line argument
  std::string strErr = "/dev/null";  // where standard error (the diagnostic log) goes
  unsigned uAlarmSeconds = 0;        // > 0: a copy that never ends is killed then, failing the test
};

// Starts the copy; the caller reaps it. -1 when no process could be made.
inline pid_t pidStartMPTool(const E2ESpawn& s) {
  const std::string strBin = std::string(MPTOOL_BIN_DIR) + "/MPTool";
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("MPTOOL_SIM", s.strBench.c_str(), 1);
    setenv("MPTOOL_HOME", s.strHome.c_str(), 1);
    if (chdir((s.strCwd.empty() ? s.strHome : s.strCwd).c_str()) != 0) _exit(126);
    if (!freopen("/dev/null", "w", stdout) || !freopen(s.strErr.c_str(), "w", stderr)) _exit(126);
    if (s.uAlarmSeconds > 0) alarm(s.uAlarmSeconds);
    execl(strBin.c_str(), strBin.c_str(), s.strArg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Runs the copy to its end: its exit status as a shell sees it (0 to 255), or -1000 when it
// did not exit by itself.
inline int nRunMPTool(const E2ESpawn& s) {
  const pid_t pid = pidStartMPTool(s);
  int nStatus = 0;
  if (pid < 0 || waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus)) return -1000;
  return WEXITSTATUS(nStatus);
}
