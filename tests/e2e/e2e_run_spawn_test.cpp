// "MPTool /S" and "/S:<serial>" as production scripts start them: the built program in its
// own process, on a simulated bench (MPTOOL_SIM) in a fresh program folder (MPTOOL_HOME,
// also the working folder). What counts is what is left on disk and the exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/SimBench.h"
#include "settings/Ini.h"
#include "support/TempDir.h"

namespace {

struct SpawnHub {
  std::string strName, strOn;
  int nPort;
  bool bUsb3 = true;
  std::string strFaults;
};

class CSpawnedRun {
 public:
  std::vector<std::string> controllers{"xhci0"};
  std::vector<SpawnHub> hubs;

  int nRun(const std::string& strArg) {
    std::ostringstream b;
    b << "{\"time_scale\": 0.01, \"transfer_latency_us\": 0, \"controllers\": [";
    for (size_t i = 0; i < controllers.size(); ++i)
      b << (i ? "," : "") << "{\"name\": \"" << controllers[i] << "\", \"ports\": 4}";
    b << "], \"hubs\": [";
    for (size_t i = 0; i < hubs.size(); ++i) {
      const SpawnHub& h = hubs[i];
      bool bController = false;
      for (auto& c : controllers) bController |= c == h.strOn;
      b << (i ? "," : "") << "{\"name\": \"" << h.strName << "\", \"" << (bController ? "controller" : "parent")
        << "\": \"" << h.strOn << "\", \"port\": " << h.nPort << ", \"usb3\": " << (h.bUsb3 ? "true" : "false")
        << ", \"ports\": 4, \"vid\": \"2F7B\", \"pid\": \"55AA\", \"pid_u2\": \"55AB\", "
           "\"registers\": {\"0x5820\": \"0x11\", \"0x5821\": \"0x02\", \"0x6802\": \"0x40\", \"0x3038\": \"0x34\"}, "
           "\"flash\": \""
        << h.strName << ".flash\"";
      if (!h.strFaults.empty()) b << ", \"faults\": " << h.strFaults;
      b << "}";
    }
    b << "]}";
    m_tmp.write("bench.json", b.str());
    std::string fw(0x5800, '\0');
    for (size_t i = 0; i < fw.size(); ++i) fw[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    const unsigned char ver[6] = {0x01, 0x02, 0x03, 0x10, 0x05, 0x06};
    for (int i = 0; i < 6; ++i) fw[0x200 + i] = static_cast<char>(ver[i]);
    m_tmp.write("VLN642_10_spawn.bin", fw);
    std::ostringstream s;
    s << "[ini_version]\nversion=1005\n[usb_func]\nauto_mp=1\nauto_mp_DevNum=" << hubs.size()
      << "\nCheck_USBStatus_enable=0\ncheck_config=1\nSN_EditType=1\n"
         "[usb_fw]\nfw_enable=1\nfw_binary_name=VLN642_10_spawn.bin\nfw_reload=1\n"
         "[usb_config]\nconfig_format=1\nvendor_id=2F7B\nproduct_id=5A01\nproduct_id_hub2=5A02\n"
         "container_string=0123456789ABCDEF0123456789ABCDEF\ndevice_revision=0200\nmanufacturer_string=Spawn "
         "Maker\nproduct_string=Spawn Hub\nserial_number=0000000000FE\nSN_fix_length=0\ncrc32=0\n";
    m_tmp.write("vlnhub.ini", s.str());

    const std::string strBin = std::string(MPTOOL_BIN_DIR) + "/MPTool";
    const std::string strBench = m_tmp.str() + "/bench.json";
    pid_t pid = fork();
    if (pid == 0) {
      setenv("MPTOOL_SIM", strBench.c_str(), 1);
      setenv("MPTOOL_HOME", m_tmp.str().c_str(), 1);
      if (chdir(m_tmp.str().c_str()) != 0) _exit(126);
      if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
      execl(strBin.c_str(), strBin.c_str(), strArg.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int nStatus = 0;
    if (pid < 0 || waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus)) return -1000;
    return WEXITSTATUS(nStatus);
  }

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
  for (int i = 0; i < n; ++i) v.push_back({"hub" + std::to_string(i + 1), "xhci" + std::to_string(i / 4), i % 4 + 1, bUsb3, ""});
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
    ASSERT_EQ(r.nRun("/S"), 0) << c.nHubs << " hubs";
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
  r.hubs = {{"top", "xhci0", 1, true, ""}, {"mid", "top", 2, true, ""}, {"leaf", "mid", 3, true, ""},
            {"side", "xhci0", 2, true, ""}};
  ASSERT_EQ(r.nRun("/S"), 0);
  EXPECT_EQ(r.vecLogLines().size(), 4u);
  for (auto& id : r.vecIdentities()) EXPECT_EQ(id.usPID, 0x5A01);
}

TEST(E2ERunSpawn, AFailingHubMakesTheExitCode255AndIsLogged) {
  CSpawnedRun r;
  r.hubs = vecFlat(2, true);
  r.hubs[1].strFaults = "[{\"kind\": \"fail\", \"request\": \"0x51\", \"occurrence\": 3}]";
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
