// Safe removal over simulated storage bridges: what each hub's bridge receives, the flag
// that keeps scans away meanwhile, records that are skipped, and stopping it early.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "device/StorageDrive.h"
#include "host/WindowThread.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimStorageBridge.h"
#include "run/HeadlessRunView.h"
#include "run/SafeRemoval.h"
#include "support/LogCapture.h"
#include "support/SimBenchJson.h"
#include "support/TempDir.h"

namespace {

struct RemovalBench {
  TempDir tmp;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimScsiPlatform> scsi;
  std::unique_ptr<CScaledClock> pUtilClock;
  std::unique_ptr<CUSBUtility> utility;
  DeviceList list;
  CWindowThread loop;
  CHeadlessRunView view;
  std::unique_ptr<CSafeRemoval> removal;

  explicit RemovalBench(double dScale = 0.001) {
    tmp.write("bench.json", jsonBridgeBench({{"physical_drive", 0}}, {{"physical_drive", 1}}, dScale).dump());
    std::string err;
    bench = CSimBench::pLoad(tmp.str() + "/bench.json", err);
    EXPECT_NE(bench, nullptr) << err;
    if (!bench) return;
    scsi = CSimScsiPlatform::pFromBench(*bench, err);
    EXPECT_NE(scsi, nullptr) << err;
    if (!scsi) return;
    USBUtilityOptions o;
    o.strAppPath = tmp.str();
    o.strRunMarkerPath = tmp.str() + "/run.mark";
    utility = std::make_unique<CUSBUtility>(bench->clock(), o);
    removal = std::make_unique<CSafeRemoval>(*utility, list, view, loop, *scsi, bench->clock());
  }
  void vRecord(int n, int h, const std::string& strFW = "010203100506") {
    list.dev[n].ucIndex = static_cast<uint8_t>(n);
    list.dev[n].m_strHubObjectName = bench->strDeviceName(h, false);
    list.dev[n].strFWVersion = strFW;
    bFillStorageDrive(list.dev[n], *scsi);
    list.DevNums = std::max(list.DevNums, n + 1);
  }
  CSimStorageBridge& bridge(const char* name) { return *scsi->pBridge(name); }
  // Waits for the removal while this thread serves as the window thread.
  bool bFinish() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (removal->bRemoving() && std::chrono::steady_clock::now() < end) {
      loop.nRunPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return removal->bWaitDone(0);
  }
};

std::vector<uint8_t> vecOpcodes(CSimStorageBridge& b) {
  std::vector<uint8_t> v;
  for (const SimScsiCommand& c : b.vecCommands())
    v.push_back(c.vecCdb.empty() ? 0 : c.vecCdb[0] == 0xA1 ? c.vecCdb[9] : c.vecCdb[0]);
  return v;
}

}  // namespace

TEST(SafeRemoval, FlushesStopsAndDisconnectsEveryHubsDiskWhileScansStayAway) {
  RemovalBench rb;
  ASSERT_TRUE(rb.removal);
  rb.vRecord(0, 0);
  rb.vRecord(1, 2);  // hubC: no drive, logged and passed over
  rb.vRecord(2, 1);
  rb.vRecord(3, 1, "");  // no firmware version text: skipped
  LogCapture log;
  rb.removal->OnBnClickedButtonSafelyRemove();  // this thread is the loop's window thread
  EXPECT_TRUE(rb.utility->m_bRemovingUSB.load());
  EXPECT_TRUE(rb.removal->bRemoving());
  rb.removal->OnBnClickedButtonSafelyRemove();  // a second press starts nothing
  EXPECT_TRUE(log.contains("USBRemoveThreadFun is running"));
  // The thread ends by itself; its last step asks the window for the normal controls.
  ASSERT_TRUE(rb.bFinish());
  EXPECT_FALSE(rb.utility->m_bRemovingUSB.load());
  // FLUSH CACHE, STANDBY IMMEDIATE, disconnect: once per hub (hubB's second
  // record has no version text).
  EXPECT_EQ(vecOpcodes(rb.bridge("hubA")), (std::vector<uint8_t>{0xE7, 0xE0, 0xE8}));
  EXPECT_EQ(vecOpcodes(rb.bridge("hubB")), (std::vector<uint8_t>{0xE7, 0xE0, 0xE8}));
  EXPECT_TRUE(rb.bridge("hubA").bDisconnected());
  EXPECT_TRUE(rb.bridge("hubB").bDisconnected());
  EXPECT_EQ(rb.removal->nFailed(), 1);
  EXPECT_TRUE(log.contains("USBRemoveThreadFun: vSafeRemoveUSB Fail , [1] "));
  EXPECT_FALSE(log.contains("vSafeRemoveUSB Fail , [3] "));
}

TEST(SafeRemoval, ScansOnlyTheRecordsOfThePressNotLaterChanges) {
  RemovalBench rb;
  ASSERT_TRUE(rb.removal);
  rb.vRecord(0, 0);
  rb.removal->OnBnClickedButtonSafelyRemove();
  rb.list = DeviceList{};  // a scan empties the window's list meanwhile
  ASSERT_TRUE(rb.bFinish());
  EXPECT_TRUE(rb.bridge("hubA").bDisconnected());
}

TEST(SafeRemoval, EndsAtItsNextWaitWhenTheProgramEnds) {
  RemovalBench rb(1.0);  // real time: flush, 1 s, standby, 2 s, per hub
  ASSERT_TRUE(rb.removal);
  rb.vRecord(0, 0);
  rb.vRecord(1, 1);
  rb.removal->OnBnClickedButtonSafelyRemove();
  const auto t0 = std::chrono::steady_clock::now();
  rb.removal.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
  EXPECT_FALSE(rb.utility->m_bRemovingUSB.load());
  EXPECT_FALSE(rb.bridge("hubB").bDisconnected());
}

TEST(SafeRemoval, HoldsTheRunMarkUntilItHasFinished) {
  RemovalBench rb;
  ASSERT_TRUE(rb.removal);
  rb.vRecord(0, 0);
  CRunMarker other(rb.tmp.str() + "/run.mark");
  ASSERT_TRUE(rb.utility->bBeginProductionRun(0));  // the run that sends the removal
  rb.removal->OnBnClickedButtonSafelyRemove();
  rb.utility->vEndProductionRun();  // the run thread ends before the removal does
  // the removal's last step waits for the window thread, which has not run yet
  EXPECT_TRUE(rb.removal->bRemoving());
  EXPECT_FALSE(other.bAcquire(rb.bench->clock()));
  ASSERT_TRUE(rb.bFinish());
  EXPECT_FALSE(rb.utility->bProductionRunHeld());
  EXPECT_TRUE(other.bAcquire(rb.bench->clock()));
}
