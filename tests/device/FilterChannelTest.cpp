#include <gtest/gtest.h>

#include <algorithm>

#include "SimHubFixture.h"
#include "device/VLNTFILTER0.h"
#include "support/LogCapture.h"

class FilterChannel : public SimHubFixture {
 protected:
  void SetUp() override { vLoad(); }
  void vLoad(const nlohmann::json& extra = nlohmann::json::object()) {
    m_handle.reset();
    vLoadBench(extra);
    if (!m_bench) return;
    m_handle = m_rec->pOpen(m_bench->strDeviceName(0, true));
    ASSERT_TRUE(m_handle);
  }
  FilterHandle h() { return m_handle.get(); }
  std::unique_ptr<IFilterDeviceHandle> m_handle;
};

TEST_F(FilterChannel, RegisterAccessSendsTheDocumentedRequests) {
  uint8_t b[33] = {0x77};
  LogCapture log;
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), b, 33, 0x1234, true), -10);
  EXPECT_TRUE(log.contains("CVLNTFILTER0::RegisterReadWriteCmd:"));
  EXPECT_TRUE(log.contains("Buffer size is too big"));
  EXPECT_TRUE(m_rec->vecRequests().empty());  // refused before anything was sent
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), b, 32, 0x1234, false), 0);
  b[0] = 0x77;
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), b, 1, 0x1234, true), 0);
  b[0] = 0x34, b[1] = 0x12;
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), b, 2, 0x6400, true), 0);
  auto r = m_rec->vecRequests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].dwCode, VLNTFILTER0_IOCTL_VENDOR_READ);
  EXPECT_EQ(r[0].ulOutLen, 32u);
  EXPECT_EQ(r[0].rec().dwRequest, 0x52u);
  EXPECT_EQ(r[1].dwCode, VLNTFILTER0_IOCTL_VENDOR_WRITE);
  EXPECT_EQ(r[1].vecIn.size(), 25u);
  EXPECT_EQ(r[1].vecIn[24], 0);  // the data stage is a zero; the byte rides in the value
  EXPECT_EQ(r[1].rec().dwRequest, 0x53u);
  EXPECT_EQ(r[1].rec().dwValue, 0x77u);
  EXPECT_EQ(r[1].rec().dwIndex, 0x1234u);
  EXPECT_EQ(r[1].rec().dwTimeout, 2500u);
  EXPECT_EQ(r[1].rec().dwType, 2u);
  EXPECT_EQ(r[1].rec().dwRecipient, 0u);
  EXPECT_EQ(r[2].rec().dwRequest, 0x40u);
  EXPECT_EQ(r[2].rec().dwValue, 0x1234u);
  uint8_t v = 0;
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), &v, 1, 0x1234, false), 0);
  EXPECT_EQ(v, 0x77);
  EXPECT_EQ(m_bench->ucRegister(0, 0x6401), 0x12);
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(nullptr, &v, 1, 0x1234, false), -10);
  EXPECT_TRUE(log.contains("Driver Handle is NULL"));
}

TEST_F(FilterChannel, OldFormReachesTheSameRegisters) {
  uint8_t v = 0x42;
  EXPECT_EQ(m_filter->RegisterReadWriteCmdOld(h(), &v, 1, 0x6000, true), 0);
  v = 0;
  EXPECT_EQ(m_filter->RegisterReadWriteCmdOld(h(), &v, 1, 0x6000, false), 0);
  EXPECT_EQ(v, 0x42);
  auto r = m_rec->vecRequests();
  EXPECT_EQ(r[0].dwCode, VLNTFILTER0_IOCTL_GET_DESCRIPTOR);
  EXPECT_EQ(r[0].rec().dwType, 0x53u);
  EXPECT_EQ(r[0].rec().dwRecipient, 0x42u);
  EXPECT_EQ(r[0].rec().dwRequest, 0x6000u);
  LogCapture log;
  EXPECT_EQ(m_filter->RegisterReadWriteCmdOld(nullptr, &v, 1, 0x6000, false), -10);
  EXPECT_TRUE(log.contains("Deriver Handle is NULL"));
}

TEST_F(FilterChannel, DownloadsGoIn32ByteRequestsCarryingTheWholeCount) {
  std::vector<uint8_t> d(256);
  for (int i = 0; i < 256; ++i) d[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(m_filter->DownLoadCMD(h(), d.data(), 256, 0x51, 0), 0);
  auto r = m_rec->vecRequests();
  ASSERT_EQ(r.size(), 8u);
  for (auto& q : r) {
    EXPECT_EQ(q.vecIn.size(), 56u);
    EXPECT_EQ(q.rec().dwIndex, 256u);
    EXPECT_EQ(q.rec().dwRequest, 0x51u);
  }
  EXPECT_EQ(m_bench->vecFlash(0, 0, 256), d);
  m_rec->vClear();
  EXPECT_EQ(m_filter->DownLoadCMD(h(), d.data(), 33, 0x50, 0), 0);
  r = m_rec->vecRequests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].vecIn[24], 32);
  EXPECT_EQ(std::count(r[1].vecIn.begin() + 25, r[1].vecIn.end(), 0), 31);
  m_rec->vClear();
  EXPECT_EQ(m_filter->DownLoadCMD(h(), d.data(), 0, 0x50, 0), 0);
  EXPECT_TRUE(m_rec->vecRequests().empty());
  EXPECT_EQ(m_filter->DownLoadCMD(h(), d.data(), 0x10000, 0x50, 0), -10);  // the count must fit the index
}

TEST_F(FilterChannel, FailedChunkStopsTheDownloadWithItsCode) {
  vLoad(R"({"faults": [{"kind": "fail", "request": "0x50", "occurrence": 3},
                       {"kind": "gone", "request": "0x51", "occurrence": 2}]})"_json);
  std::vector<uint8_t> d(256, 0);
  LogCapture log;
  EXPECT_EQ(m_filter->DownLoadCMD(h(), d.data(), 256, 0x50, 0), -1);
  EXPECT_EQ(m_rec->vecRequests().size(), 3u);
  EXPECT_TRUE(log.contains("Write Cmd failed...dwWrCnt[2], ErrorCode["));
  EXPECT_TRUE(log.contains("DeviceIoControl Failed, code = 222010"));
  // a hub that leaves the bus gives -3 from the channel, -1 from register operations
  EXPECT_EQ(m_filter->DownLoadCMD(h(), d.data(), 256, 0x51, 0), -3);
  uint8_t v;
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), &v, 1, 0x5820, false), -1);
  EXPECT_TRUE(log.contains("set_device_paths: couldn't send device command"));
  EXPECT_EQ(m_filter->ReadConfigFWCmd(h(), &v, 1, 0, 0, true), -1);
  EXPECT_TRUE(log.contains("set_device_paths: couldn't read device descriptor"));
}

TEST_F(FilterChannel, EraseAndFlashReadRequests) {
  EXPECT_EQ(m_filter->SPIBlockEraseCmd(h(), 1, 0), 0);
  m_bench->clock().bSleepMs(250);  // phase 1 follows a finished phase 0
  EXPECT_EQ(m_filter->SPIBlockEraseCmd(h(), 1, 1), 0);
  std::vector<uint8_t> buf(32, 0);
  EXPECT_EQ(m_filter->ReadConfigFWCmd(h(), buf.data(), 32, 0x120, 0, false), 0);
  auto r = m_rec->vecRequests();
  EXPECT_EQ(r[0].rec().dwValue, 0x001u);
  EXPECT_EQ(r[1].rec().dwRequest, 0x57u);
  EXPECT_EQ(r[1].rec().dwValue, 0x101u);
  EXPECT_EQ(r[1].vecIn.size(), 24u);
  EXPECT_EQ(r[2].rec().dwRequest, 0x65u);
  EXPECT_EQ(r[2].rec().dwIndex, 0x120u);
  EXPECT_EQ(m_filter->SPIBlockEraseCmd(nullptr, 0, 0), -10);
  LogCapture log;
  EXPECT_EQ(m_filter->SPIBlockEraseCmd(h(), 5, 0), -1);  // the chip refuses other blocks
  EXPECT_TRUE(log.contains("CVLNTFILTER0::SPIBlockEraseCmd:"));
  EXPECT_TRUE(log.contains("IO_Sync Failed "));
}

TEST_F(FilterChannel, PollingGivesUpAfterMoreThanTheWholeSecondsOfItsTimeOut) {
  // never matches: the erase status stays 0 with no erase running
  m_bench->clock().bSleepMs(900);  // start at 0.9 s: whole seconds say 0
  uint8_t want = 1;
  LogCapture log;
  uint64_t t0 = m_bench->clock().ullNowMs();
  EXPECT_EQ(m_filter->PollingRegStatus(h(), 0x7FF, &want, 1, 3), 0);
  EXPECT_EQ(m_bench->clock().ullNowMs() - t0, 3100u);  // the earliest give-up
  EXPECT_EQ(m_rec->vecRequests().size(), 31u);
  EXPECT_TRUE(log.contains("Time Out (3s), ucTargetValue=1"));
  // a match in time
  m_bench->vSetRegister(0, 0x7FF, 1);
  EXPECT_EQ(m_filter->PollingRegStatus(h(), 0x7FF, &want, 1, 3), 1);
  EXPECT_TRUE(log.contains("ucTargetValue=1, pBLockEraseStatus[0]=1"));
  // a stop request ends the wait at once
  std::stop_source ss;
  ss.request_stop();
  m_bench->vSetRegister(0, 0x7FF, 0);
  EXPECT_EQ(m_filter->PollingRegStatus(h(), 0x7FF, &want, 1, 3, ss.get_token()), 0);
}

TEST_F(FilterChannel, PollingStopsOnAFailedRead) {
  vLoad(R"({"faults": [{"kind": "stall", "request": "0x52"}]})"_json);
  uint8_t want = 1;
  LogCapture log;
  EXPECT_EQ(m_filter->PollingRegStatus(h(), 0x7FF, &want, 1, 3), 0);
  EXPECT_EQ(m_rec->vecRequests().size(), 1u);
  EXPECT_TRUE(log.contains("RegisterReadWriteCmd Failed ,  dwErrorCode"));
}

TEST_F(FilterChannel, CpuResetModes) {
  uint64_t t0 = m_bench->clock().ullNowMs();
  EXPECT_EQ(m_filter->SendCpuResetByFilterDriver(h(), 1), 0);
  EXPECT_EQ(m_bench->clock().ullNowMs() - t0, 2200u);
  auto r = m_rec->vecRequests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].rec().dwIndex, 0x5846u);
  EXPECT_EQ(r[0].rec().dwValue, 0u);
  EXPECT_EQ(r[1].rec().dwIndex, 0x5810u);
  EXPECT_EQ(r[1].rec().dwValue, 1u);
  EXPECT_EQ(r[1].rec().dwTimeout, 200u);
  EXPECT_FALSE(m_bench->bPresent(0) && m_bench->clock().ullNowMs() - t0 < 1000);
  m_bench->clock().bSleepMs(1000);
  // mode 0 is one request 0x54
  m_handle = m_rec->pOpen(m_bench->strDeviceName(0, true));
  ASSERT_TRUE(m_handle);
  m_rec->vClear();
  EXPECT_EQ(m_filter->SendCpuResetByFilterDriver(h(), 0), 0);
  ASSERT_EQ(m_rec->vecRequests().size(), 1u);
  EXPECT_EQ(m_rec->vecRequests()[0].rec().dwRequest, 0x54u);
  EXPECT_FALSE(m_bench->bPresent(0));
  EXPECT_EQ(m_filter->SendCpuResetByFilterDriver(nullptr, 0), -10);
}

TEST_F(FilterChannel, ResetModeOneSucceedsWhenTheTriggerWriteFails) {
  vLoad(R"({"faults": [{"kind": "fail", "at_request": 2}]})"_json);
  EXPECT_EQ(m_filter->SendCpuResetByFilterDriver(h(), 1), 0);
  EXPECT_TRUE(m_bench->bPresent(0));
  vLoad(R"({"faults": [{"kind": "fail", "at_request": 1}]})"_json);
  LogCapture log;
  EXPECT_EQ(m_filter->SendCpuResetByFilterDriver(h(), 1), -1);
  EXPECT_TRUE(log.contains("CPU_START_POSITION_ADDR command failed ErrorCode["));
}

TEST_F(FilterChannel, IdentityMarkAndVersion) {
  EXPECT_EQ(m_filter->bIsSignatureMarked(h()), 0);
  EXPECT_EQ(m_filter->MarkSignatureforIdentify(h(), '3'), 0);
  EXPECT_EQ(m_filter->bIsSignatureMarked(h()), 1);
  EXPECT_EQ(m_filter->ucGetSignatureMarked(h()), '3');
  EXPECT_EQ(m_bench->ucRegister(0, 0x7FB), 0x5A);
  uint8_t ver[16] = {};
  EXPECT_EQ(m_filter->Get_Version(h(), ver, 16, true), 0);
  EXPECT_EQ(ver[0], 1);
  EXPECT_EQ(ver[5], 6);
  EXPECT_EQ(ver[11], 0x5A);                        // the marker sits inside the version area
  EXPECT_EQ(m_bench->ucRegister(0, 0x7FB), 0xFF);  // cleared
  EXPECT_EQ(m_filter->bIsSignatureMarked(FILTER_INVALID_HANDLE), 0xF6);
  EXPECT_EQ(m_filter->ucGetSignatureMarked(FILTER_INVALID_HANDLE), 0xF6);
  EXPECT_EQ(m_filter->WriteSignatureWORD(FILTER_INVALID_HANDLE, 0), -10);
  EXPECT_EQ(m_filter->MarkSignatureforIdentify(FILTER_INVALID_HANDLE, '0'), -10);
  LogCapture log;
  EXPECT_EQ(m_filter->bIsSignatureMarked(nullptr), 0xFF);
  EXPECT_TRUE(log.contains("VLNTFILTER1.RegisterReadWriteCmd Failed  Error:"));
}

TEST_F(FilterChannel, VersionFallsBackToTheOldFormAndMarkNeedsItsReadBack) {
  vLoad(R"({"faults": [{"kind": "stall", "request": "0x52", "count": 0}]})"_json);
  uint8_t ver[16] = {};
  EXPECT_EQ(m_filter->Get_Version(h(), ver, 16, false), 0);
  EXPECT_EQ(ver[0], 1);
  EXPECT_EQ(m_rec->vecRequests().back().dwCode, VLNTFILTER0_IOCTL_GET_DESCRIPTOR);
  // the writes pass but the read-back fails: no proof of the mark
  LogCapture log;
  EXPECT_EQ(m_filter->MarkSignatureforIdentify(h(), '0'), -1);
  EXPECT_TRUE(log.contains("bIsSignatureMarked Failed  Error:255"));
}

// A short answer to a read is a failed request, and no byte the hub did not answer reaches
// the caller: registers (the chip id, the mark), flash reads and the older form.
TEST_F(FilterChannel, ShortAnswersFailAndLeaveTheCallersBytes) {
  m_bench->vSetRegister(0, 0x5820, 0x31);
  m_rec->m_ulShortBy = 1;
  uint8_t v[4] = {0x33, 0x33, 0x33, 0x33};
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), v, 1, 0x5820, false), -1);
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), v, 4, 0x5820, false), -1);
  EXPECT_EQ(m_filter->RegisterReadWriteCmdOld(h(), v, 4, 0x5820, false), -1);
  EXPECT_EQ(v[0], 0x33);
  EXPECT_EQ(v[3], 0x33);
  EXPECT_EQ(m_filter->bIsSignatureMarked(h()), 0xFF);
  EXPECT_EQ(m_filter->ucGetSignatureMarked(h()), 0xFF);
  std::vector<uint8_t> flash(32, 0xFF);
  EXPECT_EQ(m_filter->ReadConfigFWCmd(h(), flash.data(), 32, 0x100, 0, true), -1);
  EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF), 32);
  uint8_t ver[16] = {};
  EXPECT_NE(m_filter->Get_Version(h(), ver, 16, false), 0);  // both forms short
  // Whole answers still pass.
  m_rec->m_ulShortBy = 0;
  EXPECT_EQ(m_filter->RegisterReadWriteCmd(h(), v, 1, 0x5820, false), 0);
  EXPECT_EQ(v[0], 0x31);
  EXPECT_EQ(m_filter->ReadConfigFWCmd(h(), flash.data(), 32, 0x100, 0, true), 0);
}
