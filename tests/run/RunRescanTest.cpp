// The end of a run over scripted hubs: the rescan before the log (results stay with the
// hubs they belong to, the count of hubs it finds ends nothing), a hub that never comes back
// from its reset, and scans that could not identify a hub.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "RunTestRig.h"

using namespace runtest;

namespace {

std::vector<std::string> vecSplit(const std::string& s, const std::string& sep) {
  std::vector<std::string> v;
  for (size_t nPos = 0;;) {
    size_t n = s.find(sep, nPos);
    v.push_back(s.substr(nPos, n == std::string::npos ? std::string::npos : n - nPos));
    if (n == std::string::npos) return v;
    nPos = n + sep.size();
  }
}

constexpr size_t F_TARGET = 2, F_SERIAL = 10, F_UPDATE = 28, F_RELOAD = 29;

class RunRescanTest : public RunEngineRig {
 protected:
  // The entries of the run's result log, split into fields (the header left out).
  std::vector<std::vector<std::string>> vecLogEntries() {
    std::vector<std::vector<std::string>> v;
    for (const auto& f : std::filesystem::directory_iterator(tmp.path())) {
      if (f.path().extension() != ".log") continue;
      auto lines = vecSplit(tmp.read(f.path().filename().string()), "\r\n");
      for (size_t i = 1; i < lines.size(); ++i) v.push_back(vecSplit(lines[i], "\t"));
    }
    return v;
  }
  // A window-less run that gives up (exit 99) when it has not ended after 5 s.
  int nRunBounded(CRunEngine& e) {
    std::atomic<bool> bDone{false};
    std::thread dog([&] {
      for (int i = 0; i < 5000 && !bDone; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (!bDone) loop.vPost([this] { loop.vRequestExit(99); });
    });
    int n = nRun(e);
    bDone = true;
    dog.join();
    return n;
  }
};

// The rescan finds only the hub on port 2, now in slot 0, with its new serial number.
void vOnlyPortTwoComesBack(DeviceList& l, int nScan) {
  if (nScan < 2) return;
  l.dev[0] = l.dev[1];
  l.dev[0].ucIndex = 0;
  l.dev[0].strSerialNumber = "NEW2";
  l.dev[1].vFree();
  l.DevNums = 1;
}

}  // namespace

TEST_F(RunRescanTest, ResultsStayWithTheirHubsWhenTheRescanFindsThemElsewhere) {
  dev->nCorruptFlashOf = 1;  // the hub on port 2 fails, the one on port 1 passes
  dev->fnScan = vOnlyPortTwoComesBack;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  // The run's own result, not the count of hubs its rescan found.
  EXPECT_EQ(nRunBounded(e), EXIT_RUN_FAILED);
  EXPECT_EQ(tmp.read("ProgramMSG.txt").find("None of Velnor device was found!!"), std::string::npos);
  EXPECT_EQ(list.m_dwPassCount, 1u);
  EXPECT_EQ(list.m_dwFailCount, 1u);
  auto v = vecLogEntries();
  ASSERT_EQ(v.size(), 2u);
  // Slot 0 is the hub on port 1: its own record (it was not found again) and its PASS.
  EXPECT_EQ(v[0][F_TARGET], "00");
  EXPECT_EQ(v[0][F_SERIAL], "00000000000000000000");
  EXPECT_EQ(v[0][F_UPDATE], "PASS");
  EXPECT_EQ(v[0][F_RELOAD], "PASS");
  // Slot 1 is the hub on port 2: the identity it reports now and its FAIL.
  EXPECT_EQ(v[1][F_TARGET], "01");
  EXPECT_EQ(v[1][F_SERIAL], "NEW2");
  EXPECT_EQ(v[1][F_UPDATE], "FAIL");
  // The list and the table now show the port-2 hub in slot 0, with its own result.
  EXPECT_EQ(list.dev[0].strSerialNumber, "NEW2");
  EXPECT_EQ(list.dev[0].results.ucUpdateResult, 0);
  EXPECT_EQ(view.at(0, COL_UPDATE).strText, "FAIL");
}

TEST_F(RunRescanTest, APassedRunIsNotEndedByTheCountOfItsRescan) {
  dev->fnScan = vOnlyPortTwoComesBack;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRunBounded(e), EXIT_RUN_PASSED);
  EXPECT_EQ(tmp.read("ProgramMSG.txt").find("None of Velnor device was found!!"), std::string::npos);
  auto v = vecLogEntries();
  ASSERT_EQ(v.size(), 2u);
  for (const auto& f : v) {
    EXPECT_EQ(f[F_UPDATE], "PASS");
    EXPECT_EQ(f[F_RELOAD], "PASS");
  }
  EXPECT_EQ(v[1][F_SERIAL], "NEW2");
  EXPECT_EQ(view.at(0, COL_RELINK).strText, "PASS");
}

TEST_F(RunRescanTest, AHubBackThroughItsOtherHalfOnlyStillTakesItsResults) {
  dev->nCorruptFlashOf = 0;
  // The rescan meets hub 0 through its USB 2 half only (another bus, the same port path),
  // and a hub on the same port path of another controller that was not in the run.
  dev->fnScan = [](DeviceList& l, int nScan) {
    if (nScan < 2) return;
    l.dev[0].m_strHubObjectName = "usb:1-1";
    l.dev[0].strSerialNumber = "NEW1";
  };
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  EXPECT_EQ(nRunBounded(e), EXIT_RUN_FAILED);
  auto v = vecLogEntries();
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0][F_SERIAL], "NEW1");
  EXPECT_EQ(v[0][F_UPDATE], "FAIL");
  EXPECT_EQ(list.dev[0].results.ucUpdateResult, 0);
  EXPECT_EQ(v[1][F_UPDATE], "PASS");

  // With a second hub on that port path, nothing is guessed: hub 0 keeps its own record.
  for (const auto& f : std::filesystem::directory_iterator(tmp.path()))
    if (f.path().extension() == ".log") std::filesystem::remove(f.path());
  list = DeviceList{};
  dev = std::make_unique<CFakeDevices>(list, tmp.str());
  dev->nCorruptFlashOf = 0;
  dev->fnScan = [](DeviceList& l, int nScan) {
    if (nScan < 2) return;
    l.dev[0].m_strHubObjectName = "usb:1-1";
    l.dev[0].strSerialNumber = "NEW1";
    l.dev[2] = l.dev[1];
    l.dev[2].ucIndex = 2;
    l.dev[2].m_strHubObjectName = "usb:4-1";  // another controller's port 1
    l.DevNums = 3;
  };
  CWindowThread l2;
  CRunEngine e2(*util, ini, list, *dev, view, l2, clock);
  vScreen(e2);
  l2.vPost([&e2] { e2.TriggerScanThread(); });
  EXPECT_EQ(l2.nRunLoop(), EXIT_RUN_FAILED);
  v = vecLogEntries();
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0][F_SERIAL], "00000000000000000000");
  EXPECT_EQ(v[0][F_UPDATE], "FAIL");
}

TEST_F(RunRescanTest, AHubThatNeverComesBackFailsItsReloadWithOrWithoutConfigCheck) {
  for (uint8_t ucCheck : {0, 1}) {
    SCOPED_TRACE(ucCheck);
    for (const auto& f : std::filesystem::directory_iterator(tmp.path()))
      if (f.path().extension() == ".log") std::filesystem::remove(f.path());
    list = DeviceList{};
    dev = std::make_unique<CFakeDevices>(list, tmp.str());
    dev->nNoReturnOf = 1;
    ini.m_pINI.ucConfig_Check = ucCheck;
    CWindowThread l2;
    LogCapture log;
    CRunEngine e(*util, ini, list, *dev, view, l2, clock);
    vScreen(e);
    l2.vPost([&e] { e.TriggerScanThread(); });
    EXPECT_EQ(l2.nRunLoop(), EXIT_RUN_FAILED);
    EXPECT_EQ(list.m_dwPassCount, 1u);
    EXPECT_EQ(list.m_dwFailCount, 1u);
    EXPECT_TRUE(log.contains("hub did not come back on [usb:2-2]"));
    auto v = vecLogEntries();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0][F_RELOAD], "PASS");
    EXPECT_EQ(v[1][F_UPDATE], "PASS");  // written and verified; it is the reload that failed
    EXPECT_EQ(v[1][F_RELOAD], "FAIL");
  }
}

TEST_F(RunRescanTest, AScanThatCouldNotIdentifyAHubLooksAgain) {
  dev->nUnidentifiedScans = 2;  // one failed request in each of the first two scans
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  LogCapture log;
  EXPECT_EQ(nRunBounded(e), EXIT_RUN_PASSED);
  EXPECT_EQ(list.m_dwPassCount, 2u);
  EXPECT_TRUE(log.contains("hub entries not identified, scan again [2/3]"));
}

TEST_F(RunRescanTest, ScanRetriesAreBoundedAndATreeWithoutHubsOnlyWaits) {
  dev->nUnidentifiedScans = 100;
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);
  EXPECT_EQ(dev->nScans.load(), 4);  // the scan and three more
  EXPECT_EQ(list.DevNums, 0);
  // Nothing unidentified: one scan, no hub, nothing more.
  dev->nUnidentifiedScans = 0;
  dev->nHubs = 0;
  dev->nScans = 0;
  vScanHere(e);
  EXPECT_EQ(dev->nScans.load(), 1);
}
