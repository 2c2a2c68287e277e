// Runs the built MPTool with command lines that end during start-up (before the
// single-instance rule, so no other running copy is ever touched).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

extern char** environ;

namespace {
struct Outcome {
  int nExit = -1000;  // the shell's 8-bit view
  std::string strOut;
};

Outcome runMPTool(const std::vector<std::string>& args, const TempDir& home) {
  std::string bin = std::string(MPTOOL_BIN_DIR) + "/MPTool";
  std::vector<std::string> all = {bin};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(all.size());
  for (auto& s : all) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"MPTOOL_HOME=" + home.str(), "PATH=/usr/bin:/bin"};
  std::vector<char*> envp;
  envp.reserve(env.size());
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);

  int fds[2];
  if (pipe(fds) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", 0, 0);
  pid_t pid = 0;
  Outcome o;
  int rc = posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return o;
  }
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) o.strOut.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) o.nExit = WEXITSTATUS(status);
  return o;
}
}  // namespace

TEST(E2EStartup, UsageAndBadArgumentsAnswerThroughExitCodeAndStandardOutput) {
  TempDir home;
  Outcome usage = runMPTool({"/?"}, home);
  EXPECT_EQ(usage.nExit, 0);
  EXPECT_EQ(usage.strOut.rfind("VLN6420 series 2, 0, 1, 3 ( 1.1.2.19) command line usage: "
                               "VLN725xMPTool [ /?, /DBG, /S, /S:SN, /C:FW, /LED:xx, /SPD, "
                               "/PROT, /CC, /IC ] \r\n",
                               0),
            0u);
  EXPECT_NE(usage.strOut.find(" /IC\tGet chip name\r\n"), std::string::npos);

  struct Case {
    std::vector<std::string> args;
    bool bUsage;
  };
  const Case bad[] = {
      {{"/S:1234567"}, true},                  // too short for "/S:"
      {{"/S:" + std::string(21, '9')}, true},  // too long
      {{"/LED:12"}, false},
      {{"/LED:1"}, true},
      {{"/SPD", ""}, true},             // "/SPD " has length 5
      {{"/C:", "           "}, false},  // twelve blanks: empty version
      {{"/X"}, true},
      {{"/S", "/SPD"}, true},
  };
  for (const auto& c : bad) {
    Outcome o = runMPTool(c.args, home);
    EXPECT_EQ(o.nExit, 246) << c.args[0];
    EXPECT_EQ(o.strOut.find("command line usage:") != std::string::npos, c.bUsage) << c.args[0];
  }
}
