// The PD vendor command: its CDB layouts over a recording drive, its argument checks and
// failures; then the detection, device mode, I2C path and flash-mode operations with their
// retries and log lines, over simulated PD controllers on a bench and over scripted answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <stdexcept>

#include "pd/PowerDelivery.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimStorageBridge.h"
#include "support/LogCapture.h"
#include "support/PDFixtures.h"
#include "support/SimBenchJson.h"
#include "support/TempDir.h"

namespace {

using nlohmann::json;

// What a recording drive saw of one command.
struct Sent {
  std::vector<uint8_t> vecCdb;
  EScsiDirection eDir = EScsiDirection::kNone;
  std::vector<uint8_t> vecData;  // the data phase of a write, its length for a read
  size_t ulDataLen = 0;
  uint32_t ulTimeoutSec = 0;
};

// Answers every command as scripted: the answers queue first (a failed request when
// bRequestOk is false), then GOOD with vecReadFill as the data of reads.
struct Script {
  std::deque<ScsiResult> queue;
  std::vector<uint8_t> vecReadFill;
  std::vector<Sent> sent;
  int nOpens = 0;
  bool bOpenFails = false;
  bool bThrows = false;
};

class CRecordingHandle : public IScsiDriveHandle {
 public:
  CRecordingHandle(Script& s, std::string strName) : m_s(s), m_strName(std::move(strName)) {}
  bool bSend(const ScsiRequest& req, ScsiResult& res) override {
    if (m_s.bThrows) throw std::runtime_error("transport");
    Sent x;
    x.vecCdb.assign(req.ucCdb.begin(), req.ucCdb.begin() + req.ucCdbLen);
    x.eDir = req.eDir;
    x.ulDataLen = req.ulDataLen;
    x.ulTimeoutSec = req.ulTimeoutSec;
    if (req.eDir == EScsiDirection::kOut) x.vecData.assign(req.pData, req.pData + req.ulDataLen);
    m_s.sent.push_back(x);
    if (!m_s.queue.empty()) {
      res = m_s.queue.front();
      m_s.queue.pop_front();
    } else {
      res = ScsiResult{};
      res.bRequestOk = true;
    }
    if (res.bGood() && req.eDir == EScsiDirection::kIn) {
      for (size_t i = 0; i < req.ulDataLen; ++i)
        req.pData[i] = i < m_s.vecReadFill.size() ? m_s.vecReadFill[i] : 0;
      res.ulTransferred = req.ulDataLen;
    }
    return res.bGood();
  }
  const std::string& strName() const override { return m_strName; }

 private:
  Script& m_s;
  std::string m_strName;
};

class CRecordingScsi : public IScsiPassThroughPlatform {
 public:
  Script s;
  std::vector<std::string> vecOpened;
  std::unique_ptr<IScsiDriveHandle> pOpen(const std::string& strName, int* pnError, std::string*) override {
    ++s.nOpens;
    vecOpened.push_back(strName);
    if (s.bOpenFails) {
      if (pnError) *pnError = ENOENT;
      return nullptr;
    }
    if (pnError) *pnError = 0;
    return std::make_unique<CRecordingHandle>(s, strName);
  }
};

ScsiResult stFailed(int nErr = EIO) {
  ScsiResult r;
  r.nError = nErr;
  return r;
}

std::vector<uint8_t> vecBytes(std::initializer_list<int> l) {
  std::vector<uint8_t> v;
  for (int b : l) v.push_back(static_cast<uint8_t>(b));
  return v;
}

// An engine over a recording drive and a clock whose waits pass at once.
struct Recorded {
  CScaledClock clock{0};
  CRecordingScsi scsi;
  DeviceList list;
  pdfix::Host host;
  CPowerDelivery pd{scsi, clock, host.utility, &list};
  std::unique_ptr<IScsiDriveHandle> h = std::make_unique<CRecordingHandle>(scsi.s, "\\\\.\\PHYSICALDRIVE1");
  const Sent& last() { return scsi.s.sent.back(); }
};

// hubA's bridge is physical drive 1, hubB's physical drive 2; both carry storageA/storageB.
struct PDBench {
  TempDir tmp;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimScsiPlatform> scsi;
  std::unique_ptr<CPowerDelivery> pd;
  DeviceList list;
  pdfix::Host host;

  explicit PDBench(const json& storageA, const json& storageB = {{"physical_drive", 2}}) {
    bench = pLoadSimBench(tmp, jsonBridgeBench(storageA, storageB));
    if (!bench) return;
    std::string err;
    scsi = CSimScsiPlatform::pFromBench(*bench, err);
    EXPECT_NE(scsi, nullptr) << err;
    if (!scsi) return;
    pd = std::make_unique<CPowerDelivery>(*scsi, bench->clock(), host.utility, &list);
  }
  CSimStorageBridge& a() { return *scsi->pBridge("hubA"); }
  CSimStorageBridge& b() { return *scsi->pBridge("hubB"); }
  uint64_t now() { return bench->clock().ullNowMs(); }
  // The sub-commands the bridge received, in order.
  static std::vector<int> subs(CSimStorageBridge& br) {
    std::vector<int> v;
    for (const auto& c : br.vecCommands())
      if (c.vecCdb.size() == 8 && c.vecCdb[0] == 0xEC) v.push_back(c.vecCdb[1]);
    return v;
  }
};

json jsonPD(const char* pszFamily, const json& extra = json::object()) {
  json j = {{"physical_drive", 1}, {"pd", pszFamily}};
  j.update(extra);
  return j;
}

}  // namespace

// Every sub-command's CDB, direction, data phase and time-out.
TEST(PDVendorCmd, EverySubCommandLayout) {
  Recorded r;
  struct Case {
    uint8_t ucWrite, ucSub;
    uint16_t usA, usB;
    uint32_t dwLen;
    std::vector<uint8_t> vecCdb;
    size_t ulData;  // data phase length
  };
  const std::vector<Case> cases = {
      {1, 0x00, 0, 0x3FFF, 0, vecBytes({0xEC, 0x00, 0x00, 0x00, 0x3F, 0xFF, 0x00, 0x00}), 0},
      {1, 0x04, 0, 0, 0, vecBytes({0xEC, 0x04, 0, 0, 0, 0, 0, 0}), 0},
      {1, 0x05, 0, 0, 0, vecBytes({0xEC, 0x05, 0, 0, 0, 0, 0, 0}), 0},
      {0, 0x06, 0x1000, 0x40, 32, vecBytes({0xEC, 0x06, 0x10, 0x00, 0x00, 0x40, 0x00, 0x20}), 32},
      {0, 0x07, 0x1000, 0, 16, vecBytes({0xEC, 0x07, 0x10, 0x00, 0, 0, 0, 0}), 16},
      {0, 0x21, 0x1000, 0, 16, vecBytes({0xEC, 0x21, 0x10, 0x00, 0, 0, 0, 0}), 16},
      {1, 0x22, 0, 0, 0, vecBytes({0xEC, 0x22, 0, 0, 0, 0, 0, 0}), 0},
      {1, 0x23, 0x0500, 0, 128, vecBytes({0xEC, 0x23, 0x05, 0x00, 0, 0, 0, 0}), 128},
      {0, 0x24, 0x0500, 0, 128, vecBytes({0xEC, 0x24, 0x05, 0x00, 0, 0, 0, 0}), 128},
      {0, 0x29, 0x100, 0, 1, vecBytes({0xEC, 0x29, 0x01, 0x00, 0, 0, 0, 0}), 1},
      {0, 0x2A, 0x0201, 0, 128, vecBytes({0xEC, 0x2A, 0x02, 0x01, 0, 0, 0, 0}), 128},
      {1, 0x2B, 0x0201, 0, 128, vecBytes({0xEC, 0x2B, 0x02, 0x01, 0x00, 0x00, 0, 0}), 128},
      {1, 0x2B, 0x0201, 0x100, 256, vecBytes({0xEC, 0x2B, 0x02, 0x01, 0x01, 0x00, 0, 0}), 256},
      {0, 0x2C, 0x1000, 0, 16, vecBytes({0xEC, 0x2C, 0x10, 0x00, 0, 0, 0, 0}), 16},
      {1, 0x2D, 0, 0, 0, vecBytes({0xEC, 0x2D, 0, 0, 0, 0, 0, 0}), 0},
      {1, 0x32, 0, 0, 0, vecBytes({0xEC, 0x32, 0, 0, 0, 0, 0, 0}), 0},
      {1, 0x33, 0, 0, 0, vecBytes({0xEC, 0x33, 0, 0, 0, 0, 0, 0}), 0},
      {1, 0x34, 0x0800, 0x0018, 12, vecBytes({0xEC, 0x34, 0x08, 0x00, 0x00, 0x18, 0x0C, 0x00}), 12},
      {0, 0x35, 0x0800, 0x0018, 5, vecBytes({0xEC, 0x35, 0x08, 0x00, 0x00, 0x18, 0x05, 0x00}), 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "sub 0x" << std::hex << int(c.ucSub) << " len " << std::dec
                                    << c.dwLen);
    std::vector<uint8_t> buf(256);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i + 1);
    ASSERT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), c.ucWrite, c.ucSub, c.usA, c.usB, buf.data(), c.dwLen), 0);
    const Sent& s = r.last();
    EXPECT_EQ(s.vecCdb, c.vecCdb);
    EXPECT_EQ(s.ulDataLen, c.ulData);
    EXPECT_EQ(s.ulTimeoutSec, c.ucWrite ? 60u : 3u);
    EXPECT_EQ(s.eDir, c.ucWrite ? EScsiDirection::kOut : EScsiDirection::kIn);
    if (c.ucWrite && c.ulData) {
      EXPECT_EQ(s.vecData, std::vector<uint8_t>(buf.begin(), buf.begin() + c.ulData));
    }
  }

  // The Richtek word travels in the CDB, with no data phase.
  uint8_t word[4] = {0x11, 0x22, 0x33, 0x44};
  ASSERT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 1, 0x01, 0x0123, 0, word, 4), 0);
  EXPECT_EQ(r.last().vecCdb, vecBytes({0xEC, 0x01, 0x01, 0x23, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(r.last().ulDataLen, 0u);

  // The Richtek version always moves 2 bytes; the rest of the caller's buffer reads as zero.
  r.scsi.s.vecReadFill = {0x34, 0x12, 0x77, 0x77};
  uint8_t ver[16];
  std::fill(std::begin(ver), std::end(ver), 0xEE);
  ASSERT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 0, 0x03, 0, 0, ver, 16), 0);
  EXPECT_EQ(r.last().vecCdb, vecBytes({0xEC, 0x03, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.last().ulDataLen, 2u);
  EXPECT_EQ(ver[0], 0x34);
  EXPECT_EQ(ver[1], 0x12);
  EXPECT_EQ(ver[2], 0x00);
  EXPECT_EQ(ver[15], 0x00);
}

TEST(PDVendorCmd, BadArgumentsNeverReachTheDrive) {
  Recorded r;
  LogCapture log;
  std::vector<uint8_t> buf(300);
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 0, 0x06, 0x1000, 0, buf.data(), 257), -10);
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(nullptr, 0, 0x07, 0x1000, 0, buf.data(), 16), -10);
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(SCSI_INVALID_HANDLE, 1, 0x04, 0, 0, nullptr, 0), -10);
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 1, 0x23, 0x0100, 0, nullptr, 128), -10);
  uint8_t three[3] = {1, 2, 3};
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 1, 0x01, 0, 0, three, 3), -10);  // a word is 4 bytes
  EXPECT_TRUE(r.scsi.s.sent.empty());
  EXPECT_TRUE(log.contains("CPowerDelivery::SCSI5872_PDVendorCmd:"));
  EXPECT_TRUE(
      log.contains("(hDev == NULL) or (dwTotalLen != CONFIG_BIN_SIZE)  hDev:0 , ReadWrite:0 , BufLen:10 , "
                   "dwErrorCode:16  "));
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 0, 0x06, 0x1000, 0, buf.data(), 256), 0);
  EXPECT_EQ(r.scsi.s.sent.size(), 1u);
}

TEST(PDVendorCmd, FailuresClearReadsAndAreLogged) {
  Recorded r;
  LogCapture log;
  uint8_t buf[16];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  r.scsi.s.queue.push_back(stFailed(EIO));
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 0, 0x07, 0x1000, 0, buf, 16), -1);
  EXPECT_EQ(std::count(std::begin(buf), std::end(buf), 0), 16);
  EXPECT_TRUE(log.contains("(status = Fail) hDev:"));
  EXPECT_TRUE(log.contains(", ReadWrite:0 , BufLen:10 , status:0 , ScsiStatus:0 , dwErrorCode:5  "));

  ScsiResult check;
  check.bRequestOk = true;
  check.ucScsiStatus = SCSI_STATUS_CHECK_CONDITION;
  r.scsi.s.queue.push_back(check);
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 1, 0x04, 0, 0, nullptr, 0), -1);
  EXPECT_TRUE(log.contains("SCSI5872_AccessRegister: (status = Fail) hDev:"));
  EXPECT_TRUE(log.contains(", ReadWrite:1 , dwTotalLen:0 , status:1 , ScsiStatus:2 , dwErrorCode:0  "));

  // A transport that throws: the read reads nothing and the command has failed.
  r.scsi.s.bThrows = true;
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  EXPECT_EQ(r.pd.SCSI5872_PDVendorCmd(r.h.get(), 0, 0x07, 0x1000, 0, buf, 16), -1);
  EXPECT_EQ(std::count(std::begin(buf), std::end(buf), 0), 16);
  EXPECT_TRUE(log.contains(": catch 0"));
}

// The answer of PD_GET_PD_CONTROL: its signature, family and MCU bytes; retries 10 ms apart.
TEST(PDChipVendor, AnswersRetriesAndLogLines) {
  {
    Recorded r;
    LogCapture log;
    r.scsi.s.vecReadFill = vecBytes({0x5A, 0x04, 0, 0, 0, 0, 0, 0, 0x01});
    r.scsi.s.queue = {stFailed(), stFailed()};
    EXPECT_EQ(r.pd.nGetPDChipVendor(3), 0);
    EXPECT_EQ(r.pd.m_nPDChipVendor, 4);
    EXPECT_EQ(r.pd.m_nMCUChipVendor, 20);
    EXPECT_EQ(r.scsi.vecOpened, std::vector<std::string>{"\\\\.\\PHYSICALDRIVE3"});
    EXPECT_EQ(r.scsi.s.sent.size(), 3u);
    EXPECT_EQ(r.clock.ullNowMs(), 20u);
    EXPECT_TRUE(log.contains(
        "SCSI5872_PDVendorCmd PD_GET_PD_CONTROL Retry[0] , strPhysicalAddress:[\\\\.\\PHYSICALDRIVE3] ,  "
        "dwErrorCode 5"));
    EXPECT_TRUE(log.contains("PD_GET_PD_CONTROL Retry[1]"));
    EXPECT_FALSE(log.contains("PD_GET_PD_CONTROL Retry[2]"));
    EXPECT_TRUE(log.contains("CPowerDelivery::nGetPDChipVendor:"));
    EXPECT_TRUE(log.contains("m_nPDChipVendor=[4], m_nMCUChipVendor=[14]"));
  }
  {
    // No signature: -3, and the bytes are stored all the same.
    Recorded r;
    LogCapture log;
    r.scsi.s.vecReadFill = vecBytes({0x00, 0x07, 0, 0, 0, 0, 0, 0, 0x00});
    EXPECT_EQ(r.pd.nGetPDChipVendor(1), -3);
    EXPECT_EQ(r.pd.m_nPDChipVendor, 7);
    EXPECT_EQ(r.pd.m_nMCUChipVendor, 0);
    EXPECT_TRUE(
        log.contains("SCSI5872_PDVendorCmd PD_GET_PD_CONTROL  , strPhysicalAddress:[\\\\.\\PHYSICALDRIVE1]"));
  }
  {
    // Three failures leave the answer zeroed: -3, vendors 0.
    Recorded r;
    r.pd.m_nPDChipVendor = 4;
    r.scsi.s.queue = {stFailed(), stFailed(), stFailed()};
    EXPECT_EQ(r.pd.nGetPDChipVendor(1), -3);
    EXPECT_EQ(r.pd.m_nPDChipVendor, 0);
    EXPECT_EQ(r.scsi.s.sent.size(), 3u);
  }
  {
    Recorded r;
    LogCapture log;
    r.scsi.s.bOpenFails = true;
    EXPECT_EQ(r.pd.nGetPDChipVendor(9), -1);
    EXPECT_EQ(r.pd.nGetCCG3DeviceMode(9), -1);
    EXPECT_EQ(r.pd.nInitializedPDI2CBus(9), -1);
    EXPECT_TRUE(
        log.contains("CreateFile Fail , strPhysicalAddress:[\\\\.\\PHYSICALDRIVE9] ,  dwErrorCode 2"));
  }
}

TEST(PDChipVendor, DeviceModeRetries) {
  Recorded r;
  LogCapture log;
  r.scsi.s.vecReadFill = {2};
  r.scsi.s.queue = {stFailed()};
  EXPECT_EQ(r.pd.nGetCCG3DeviceMode(1), 0);
  EXPECT_EQ(r.pd.m_ucCCG3DeviceMode, 2);
  EXPECT_TRUE(log.contains("SCSI5872_PDVendorCmd PD_GET_PD_CCG3_DeviceMode Retry[0] , strPhysicalAddress:"));
  r.scsi.s.queue = {stFailed(), stFailed(), stFailed()};
  EXPECT_EQ(r.pd.nGetCCG3DeviceMode(1), -1);
  EXPECT_EQ(r.pd.m_ucCCG3DeviceMode, 0);
}

// Detection per family over the simulated controllers, through the I2C path.
TEST(PDChipVendor, EveryFamilyOnTheBench) {
  struct Case {
    const char* pszFamily;
    json extra;
    uint8_t ucVendor, ucMcu, ucMode;
    std::vector<int> vecSubs;
  };
  const std::vector<Case> cases = {
      {"richtek", json::object(), 1, 0, 0, {0x04, 0x07}},
      {"ccg2", {{"mcu", true}}, 2, 20, 0, {0x04, 0x07}},
      {"ccg3", {{"device_mode", 2}}, 4, 0, 2, {0x04, 0x07, 0x29}},
      {"ccg4", {{"mcu", true}}, 5, 20, 1, {0x04, 0x07, 0x29}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszFamily);
    PDBench b(jsonPD(c.pszFamily, c.extra));
    ASSERT_TRUE(b.pd);
    EXPECT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
    EXPECT_EQ(b.pd->m_nPDChipVendor, c.ucVendor);
    EXPECT_EQ(b.pd->m_nMCUChipVendor, c.ucMcu);
    EXPECT_EQ(b.pd->m_ucCCG3DeviceMode, c.ucMode);
    EXPECT_EQ(PDBench::subs(b.a()), c.vecSubs);
    EXPECT_TRUE(b.a().stPD().bI2COpen);
  }
  // A bridge without a controller refuses the I2C path.
  PDBench b(jsonPD("richtek"));
  ASSERT_TRUE(b.pd);
  LogCapture log;
  EXPECT_EQ(b.pd->nInitializedPDI2CBus(2), -1);
  EXPECT_TRUE(log.contains(
      "SCSI5872_PDVendorCmd PD Initialization Fail , strPhysicalAddress:[\\\\.\\PHYSICALDRIVE2]"));
  // Detection without the I2C path open is refused by the controller.
  EXPECT_EQ(b.pd->nGetPDChipVendor(1), -3);
  EXPECT_EQ(b.a().vecCommands().size(), 3u);
}

// The flash-mode switch per target, the MCU's first step once per drive, and its retries.
TEST(PDConfigMTPArea, TargetsAndTheMcuSteps) {
  {
    Recorded r;
    LogCapture log;
    EXPECT_EQ(r.pd.nConfigMTPArea(0, 1), -10);
    EXPECT_TRUE(log.contains("nConfigMTPArea Entry~~"));
    EXPECT_TRUE(log.contains("m_nPDChipVendor is UNKNOW Failed"));
    r.pd.m_nPDChipVendor = 3;
    r.pd.m_nMCUChipVendor = 20;
    EXPECT_EQ(r.pd.nConfigMTPArea(3, 1), -10);
    EXPECT_TRUE(log.contains("m_nPDChipVendor is KNOWN[3]"));
    EXPECT_EQ(r.scsi.s.nOpens, 0);  // neither target touches the drive, nor the MCU's step
  }
  struct Case {
    const char* pszFamily;
    uint8_t ucTarget;
    std::vector<int> vecSubs;
  };
  const std::vector<Case> cases = {{"richtek", 1, {0x04, 0x07, 0x00}},
                                   {"ccg2", 2, {0x04, 0x07, 0x22}},
                                   {"ccg3", 4, {0x04, 0x07, 0x29, 0x2D}},
                                   {"ccg4", 5, {0x04, 0x07, 0x29, 0x2D}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszFamily);
    PDBench b(jsonPD(c.pszFamily));
    ASSERT_TRUE(b.pd);
    ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
    EXPECT_EQ(b.pd->nConfigMTPArea(c.ucTarget, 1), 0);
    EXPECT_EQ(PDBench::subs(b.a()), c.vecSubs);
    EXPECT_TRUE(b.a().stPD().bFlashMode);
  }
  {
    // With an MCU: 0x32 once, 1000 ms before the controller's switch; then the MCU's second
    // step, which the controller takes only after the first.
    PDBench b(jsonPD("ccg3", {{"mcu", true}}), jsonPD("ccg3", {{"mcu", true}, {"physical_drive", 2}}));
    ASSERT_TRUE(b.pd);
    ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
    uint64_t t0 = b.now();
    EXPECT_EQ(b.pd->nConfigMTPArea(4, 1), 0);
    EXPECT_EQ(b.now() - t0, 1000u);
    EXPECT_EQ(b.pd->nConfigMTPArea(4, 1), 0);
    EXPECT_EQ(b.pd->nConfigMTPArea(20, 1), 0);
    EXPECT_EQ(PDBench::subs(b.a()), (std::vector<int>{0x04, 0x07, 0x29, 0x32, 0x2D, 0x2D, 0x33}));
    EXPECT_EQ(b.a().stPD().eMcu, ESimMcuState::kBootloader);
    // The second bridge's MCU gets its own first step.
    ASSERT_EQ(b.pd->nInitializedPDI2CBus(2), 0);
    EXPECT_EQ(b.pd->nConfigMTPArea(20, 2), 0);
    EXPECT_EQ(PDBench::subs(b.b()), (std::vector<int>{0x04, 0x07, 0x29, 0x32, 0x33}));
    // After a power cycle the MCU runs its application again: the next opening of the path
    // makes the first step due once more.
    ASSERT_TRUE(b.scsi->bPowerCycle("\\\\.\\PHYSICALDRIVE1"));
    b.bench->clock().bSleepMs(2000);
    ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
    EXPECT_EQ(b.pd->nConfigMTPArea(20, 1), 0);
    EXPECT_EQ(b.a().stPD().eMcu, ESimMcuState::kBootloader);
  }
}

TEST(PDConfigMTPArea, RetriesAndTheirTexts) {
  {
    // The flash-mode switch fails twice: two log lines, 500 ms apart, then it takes.
    PDBench b(jsonPD(
        "ccg2", {{"faults",
                  json::array({{{"kind", "fail"}, {"opcode", "0xEC"}, {"occurrence", 3}, {"count", 2}}})}}));
    ASSERT_TRUE(b.pd);
    LogCapture log;
    ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
    uint64_t t0 = b.now();
    EXPECT_EQ(b.pd->nConfigMTPArea(2, 1), 0);
    EXPECT_EQ(b.now() - t0, 1000u);
    EXPECT_TRUE(
        log.contains("SCI5872_PDVendorCmd CYPRESS_PD_FLASH_MODE Fail ,nRetry[0],  "
                     "strPhysicalAddress:[\\\\.\\PHYSICALDRIVE1] ,  dwErrorCode 5"));
    EXPECT_TRUE(log.contains("CYPRESS_PD_FLASH_MODE Fail ,nRetry[1]"));
  }
  {
    // The MCU's first step fails every time: it is tried on each of the three tries, and the
    // controller's switch is never sent.
    Recorded r;
    LogCapture log;
    r.pd.m_nMCUChipVendor = 20;
    r.scsi.s.queue = {stFailed(), stFailed(), stFailed()};
    EXPECT_EQ(r.pd.nConfigMTPArea(1, 1), -1);
    ASSERT_EQ(r.scsi.s.sent.size(), 3u);
    for (const auto& s : r.scsi.s.sent) EXPECT_EQ(s.vecCdb[1], 0x32);
    EXPECT_EQ(r.pd.m_bMCUBootloaderEntered[1], 0);
    EXPECT_EQ(r.clock.ullNowMs(), 1500u);
    EXPECT_TRUE(
        log.contains("SCSI5872_PDVendorCmd ST_MCU_ENTER_BOOTLOADER Fail , retry[2],  strPhysicalAddress:"));
  }
  {
    Recorded r;
    LogCapture log;
    r.scsi.s.queue = {stFailed(), stFailed(), stFailed()};
    EXPECT_EQ(r.pd.nConfigMTPArea(1, 1), -1);
    EXPECT_TRUE(log.contains("SCI5872_PDVendorCmd PD_MPT_AREA Fail ,nRetry[]2,  strPhysicalAddress:"));
    r.scsi.s.queue = {stFailed()};
    EXPECT_EQ(r.pd.nConfigMTPArea(20, 1), 0);
    EXPECT_TRUE(
        log.contains("SCSI5872_PDVendorCmd ST_MCU_ENTER_BOOTLOADER Fail ,retry[0],  strPhysicalAddress:"));
    r.scsi.s.queue = {stFailed()};
    EXPECT_EQ(r.pd.nConfigMTPArea(5, 1), 0);
    EXPECT_TRUE(
        log.contains("SCI5872_PDVendorCmd CYPRESS_PD_CCG3_FLASH_MODE Fail ,nRetry[0],  strPhysicalAddress:"));
  }
}

// A stop request ends the waits at once; an operation cut short has not succeeded.
TEST(PDConfigMTPArea, StopEndsTheWaits) {
  Recorded r;
  r.pd.m_nMCUChipVendor = 20;
  std::stop_source ss;
  ss.request_stop();
  EXPECT_EQ(r.pd.nConfigMTPArea(1, 1, ss.get_token()), -1);
  ASSERT_EQ(r.scsi.s.sent.size(), 1u);  // the MCU's first step, not the switch
  EXPECT_EQ(r.scsi.s.sent[0].vecCdb[1], 0x32);
  r.scsi.s.queue = {stFailed(), stFailed(), stFailed()};
  EXPECT_EQ(r.pd.nGetCCG3DeviceMode(1, ss.get_token()), -1);
  EXPECT_EQ(r.scsi.s.sent.size(), 2u);  // no retry after a stop
  EXPECT_EQ(r.clock.ullNowMs(), 0u);
}

TEST(PDI2CBus, CloseByDeviceRecordAndFaults) {
  PDBench b(jsonPD("richtek",
                   {{"faults", json::array({{{"kind", "gone"}, {"opcode", "0xEC"}, {"occurrence", 3}}})}}));
  ASSERT_TRUE(b.pd);
  b.list.dev[0].ucPhysicalDrive = 1;
  b.list.DevNums = 1;
  LogCapture log;
  ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
  // The bridge vanishes in the middle of the third command.
  EXPECT_EQ(b.pd->nConfigMTPArea(1, 1), -1);
  EXPECT_TRUE(b.a().bGone());
  EXPECT_EQ(b.pd->nClosePDI2CBus(0), -1);
  EXPECT_TRUE(log.contains("CPowerDelivery::nClosePDI2CBus:"));
  EXPECT_TRUE(log.contains("CreateFile Fail , strPhysicalAddress:[\\\\.\\PHYSICALDRIVE1] ,  dwErrorCode 19"));
  EXPECT_EQ(b.pd->nClosePDI2CBus(16), -10);
  EXPECT_EQ(b.pd->nClosePDI2CBus(-1), -10);

  PDBench c(jsonPD("ccg4"));
  ASSERT_TRUE(c.pd);
  c.list.dev[2].ucPhysicalDrive = 1;
  ASSERT_EQ(c.pd->nInitializedPDI2CBus(1), 0);
  EXPECT_EQ(c.pd->nClosePDI2CBus(2), 0);
  EXPECT_FALSE(c.a().stPD().bI2COpen);
  EXPECT_EQ(PDBench::subs(c.a()).back(), 0x05);
}

// A bridge that fails commands now and then: every operation gets through on its retries.
TEST(PDFaults, FailingBridgeIsRetried) {
  PDBench b(
      jsonPD("ccg3",
             {{"faults", json::array({{{"kind", "fail"}, {"opcode", "0xEC"}, {"occurrence", 2}, {"count", 2}},
                                      {{"kind", "status"}, {"opcode", "0xEC"}, {"occurrence", 5}}})}}));
  ASSERT_TRUE(b.pd);
  LogCapture log;
  EXPECT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
  EXPECT_EQ(b.pd->m_nPDChipVendor, 4);
  EXPECT_EQ(b.pd->m_ucCCG3DeviceMode, 1);
  EXPECT_TRUE(log.contains("PD_GET_PD_CONTROL Retry[1]"));
  EXPECT_TRUE(log.contains("PD_GET_PD_CCG3_DeviceMode Retry[0]"));
  EXPECT_EQ(PDBench::subs(b.a()), (std::vector<int>{0x04, 0x07, 0x07, 0x07, 0x29, 0x29}));
}

// The power cycle the operator is asked for: the bench performs it; the drive is away for its
// relink time and comes back with the I2C path closed; or, with no_relink, never.
TEST(PDFaults, PowerCycleAndNoRelink) {
  PDBench b(jsonPD("richtek", {{"relink_ms", 3000}}),
            {{"physical_drive", 2}, {"pd", "ccg2"}, {"faults", json::array({{{"kind", "no_relink"}}})}});
  ASSERT_TRUE(b.pd);
  ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
  ASSERT_EQ(b.pd->nInitializedPDI2CBus(2), 0);
  EXPECT_FALSE(b.scsi->bPowerCycle("\\\\.\\PHYSICALDRIVE9"));
  ASSERT_TRUE(b.scsi->bPowerCycle("\\\\.\\PHYSICALDRIVE1"));
  ASSERT_TRUE(b.scsi->bPowerCycle("\\\\.\\PhysicalDrive2"));
  EXPECT_EQ(b.a().uPowerCycles(), 1u);
  EXPECT_EQ(b.b().uPowerCycles(), 1u);
  EXPECT_EQ(b.pd->nGetPDChipVendor(1), -1);  // away
  b.bench->clock().bSleepMs(3000);
  EXPECT_EQ(b.pd->nGetPDChipVendor(1), -3);  // back, but the I2C path is closed
  EXPECT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
  // The other never comes back, however long one waits.
  b.bench->clock().bSleepMs(41000);
  EXPECT_EQ(b.pd->nInitializedPDI2CBus(2), -1);
  StorageDriveInfo info;
  EXPECT_EQ(b.scsi->nFindStorageDrive(b.bench->strDeviceName(1, false), info), 0);
  EXPECT_FALSE(info.bFound());
}

// The flows straight on the engine: a CCG2 row one byte cannot name, the MCU's pieces, a
// controller without read-back, and the version texts.
TEST(PDFlows, EngineEdges) {
  {
    PDBench b(jsonPD("ccg2"));
    ASSERT_TRUE(b.pd);
    ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
    ASSERT_EQ(b.pd->m_images.nReadCyacd(pdfix::strCyacdImage("140411A40000", 254, 3, 128), 128), 0);
    LogCapture log;
    const auto nBefore = b.a().ullRequestCount();
    EXPECT_EQ(b.pd->nPDFWUpdate(PD_VENDOR_CCG2, "x.cyacd", 1), -10);
    std::vector<uint8_t> read(size_t{3} * 128);
    EXPECT_EQ(b.pd->nPDFWRead(PD_VENDOR_CCG2, 1, read.data(), read.size()), -10);
    EXPECT_EQ(b.a().ullRequestCount(), nBefore);  // row 256 would have landed on row 0
    EXPECT_TRUE(log.contains("CCG2 row [100] cannot be addressed"));
  }
  {
    PDBench b(jsonPD("ccg4", {{"mcu", true}, {"device_mode", 1}, {"pd_version", "0102030405060708"}}));
    ASSERT_TRUE(b.pd);
    ASSERT_EQ(b.pd->nInitializedPDI2CBus(1), 0);
    ASSERT_EQ(b.pd->nConfigMTPArea(MCU_VENDOR_ST, 1), 0);
    ASSERT_EQ(b.pd->m_images.nReadIntelHex(pdfix::strHexFile(5)), 0);  // 80 bytes
    ASSERT_EQ(b.pd->nPDFWUpdate(MCU_VENDOR_ST, "m.hex", 1), 0);
    std::vector<uint8_t> read(PD_MCU_READ_SIZE, 0xEE);
    ASSERT_EQ(b.pd->nPDFWRead(MCU_VENDOR_ST, 1, read.data(), read.size()), 0);
    for (size_t i = 0; i < 5; ++i) {
      auto rec = pdfix::vecRowData(16, static_cast<uint8_t>(i));
      EXPECT_TRUE(std::equal(rec.begin(), rec.end(), read.begin() + static_cast<long>(i * 16))) << i;
    }
    EXPECT_EQ(read[80], 0xEE);  // nothing read past the image
    std::vector<size_t> lengths;
    for (const auto& c : b.a().vecCommands())
      if (c.vecCdb.size() == 8 && c.vecCdb[1] == 0x35) lengths.push_back(c.vecCdb[6]);
    EXPECT_EQ(lengths, (std::vector<size_t>{12, 12, 12, 12, 12, 12, 8}));
    // No read-back of a CCG4: nothing is sent, nothing is claimed.
    const auto nBefore = b.a().ullRequestCount();
    EXPECT_EQ(b.pd->nPDFWRead(PD_VENDOR_CCG4, 1, read.data(), read.size()), 0);
    EXPECT_EQ(b.a().ullRequestCount(), nBefore);
    // Version texts: the controller's, joined by the MCU's when both are chosen.
    std::string s;
    b.pd->m_bPDFWEnable = 1;
    b.pd->m_bMCUFWEnable = 1;
    EXPECT_EQ(b.pd->nGetPDFWVersion(1, &s), 0);
    EXPECT_EQ(s, "0102030405060708/FFFF");
    b.pd->m_bPDFWEnable = 0;
    EXPECT_EQ(b.pd->nGetPDFWVersion(1, &s), 0);
    EXPECT_EQ(s, "FFFF");
    EXPECT_EQ(b.pd->strPDFWVersion(), "FFFF");
    b.pd->m_bMCUFWEnable = 0;
    b.pd->m_ucCCG3DeviceMode = 0;  // no mode the version command knows
    EXPECT_EQ(b.pd->nGetPDFWVersion(1, &s), 0);
    EXPECT_EQ(s, "0000000000000000");
  }
}
