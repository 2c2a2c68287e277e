// "MPTool /S" and "/S:<serial>" as production scripts start them: the built program in its
// own process, on a simulated bench (MPTOOL_SIM) in a fresh program folder (MPTOOL_HOME,
// also the working folder). What counts is what is left on disk and the exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/SimBench.h"
#include "settings/Ini.h"
#include "support/E2EBench.h"
#include "support/E2ESpawn.h"
#include "support/TempDir.h"

namespace {

using SpawnHub = E2EHub;

class CSpawnedRun {
 public:
  std::vector<std::string> controllers{"xhci0"};
  std::vector<SpawnHub> hubs;

  int nRun(const std::string& strArg) {
    m_tmp.write("bench.json", strE2EBenchJson(controllers, hubs));
    m_tmp.write("VLN642_10_spawn.bin", strE2EFirmware());
    E2ESettings st;
    st.nAutoDevNum = static_cast<int>(hubs.size());
    st.strFirmware = "VLN642_10_spawn.bin";
    st.strMaker = "Spawn Maker";
    st.strProduct = "Spawn Hub";
    st.strSerial = "0000000000FE";
    m_tmp.write("vlnhub.ini", strE2ESettings(st));

    E2ESpawn sp;
    sp.strBench = m_tmp.str() + "/bench.json";
    sp.strHome = m_tmp.str();
    sp.vecArgs = {strArg};
    sp.strErr = m_tmp.str() + "/stderr.txt";
    return nRunMPTool(sp);
  }

  // Why a run failed, for the failure's message.
  std::string strProblems() const { return strLogProblems(m_tmp.read("stderr.txt")); }

  std::vector<std::string> vecLogLines() const {
    std::time_t t = std::time(nullptr);
    std::tm tm = *std::localtime(&t);
    std::ifstream in(Ini::strMPResultLogPath(m_tmp.str(), tm));
    std::vector<std::string> lines;
    std::string l;
    std::getline(in, l);  // header
    while (std::getline(in, l))
      if (!l.empty() && l != "\r") lines.push_back(l);
    return lines;
  }
  std::string strIni() const { return m_tmp.read("vlnhub.ini"); }
  // Identities the hubs report now, loaded again from their flash files.
  std::vector<SimHubIdentity> vecIdentities() const {
    std::string err;
    auto pBench = CSimBench::pLoad(m_tmp.str() + "/bench.json", err);
    std::vector<SimHubIdentity> v;
    if (pBench)
      for (int h = 0; h < pBench->nHubs(); ++h) v.push_back(pBench->stIdentity(h));
    return v;
  }

 private:
  TempDir m_tmp;
};

std::vector<SpawnHub> vecFlat(int n, bool bUsb3) {
  std::vector<SpawnHub> v;
  v.reserve(n);
  for (int i = 0; i < n; ++i)
    v.push_back(stE2EHub("hub" + std::to_string(i + 1), "xhci" + std::to_string(i / 4), i % 4 + 1, bUsb3));
  return v;
}

}  // namespace

TEST(E2ERunSpawn, SlashSRunsOneFourAndEightOfNineHubsAndSavesTheSerial) {
  struct Case {
    int nHubs, nRun;
    bool bUsb3;
  };
  for (Case c : {Case{1, 1, true}, Case{4, 4, true}, Case{9, 8, false}}) {
    CSpawnedRun r;
    r.hubs = vecFlat(c.nHubs, c.bUsb3);
    r.controllers = {"xhci0", "xhci1", "xhci2"};
    ASSERT_EQ(r.nRun("/S"), 0) << c.nHubs << " hubs\n" << r.strProblems();
    EXPECT_EQ(static_cast<int>(r.vecLogLines().size()), c.nRun) << c.nHubs << " hubs";
    char sz[40];
    snprintf(sz, sizeof sz, "serial_number=%012X", 0xFE + c.nRun);
    EXPECT_NE(r.strIni().find(sz), std::string::npos) << r.strIni();
    auto ids = r.vecIdentities();
    ASSERT_EQ(static_cast<int>(ids.size()), c.nHubs);
    int nNew = 0;
    std::set<std::string> serials;
    for (auto& id : ids)
      if (id.strManufacturer == "Spawn Maker") ++nNew, serials.insert(id.strSerial);
    EXPECT_EQ(nNew, c.nRun);
    EXPECT_EQ(static_cast<int>(serials.size()), c.nRun);  // each hub its own
    if (c.nHubs == 9) {
      EXPECT_NE(ids[8].strManufacturer, "Spawn Maker");  // the ninth was not run
    }
  }
}

TEST(E2ERunSpawn, CascadeOfThreeLevelsPassesEveryHub) {
  // Shallower hubs reset only after the deeper ones: none of them waits out its time-out.
  CSpawnedRun r;
  r.hubs = {stE2EHub("top", "xhci0", 1), stE2EHub("mid", "top", 2), stE2EHub("leaf", "mid", 3),
            stE2EHub("side", "xhci0", 2)};
  ASSERT_EQ(r.nRun("/S"), 0) << r.strProblems();
  EXPECT_EQ(r.vecLogLines().size(), 4u);
  for (auto& id : r.vecIdentities()) EXPECT_EQ(id.usPID, 0x5A01);
}

TEST(E2ERunSpawn, AFailingHubMakesTheExitCode255AndIsLogged) {
  CSpawnedRun r;
  r.hubs = vecFlat(2, true);
  r.hubs[1].jsonFaults = R"([{"kind": "fail", "request": "0x51", "occurrence": 3}])"_json;
  EXPECT_EQ(r.nRun("/S"), 255);
  EXPECT_EQ(r.vecLogLines().size(), 2u);
}

TEST(E2ERunSpawn, SlashSWithASerialUsesItAndLeavesTheSettingsUnsaved) {
  CSpawnedRun r;
  r.hubs = vecFlat(2, true);
  ASSERT_EQ(r.nRun("/S:00000000AB10"), 0);
  EXPECT_NE(r.strIni().find("serial_number=0000000000FE"), std::string::npos) << r.strIni();
  std::set<std::string> serials;
  for (auto& id : r.vecIdentities()) serials.insert(id.strSerial);
  EXPECT_EQ(serials, (std::set<std::string>{"00000000AB10", "00000000AB11"}));
}
