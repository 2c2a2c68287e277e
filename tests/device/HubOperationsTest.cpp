#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimHubFixture.h"
#include "device/VlntUSBDev.h"
#include "support/LogCapture.h"

namespace {
std::array<uint8_t, 256> arrConfig(const std::string& serial) {
  std::array<uint8_t, 256> c;
  c.fill(0xFF);
  std::copy(serial.begin(), serial.end(), c.begin() + 4);
  c[0x84] = 0x7B, c[0x85] = 0x2F, c[0x86] = 0x01, c[0x87] = 0x66;
  c[0x88] = 0x00, c[0x89] = 0x02, c[0xF8] = 0x02, c[0xF9] = 0x66;
  c[0xFE] = 0x4B;
  unsigned s = 0;
  for (int i = 4; i <= 0xFE; ++i) s += c[i];
  c[0xFF] = static_cast<uint8_t>(s);
  return c;
}

// A flash image file as the run prepares it: length, firmware, signature, sum, CRC field.
std::vector<uint8_t> vecImage(uint16_t n) {
  std::vector<uint8_t> v(n + 8u);
  v[0] = n & 0xFF, v[1] = n >> 8;
  unsigned s = 0;
  for (uint16_t i = 0; i < n; ++i) s += v[2 + i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
  const uint8_t ver[6] = {0x20, 0x24, 0x05, 0x10, 0x00, 0x07};
  for (int i = 0; i < 6; ++i)
    s += (v[2 + 0x200 + i] = ver[i]) - static_cast<uint8_t>(((0x200 + i) * 31) ^ ((0x200 + i) >> 8));
  v[2 + n] = 0x4B;
  v[3 + n] = static_cast<uint8_t>(s);
  std::fill(v.begin() + 4 + n, v.end(), 0xFF);
  return v;
}
}  // namespace

class HubOperations : public SimHubFixture {
 protected:
  void SetUp() override { vLoad(); }
  void vLoad(const nlohmann::json& extra = nlohmann::json::object()) {
    m_dev.reset();
    vLoadBench(extra);
    if (!m_bench) return;
    m_dev = std::make_unique<CVlntUSBDev>(*m_rec, *m_filter, m_bench->clock());
    m_list = DeviceList{};
    m_list.m_DriverNum = 2;
    m_list.DevNums = 1;
    m_list.drv[0].ObjectName = m_bench->strDeviceName(0, false);
    m_list.drv[1].ObjectName = m_bench->strDeviceName(0, true);
    m_list.dev[0].ucIndex = 0;
    m_list.dev[0].m_strHubObjectName = m_bench->strDeviceName(0, true);
    m_dev->vSetDevList(&m_list);
    m_dev->vSetAppPath(m_dir.str());
    m_dev->vSetRescanHandler([this] { ++m_nRescans; });
  }
  void vWriteImage(const std::vector<uint8_t>& img) {
    m_dir.write("VLNFW_Temp/TempBinData.bin", std::string(img.begin(), img.end()));
  }
  uint64_t ullNow() { return m_bench->clock().ullNowMs(); }
  std::unique_ptr<CVlntUSBDev> m_dev;
  DeviceList m_list;
  int m_nRescans = 0;
};

TEST_F(HubOperations, ProductionSequenceWritesVerifiesAndResetsIntoTheNewIdentity) {
  auto cfg = arrConfig("SN000123");
  auto img = vecImage(0x6000);
  vWriteImage(img);
  m_bench->vSetFlash(0, 0, std::vector<uint8_t>(0x10000, 0x00));  // an old image everywhere
  LogCapture log;
  uint64_t t0 = ullNow();
  ASSERT_TRUE(m_dev->bAccessHubConfig(0, 1, cfg.data(), 0, true));
  std::array<uint8_t, 256> back{};
  ASSERT_TRUE(m_dev->bAccessHubConfig(0, 0, back.data(), 0, true));
  EXPECT_EQ(back, cfg);
  ASSERT_EQ(m_dev->vUpdateHubFirmware(0, 0, true), 1);
  std::vector<uint8_t> rom(0x10000, 0);
  ASSERT_TRUE(m_dev->bReadHubSPIROM(0, rom.data(), 0, true));
  EXPECT_GE(ullNow() - t0, 500u + 500u + 800u + 500u);  // the operations' own waits
  EXPECT_TRUE(std::equal(cfg.begin(), cfg.end(), rom.begin()));
  EXPECT_TRUE(std::equal(img.begin(), img.end(), rom.begin() + 0x100));
  // the firmware area after the image is still erased
  EXPECT_EQ(rom[0x100 + img.size() + 32], 0xFF);
  // the clean read-back read the whole image three times
  auto reqs = m_rec->vecRequests();
  EXPECT_EQ(std::count_if(reqs.begin(), reqs.end(), [](auto& r) { return r.rec().dwRequest == 0x55; }),
            8 + 3 * (8 + 1 + 2040));  // mode 0, then three passes
  EXPECT_EQ(m_dev->VLN318xReset(0, 0), 0);
  EXPECT_FALSE(m_bench->bPresent(0));
  m_bench->clock().bSleepMs(1000);
  SimHubIdentity id = m_bench->stIdentity(0);
  EXPECT_TRUE(id.bPresent);
  EXPECT_EQ(id.strSerial, "SN000123");
  EXPECT_EQ(id.usPID, 0x6601);
  EXPECT_EQ(id.ucVersion, (std::array<uint8_t, 6>{0x20, 0x24, 0x05, 0x10, 0x00, 0x07}));
  EXPECT_EQ(m_nRescans, 0);
  EXPECT_FALSE(log.contains("ERR"));
}

TEST_F(HubOperations, EveryOperationOpensAndClosesItsOwnHandle) {
  uint8_t v = 0;
  m_rec->m_nOpens = 0;
  EXPECT_EQ(m_dev->VLN318xAccessRegister(0, &v, 1, 0x5820, false), 0);
  EXPECT_EQ(v, 0x11);
  EXPECT_EQ(m_dev->vGetHubCcOrien(0), 1);
  EXPECT_EQ(m_rec->m_nOpens, 2);
}

TEST_F(HubOperations, GuardsRefuseMissingHubsAndBadArguments) {
  uint8_t v = 0;
  m_list.m_DriverNum = 0;
  EXPECT_EQ(m_dev->VLN318xAccessRegister(0, &v, 1, 0x5820, false), -4);
  EXPECT_EQ(m_dev->VLN318xReset(0, 0), -4);
  m_list.m_DriverNum = 2;
  m_list.drv[1].ObjectName.clear();
  std::array<uint8_t, 256> cfg{};
  EXPECT_EQ(m_dev->VLN318xBlockErase(1, 0), -10);
  EXPECT_EQ(m_dev->VLN318xConfigWrite(1, cfg.data(), 0, true), -10);
  EXPECT_EQ(m_dev->VLN318xAccessRegister(16, &v, 1, 0x5820, false), -10);
  EXPECT_EQ(m_dev->VLN318xConfigRead(0, cfg.data(), 255, 0, true), -10);  // the buffer must hold a block
  EXPECT_EQ(m_dev->vGetHubSpeedRate(0, 5), 0xFF);
  // a record whose hub cannot be opened
  m_list.dev[2].m_strHubObjectName = "usb:1-4";
  LogCapture log;
  EXPECT_EQ(m_dev->VLN318xAccessRegister(2, &v, 1, 0x5820, false), -4);
  EXPECT_EQ(m_dev->VLN318xReset(2, 0), -4);
  EXPECT_TRUE(log.contains("CVlntUSBDev::VLN318xReset:"));
  EXPECT_TRUE(log.contains("Target[2] CreateFile FAIL,objectname=usb:1-4"));
  EXPECT_EQ(m_dev->VLN318xConfigRead(2, cfg.data(), 256, 0, true), -1);
  EXPECT_TRUE(log.contains("Target[2] CreateFile FAIL, ret:-1"));
}

TEST_F(HubOperations, FirmwareWriteRoundsTheFileUpTo32Bytes) {
  m_dir.write("a.bin", std::string(40000, '\x01'));
  m_dir.write("b.bin", std::string(40001, '\x01'));
  EXPECT_EQ(m_dev->VLN318xFirmwareWrite(0, 0, true, (m_dir.path() / "a.bin").string()), 0);
  auto r = m_rec->vecRequests();
  EXPECT_EQ(r.size(), 1250u);
  EXPECT_EQ(r.back().rec().dwIndex, 40000u);
  m_rec->vClear();
  EXPECT_EQ(m_dev->VLN318xFirmwareWrite(0, 0, false, (m_dir.path() / "b.bin").string()), 0);
  r = m_rec->vecRequests();
  ASSERT_EQ(r.size(), 1251u);
  EXPECT_EQ(r.back().rec().dwIndex, 40032u);
  EXPECT_EQ(r.back().rec().dwRequest, 0x60u);
  EXPECT_EQ(std::count(r.back().vecIn.begin() + 25, r.back().vecIn.end(), 0), 31);
  m_dir.write("c.bin", std::string(0xFF01, '\x01'));
  LogCapture log;
  m_rec->vClear();
  EXPECT_EQ(m_dev->VLN318xFirmwareWrite(0, 0, true, (m_dir.path() / "c.bin").string()), -1);
  EXPECT_TRUE(log.contains("Malloc ucpFileBuf Fail , dwFWFileLen 65312"));
  EXPECT_EQ(m_dev->VLN318xFirmwareWrite(0, 0, true, (m_dir.path() / "none.bin").string()), -1);
  EXPECT_TRUE(m_rec->vecRequests().empty());
}

TEST_F(HubOperations, FirmwareReadRefusesAnAreaWithoutValidLength) {
  m_bench->vSetFlash(0, 0x100, {0xFF, 0x4F});
  std::vector<uint8_t> buf(0xFF00);
  LogCapture log;
  EXPECT_EQ(m_dev->VLN318xFirmwareRead(0, buf.data(), 0, true), -1);
  EXPECT_EQ(m_rec->vecRequests().size(), 1u);
  EXPECT_TRUE(log.contains("ReadConfigFWCmd FAIL, wFWLength=4fff"));
  m_bench->vSetFlash(0, 0x100, {0xF9, 0xFE});
  EXPECT_EQ(m_dev->VLN318xFirmwareRead(0, buf.data(), 0, true), -1);  // above 0xFEF8
  m_bench->vSetFlash(0, 0x100, {0x00, 0x50});
  EXPECT_EQ(m_dev->VLN318xFirmwareRead(0, buf.data(), 0, true), 0);
}

TEST_F(HubOperations, EraseWhoseFirstPollTimesOutCountsAsDoneAndTheVerifyCatchesIt) {
  vLoad(R"({"faults": [{"kind": "erase_stuck", "request": "0x57"}]})"_json);
  m_bench->vSetFlash(0, 0, std::vector<uint8_t>(0x10000, 0x00));  // an old image
  auto cfg = arrConfig("NEW");
  LogCapture log;
  EXPECT_TRUE(m_dev->bAccessHubConfig(0, 1, cfg.data(), 0, true));
  EXPECT_TRUE(log.contains("PollingRegStatus [Dev0] TimeOut!!! Bolcok 0"));
  auto reqs = m_rec->vecRequests();
  EXPECT_EQ(std::count_if(reqs.begin(), reqs.end(), [](auto& r) { return r.rec().dwRequest == 0x57; }), 1);
  std::array<uint8_t, 256> back{};
  EXPECT_TRUE(m_dev->bAccessHubConfig(0, 0, back.data(), 0, true));
  EXPECT_NE(back, cfg);  // programmed over an unerased image
}

TEST_F(HubOperations, EraseSendsBothPhasesAndReportsAFailedSecondPhase) {
  vLoad(R"({"faults": [{"kind": "fail", "request": "0x57", "occurrence": 2}]})"_json);
  LogCapture log;
  EXPECT_EQ(m_dev->VLN318xBlockErase(0, 0), -1);
  EXPECT_TRUE(log.contains("SPIBlockEraseCmd[0] return -1"));
  vLoad(R"({"faults": [{"kind": "stall", "request": "0x57"}]})"_json);
  EXPECT_EQ(m_dev->VLN318xBlockErase(0, 0), -1);
  EXPECT_TRUE(log.contains("SPIBlockEraseCmd[0] Bolcok 0, return -1"));
  vLoad();
  m_bench->vSetFlash(0, 0x10000, std::vector<uint8_t>(16, 0));
  EXPECT_EQ(m_dev->VLN318xBlockErase(0, 1), 0);
  EXPECT_EQ(m_bench->vecFlash(0, 0x10000, 1)[0], 0xFF);
}

TEST_F(HubOperations, CpuBSelectionMakesTheValueOne) {
  auto cfg = arrConfig("B");
  EXPECT_TRUE(m_dev->bAccessHubConfig(0, 1, cfg.data(), 0, false));
  auto reqs = m_rec->vecRequests();
  EXPECT_EQ(reqs.front().rec().dwValue, 0x0001u);  // erase phase 0 of block 1
  EXPECT_EQ(reqs.back().rec().dwRequest, 0x61u);
  EXPECT_EQ(reqs.back().rec().dwValue, 1u);
  EXPECT_EQ(m_bench->vecFlash(0, 0x10000, 256), std::vector<uint8_t>(cfg.begin(), cfg.end()));
  // without CPU A the image path loses its file name and the download fails
  LogCapture log;
  vWriteImage(vecImage(0x5000));
  EXPECT_EQ(m_dev->vUpdateHubFirmware(0, 0, false), 0);
  EXPECT_TRUE(log.contains(" !!!! bIsCPU_A=0"));
  EXPECT_TRUE(log.contains("VLN318xFirmwareWrite, strFWPath " + m_dir.str() + "/VLNFW_Temp,"));
}

TEST_F(HubOperations, ConfigWriteAndReadFailuresAreLogged) {
  vLoad(R"({"faults": [{"kind": "timeout", "request": "0x51", "occurrence": 4},
                       {"kind": "stall", "request": "0x55", "occurrence": 3}]})"_json);
  auto cfg = arrConfig("X");
  LogCapture log;
  uint64_t t0 = ullNow();
  EXPECT_EQ(m_dev->VLN318xConfigWrite(0, cfg.data(), 0, true), -1);
  EXPECT_GE(ullNow() - t0, 2500u);  // the request's time-out passed
  EXPECT_TRUE(log.contains("VLN318xConfigWrite[0] return -1, dwErrorCode 110"));
  std::array<uint8_t, 256> back{};
  EXPECT_EQ(m_dev->VLN318xConfigRead(0, back.data(), 256, 0, true), -1);
  EXPECT_TRUE(log.contains("Target[0] ReadConfigFWCmd FAIL, ret:32"));
  EXPECT_TRUE(log.contains("Target[0] ReadConfigFWCmd FAIL, ret:-1"));
}

TEST_F(HubOperations, ReadBackRetriesAndAsksForARescan) {
  m_bench->vSetFlash(0, 0x100, {0x00, 0x50});
  vLoad(R"({"faults": [{"kind": "fail", "request": "0x55", "occurrence": 2}]})"_json);
  std::vector<uint8_t> rom(0x10000, 0);
  LogCapture log;
  EXPECT_FALSE(m_dev->bReadHubSPIROM(0, rom.data(), 0, true));
  EXPECT_TRUE(log.contains("VLN318xConfigRead Failed[0] , Retry[0]"));
  EXPECT_EQ(m_nRescans, 1);
  EXPECT_EQ(rom[0], 0xFF);  // the failed block reading leaves 0xFF
  // a firmware read failure ends the passes
  vLoad(R"({"faults": [{"kind": "stall", "request": "0x55", "occurrence": 9}]})"_json);
  m_nRescans = 0;
  m_rec->vClear();
  EXPECT_FALSE(m_dev->bReadHubSPIROM(0, rom.data(), 0, true));
  EXPECT_TRUE(log.contains("VLN318xFirmwareRead Failed[0] , Retry[0]"));
  EXPECT_EQ(m_nRescans, 1);
  EXPECT_EQ(m_rec->vecRequests().size(), 9u);
}

TEST_F(HubOperations, BitFlipsAreCaughtByTheReadBackCompare) {
  vLoad(R"({"faults": [{"kind": "flip", "request": "0x50", "occurrence": 100, "seed": 3}]})"_json);
  auto img = vecImage(0x5000);
  vWriteImage(img);
  auto cfg = arrConfig("F");
  ASSERT_TRUE(m_dev->bAccessHubConfig(0, 1, cfg.data(), 0, true));
  ASSERT_EQ(m_dev->vUpdateHubFirmware(0, 0, true), 1);
  std::vector<uint8_t> rom(0x10000, 0);
  ASSERT_TRUE(m_dev->bReadHubSPIROM(0, rom.data(), 0, true));
  EXPECT_FALSE(std::equal(img.begin(), img.end(), rom.begin() + 0x100));
  EXPECT_TRUE(std::equal(img.begin(), img.begin() + 99L * 32, rom.begin() + 0x100));
}

TEST_F(HubOperations, HubGoneMidDownloadFailsTheUpdate) {
  vLoad(R"({"faults": [{"kind": "gone", "request": "0x50", "occurrence": 50}]})"_json);
  vWriteImage(vecImage(0x5000));
  LogCapture log;
  EXPECT_EQ(m_dev->vUpdateHubFirmware(0, 0, true), 0);
  EXPECT_TRUE(log.contains("DownLoad[0] FW return -3"));
  EXPECT_FALSE(m_bench->bPresent(0));
}

TEST_F(HubOperations, SpeedAndCableOrientationDecoding) {
  const std::pair<uint8_t, uint8_t> speeds[] = {{0x00, 2}, {0x10, 2}, {0x20, 2},   {0x30, 3},
                                                {0x24, 4}, {0x34, 5}, {0x2C, 0xFF}};
  for (auto [reg, code] : speeds) {
    m_bench->vSetRegister(0, 0x3238, reg);
    EXPECT_EQ(m_dev->vGetHubSpeedRate(0, 2), code) << int(reg);
  }
  const std::pair<uint8_t, uint8_t> cc[] = {{0x7F, 1}, {0x80, 2}, {0x3F, 0xFF}, {0xC0, 0xFF}};
  for (auto [reg, code] : cc) {
    m_bench->vSetRegister(0, 0x6802, reg);
    EXPECT_EQ(m_dev->vGetHubCcOrien(0), code) << int(reg);
  }
  LogCapture log;
  m_bench->vSetRegister(0, 0x3038, 0x34);
  m_dev->vGetHubSpeedRate(0, 0);
  EXPECT_TRUE(log.contains("Dev[0] vGetHubSpeedRate: 0x34"));
  EXPECT_TRUE(log.contains("Dev[0] UsbSuper Speed Plus (Usb3.x)"));
  vLoad(R"({"faults": [{"kind": "stall", "request": "0x52", "count": 0}]})"_json);
  EXPECT_EQ(m_dev->vGetHubSpeedRate(0, 0), 0xFF);
  EXPECT_EQ(m_dev->vGetHubCcOrien(0), 0xFF);
  EXPECT_TRUE(log.contains("Dev[0] VLN318xAccessRegister Failed: 0xff"));
}

// A register answered short gives no value at all, never the bytes the hub did not send.
TEST_F(HubOperations, ShortRegisterAnswersAreFailures) {
  m_bench->vSetRegister(0, 0x3038, 0x34);
  m_bench->vSetRegister(0, 0x6802, 0x40);
  m_rec->m_ulShortBy = 1;
  EXPECT_EQ(m_dev->vGetHubSpeedRate(0, 0), 0xFF);
  EXPECT_EQ(m_dev->vGetHubCcOrien(0), 0xFF);
  uint8_t ucChip = 0x77;
  EXPECT_NE(m_dev->VLN318xAccessRegister(0, &ucChip, 1, 0x5820, false), 0);
  EXPECT_EQ(ucChip, 0x77);
  m_rec->m_ulShortBy = 0;
  EXPECT_EQ(m_dev->vGetHubSpeedRate(0, 0), 5);
}

TEST_F(HubOperations, StoppedOperationsEndTheirWaitsAtOnce) {
  std::stop_source ss;
  ss.request_stop();
  std::array<uint8_t, 256> back{};
  uint64_t t0 = ullNow();
  EXPECT_TRUE(m_dev->bAccessHubConfig(0, 0, back.data(), 0, true, ss.get_token()));
  EXPECT_EQ(m_dev->VLN318xReset(0, 1, ss.get_token()), -1);  // stopped before the trigger
  EXPECT_EQ(ullNow() - t0, 0u);
  EXPECT_TRUE(m_bench->bPresent(0));
}

TEST_F(HubOperations, EraseAndDownloadsReachOnlyTheHubTheRecordNames) {
  auto cfg = arrConfig("SN000777");  // VID 2F7B, PID 6601, PID_U2 6602
  vWriteImage(vecImage(0x6000));
  const std::string strImage = m_dir.str() + "/VLNFW_Temp/TempBinData.bin";
  auto nSent = [this] { return m_rec->vecRequests().size(); };
  // Another maker's hub sits where the walk recorded ours.
  ASSERT_NO_FATAL_FAILURE(vLoad(R"({"vid": "1234", "pid": "5678", "pid_u2": "5679"})"_json));
  m_list.dev[0].strVID = "2F7B";
  m_list.dev[0].strPID = "6601";
  {
    LogCapture log;
    EXPECT_EQ(m_dev->VLN318xBlockErase(0, 0), -1);
    EXPECT_EQ(m_dev->VLN318xConfigWrite(0, cfg.data(), 0, true), -1);
    EXPECT_EQ(m_dev->VLN318xFirmwareWrite(0, 0, true, strImage), -1);
    EXPECT_FALSE(m_dev->bAccessHubConfig(0, 1, cfg.data(), 0, true));
    EXPECT_EQ(m_dev->vUpdateHubFirmware(0, 0, true), 0);
    EXPECT_EQ(nSent(), 0u);  // not one request reached it
    EXPECT_TRUE(log.contains(
        "is not the hub of this record: class 09 VID 1234 PID 5678, recorded VID 2F7B PID 6601"));
  }
  // The run's table names what the hub reports after a reset: that one is ours too.
  m_list.dev[0].ucConfigBlock = cfg;
  m_list.dev[0].ucConfigBlock[0x86] = 0x78, m_list.dev[0].ucConfigBlock[0x87] = 0x56;
  m_list.dev[0].ucConfigBlock[0x84] = 0x34, m_list.dev[0].ucConfigBlock[0x85] = 0x12;
  EXPECT_EQ(m_dev->VLN318xBlockErase(0, 0), 0);
  EXPECT_GT(nSent(), 0u);
  // The walk's own record of it.
  ASSERT_NO_FATAL_FAILURE(vLoad(R"({"vid": "1234", "pid": "5678", "pid_u2": "5679"})"_json));
  m_list.dev[0].strVID = "1234";
  m_list.dev[0].strPID = "5678";
  EXPECT_EQ(m_dev->VLN318xConfigWrite(0, cfg.data(), 0, true), 0);
  // A blank hub (its configuration lost since the walk) is still ours; its USB 2 half too.
  std::filesystem::remove(m_dir.path() / "hubA.flash");
  ASSERT_NO_FATAL_FAILURE(vLoad());
  m_list.dev[0].strVID = "2F7B";
  m_list.dev[0].strPID = "6601";
  EXPECT_EQ(m_dev->VLN318xFirmwareWrite(0, 0, true, strImage), 0);
  m_list.dev[0].m_strHubObjectName = m_bench->strDeviceName(0, false);
  EXPECT_EQ(m_dev->VLN318xBlockErase(0, 0), 0);
}

// A client that gets the channel wrong fails on the bench: the chip refuses what it would
// not take, and an image that is not valid boots as a blank chip.
TEST_F(HubOperations, AWrongClientFailsOnTheBench) {
  auto cfg = arrConfig("SN000999");
  auto h = m_rec->pOpen(m_bench->strDeviceName(0, true));
  ASSERT_TRUE(h);
  // chunks of 16 bytes instead of the channel's 32
  uint8_t req[24 + 16];
  FilterRequestRecord{2500, 2, 0, 0x51, 0, 256}.vEncode(req);
  std::copy(cfg.begin(), cfg.begin() + 16, req + 24);
  uint32_t dwDone = 0;
  EXPECT_EQ(m_filter->IO_Sync(h.get(), VLNTFILTER0_IOCTL_VENDOR_WRITE, req, sizeof req, nullptr, 0, &dwDone),
            -1);
  // the erase phases the wrong way round, or phase 0 alone before the write
  EXPECT_EQ(m_filter->SPIBlockEraseCmd(h.get(), 0, 1), -1);
  EXPECT_EQ(m_filter->SPIBlockEraseCmd(h.get(), 0, 0), 0);
  const uint8_t ucDone = 1;
  EXPECT_EQ(m_filter->PollingRegStatus(h.get(), 0x7FF, &ucDone, 1, 3), 1);
  EXPECT_EQ(m_filter->DownLoadCMD(h.get(), cfg.data(), 256, 0x51, 0), -1);
  h.reset();
  // a bad image (its sum is off): every step of the production sequence succeeds, the
  // read-back matches, and the hub still comes back as a blank chip
  auto img = vecImage(0x6000);
  img[3 + 0x6000] ^= 0x01;
  vWriteImage(img);
  ASSERT_TRUE(m_dev->bAccessHubConfig(0, 1, cfg.data(), 0, true));
  ASSERT_EQ(m_dev->vUpdateHubFirmware(0, 0, true), 1);
  std::vector<uint8_t> rom(0x10000, 0);
  ASSERT_TRUE(m_dev->bReadHubSPIROM(0, rom.data(), 0, true));
  EXPECT_TRUE(std::equal(img.begin(), img.end(), rom.begin() + 0x100));
  EXPECT_EQ(m_dev->VLN318xReset(0, 0), 0);
  m_bench->clock().bSleepMs(1000);
  SimHubIdentity id = m_bench->stIdentity(0);
  EXPECT_TRUE(id.bPresent);
  EXPECT_FALSE(id.bFromConfigBlock);
  EXPECT_EQ(id.usPID, 0x55AA);
  EXPECT_EQ(id.strSerial, "S1");
}
