// The built mptool-util as an engineer runs it: its version and its usage text.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <string>

#include "mptool_version.h"

namespace {

struct Outcome {
  int nExit = -1000;  // -1000 when it did not end normally
  std::string strOut;
};

// Runs mptool-util with the arguments; strStreams picks what is read ("" standard output,
// "2>&1 >/dev/null" standard error).
Outcome run(const std::string& strArgs, const std::string& strStreams = "2>/dev/null") {
  Outcome o;
  std::string strCmd = std::string(MPTOOL_BIN_DIR) + "/mptool-util " + strArgs + " " + strStreams;
  FILE* p = ::popen(strCmd.c_str(), "r");
  if (!p) return o;
  char buf[1024];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) o.strOut.append(buf, n);
  int nStatus = ::pclose(p);
  if (nStatus != -1 && WIFEXITED(nStatus)) o.nExit = WEXITSTATUS(nStatus);
  return o;
}

}  // namespace

TEST(E2EUtil, VersionIsTheProjectVersionOnStandardOutput) {
  Outcome o = run("--version");
  EXPECT_EQ(o.nExit, 0);
  EXPECT_EQ(o.strOut, std::string("mptool-util ") + MPTOOL_VERSION_STRING + "\n");
  EXPECT_TRUE(std::regex_match(MPTOOL_VERSION_STRING, std::regex("[0-9]+[.][0-9]+[.][0-9]+")))
      << MPTOOL_VERSION_STRING;
}

TEST(E2EUtil, UsageNamesTheVersionOption) {
  Outcome o = run("", "2>&1 >/dev/null");
  EXPECT_EQ(o.nExit, 2);
  EXPECT_NE(o.strOut.find("mptool-util --version\n"), std::string::npos) << o.strOut;
  EXPECT_NE(o.strOut.find("  scan "), std::string::npos) << o.strOut;  // the commands follow
}
