// Runs the built MPTool with command lines that end during start-up (before the
// single-instance rule, so no other running copy is ever touched).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/E2ESpawn.h"
#include "support/TempDir.h"

namespace {
struct Outcome {
  int nExit = -1000;  // the shell's 8-bit view
  std::string strOut;
};

Outcome runMPTool(const std::vector<std::string>& args, const TempDir& home) {
  E2ESpawn sp;
  sp.strHome = home.str();
  sp.vecArgs = args;
  sp.strOut = home.str() + "/stdout.txt";
  sp.bBareEnv = true;
  Outcome o;
  o.nExit = nRunMPTool(sp);
  o.strOut = home.read("stdout.txt");
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
