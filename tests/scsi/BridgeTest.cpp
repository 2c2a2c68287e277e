// The storage bridge commands over simulated bridges on a bench: register access with its
// retries, LED bits, disconnect, flush and standby, faults and vanishing bridges.
#include <gtest/gtest.h>

#include <cerrno>

#include "device/ScsiBridge.h"
#include "device/StorageDrive.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimStorageBridge.h"
#include "support/LogCapture.h"
#include "support/SimBenchJson.h"
#include "support/TempDir.h"

namespace {

// A bench with hubA (bridge: physical drive 1, CD-ROM 4) and hubB (bridge: CD-ROM 0 only)
// on controller xhci0, and hubC without a bridge. storageA is hubA's storage object.
struct BridgeBench {
  TempDir tmp;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimScsiPlatform> scsi;
  std::unique_ptr<CScsiBridge> bridge;
  DeviceList list;

  explicit BridgeBench(
      const nlohmann::json& storageA =
          R"({"physical_drive": 1, "cdrom": 4, "registers": {"0xCA30": "0x04", "0x1000": "0x5A"}})"_json) {
    tmp.write("bench.json", jsonBridgeBench(storageA, {{"cdrom", 0}}).dump());
    std::string err;
    bench = CSimBench::pLoad(tmp.str() + "/bench.json", err);
    EXPECT_NE(bench, nullptr) << err;
    if (!bench) return;
    scsi = CSimScsiPlatform::pFromBench(*bench, err);
    EXPECT_NE(scsi, nullptr) << err;
    if (!scsi) return;
    bridge = std::make_unique<CScsiBridge>(*scsi, bench->clock(), &list);
  }
  BridgeBench(const char*) = delete;  // a storage object, not its text
  CSimStorageBridge& a() { return *scsi->pBridge("hubA"); }
  std::unique_ptr<IScsiDriveHandle> open(const std::string& name = "\\\\.\\PHYSICALDRIVE1") {
    int nErr = 0;
    auto h = scsi->pOpen(name, &nErr);
    EXPECT_NE(h, nullptr) << name << " errno " << nErr;
    return h;
  }
  uint64_t now() { return bench->clock().ullNowMs(); }
  // Record n with the drive fields the finder gives for the hub's filter device name.
  void vRecord(int n, const std::string& strObject) {
    list.dev[n].ucIndex = static_cast<uint8_t>(n);
    list.dev[n].m_strHubObjectName = strObject;
    bFillStorageDrive(list.dev[n], *scsi);
    list.DevNums = std::max(list.DevNums, n + 1);
  }
};

std::vector<uint8_t> vecCdb(std::initializer_list<int> l) {
  std::vector<uint8_t> v;
  for (int b : l) v.push_back(static_cast<uint8_t>(b));
  return v;
}

}  // namespace

TEST(BridgeRegisters, ReadWriteAndExactCommands) {
  BridgeBench b;
  ASSERT_TRUE(b.bridge);
  auto h = b.open();
  uint8_t uc = 0x41;
  ASSERT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 1, 0x1234, &uc, 1), 0);
  EXPECT_EQ(b.a().ucRegister(0x1234), 0x41);
  auto cmds = b.a().vecCommands();
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(cmds[0].vecCdb, vecCdb({0xE5, 0x41, 0x00, 0x12, 0x34, 0x00}));
  EXPECT_EQ(cmds[0].ulDataLen, 0u);  // no data phase
  EXPECT_EQ(cmds[0].ulTimeoutSec, 60u);

  uint8_t buf[256];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  ASSERT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0x1000, buf, 2), 0);
  EXPECT_EQ(buf[0], 0x5A);
  EXPECT_EQ(buf[1], 0x00);
  EXPECT_EQ(buf[2], 0xEE);  // nothing past the length is touched
  cmds = b.a().vecCommands();
  EXPECT_EQ(cmds.back().vecCdb, vecCdb({0xE4, 0x02, 0x00, 0x10, 0x00, 0x00}));
  EXPECT_EQ(cmds.back().eDir, EScsiDirection::kIn);
  EXPECT_EQ(cmds.back().ulTimeoutSec, 3u);

  // 256 passes (its length byte travels as 0); 257, 0 and missing pieces are refused.
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0x1000, buf, 256), 0);
  EXPECT_EQ(b.a().vecCommands().back().vecCdb[1], 0x00);
  EXPECT_EQ(buf[0], 0x5A);
  LogCapture log;
  uint64_t ullBefore = b.a().ullRequestCount();
  uint8_t big[300];
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0x1000, big, 257), -10);
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0x1000, buf, 0), -10);
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 1, 0x1000, nullptr, 1), -10);
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(nullptr, 0, 0x1000, buf, 1), -10);
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(SCSI_INVALID_HANDLE, 0, 0x1000, buf, 1), -10);
  EXPECT_EQ(b.a().ullRequestCount(), ullBefore);
  EXPECT_TRUE(log.contains("(hDev == NULL) or (dwTotalLen != CONFIG_BIN_SIZE)"));
  EXPECT_TRUE(log.contains("BufLen:101"));
}

TEST(BridgeRegisters, LedValueTenSetsBitOneAndClearsBitTwo) {
  // "/LED:10": LED 1 (mask 2) on, LED 2 (mask 4) off, each read, changed and written back.
  BridgeBench b(R"({"physical_drive": 1, "registers": {"0xCA30": "0xF4"}})"_json);
  ASSERT_TRUE(b.bridge);
  b.vRecord(0, "usb:2-1");
  ASSERT_EQ(b.list.dev[0].ucPhysicalDrive, 1);
  const uint8_t ucLed[2] = {1, 0};
  const uint8_t ucMask[2] = {BRIDGE_LED1_MASK, BRIDGE_LED2_MASK};
  for (int i = 0; i < 2; ++i) {
    auto h = b.bridge->pOpenRecordDrive(0);
    ASSERT_NE(h, nullptr);
    uint8_t uc = 0;
    ASSERT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, BRIDGE_LED_REGISTER, &uc, 1), 0);
    uint8_t ucNew = ucLedRegisterValue(uc, ucMask[i], ucLed[i]);
    ASSERT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 1, BRIDGE_LED_REGISTER, &ucNew, 1), 0);
  }
  EXPECT_EQ(b.a().ucRegister(0xCA30), 0xF2);           // bit 1 set, bit 2 clear, the rest untouched
  EXPECT_EQ(ucLedRegisterValue(0x00, 0x04, 2), 0x00);  // only 1 switches on
  EXPECT_EQ(ucLedRegisterValue(0x00, 0x04, 1), 0x04);
}

TEST(BridgeRegisters, FailedReadRetriedEvery20msUntilItSucceeds) {
  // The first E4 and the next two fail; the third retry gets through.
  BridgeBench b(R"({"physical_drive": 1, "registers": {"0xCA30": "0x06"},
                    "faults": [{"kind": "fail", "opcode": "0xE4", "count": 3}]})"_json);
  ASSERT_TRUE(b.bridge);
  auto h = b.open();
  LogCapture log;
  testing::internal::CaptureStderr();
  uint64_t t0 = b.now();
  uint8_t uc = 0xEE;
  int nRet = b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0xCA30, &uc, 1);
  std::string strErr = testing::internal::GetCapturedStderr();
  EXPECT_EQ(nRet, 0);
  EXPECT_EQ(uc, 0x06);
  EXPECT_EQ(b.now() - t0, 60u);
  EXPECT_EQ(b.a().ullRequestCount(), 4u);
  EXPECT_NE(strErr.find("\n::DeviceIoControl success after retry:3\n"), std::string::npos) << strErr;
  EXPECT_FALSE(log.contains("ERR::"));
}

TEST(BridgeRegisters, ReadFailingEveryRetryOrWithBadStatusFails) {
  BridgeBench b(R"({"physical_drive": 1, "registers": {"0xCA30": "0x06"},
                    "faults": [{"kind": "fail", "opcode": "0xE4", "count": 31},
                               {"kind": "status", "opcode": "0xE4", "occurrence": 32, "status": "0x02"},
                               {"kind": "status", "opcode": "0xE5", "status": "0x08"}]})"_json);
  ASSERT_TRUE(b.bridge);
  auto h = b.open();
  LogCapture log;
  uint64_t t0 = b.now();
  uint8_t uc = 0xEE;
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0xCA30, &uc, 1), -1);
  EXPECT_EQ(uc, 0x00);  // one byte cleared, nothing written past it
  EXPECT_EQ(b.now() - t0, 600u);
  EXPECT_EQ(b.a().ullRequestCount(), 31u);  // the request and its 30 retries
  EXPECT_TRUE(log.contains("SCSI5872_AccessRegister: (status = Fail)"));
  EXPECT_TRUE(log.contains("status:0 , ScsiStatus:0 , dwErrorCode:5"));

  // A bad SCSI status is an answer: no retry.
  uint8_t buf[8];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  t0 = b.now();
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0xCA30, buf, 8), -1);
  EXPECT_EQ(b.now(), t0);
  EXPECT_EQ(b.a().ullRequestCount(), 32u);
  for (uint8_t x : buf) EXPECT_EQ(x, 0);
  EXPECT_TRUE(log.contains("status:1 , ScsiStatus:2"));

  uint8_t ucW = 0x07;
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 1, 0xCA30, &ucW, 1), -1);
  EXPECT_EQ(b.a().ucRegister(0xCA30), 0x06);
  EXPECT_TRUE(log.contains("(status = Fail) hDev:"));
  EXPECT_TRUE(log.contains("ScsiStatus:8"));
}

TEST(BridgeRegisters, StopEndsTheRetriesAtOnce) {
  BridgeBench b(R"({"physical_drive": 1, "faults": [{"kind": "fail", "at_request": 1, "count": 0}]})"_json);
  ASSERT_TRUE(b.bridge);
  auto h = b.open();
  std::stop_source src;
  src.request_stop();
  uint8_t uc = 0;
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0xCA30, &uc, 1, src.get_token()), -1);
  EXPECT_EQ(b.a().ullRequestCount(), 1u);
}

TEST(BridgeVanishes, GoneFaultUnplugAndReplug) {
  BridgeBench b(R"({"physical_drive": 1, "faults": [{"kind": "gone", "at_request": 2}]})"_json);
  ASSERT_TRUE(b.bridge);
  auto h = b.open();
  uint8_t uc = 0;
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0xCA30, &uc, 1), 0);
  uint64_t t0 = b.now();
  EXPECT_EQ(b.bridge->SCSI5872_AccessRegister(h.get(), 0, 0xCA30, &uc, 1), -1);  // vanishes here
  EXPECT_EQ(b.now() - t0, 600u);           // retried, then given up: nothing hangs
  EXPECT_EQ(b.a().ullRequestCount(), 2u);  // a vanished drive sees no more commands
  int nErr = 0;
  EXPECT_EQ(b.scsi->pOpen("\\\\.\\PHYSICALDRIVE1", &nErr), nullptr);
  EXPECT_EQ(nErr, ENODEV);
  StorageDriveInfo i;
  EXPECT_EQ(b.scsi->nFindStorageDrive("usb:2-1", i), 0);
  EXPECT_FALSE(i.bFound());

  // The hub leaving the bus takes its bridge with it; back again, the bridge is fresh.
  BridgeBench c;
  ASSERT_TRUE(c.bridge);
  auto h2 = c.open("\\\\.\\CDROM4");
  int nHub = c.bench->nFindHub("hubA");
  c.bench->vSetPlugged(nHub, false);
  EXPECT_EQ(c.bridge->SCSI5872_DisConnect(h2.get()), -1);
  EXPECT_EQ(c.scsi->pOpen("\\\\.\\CDROM4", &nErr), nullptr);
  c.bench->vSetPlugged(nHub, true);
  c.bench->vProcessDue();
  EXPECT_EQ(c.bridge->SCSI5872_DisConnect(h2.get()), -1);  // a handle of before is dead
  auto h3 = c.open("\\\\.\\CDROM4");
  ASSERT_NE(h3, nullptr);
  EXPECT_EQ(c.bridge->SCSI5872_DisConnect(h3.get()), 0);
}

TEST(BridgeDisconnect, FlushStandbyThenDisconnectWithTheirWaits) {
  BridgeBench b;
  ASSERT_TRUE(b.bridge);
  b.vRecord(0, "usb:1-1");  // the USB 2 half names the same hub
  ASSERT_EQ(b.list.dev[0].ucIsCDROM, 0);
  ASSERT_EQ(b.list.dev[0].ucPhysicalDrive, 1);
  ASSERT_EQ(b.list.dev[0].ucCDROMNumber, 4);
  LogCapture log;
  uint64_t t0 = b.now();
  EXPECT_TRUE(b.bridge->vDisconnectAllDevice(0));
  EXPECT_EQ(b.now() - t0, 3000u);
  auto cmds = b.a().vecCommands();
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(cmds[0].vecCdb, vecCdb({0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE7, 0, 0}));
  EXPECT_EQ(cmds[0].ulTimeoutSec, 65535u);
  EXPECT_EQ(cmds[1].vecCdb, vecCdb({0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0, 0}));
  EXPECT_EQ(cmds[2].vecCdb, vecCdb({0xE8, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(cmds[2].ulTimeoutSec, 3u);
  EXPECT_EQ(b.a().nFlushCount(), 1);
  EXPECT_TRUE(b.a().bStandby());
  EXPECT_TRUE(b.a().bDisconnected());
  EXPECT_FALSE(log.contains("ERR::"));
  // Disconnected: the drive is gone until the bridge is powered again.
  int nErr = 0;
  EXPECT_EQ(b.scsi->pOpen("\\\\.\\PHYSICALDRIVE1", &nErr), nullptr);
  EXPECT_FALSE(b.bridge->vDisconnectAllDevice(0));
  EXPECT_TRUE(log.contains("bSendFlushCache: CreateFile Fail [1] , dwErrorCode 19"));
  EXPECT_TRUE(log.contains("vDisconnectAllDevice: [1] CreateFile Fail , dwErrorCode 19"));
  b.a().vReconnect();
  EXPECT_NE(b.open(), nullptr);
  EXPECT_FALSE(b.a().bStandby());
}

TEST(BridgeDisconnect, CdromRecordsFreeValuesAndFailures) {
  BridgeBench b(R"({"physical_drive": 1, "faults": [{"kind": "status", "opcode": "0xE8"}]})"_json);
  ASSERT_TRUE(b.bridge);
  LogCapture log;
  // hubB shows only CD-ROM 0: the record opens it; flush and standby go to drive 127 and fail.
  b.vRecord(1, "usb:2-2");
  ASSERT_EQ(b.list.dev[1].ucIsCDROM, 1);
  ASSERT_EQ(b.list.dev[1].ucCDROMNumber, 0);
  EXPECT_TRUE(b.bridge->vDisconnectAllDevice(1));
  EXPECT_TRUE(b.scsi->pBridge("hubB")->bDisconnected());
  EXPECT_TRUE(log.contains("bSendFlushCache: CreateFile Fail [127]"));
  EXPECT_TRUE(log.contains("bSendStandByImmediate: CreateFile Fail [127]"));

  // hubC carries no bridge: free values, nothing anywhere is touched.
  b.vRecord(2, "usb:2-3");
  EXPECT_EQ(b.list.dev[2].ucPhysicalDrive, STORAGE_DRIVE_NONE);
  EXPECT_FALSE(b.bridge->vDisconnectAllDevice(2));
  EXPECT_TRUE(log.contains("vDisconnectAllDevice: [127] CreateFile Fail , dwErrorCode 2"));
  EXPECT_EQ(b.bridge->pOpenRecordDrive(2), nullptr);

  // hubA answers E8 with a bad status.
  b.vRecord(0, "usb:2-1");
  EXPECT_FALSE(b.bridge->vDisconnectAllDevice(0));
  EXPECT_TRUE(log.contains("SCSI5872_CPURST: IOCTL_SCSI_PASS_THROUGH Fail"));
  EXPECT_TRUE(log.contains("vDisconnectAllDevice: [1] SCSI5872_DisConnect Fail , iResult -1"));
  EXPECT_FALSE(b.a().bDisconnected());
  EXPECT_EQ(b.a().nFlushCount(), 1);

  EXPECT_FALSE(b.bridge->vDisconnectAllDevice(16));
  EXPECT_FALSE(b.bridge->vDisconnectAllDevice(-1));
  EXPECT_EQ(b.bridge->SCSI5872_DisConnect(nullptr), -1);
  EXPECT_TRUE(log.contains("SCSI5872_CPURST: hDev not valid"));
}

TEST(BridgeDisconnect, StopRequestedSendsNoDisconnect) {
  BridgeBench b;
  ASSERT_TRUE(b.bridge);
  b.vRecord(0, "usb:2-1");
  std::stop_source src;
  src.request_stop();
  EXPECT_FALSE(b.bridge->vDisconnectAllDevice(0, src.get_token()));
  EXPECT_FALSE(b.a().bDisconnected());
}

TEST(BridgeAta, FlushAndStandbyByDriveNumber) {
  BridgeBench b(R"({"physical_drive": 1, "faults": [{"kind": "fail", "opcode": "0xA1", "occurrence": 2},
                                                   {"kind": "timeout", "opcode": "0xA1", "occurrence": 3}]})"_json);
  ASSERT_TRUE(b.bridge);
  LogCapture log;
  EXPECT_TRUE(b.bridge->bSendFlushCache(1));
  EXPECT_FALSE(b.bridge->bSendStandbyImmediate(1));
  EXPECT_TRUE(log.contains("bSendStandByImmediate: IOCTL_SCSI_PASS_THROUGH Fail [1] , dwErrorCode 5"));
  uint64_t t0 = b.now();
  EXPECT_FALSE(b.bridge->bSendFlushCache(1));  // blocks for its whole time-out, then fails
  EXPECT_EQ(b.now() - t0, 65535000u);
  EXPECT_TRUE(log.contains("bSendFlushCache: IOCTL_SCSI_PASS_THROUGH Fail [1] , dwErrorCode 110"));
  EXPECT_FALSE(b.a().bStandby());
  EXPECT_FALSE(b.bridge->bSendFlushCache(-1));
  EXPECT_TRUE(log.contains("bSendFlushCache: CreateFile Fail [-1] , dwErrorCode 22"));
}

TEST(SimStorageFile, ParsesAndNamesTheFirstProblem) {
  std::vector<SimStorageSpec> v;
  std::string err;
  auto hubs = [](const nlohmann::json& a, const nlohmann::json& b = nullptr) {
    nlohmann::json vec = nlohmann::json::array({{{"name", "hubA"}, {"storage", a}}});
    if (!b.is_null()) vec.push_back({{"name", "hubB"}, {"storage", b}});
    return nlohmann::json{{"hubs", vec}}.dump();
  };
  ASSERT_TRUE(bParseSimStorage(hubs(R"({"physical_drive": 3, "registers": {"CA30": 6}})"_json), v, err))
      << err;
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].strHub, "hubA");
  EXPECT_EQ(v[0].nPhysicalDrive, 3);
  EXPECT_EQ(v[0].nCDROM, -1);
  EXPECT_EQ(v[0].mapRegisters.at(0xCA30), 6);
  struct {
    std::string text, expect;
  } bad[] = {
      {hubs("{}"_json), "needs \"physical_drive\" or \"cdrom\""},
      {hubs(R"({"physical_drive": 127})"_json), "physical_drive must be between 0 and 126"},
      {hubs(R"({"cdrom": 1})"_json, R"({"cdrom": 1})"_json),
       "hub \"hubB\".storage: CD-ROM 1 is already another bridge's"},
      {hubs(R"({"cdrom": 1, "faults": [{"kind": "melt", "at_request": 1}]})"_json),
       "kind \"melt\" is unknown"},
      {hubs(R"({"cdrom": 1, "faults": [{"kind": "fail"}]})"_json), "needs \"at_request\" or \"opcode\""},
      {hubs(R"({"cdrom": 1, "faults": [{"kind": "status", "at_request": 1, "status": 0}]})"_json),
       "status must not be 0"},
      {hubs(R"({"cdrom": 1, "registers": {"0x10000": 1}})"_json), "registers key is out of range"},
      {hubs(R"("disk")"_json), "storage must be an object"},
      {"{", "not valid JSON"},
  };
  for (const auto& c : bad) {
    err.clear();
    EXPECT_FALSE(bParseSimStorage(c.text, v, err)) << c.text;
    EXPECT_NE(err.find(c.expect), std::string::npos) << err;
  }
}
