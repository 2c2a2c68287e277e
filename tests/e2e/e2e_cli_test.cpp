// The built MPTool in every window-less mode on simulated benches, as a production script
// runs it: a fresh program folder per test (MPTOOL_HOME, also the working folder), the bench
// in MPTOOL_SIM, the answer in the exit code as a shell sees it (8 bits: -2 is 254).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/E2EBench.h"
#include "support/E2ESpawn.h"
#include "support/TempDir.h"

namespace {

using CliHub = E2EHub;

struct Outcome {
  int nExit = -1000;  // the shell's 8-bit view; -1000 when it did not end normally
  std::string strOut, strErr;
};

class CliBench {
 public:
  std::vector<CliHub> hubs;
  int nAutoDevNum = -1;  // -1: the number of hubs
  int nSNFixLength = 0;
  bool bWithFirmware = false;
  std::string strFilterDriver;  // the bench's "filter_driver"; empty: the field is left out

  std::string strDir() const { return m_tmp.str(); }
  std::string read(const std::string& f) const { return m_tmp.read(f); }

  void vWrite() {
    nlohmann::json jsonBench = nlohmann::json::parse(strE2EBenchJson({"xhci0"}, hubs));
    if (!strFilterDriver.empty()) jsonBench["filter_driver"] = strFilterDriver;
    m_tmp.write("bench.json", jsonBench.dump());
    if (bWithFirmware) m_tmp.write("VLN642_10_bench.bin", strE2EFirmware(0x5800, false));
    E2ESettings st;
    st.nAutoDevNum = nAutoDevNum < 0 ? static_cast<int>(hubs.size()) : nAutoDevNum;
    st.strFirmware = "VLN642_10_bench.bin";
    st.nSNFixLength = nSNFixLength;
    m_tmp.write("vlnhub.ini", strE2ESettings(st));
  }

  // Starts MPTool with one option; the caller waits for it (or ends it).
  pid_t pidStart(const std::string& strArg) {
    vWrite();
    E2ESpawn sp;
    sp.strHome = strDir();
    sp.strBench = strDir() + "/bench.json";
    sp.vecArgs = {strArg};
    sp.strOut = strDir() + "/stdout.txt";
    sp.strErr = strDir() + "/stderr.txt";
    sp.bBareEnv = true;
    return pidStartMPTool(sp);
  }

  Outcome run(const std::string& strArg) {
    Outcome o;
    o.nExit = nWaitMPTool(pidStart(strArg), E2ESpawn().uLimitSeconds);
    o.strOut = read("stdout.txt");
    o.strErr = read("stderr.txt");
    return o;
  }

 private:
  TempDir m_tmp;
};

CliHub hub(const std::string& strName, int nPort) {
  CliHub h;
  h.strName = strName;
  h.nPort = nPort;
  h.strVersion = "010203100506";
  return h;
}

}  // namespace

TEST(E2ECli, FirmwareCheckEqualOnEveryHubAndDifferentOnTheSecond) {
  {
    CliBench b;
    b.hubs = {hub("hubA", 1), hub("hubB", 2)};
    // Upper case on the command line, lower case in the record: compared ignoring case.
    EXPECT_EQ(b.run("/C:010203100506").nExit, 0);
  }
  {
    CliBench b;
    b.hubs = {hub("hubA", 1), hub("hubB", 2)};
    b.hubs[1].strVersion = "0102031005FF";
    Outcome o = b.run("/C:010203100506");
    EXPECT_EQ(o.nExit, 254);
    EXPECT_NE(o.strErr.find("FW unmatch"), std::string::npos);
  }
}

TEST(E2ECli, LedControlSetsTheBridgeRegisterAndFailsWhenTheBridgeRefuses) {
  {
    // LED 1 (bit 1) on, LED 2 (bit 2) off: 0x04 becomes 0x06, then 0x02, as read back.
    CliBench b;
    b.hubs = {hub("hubA", 1)};
    b.hubs[0].jsonStorage = R"({"physical_drive": 1, "registers": {"0xCA30": "0x04"}})"_json;
    Outcome o = b.run("/LED:10");
    EXPECT_EQ(o.nExit, 0);
    EXPECT_NE(o.strErr.find("LEDControl[0], ucGetLEDStatus=0x 6\tucSetLEDStatus =6"), std::string::npos)
        << o.strErr;
    EXPECT_NE(o.strErr.find("LEDControl[0], ucGetLEDStatus=0x 2\tucSetLEDStatus =2"), std::string::npos);
  }
  {
    // A hub without a drive: nothing to set, success.
    CliBench b;
    b.hubs = {hub("hubA", 1)};
    Outcome o = b.run("/LED:11");
    EXPECT_EQ(o.nExit, 0);
    EXPECT_EQ(o.strErr.find("LEDControl[0], ucGetLEDStatus"), std::string::npos);
  }
  {
    // Every register write answers CHECK CONDITION: the LED never changes, -1.
    CliBench b;
    b.hubs = {hub("hubA", 1)};
    b.hubs[0].jsonStorage = R"({"physical_drive": 0, "registers": {"0xCA30": "0x00"},
                                "faults": [{"kind": "status", "opcode": "0xE5", "count": 0}]})"_json;
    Outcome o = b.run("/LED:10");
    EXPECT_EQ(o.nExit, 255);
    EXPECT_NE(o.strErr.find("Dev[0], set led 1 1 fail"), std::string::npos);
  }
}

TEST(E2ECli, SpeedProtocolOrientationAndChipQueries) {
  struct Case {
    std::string strArg;
    CliHub h;
    int nExit;
  };
  CliHub u3 = hub("hubA", 1);
  CliHub u2 = u3;
  u2.bUsb3 = false;
  CliHub super = u3;
  super.strLinkReg = "0x00";  // not SuperSpeed Plus: 5 Gbit/s
  CliHub plus = u3;
  plus.strLinkReg = "0x24";  // 10 Gbit/s, one lane
  CliHub unknownLink = u3;
  unknownLink.strLinkReg = "0x28";
  CliHub cc2 = u3;
  cc2.strCableReg = "0x80";
  CliHub ccNone = u3;
  ccNone.strCableReg = "0x00";
  auto chip = [&](const char* reg) {
    CliHub h = u3;
    h.strChipReg = reg;
    return h;
  };
  const Case cases[] = {
      {"/SPD", u3, 11},
      {"/SPD", u2, 7},
      {"/SPD", super, 8},
      {"/SPD", plus, 9},
      {"/SPD", unknownLink, 255},
      {"/PROT", u3, 3},
      {"/PROT", u2, 2},
      {"/CC", u3, 4},
      {"/CC", cc2, 5},
      {"/CC", ccNone, 255},
      {"/IC", chip("0x01"), 0},
      {"/IC", chip("0x11"), 1},
      {"/IC", chip("0x21"), 2},
      {"/IC", chip("0x31"), 3},
      {"/IC", chip("0x41"), 4},
      {"/IC", chip("0x51"), 5},
      {"/IC", chip("0x71"), 255},
  };
  for (const Case& c : cases) {
    CliBench b;
    b.hubs = {c.h};
    Outcome o = b.run(c.strArg);
    EXPECT_EQ(o.nExit, c.nExit) << c.strArg << " link " << c.h.strLinkReg << " chip " << c.h.strChipReg
                                << " cable " << c.h.strCableReg << " usb3 " << c.h.bUsb3;
  }
}

TEST(E2ECli, QueryWithTheExpectedHubCountNeverStartsARun) {
  CliBench b;
  b.bWithFirmware = true;
  b.hubs = {hub("hubA", 1), hub("hubB", 2)};
  b.vWrite();
  // The flash files exist once the bench has been loaded; the query loads it.
  Outcome o = b.run("/IC");
  EXPECT_EQ(o.nExit, 1);
  const std::string strFlashA = b.read("hubA.flash"), strFlashB = b.read("hubB.flash");
  ASSERT_EQ(strFlashA.size(), 131072u);
  EXPECT_EQ(strFlashA, std::string(131072, '\xFF'));
  EXPECT_EQ(strFlashB, std::string(131072, '\xFF'));
  EXPECT_EQ(o.strErr.find("OnBnClickedButtonStart"), std::string::npos);
  EXPECT_EQ(b.read("ProgramMSG.txt"), "");
}

TEST(E2ECli, ProductionRunExitCodes) {
  {
    CliBench b;
    b.bWithFirmware = true;
    b.hubs = {hub("hubA", 1), hub("hubB", 2)};
    Outcome o = b.run("/S");
    EXPECT_EQ(o.nExit, 0) << o.strOut;
    EXPECT_NE(o.strOut.find("MPTool: run passed: pass 2, fail 0, total 2"), std::string::npos) << o.strOut;
  }
  {
    CliBench b;
    b.bWithFirmware = true;
    b.hubs = {hub("hubA", 1), hub("hubB", 2)};
    b.hubs[1].jsonFaults = R"([{"kind": "fail", "request": "0x51", "occurrence": 3}])"_json;
    Outcome o = b.run("/S");
    EXPECT_EQ(o.nExit, 255) << o.strOut;
    EXPECT_NE(o.strOut.find("pass 1, fail 1"), std::string::npos) << o.strOut;
  }
  {
    // The serial number given is shorter than the fixed length: the pre-check refuses, -3.
    CliBench b;
    b.bWithFirmware = true;
    b.hubs = {hub("hubA", 1)};
    b.nSNFixLength = 12;
    Outcome o = b.run("/S:12345678");
    EXPECT_EQ(o.nExit, 253);
    EXPECT_NE(b.read("ProgramMSG.txt").find("input SN should have 12 digits"), std::string::npos);
  }
  {
    // Two hubs expected, one attached: -4 and the message.
    CliBench b;
    b.bWithFirmware = true;
    b.hubs = {hub("hubA", 1)};
    b.nAutoDevNum = 2;
    Outcome o = b.run("/S");
    EXPECT_EQ(o.nExit, 252);
    EXPECT_NE(b.read("ProgramMSG.txt").find("None of Velnor device was found!!"), std::string::npos);
  }
}

TEST(E2ECli, RunWithoutHubsKeepsWaitingForOne) {
  CliBench b;
  b.bWithFirmware = true;
  pid_t pid = b.pidStart("/S");
  ASSERT_GT(pid, 0);
  // Long enough for start-up and several scans of the empty bench (tool time is scaled).
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "MPTool ended with " << WEXITSTATUS(status);
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  EXPECT_EQ(b.read("ProgramMSG.txt"), "");
}

TEST(E2ECli, RunWaitsForAHubAndRunsItWhenItArrives) {
  CliBench b;
  b.bWithFirmware = true;
  b.hubs = {hub("hubA", 1)};
  b.hubs[0].nPlugAtMs = 60000;  // 600 ms of real time after the bench is loaded (at 0.01)
  pid_t pid = b.pidStart("/S");
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "MPTool ended before the hub arrived";
  EXPECT_EQ(b.read("ProgramMSG.txt"), "");
  // Once the hub is plugged in, the scan finds it and the run programs it.
  pid_t ended = 0;
  for (int i = 0; i < 600 && ended == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ended = waitpid(pid, &status, WNOHANG);
  }
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "no run after the hub arrived";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << b.read("ProgramMSG.txt");
  EXPECT_NE(b.read("hubA.flash"), std::string(131072, '\xFF'));
}

// The filter driver as the bench has it: not installed ends start-up with -20 (236) before
// any hub is looked at; another version is logged by the walk and the mode still answers.
TEST(E2ECli, FilterDriverMissingOrOfAnotherVersion) {
  {
    CliBench b;
    b.hubs = {hub("hubA", 1)};
    b.strFilterDriver = "none";
    Outcome o = b.run("/C:010203100506");
    EXPECT_EQ(o.nExit, 236);
    EXPECT_NE(o.strOut.find("Please install Velnor Filter Driver first!!"), std::string::npos) << o.strOut;
  }
  {
    CliBench b;
    b.hubs = {hub("hubA", 1)};
    b.strFilterDriver = "1.0.6.0";
    Outcome o = b.run("/C:010203100506");
    EXPECT_EQ(o.nExit, 0);
    EXPECT_NE(o.strErr.find("Error! Version of Filter Driver=1.0.6.0"), std::string::npos) << o.strErr;
  }
  {
    CliBench b;
    b.hubs = {hub("hubA", 1)};
    b.strFilterDriver = "1.0.7.0";
    Outcome o = b.run("/C:010203100506");
    EXPECT_EQ(o.nExit, 0);
    EXPECT_EQ(o.strErr.find("Version of Filter Driver"), std::string::npos);
  }
}
