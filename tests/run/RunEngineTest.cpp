// The run engine over scripted hubs: depth order of the resets, the cell rule, refusals,
// stopping, and the descriptor check against the identity reported after the reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "host/USBUtility.h"
#include "platform/Clock.h"
#include "run/DispatchLoop.h"
#include "run/HeadlessRunView.h"
#include "run/ResultTable.h"
#include "run/RunEngine.h"
#include "settings/Ini.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace {

// Hubs that do what they are told; every reset is recorded with the hub's depth.
class CFakeDevices : public IRunDevices {
 public:
  explicit CFakeDevices(DeviceList& list, std::string strAppPath) : m_list(list), m_strAppPath(std::move(strAppPath)) {}
  int nHubs = 2;
  std::vector<int> depths{0, 0};
  int nFailRegisterOf = -1;   // slot whose register read fails
  int nCorruptFlashOf = -1;   // slot whose flash reads back one byte off
  int nBadIdentityOf = -1;    // slot that reports an old product after its reset
  bool bImageFails = false;
  bool bBlockReset = false;   // resets never return (until stopped)
  std::mutex m;
  std::vector<int> resetOrder;

  int nReadChipRegister(int n, uint8_t& v) override {
    v = 0x11;
    return n == nFailRegisterOf ? -1 : 0;
  }
  bool bAccessHubConfig(int, int, uint8_t*, std::stop_token) override { return true; }
  int vUpdateHubFirmware(int, std::stop_token) override { return 1; }
  bool bReadHubSPIROM(int n, uint8_t* p, std::stop_token) override {
    std::copy(m_list.dev[n].ucConfigBlock.begin(), m_list.dev[n].ucConfigBlock.end(), p);
    std::ifstream in(m_strAppPath + "/VLNFW_Temp/TempBinData.bin", std::ios::binary);
    std::vector<char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::copy(f.begin(), f.end(), p + 256);
    if (n == nCorruptFlashOf) p[256 + 40] ^= 0x01;
    return true;
  }
  int VLN318xReset(int n, std::stop_token st) override {
    if (bBlockReset) {
      while (!st.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return -1;
    }
    std::lock_guard<std::mutex> l(m);
    resetOrder.push_back(n);
    return 0;
  }
  int nReadHubIdentity(int n, HubIdentity& id) override {
    id.strVID = "2F7B";
    id.strPID = n == nBadIdentityOf ? "55AA" : "5A01";
    id.usBcdUSB = 0x0320;
    id.strManufacturer = "Maker";
    id.strProduct = "Hub";
    char sz[16];
    snprintf(sz, sizeof sz, "%012X", 1 + n);  // each hub's table got the run's serial plus its index
    id.strSerialNumber = sz;
    return 0;
  }
  bool bScanUSB(DeviceList& list, const INISettings&) override {
    list.DevNums = nHubs;
    list.m_DriverNum = static_cast<uint8_t>(nHubs);
    for (int i = 0; i < nHubs; ++i) {
      list.dev[i].ucIndex = static_cast<uint8_t>(i);
      list.dev[i].m_ucHubDepth = static_cast<uint8_t>(depths[i]);
      list.dev[i].ucFWType = 1;
      list.dev[i].strUSBText = "U3.2_10Gx2";
      list.dev[i].strSerialNumber = "00000000000000000000";
    }
    return true;
  }
  uint8_t ucFirmwareType(const std::string&) override { return 1; }
  bool bSetHubConfigInfo(uint8_t) override {
    for (int i = 0; i < nHubs; ++i) m_list.dev[i].ucConfigBlock.fill(static_cast<uint8_t>(0x40 + i));
    return true;
  }
  bool bCreateTempBinDataFile(uint8_t, const std::string&) override {
    if (bImageFails) return false;
    std::filesystem::create_directories(m_strAppPath + "/VLNFW_Temp");
    std::ofstream out(m_strAppPath + "/VLNFW_Temp/TempBinData.bin", std::ios::binary);
    for (int i = 0; i < 0x5000; ++i) out.put(static_cast<char>(i * 13));
    return true;
  }

 private:
  DeviceList& m_list;
  std::string m_strAppPath;
};

class RunEngineTest : public ::testing::Test {
 protected:
  TempDir tmp;
  CScaledClock clock{0.002};  // 40 s of tool time is 80 ms: slow enough for the thread checker
  std::unique_ptr<CUSBUtility> util;
  Ini ini;
  DeviceList list;
  std::unique_ptr<CFakeDevices> dev;
  CDispatchLoop loop;
  CHeadlessRunView view;
  std::string strOldCwd;

  void SetUp() override {
    USBUtilityOptions o;
    o.strAppPath = tmp.str();
    o.strRunMarkerPath = tmp.str() + "/run.mark";
    util = std::make_unique<CUSBUtility>(clock, o);
    dev = std::make_unique<CFakeDevices>(list, tmp.str());
    tmp.write("fw.bin", std::string(0x5000, 'x'));
    INISettings& s = ini.m_pINI;
    s.ucFw_enablel = 1;
    s.ucFw_reload = 1;
    s.ucConfig_Check = 1;
    s.ucSN_EditType = 1;
    s.ucConfig_format = 1;
    s.ucAuto_mp = 1;
    s.ucAuto_mp_DevNum = 2;
    strOldCwd = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
  }
  void TearDown() override { std::filesystem::current_path(strOldCwd); }

  void vScreen(CRunEngine& e) {
    e.m_bShowGUI = 0;
    e.m_nCmdLineMode = 2;
    e.m_screen.strVID = "2F7B";
    e.m_screen.strPID = "5A01";
    e.m_screen.strRevision = "0100";
    e.m_screen.strSerialNumber = "000000000001";
    e.m_screen.strManufacturer = "Maker";
    e.m_screen.strProduct = "Hub";
    e.m_screen.strFWPath = tmp.str() + "/fw.bin";
  }
  // A whole window-less run: scan, auto mode, Start, the run; returns the exit code.
  int nRun(CRunEngine& e) {
    vScreen(e);
    loop.vPost([&e] { e.TriggerScanThread(); });
    return loop.nRun();
  }
};

}  // namespace

TEST(ResultTableRule, ColourCodesAndWords) {
  uint32_t b, t;
  vCellColours("pass", CELL_ORANGE, b, t);  // the word comes before the code
  EXPECT_EQ(b, RUN_RGB_GREEN);
  vCellColours("doing...1", CELL_ORANGE, b, t);
  EXPECT_EQ(b, RUN_RGB_ORANGE);
  vCellColours("", CELL_PLAIN, b, t);
  EXPECT_EQ(b, RUN_RGB_WHITE);
  EXPECT_EQ(t, RUN_RGB_BLACK);
  vCellColours("anything", CELL_PASS_OR_RED, b, t);
  EXPECT_EQ(b, RUN_RGB_RED);
  vCellColours("FAIL", CELL_BLUE, b, t);
  EXPECT_EQ(b, RUN_RGB_RED);
  vCellColours("U3", CELL_GREEN, b, t);
  EXPECT_EQ(b, RUN_RGB_GREEN);
}

TEST(ResultTableRule, PortMapKeepsRowsAndCutsLongTexts) {
  CHeadlessRunView v;
  CResultTable table(v);
  DeviceList list;
  INISettings ini;
  ini.ucPort_mapping_enable = 1;
  auto vHub = [&](int s, int id) {
    list.dev[s].ucIndex = static_cast<uint8_t>(s);
    list.dev[s].nPortId = id;
  };
  vHub(0, 30);
  vHub(1, 10);
  list.DevNums = 2;
  table.vUpdateMainResultSubItemTable(true, list, ini);
  EXPECT_EQ(table.nRowOfSlot(list, ini, 1), 0);  // sorted: 10, 30
  EXPECT_EQ(table.nRowOfSlot(list, ini, 0), 1);
  // Hub 30 leaves, hub 20 arrives: hub 10 keeps row 0.
  list.dev[0].nPortId = 10;
  list.dev[1].nPortId = 20;
  table.vUpdateMainResultSubItemTable(true, list, ini);
  EXPECT_EQ(table.nRowOfSlot(list, ini, 0), 0);
  table.vUpdateMainResultItemTable(3, 4, std::string(200, 'a'), CELL_PLAIN);
  EXPECT_EQ(table.cell(3, 4).strText.size(), 127u);
  table.vUpdateMainResultItemTable(16, 0, "x", CELL_PLAIN);  // outside: ignored
  table.vUpdateMainResultItemTable(0, 13, "x", CELL_PLAIN);
}

TEST_F(RunEngineTest, CascadeResetsDeepestFirstAndAllPass) {
  dev->nHubs = 4;
  dev->depths = {0, 1, 2, 1};
  ini.m_pINI.ucAuto_mp_DevNum = 4;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRun(e), EXIT_RUN_PASSED);
  ASSERT_EQ(dev->resetOrder.size(), 4u);
  std::vector<int> depthsInOrder;
  for (int n : dev->resetOrder) depthsInOrder.push_back(dev->depths[n]);
  EXPECT_TRUE(std::is_sorted(depthsInOrder.rbegin(), depthsInOrder.rend())) << depthsInOrder[0];
  EXPECT_EQ(list.m_dwPassCount, 4u);
  // Serial number counted on by 4 in hexadecimal and saved.
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "000000000005");
  EXPECT_NE(tmp.read("vlnhub.ini").find("serial_number=000000000005"), std::string::npos);
}

TEST_F(RunEngineTest, FailuresFailOnlyTheirHub) {
  struct Case {
    int CFakeDevices::*pField;
    const char* pszLog;
  };
  for (Case c : {Case{&CFakeDevices::nFailRegisterOf, "VLN318xAccessRegister Failed"},
                 Case{&CFakeDevices::nCorruptFlashOf, "FW content compare Fail"},
                 Case{&CFakeDevices::nBadIdentityOf, "Config Check mismatch"}}) {
    LogCapture log;
    DeviceList fresh;
    list = fresh;
    dev = std::make_unique<CFakeDevices>(list, tmp.str());
    (*dev).*(c.pField) = 1;
    CDispatchLoop l2;
    CRunEngine e(*util, ini, list, *dev, view, l2, clock);
    vScreen(e);
    l2.vPost([&e] { e.TriggerScanThread(); });
    EXPECT_EQ(l2.nRun(), EXIT_RUN_FAILED) << c.pszLog;
    EXPECT_EQ(list.m_dwPassCount, 1u) << c.pszLog;
    EXPECT_EQ(list.m_dwFailCount, 1u) << c.pszLog;
    EXPECT_TRUE(log.contains(c.pszLog)) << c.pszLog;
    EXPECT_EQ(list.dev[0].results.ucUpdateResult, 1);
  }
}

TEST_F(RunEngineTest, RefusedImageEndsTheCommandLineRunWithMinus3) {
  dev->bImageFails = true;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRun(e), EXIT_START_REFUSED);
  EXPECT_NE(tmp.read("ProgramMSG.txt").find("could not be built"), std::string::npos);
  EXPECT_TRUE(dev->resetOrder.empty());
}

TEST_F(RunEngineTest, NoTestItemRefusesOnceWithMinus3) {
  ini.m_pINI.ucFw_enablel = 0;
  ini.m_pINI.ucFw_reload = 0;  // only the descriptor check: it is not counted
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  LogCapture log;
  EXPECT_EQ(nRun(e), EXIT_START_REFUSED);
  EXPECT_TRUE(log.contains("Pre-Check Fail"));
}

TEST_F(RunEngineTest, StopEndsAHungResetAndKeepsTheResults) {
  dev->bBlockReset = true;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScreen(e);
  e.m_bShowGUI = 1;  // window mode: the run does not end the loop
  loop.vPost([&e] { e.TriggerScanThread(); });
  std::thread t([&] {
    // Wait until the run is in its resets, then stop everything as the window's close does.
    for (int i = 0; i < 20000 && !(e.bRunThreadRunning() && e.childInfo(0).ucThreadState.load() == CHILD_THREAD_RST_READY); ++i)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loop.vPost([&] {
      e.bDeleteAllThread();
      loop.vRequestExit(99);
    });
  });
  EXPECT_EQ(loop.nRun(), 99);
  t.join();
  EXPECT_FALSE(e.bRunThreadRunning());
  EXPECT_EQ(list.dev[0].results.ucUpdateResult, 1);  // kept
  EXPECT_EQ(e.childInfo(0).ucThreadState.load(), CHILD_THREAD_FINISH);
  // The reset lock is free again.
  EXPECT_TRUE(util->m_ReloadFWCriticalSection.try_lock());
  util->m_ReloadFWCriticalSection.unlock();
}

TEST(DispatchLoopTest, SendFromTheLoopRunsDirectlyAndAStoppedSenderGivesUp) {
  CDispatchLoop loop;
  int n = 0;
  EXPECT_TRUE(loop.bSend([&] { ++n; }));
  EXPECT_EQ(n, 1);
  std::stop_source ss;
  std::thread t([&] { EXPECT_FALSE(loop.bSend([&] { ++n; }, ss.get_token())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ss.request_stop();
  t.join();
  EXPECT_EQ(loop.nRunPending(), 0);
  EXPECT_EQ(n, 1);
}
