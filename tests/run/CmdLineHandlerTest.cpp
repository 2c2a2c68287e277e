// The command-line handler over simulated storage bridges: LED control with its retries and
// failures, every query's exit code, the handler's hand-over of the code to the exit, and
// the production modes it leaves alone.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "device/StorageDrive.h"
#include "host/WindowThread.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimStorageBridge.h"
#include "run/CmdLineHandler.h"
#include "support/LogCapture.h"
#include "support/SimBenchJson.h"
#include "support/TempDir.h"

namespace {

// hubA carries a bridge on physical drive 1 (storageA), hubB one on CD-ROM 0, hubC none.
struct HandlerBench {
  TempDir tmp;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimScsiPlatform> scsi;
  DeviceList list;
  CWindowThread loop;
  std::unique_ptr<CCmdLineHandler> handler;

  explicit HandlerBench(
      const nlohmann::json& storageA = R"({"physical_drive": 1, "registers": {"0xCA30": "0x04"}})"_json) {
    tmp.write(
        "bench.json",
        jsonBridgeBench(storageA, R"({"cdrom": 0, "registers": {"0xCA30": "0xF0"}})"_json, 0.001).dump());
    std::string err;
    bench = CSimBench::pLoad(tmp.str() + "/bench.json", err);
    EXPECT_NE(bench, nullptr) << err;
    if (!bench) return;
    scsi = CSimScsiPlatform::pFromBench(*bench, err);
    EXPECT_NE(scsi, nullptr) << err;
    if (!scsi) return;
    handler = std::make_unique<CCmdLineHandler>(list, loop, *scsi, bench->clock());
  }
  HandlerBench(const char*) = delete;  // a storage object, not its text
  // Record n for the bench hub h (USB 2.0 half), its drive fields as identification fills them.
  void vRecord(int n, int h) {
    list.dev[n].ucIndex = static_cast<uint8_t>(n);
    list.dev[n].m_strHubObjectName = bench->strDeviceName(h, false);
    list.dev[n].strFWVersion = "010203100506";
    bFillStorageDrive(list.dev[n], *scsi);
    list.DevNums = std::max(list.DevNums, n + 1);
  }
  CSimStorageBridge& a() { return *scsi->pBridge("hubA"); }
  CSimStorageBridge& b() { return *scsi->pBridge("hubB"); }
  // Configures the handler for a request in this mode; fnChange adds the mode's values.
  void vRequest(int32_t nMode, const std::function<void(CmdLineOptions&)>& fnChange = {},
                std::function<void(int)> fnExit = {}) {
    CmdLineOptions request;
    request.m_bShowGUI = 0;
    request.m_nCmdLineMode = nMode;
    if (fnChange) fnChange(request);
    handler->vConfigure(request, std::move(fnExit));
  }
  std::optional<int> led(int n0, int n1) {
    vRequest(CMDLINE_LED, [&](CmdLineOptions& r) { r.m_ucCmdLineLED = {n0, n1}; });
    return handler->optHandle(list);
  }
};

}  // namespace

TEST(CmdLineLed, TenSetsLedOneAndClearsLedTwoOnEveryHub) {
  HandlerBench hb;
  ASSERT_TRUE(hb.handler);
  hb.vRecord(0, 0);
  hb.vRecord(1, 1);  // through its CD-ROM drive
  EXPECT_EQ(hb.led(1, 0), EXIT_CMD_OK);
  EXPECT_EQ(hb.a().ucRegister(BRIDGE_LED_REGISTER), 0x02);
  EXPECT_EQ(hb.b().ucRegister(BRIDGE_LED_REGISTER), 0xF2);
  EXPECT_EQ(hb.led(0, 1), EXIT_CMD_OK);
  EXPECT_EQ(hb.a().ucRegister(BRIDGE_LED_REGISTER), 0x04);
  EXPECT_EQ(hb.b().ucRegister(BRIDGE_LED_REGISTER), 0xF4);
}

TEST(CmdLineLed, HubWithoutDriveSucceedsWithoutTouchingAnyBridge) {
  HandlerBench hb;
  ASSERT_TRUE(hb.handler);
  hb.vRecord(0, 2);  // hubC: free drive fields, drive 127
  EXPECT_EQ(hb.list.dev[0].ucPhysicalDrive, STORAGE_DRIVE_NONE);
  EXPECT_EQ(hb.led(1, 1), EXIT_CMD_OK);
  EXPECT_TRUE(hb.handler->LEDControl(0, BRIDGE_LED1_MASK, 1));
  EXPECT_EQ(hb.a().ullRequestCount(), 0u);
  EXPECT_EQ(hb.b().ullRequestCount(), 0u);
}

TEST(CmdLineLed, FirstReadFailingTwiceSucceedsOnItsRetry) {
  HandlerBench hb(R"({"physical_drive": 1, "registers": {"0xCA30": "0x00"},
                      "faults": [{"kind": "fail", "at_request": 1, "count": 2}]})"_json);
  ASSERT_TRUE(hb.handler);
  hb.vRecord(0, 0);
  LogCapture log;
  EXPECT_EQ(hb.led(1, 0), EXIT_CMD_OK);
  EXPECT_EQ(hb.a().ucRegister(BRIDGE_LED_REGISTER), 0x02) << log.all();
  EXPECT_EQ(hb.a().ullRequestCount(),
            2u + 1 + 1 + 1 + 3);  // two failed reads, then read, write, read-back per LED
}

TEST(CmdLineLed, FailuresAreReportedAndNothingHangs) {
  struct Case {
    const char* name;
    const char* storage;
    const char* log;
    bool bUnchanged;  // the LED bit was never written
  };
  const Case cases[] = {
      // The write never takes: three tries read the old value back. Reported as failure.
      {"write refused",
       R"({"physical_drive": 1, "faults": [{"kind": "status", "opcode": "0xE5", "count": 0}]})",
       "############################bEnable=1", true},
      {"first read status", R"({"physical_drive": 1, "faults": [{"kind": "status", "opcode": "0xE4"}]})",
       "Get LED Status Fail , [0] SCSI5872_AccessRegister Failed ", true},
      {"read back fails",
       R"({"physical_drive": 1, "faults": [{"kind": "status", "opcode": "0xE4", "occurrence": 2}]})",
       "Get LED Status Fail , [0] SCSI5872_AccessRegister Failed ", false},
      {"bridge vanishes", R"({"physical_drive": 1, "faults": [{"kind": "gone", "opcode": "0xE5"}]})",
       "Get LED Status Fail , [0] SCSI5872_AccessRegister Failed ", true},
  };
  for (const Case& c : cases) {
    HandlerBench hb(nlohmann::json::parse(c.storage));
    ASSERT_TRUE(hb.handler) << c.name;
    hb.vRecord(0, 0);
    LogCapture log;
    EXPECT_EQ(hb.led(1, 0), EXIT_CMD_FAILED) << c.name;
    EXPECT_TRUE(log.contains(c.log)) << c.name << "\n" << log.all();
    EXPECT_TRUE(log.contains("Dev[0], set led 1 1 fail")) << c.name;
    if (c.bUnchanged) {
      EXPECT_EQ(hb.a().ucRegister(BRIDGE_LED_REGISTER) & BRIDGE_LED1_MASK, 0) << c.name;
    }
  }
}

TEST(CmdLineQueries, ExitCodesOfTheFirstHub) {
  HandlerBench hb;
  ASSERT_TRUE(hb.handler);
  hb.vRecord(0, 2);
  DevRecord& r = hb.list.dev[0];
  auto code = [&](int32_t nMode) {
    hb.vRequest(nMode);
    return hb.handler->optHandle(hb.list);
  };
  const std::pair<const char*, int> speeds[] = {
      {"super", 8},       {"SUPER x1", 8}, {"U3.2_5Gx1", 8}, {"U3.2_10Gx1", 9},    {"PLUS x1", 9},
      {"U3.2_10Gx2", 11}, {"U2.1", 7},     {"FULL", 6},      {"U3.2_Unknown", -1}, {"", -1}};
  for (auto& [text, n] : speeds) {
    r.strUSBText = text;
    EXPECT_EQ(code(CMDLINE_SPEED), n) << text;
  }
  const std::pair<uint8_t, int> prot[] = {{0, 3}, {1, 2}, {2, -1}, {0xFF, -1}};
  for (auto& [c, n] : prot) {
    r.ucProtocolCode = c;
    EXPECT_EQ(code(CMDLINE_PROTOCOL), n) << int(c);
  }
  const std::pair<uint8_t, int> cc[] = {{1, 4}, {2, 5}, {0, -1}, {0xFF, -1}};
  for (auto& [c, n] : cc) {
    r.ucCcOrientation = c;
    EXPECT_EQ(code(CMDLINE_CC), n) << int(c);
  }
  for (uint8_t c = 0; c < 8; ++c) {
    r.ucChipCode = c;
    EXPECT_EQ(code(CMDLINE_CHIP), c <= 5 ? c : 255) << int(c);
  }
  // Only the first hub is asked.
  hb.vRecord(1, 2);
  hb.list.dev[1].ucChipCode = 7;
  r.ucChipCode = 2;
  EXPECT_EQ(code(CMDLINE_CHIP), 2);
  // The production modes leave the answer to the run.
  EXPECT_EQ(code(CMDLINE_RUN), std::nullopt);
  EXPECT_EQ(code(CMDLINE_RUN_SN), std::nullopt);
}

TEST(CmdLineQueries, FirmwareCheckComparesEveryHubIgnoringCase) {
  HandlerBench hb;
  ASSERT_TRUE(hb.handler);
  hb.vRecord(0, 2);
  hb.vRecord(1, 2);
  hb.list.dev[1].strFWVersion = "0102031005ab";
  hb.vRequest(CMDLINE_CHECK_FW, [](CmdLineOptions& r) { r.m_strCmdLineFW = "0102031005AB"; });
  LogCapture log;
  EXPECT_EQ(hb.handler->optHandle(hb.list), EXIT_CMD_FW_UNMATCH);  // the first hub differs
  EXPECT_TRUE(log.contains("FW unmatch"));
  hb.list.dev[0].strFWVersion = "0102031005AB";
  EXPECT_EQ(hb.handler->optHandle(hb.list), EXIT_CMD_OK);
  hb.list.DevNums = 0;  // no hub: nothing to answer yet
  EXPECT_EQ(hb.handler->optHandle(hb.list), std::nullopt);
}

TEST(CmdLineQueries, HandlerReadsTheWindowsListAndHandsTheCodeToTheExit) {
  HandlerBench hb;
  ASSERT_TRUE(hb.handler);
  hb.vRecord(0, 2);
  hb.list.dev[0].ucChipCode = 4;
  std::optional<int> exitCode;
  hb.vRequest(CMDLINE_CHIP, {}, [&](int n) {
    exitCode = n;
    hb.loop.vRequestExit(n);
  });
  std::jthread scan([&] { hb.handler->vCmdLineHandler(); });  // the scan thread
  EXPECT_EQ(hb.loop.nRunLoop(), 4);
  scan.join();
  EXPECT_EQ(exitCode, 4);
}

// A window that counts what it is asked to run; calls run at once.
class CCountingWindow : public IWindowThread {
 public:
  int nCalls = 0;
  bool bIsWindowThread() const override { return true; }
  bool bSend(std::function<void()> fn, std::stop_token) override {
    ++nCalls;
    fn();
    return true;
  }
  void vPost(std::function<void()> fn) override { bSend(std::move(fn), {}); }
  void vRequestExit(int) override {}
};

TEST(CmdLineQueries, ProductionModesLeaveTheListAndTheProcessToTheRun) {
  HandlerBench hb;
  ASSERT_TRUE(hb.handler);
  hb.vRecord(0, 0);
  // The run's threads write the records meanwhile: the handler must not even copy them.
  CCountingWindow window;
  CCmdLineHandler handler(hb.list, window, *hb.scsi, hb.bench->clock());
  int nExits = 0;
  for (int nMode : {CMDLINE_RUN, CMDLINE_RUN_SN}) {
    CmdLineOptions request;
    request.m_nCmdLineMode = nMode;
    handler.vConfigure(request, [&](int) { ++nExits; });
    handler.vCmdLineHandler();
  }
  EXPECT_EQ(window.nCalls, 0);
  EXPECT_EQ(nExits, 0);
  EXPECT_EQ(hb.a().ullRequestCount(), 0u);
}
