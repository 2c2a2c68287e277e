// The run engine over scripted hubs: depth order of the resets, the cell rule, refusals,
// stopping, scans queued behind the command-line handler, and the descriptor check against
// the identity reported after the reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "RunTestRig.h"
#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "platform/Clock.h"
#include "run/CmdLineHandler.h"
#include "run/HeadlessRunView.h"
#include "run/ResultTable.h"
#include "run/RunEngine.h"
#include "settings/Ini.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using namespace runtest;

namespace {
class RunEngineTest : public RunEngineRig {};
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
    CWindowThread l2;
    CRunEngine e(*util, ini, list, *dev, view, l2, clock);
    vScreen(e);
    l2.vPost([&e] { e.TriggerScanThread(); });
    EXPECT_EQ(l2.nRunLoop(), EXIT_RUN_FAILED) << c.pszLog;
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
  cfg.cmdLine.m_bShowGUI = 1;  // window mode: the run does not end the loop
  vScreen(e);
  loop.vPost([&e] { e.TriggerScanThread(); });
  std::thread t([&] {
    // Wait until the run is in its resets, then stop everything as the window's close does.
    for (int i = 0; i < 20000 &&
                    !(e.bRunThreadRunning() && e.childInfo(0).ucThreadState.load() == CHILD_THREAD_RST_READY);
         ++i)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loop.vPost([&] {
      e.bDeleteAllThread();
      loop.vRequestExit(99);
    });
  });
  EXPECT_EQ(loop.nRunLoop(), 99);
  t.join();
  EXPECT_FALSE(e.bRunThreadRunning());
  EXPECT_EQ(list.dev[0].results.ucUpdateResult, 1);  // kept
  EXPECT_EQ(e.childInfo(0).ucThreadState.load(), CHILD_THREAD_FINISH);
  // The reset lock is free again.
  EXPECT_TRUE(util->m_ReloadFWCriticalSection.try_lock());
  util->m_ReloadFWCriticalSection.unlock();
}

// A stop that cuts a step short gives no verdict on it: the worker ends there, its hub keeps
// the results it had, and nothing reports the step as failed.
TEST_F(RunEngineTest, AStopAtAnyOfTheWorkersWaitsEndsItWithoutAVerdictOnThatStep) {
  auto vRunUntil = [this](const std::function<bool()>& fnDone) {
    for (int i = 0; i < 200000 && !fnDone(); ++i) {
      loop.nRunPending();
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return fnDone();
  };
  {
    SCOPED_TRACE("configuration write");
    dev->bBlockConfigWrite = true;
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    LogCapture log;
    ASSERT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
    ASSERT_TRUE(vRunUntil([&] { return dev->nHungConfigWrites.load() == 2; }));
    EXPECT_TRUE(e.bDeleteAllThread());
    loop.nRunPending();
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(e.childInfo(i).ucThreadState.load(), CHILD_THREAD_FINISH);
      EXPECT_EQ(list.dev[i].results.ucUpdateResult, 0);
      EXPECT_NE(view.at(i, COL_UPDATE).strText, "FAIL");
    }
    EXPECT_TRUE(log.contains("ucTargetNumber[0], stopped"));
    EXPECT_FALSE(log.contains("vWrRdConfiguration image 0 Failed"));
    EXPECT_TRUE(dev->resetOrder.empty());
  }
  {
    SCOPED_TRACE("the wait for a hub back from its reset");
    dev = std::make_unique<CFakeDevices>(list, tmp.str());
    dev->nNoReturnOf = 1;
    cfg.timings.uReturnTimeoutMs = 100000000;  // only the stop ends the wait
    CRunEngine e(*util, ini, list, *dev, view, loop, clock);
    vScanHere(e);
    LogCapture log;
    ASSERT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
    ASSERT_TRUE(vRunUntil([&] {
      std::lock_guard<std::mutex> l(dev->m);
      return e.childInfo(0).ucThreadState.load() == CHILD_THREAD_FINISH &&
             std::count(dev->resetOrder.begin(), dev->resetOrder.end(), 1) == 1;
    }));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(e.bDeleteAllThread());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));  // at its next poll
    loop.nRunPending();
    EXPECT_EQ(e.childInfo(1).ucThreadState.load(), CHILD_THREAD_FINISH);
    EXPECT_EQ(list.dev[1].results.ucUpdateResult, 1);  // kept
    EXPECT_EQ(list.dev[1].results.ucRelinkResult, 0);
    EXPECT_FALSE(log.contains("hub did not come back"));
    EXPECT_EQ(list.dev[0].results.ucRelinkResult, 1);
  }
}

// The engine's threads read its configuration without a lock, so it changes only while none
// of them runs.
TEST_F(RunEngineTest, TheConfigurationIsRefusedWhileARunGoesOn) {
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  vScanHere(e);  // window mode
  ASSERT_EQ(e.OnBnClickedButtonStart(), EStartResult::Started);
  LogCapture log;
  // cfg is a window-less run's: taken now, the run's end would end the process.
  EXPECT_FALSE(e.bConfigure(cfg));
  EXPECT_TRUE(log.contains("configuration not changed"));
  vFinish(e);
  EXPECT_EQ(list.m_dwPassCount, 2u);
  EXPECT_FALSE(loop.optExitCode().has_value());
  EXPECT_TRUE(e.bConfigure(cfg));  // nothing runs now
}

// A hub that arrives while the command-line handler of a scan is working queues the next
// scan behind it: handlers never run side by side, each one under the scan lock.
TEST_F(RunEngineTest, ANewScanWaitsUntilTheCommandLineHandlerOfTheLastHasDone) {
  CRunEngine e(*util, ini, list, *dev, view, loop, clock);
  cfg.cmdLine.m_nCmdLineMode = CMDLINE_CHIP;  // a query: no auto run beside it
  std::atomic<int> nCalls{0}, nInside{0}, nScansDuringFirst{0};
  std::atomic<bool> bOverlap{false}, bLockFree{false};
  cfg.fnCmdLineHandler = [&] {
    const int nCall = ++nCalls;
    if (++nInside > 1) bOverlap = true;
    // Whether the scan lock is held, asked from another thread (its owner may not ask).
    std::thread([&] {
      if (util->m_ScanCriticalSection.try_lock()) {
        bLockFree = true;
        util->m_ScanCriticalSection.unlock();
      }
    }).join();
    if (nCall == 1) {
      loop.vPost([&e] { e.TriggerScanThread(); });
      for (int i = 0; i < 2000 && !util->m_bScanWaiting && dev->nScans < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      // The queued scan has its chance to get through.
      for (int i = 0; i < 20 && dev->nScans < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      nScansDuringFirst = dev->nScans.load();
    }
    --nInside;
    if (nCall == 2) loop.vRequestExit(0);
  };
  vScreen(e);
  std::atomic<bool> bDone{false};
  std::thread dog([&] {
    for (int i = 0; i < 5000 && !bDone; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!bDone) loop.vRequestExit(99);
  });
  loop.vPost([&e] { e.TriggerScanThread(); });
  EXPECT_EQ(loop.nRunLoop(), 0);
  bDone = true;
  dog.join();
  EXPECT_FALSE(bLockFree);
  EXPECT_FALSE(bOverlap);
  EXPECT_EQ(nScansDuringFirst.load(), 1);
  EXPECT_EQ(nCalls.load(), 2);  // the queued scan ran, and its handler after it
}

TEST(RunWindowThread, SendFromTheLoopRunsDirectlyAndAStoppedSenderGivesUp) {
  CWindowThread loop;
  int n = 0;
  EXPECT_TRUE(loop.bSend([&] { ++n; }));
  EXPECT_EQ(n, 1);
  std::stop_source ss;
  std::thread t([&] { EXPECT_FALSE(loop.bSend([&] { ++n; }, ss.get_token())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ss.request_stop();
  t.join();
  EXPECT_EQ(loop.nRunPending(), 0u);
  EXPECT_EQ(n, 1);
}
