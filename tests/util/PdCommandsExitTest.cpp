// The PD firmware commands of the built mptool-util: registered, and their exit codes as a
// shell sees them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/TempDir.h"

namespace {

int nRun(const std::string& strArgs, std::string* pOut = nullptr) {
  const std::string strCmd = std::string(MPTOOL_BIN_DIR) + "/mptool-util " + strArgs + " 2>/dev/null";
  FILE* p = ::popen(strCmd.c_str(), "r");
  if (!p) return -1000;
  std::string out;
  char buf[512];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (pOut) *pOut = out;
  const int nStatus = ::pclose(p);
  return nStatus != -1 && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1000;
}

TEST(PdCommands, ExitCodesOfTheBuiltProgram) {
  TempDir dir;
  const std::string bin = dir.write("r.bin", std::string(16384, '\x01'));
  const std::string small = dir.write("s.bin", std::string(10, '\x01'));
  std::string out;
  EXPECT_EQ(nRun("pd-version " + bin, &out), 0);
  EXPECT_NE(out.find("version: 0101\n"), std::string::npos) << out;
  EXPECT_EQ(nRun("pd-version " + small), 1);
  EXPECT_EQ(nRun("pd-version"), 2);
  EXPECT_EQ(nRun("pd-load " + bin + " --family richtek --json", &out), 0);
  EXPECT_NE(out.find("\"richtek_bytes\": 16384"), std::string::npos) << out;
  EXPECT_EQ(nRun("pd-load " + small + " --family richtek"), 1);
  EXPECT_EQ(nRun("pd-load " + bin), 2);
}

}  // namespace
