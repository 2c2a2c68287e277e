#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "platform/sim/SimBench.h"
#include "platform/sim/SimFilterDevice.h"
#include "support/SimBenchJson.h"

namespace {
// Raw requests as the filter channel sends them.
struct Raw {
  IFilterDeviceHandle& h;
  EFilterResult eWrite(uint8_t req, uint16_t value, uint16_t index, std::vector<uint8_t> data = {}) {
    std::vector<uint8_t> in(24 + data.size());
    FilterRequestRecord{2500, 2, 0, req, value, index}.vEncode(in.data());
    std::copy(data.begin(), data.end(), in.begin() + 24);
    size_t n = 0;
    return h.eIoControl(VLNTFILTER0_IOCTL_VENDOR_WRITE, in.data(), in.size(), nullptr, 0, &n);
  }
  EFilterResult eRead(uint8_t req, uint16_t value, uint16_t index, std::vector<uint8_t>& out, size_t len,
                      uint32_t timeout = 2500) {
    uint8_t in[24];
    FilterRequestRecord{timeout, 2, 0, req, value, index}.vEncode(in);
    out.assign(len, 0xEE);
    size_t n = 0;
    return h.eIoControl(VLNTFILTER0_IOCTL_VENDOR_READ, in, 24, out.data(), len, &n);
  }
  EFilterResult eDescriptor(uint8_t type, uint8_t index, uint16_t lang, std::vector<uint8_t>& out,
                            size_t len) {
    uint8_t in[24];
    FilterRequestRecord{2500, type, index, lang, 0, 0}.vEncode(in);
    out.assign(len, 0xEE);
    size_t n = 0;
    EFilterResult e = h.eIoControl(VLNTFILTER0_IOCTL_GET_DESCRIPTOR, in, 24, out.data(), len, &n);
    out.resize(n);
    return e;
  }
  uint8_t ucReg(uint16_t a) {
    std::vector<uint8_t> v;
    EXPECT_EQ(eRead(0x52, 0, a, v, 1), EFilterResult::kSuccess);
    return v[0];
  }
};

// A valid configuration block with the given VID/PID and serial.
std::vector<uint8_t> vecConfig(uint16_t vid, uint16_t pid, const std::string& serial, bool bValidSum = true) {
  std::vector<uint8_t> c(256, 0xFF);
  std::copy(serial.begin(), serial.end(), c.begin() + 4);
  std::string m = "ACME", p = "Hub7";
  std::copy(m.begin(), m.end(), c.begin() + 0x18);
  std::copy(p.begin(), p.end(), c.begin() + 0x44);
  c[0x84] = vid & 0xFF, c[0x85] = vid >> 8, c[0x86] = pid & 0xFF, c[0x87] = pid >> 8;
  c[0x88] = 0x34, c[0x89] = 0x12, c[0xF8] = 0xCD, c[0xF9] = 0xAB;
  c[0xFE] = 0x4B;
  unsigned s = 0;
  for (int i = 4; i <= 0xFE; ++i) s += c[i];
  c[0xFF] = static_cast<uint8_t>(s + (bValidSum ? 0 : 1));
  return c;
}

// A firmware area: length, firmware bytes with a version at 0x200, signature, sum.
std::vector<uint8_t> vecFirmwareArea(uint16_t len) {
  std::vector<uint8_t> a(2 + len + 2);
  a[0] = len & 0xFF, a[1] = len >> 8;
  for (uint16_t i = 0; i < len; ++i) a[2 + i] = static_cast<uint8_t>(i * 7);
  const uint8_t ver[6] = {0x11, 0x22, 0x33, 0x14, 0x55, 0x66};
  std::copy(ver, ver + 6, a.begin() + 2 + 0x200);
  unsigned s = 0;
  for (uint16_t i = 0; i < len; ++i) s += a[2 + i];
  a[2 + len] = 0x4B;
  a[3 + len] = static_cast<uint8_t>(s);
  return a;
}

void vDownload(Raw& r, uint8_t req, const std::vector<uint8_t>& data) {
  uint16_t total = static_cast<uint16_t>((data.size() + 31) / 32 * 32);
  for (size_t off = 0; off < data.size(); off += 32) {
    std::vector<uint8_t> chunk(32, 0);
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(off),
              data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), off + 32)), chunk.begin());
    ASSERT_EQ(r.eWrite(req, 0, total, chunk), EFilterResult::kSuccess);
  }
}
}  // namespace

class SimChip : public ::testing::Test {
 protected:
  void vLoad(const nlohmann::json& extra = nlohmann::json::object()) {
    m_bench = pLoadSimBench(m_dir, jsonSimBench(nlohmann::json::array({jsonSimHub("hubA", 1, extra)})));
    ASSERT_TRUE(m_bench);
    m_platform = std::make_unique<CSimFilterDevicePlatform>(*m_bench);
  }
  std::unique_ptr<IFilterDeviceHandle> pOpen(bool ss = true) {
    return m_platform->pOpen(m_bench->strDeviceName(0, ss));
  }
  TempDir m_dir;
  std::unique_ptr<CSimBench> m_bench;
  std::unique_ptr<CSimFilterDevicePlatform> m_platform;
};

TEST_F(SimChip, FreshFlashIsBlankAndIdentityComesFromTheBenchFile) {
  vLoad();
  EXPECT_EQ(std::filesystem::file_size(m_dir.path() / "hubA.flash"), 131072u);
  auto all = m_bench->vecFlash(0, 0, 131072);
  EXPECT_EQ(std::count(all.begin(), all.end(), 0xFF), 131072);
  SimHubIdentity id = m_bench->stIdentity(0);
  EXPECT_EQ(id.usVID, 0x2F7B);
  EXPECT_EQ(id.usPIDU2, 0x55AB);
  EXPECT_FALSE(id.bFromConfigBlock);
  EXPECT_EQ(id.ucVersion[5], 6);
  EXPECT_EQ(m_bench->strDeviceName(0, false), "usb:1-1");
  EXPECT_EQ(m_bench->strDeviceName(0, true), "usb:2-1");

  auto h2 = pOpen(false), h3 = pOpen(true);
  ASSERT_TRUE(h2 && h3);
  Raw r2{*h2}, r3{*h3};
  std::vector<uint8_t> d;
  ASSERT_EQ(r3.eDescriptor(3, 0xFF, 0, d, 16), EFilterResult::kSuccess);
  EXPECT_EQ(d[0] + 256 * d[1], 0x6420);
  ASSERT_EQ(r2.eDescriptor(1, 0, 0, d, 18), EFilterResult::kSuccess);
  EXPECT_EQ(d[2] + 256 * d[3], 0x0210);
  EXPECT_EQ(d[10] + 256 * d[11], 0x55AB);
  ASSERT_EQ(r3.eDescriptor(1, 0, 0, d, 18), EFilterResult::kSuccess);
  EXPECT_EQ(d[2] + 256 * d[3], 0x0320);
  EXPECT_EQ(d[10] + 256 * d[11], 0x55AA);
  ASSERT_EQ(r3.eDescriptor(3, 3, 0x409, d, 255), EFilterResult::kSuccess);
  EXPECT_EQ(d, (std::vector<uint8_t>{6, 3, 'S', 0, '1', 0}));
  // version area, marker and identity byte share one register block
  EXPECT_EQ(r3.ucReg(0x7F0), 1);
  EXPECT_EQ(r3.ucReg(0x7FB), 0xFF);
}

TEST_F(SimChip, BothHalvesReachOneChipAndRegistersAnswer) {
  vLoad(R"({"registers": {"0x5820": "0x31", "0x3038": "0x34"}})"_json);
  auto h2 = pOpen(false), h3 = pOpen(true);
  Raw r2{*h2}, r3{*h3};
  EXPECT_EQ(r3.ucReg(0x5820), 0x31);
  EXPECT_EQ(r3.ucReg(0x3038), 0x34);
  EXPECT_EQ(r3.ucReg(0x6802), 0x40);
  ASSERT_EQ(r2.eWrite(0x53, 0x5A, 0x7FB, {0}), EFilterResult::kSuccess);
  ASSERT_EQ(r2.eWrite(0x53, 0x31, 0x7FC, {0}), EFilterResult::kSuccess);
  std::vector<uint8_t> v;
  ASSERT_EQ(r3.eRead(0x52, 0, 0x7FB, v, 4), EFilterResult::kSuccess);
  EXPECT_EQ(v[0], 0x5A);
  EXPECT_EQ(v[1], 0x31);
  // 0x6400 takes 16 bits through request 0x40; the chip id is read-only
  ASSERT_EQ(r3.eWrite(0x40, 0x1234, 0x6400, {0, 0}), EFilterResult::kSuccess);
  ASSERT_EQ(r3.eRead(0x40, 0, 0x6400, v, 2), EFilterResult::kSuccess);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x34, 0x12}));
  EXPECT_EQ(r3.eWrite(0x40, 1, 0x6401), EFilterResult::kFailed);
  ASSERT_EQ(r3.eWrite(0x53, 0x00, 0x5820, {0}), EFilterResult::kSuccess);
  EXPECT_EQ(r3.ucReg(0x5820), 0x31);
  // the older descriptor form reaches the same registers
  ASSERT_EQ(r3.eDescriptor(0x53, 0x77, 0x6000, v, 1), EFilterResult::kSuccess);
  ASSERT_EQ(r3.eDescriptor(0x52, 0, 0x6000, v, 1), EFilterResult::kSuccess);
  EXPECT_EQ(v[0], 0x77);
  EXPECT_EQ(r3.eWrite(0x99, 0, 0), EFilterResult::kFailed);  // unknown request stalls
}

TEST_F(SimChip, EraseTakesModelledTimeAndClearsTheWholeImageOfItsCpu) {
  vLoad();
  m_bench->vSetFlash(0, 0, std::vector<uint8_t>(131072, 0x00));
  auto h = pOpen();
  Raw r{*h};
  ASSERT_EQ(r.eWrite(0x57, 0x0001, 0), EFilterResult::kSuccess);  // phase 0, block 1: CPU B
  EXPECT_EQ(r.ucReg(0x7FF), 0);
  m_bench->clock().bSleepMs(150);
  EXPECT_EQ(r.ucReg(0x7FF), 0);
  EXPECT_EQ(m_bench->vecFlash(0, 0x10000, 1)[0], 0x00);
  m_bench->clock().bSleepMs(60);
  EXPECT_EQ(r.ucReg(0x7FF), 1);
  auto b = m_bench->vecFlash(0, 0x10000, 0x10000);
  EXPECT_EQ(std::count(b.begin(), b.end(), 0xFF), 0x10000);
  auto a = m_bench->vecFlash(0, 0, 0x10000);
  EXPECT_EQ(std::count(a.begin(), a.end(), 0x00), 0x10000);
  EXPECT_EQ(r.eWrite(0x57, 0x0100, 0), EFilterResult::kFailed);  // phase 1 of another block
  m_bench->vSetFlash(0, 0x10000, {0x00});
  ASSERT_EQ(r.eWrite(0x57, 0x0101, 0), EFilterResult::kSuccess);  // phase 1 clears nothing more
  m_bench->clock().bSleepMs(200);
  EXPECT_EQ(r.ucReg(0x7FF), 1);
  EXPECT_EQ(m_bench->vecFlash(0, 0x10000, 1)[0], 0x00);
  EXPECT_EQ(r.eWrite(0x57, 0x0002, 0), EFilterResult::kFailed);  // only blocks 0 and 1
}

TEST_F(SimChip, DownloadsProgramAtARunningOffsetFromTheirAreaStart) {
  vLoad();
  auto h = pOpen();
  Raw r{*h};
  auto cfg = vecConfig(0x1111, 0x2222, "SN9");
  vDownload(r, 0x51, cfg);
  EXPECT_EQ(m_bench->vecFlash(0, 0, 256), cfg);
  // a firmware download starts at 0x100, and each new download starts over
  std::vector<uint8_t> fw(64);
  for (int i = 0; i < 64; ++i) fw[i] = static_cast<uint8_t>(0xF0 | (i & 0x0F));
  vDownload(r, 0x50, fw);
  EXPECT_EQ(m_bench->vecFlash(0, 0x100, 64), fw);
  // NOR: a second download over it can only clear bits
  std::vector<uint8_t> fw2(64, 0x3C);
  vDownload(r, 0x50, fw2);
  auto got = m_bench->vecFlash(0, 0x100, 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(got[i], fw[i] & 0x3C) << i;
  // CPU B areas and reads by flash offset
  vDownload(r, 0x61, cfg);
  std::vector<uint8_t> v;
  ASSERT_EQ(r.eRead(0x65, 0, 0x20, v, 32), EFilterResult::kSuccess);
  EXPECT_TRUE(std::equal(v.begin(), v.end(), cfg.begin() + 0x20));
  ASSERT_EQ(r.eRead(0x55, 0, 0x100, v, 32), EFilterResult::kSuccess);
  EXPECT_EQ(v[0], fw[0] & 0x3C);
  EXPECT_EQ(r.eRead(0x55, 0, 0xFFF0, v, 32), EFilterResult::kFailed);  // past the image
  // a count larger than the area is refused
  EXPECT_EQ(r.eWrite(0x51, 0, 0x120, std::vector<uint8_t>(32, 0)), EFilterResult::kFailed);
}

TEST_F(SimChip, ResetLeavesTheBusAndReturnsWithTheConfiguredIdentity) {
  vLoad();
  std::vector<std::pair<int, bool>> events;
  m_bench->vSetHubEventHandler([&](int h, bool p) { events.emplace_back(h, p); });
  auto h = pOpen();
  Raw r{*h};
  vDownload(r, 0x51, vecConfig(0x1234, 0x5678, "SERIAL42"));
  vDownload(r, 0x50, vecFirmwareArea(0x5000));
  ASSERT_EQ(r.eWrite(0x54, 0, 0), EFilterResult::kSuccess);
  EXPECT_EQ(events, (std::vector<std::pair<int, bool>>{{0, false}}));
  std::vector<uint8_t> v;
  EXPECT_EQ(r.eRead(0x52, 0, 0x5820, v, 1), EFilterResult::kLeftBus);
  EXPECT_EQ(pOpen(), nullptr);
  EXPECT_FALSE(m_bench->bPresent(0));
  m_bench->clock().bSleepMs(1000);
  m_bench->vProcessDue();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1], std::make_pair(0, true));
  SimHubIdentity id = m_bench->stIdentity(0);
  EXPECT_TRUE(id.bPresent);
  EXPECT_TRUE(id.bFromConfigBlock);
  EXPECT_EQ(id.usVID, 0x1234);
  EXPECT_EQ(id.usPID, 0x5678);
  EXPECT_EQ(id.usPIDU2, 0xABCD);
  EXPECT_EQ(id.usBcdDevice, 0x1234);
  EXPECT_EQ(id.strSerial, "SERIAL42");
  EXPECT_EQ(id.strManufacturer, "ACME");
  EXPECT_EQ(id.ucVersion, (std::array<uint8_t, 6>{0x11, 0x22, 0x33, 0x14, 0x55, 0x66}));
  // the old handle stays dead; a new one sees the version area
  EXPECT_EQ(r.eRead(0x52, 0, 0x5820, v, 1), EFilterResult::kLeftBus);
  auto h2 = pOpen();
  ASSERT_TRUE(h2);
  Raw r2{*h2};
  EXPECT_EQ(r2.ucReg(0x7F0), 0x11);
  EXPECT_EQ(r2.ucReg(0x7FB), 0xFF);  // a reset clears the identity mark
}

TEST_F(SimChip, RegisterSequenceResetAndAnInvalidBlockKeepsTheBenchIdentity) {
  vLoad();
  auto h = pOpen();
  Raw r{*h};
  vDownload(r, 0x51, vecConfig(0x1234, 0x5678, "X", false));  // checksum off by one
  ASSERT_EQ(r.eWrite(0x53, 0, 0x5846, {0}), EFilterResult::kSuccess);
  EXPECT_TRUE(m_bench->bPresent(0));
  ASSERT_EQ(r.eWrite(0x53, 1, 0x5810, {0}), EFilterResult::kSuccess);
  EXPECT_FALSE(m_bench->bPresent(0));
  m_bench->clock().bSleepMs(1000);
  SimHubIdentity id = m_bench->stIdentity(0);
  EXPECT_TRUE(id.bPresent);
  EXPECT_FALSE(id.bFromConfigBlock);
  EXPECT_EQ(id.usVID, 0x2F7B);
  EXPECT_EQ(id.ucVersion[0], 1);  // no firmware in the area: the bench's version
}

// The boot code takes an image's identity only when the configuration block and the
// firmware area are both valid and of one type; anything else boots as a blank chip.
TEST_F(SimChip, PowerUpTakesTheNewIdentityOnlyFromAValidCompleteImage) {
  vLoad(R"({"boot": {"pid": "0B00", "serial": "", "version": "000000000000"}})"_json);
  auto vCrc = [](std::vector<uint8_t>& a, uint8_t sig) {  // the image signature, and a CRC-32 behind the sum
    uint16_t len = static_cast<uint16_t>(a[0] | (a[1] << 8));
    uint32_t c = 0xFFFFFFFFu;
    for (uint16_t i = 0; i < len; ++i) {
      c ^= a[2 + i];
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
    }
    c = ~c;
    a[2 + len] = sig;
    a.resize(a.size() + 4);
    for (int k = 0; k < 4; ++k) a[4 + len + k] = static_cast<uint8_t>(c >> (8 * k));
  };
  struct Case {
    const char* pszWhat;
    std::function<void(std::vector<uint8_t>& cfg, std::vector<uint8_t>& fw)> vEdit;
    bool bBoots;
  };
  const Case cases[] = {
      {"valid image", [](auto&, auto&) {}, true},
      {"no firmware", [](auto&, auto& fw) { fw.assign(fw.size(), 0xFF); }, false},
      {"firmware signature", [](auto&, auto& fw) { fw[2 + 0x5000] = 0x5A; }, false},
      {"firmware sum", [](auto&, auto& fw) { fw[3 + 0x5000] ^= 1; }, false},
      {"a firmware byte changed", [](auto&, auto& fw) { fw[2 + 0x1000] ^= 0x10; }, false},
      {"type byte of another type", [](auto&, auto& fw) { fw[2 + 0x203] = 0x24, fw[3 + 0x5000] += 0x10; },
       false},
      {"configuration of another type", [](auto& cfg, auto&) { cfg[0xFE] = 0x3C, cfg[0xFF] -= 0x0F; }, false},
      {"configuration checksum", [](auto& cfg, auto&) { cfg[0xFF] ^= 1; }, false},
      {"CRC image", [&](auto&, auto& fw) { vCrc(fw, 0xB4); }, true},
      {"CRC wrong", [&](auto&, auto& fw) { vCrc(fw, 0xB4), fw.back() ^= 1; }, false},
  };
  for (const Case& c : cases) {
    auto cfg = vecConfig(0x1234, 0x5678, "NEW1");
    auto fw = vecFirmwareArea(0x5000);
    c.vEdit(cfg, fw);
    m_bench->vSetFlash(0, 0, std::vector<uint8_t>(0x10000, 0xFF));
    m_bench->vSetFlash(0, 0, cfg);
    m_bench->vSetFlash(0, 0x100, fw);
    auto h = pOpen();
    ASSERT_TRUE(h) << c.pszWhat;
    Raw r{*h};
    ASSERT_EQ(r.eWrite(0x54, 0, 0), EFilterResult::kSuccess) << c.pszWhat;
    m_bench->clock().bSleepMs(1000);
    SimHubIdentity id = m_bench->stIdentity(0);
    ASSERT_TRUE(id.bPresent) << c.pszWhat;
    EXPECT_EQ(id.bFromConfigBlock, c.bBoots) << c.pszWhat;
    if (c.bBoots) {
      EXPECT_EQ(id.usPID, 0x5678) << c.pszWhat;
      EXPECT_EQ(id.strSerial, "NEW1") << c.pszWhat;
      EXPECT_EQ(id.ucVersion[0], 0x11) << c.pszWhat;
    } else {
      // the boot identity: the bench's own fields where "boot" gives none
      EXPECT_EQ(id.usVID, 0x2F7B) << c.pszWhat;
      EXPECT_EQ(id.usPID, 0x0B00) << c.pszWhat;
      EXPECT_EQ(id.usPIDU2, 0x55AB) << c.pszWhat;
      EXPECT_EQ(id.strManufacturer, "Maker") << c.pszWhat;
      EXPECT_EQ(id.strSerial, "") << c.pszWhat;
      EXPECT_EQ(id.ucVersion, (std::array<uint8_t, 6>{})) << c.pszWhat;
      auto h2 = pOpen();
      ASSERT_TRUE(h2);
      Raw r2{*h2};
      EXPECT_EQ(r2.ucReg(0x7F0), 0) << c.pszWhat;
    }
  }
}

// Requests a correct client never sends stall and change nothing; the ones it sends pass.
TEST_F(SimChip, RefusesRequestsTheChipWouldNotTake) {
  vLoad();
  auto h = pOpen();
  Raw r{*h};
  std::vector<uint8_t> v;
  const std::vector<uint8_t> chunk(32, 0x00);
  auto eErase = [&](int phase, int block) {
    return r.eWrite(0x57, static_cast<uint16_t>(phase * 256 + block), 0);
  };
  // downloads: one whole chunk per request, the whole block of a configuration, value 0 (1 for CPU B)
  EXPECT_EQ(r.eWrite(0x50, 0, 0x5000, std::vector<uint8_t>(16, 0)), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x50, 0, 0x5000, std::vector<uint8_t>(64, 0)), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x50, 0, 0x5000), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x50, 1, 0x5000, chunk), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x51, 0x0100, 256, chunk), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x61, 2, 256, chunk), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x51, 0, 128, chunk), EFilterResult::kFailed);
  EXPECT_EQ(nFilterLastError(), EPIPE);
  auto all = m_bench->vecFlash(0, 0, 131072);
  EXPECT_EQ(std::count(all.begin(), all.end(), 0xFF), 131072);
  EXPECT_EQ(r.eWrite(0x61, 1, 256, chunk), EFilterResult::kSuccess);
  EXPECT_EQ(r.eWrite(0x50, 0, 0x5000, chunk), EFilterResult::kSuccess);
  // erase: phase 0, then phase 1 of the same block once phase 0 has finished
  EXPECT_EQ(eErase(1, 0), EFilterResult::kFailed);  // alone
  ASSERT_EQ(eErase(0, 0), EFilterResult::kSuccess);
  EXPECT_EQ(eErase(1, 0), EFilterResult::kFailed);  // phase 0 still running
  m_bench->clock().bSleepMs(250);
  EXPECT_EQ(eErase(1, 1), EFilterResult::kFailed);                    // another block
  EXPECT_EQ(r.eWrite(0x51, 0, 256, chunk), EFilterResult::kFailed);   // phase 0 alone erases nothing usable
  EXPECT_EQ(r.eWrite(0x57, 0x0100, 0, {0}), EFilterResult::kFailed);  // no data stage
  ASSERT_EQ(eErase(1, 0), EFilterResult::kSuccess);
  m_bench->clock().bSleepMs(250);
  EXPECT_EQ(r.eWrite(0x51, 0, 256, chunk), EFilterResult::kSuccess);
  EXPECT_EQ(eErase(1, 0), EFilterResult::kFailed);  // a second phase 1
  // 0x6400 only through request 0x40
  EXPECT_EQ(r.eRead(0x52, 0, 0x6400, v, 2), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x53, 0x12, 0x6400, {0}), EFilterResult::kFailed);
  EXPECT_EQ(r.eDescriptor(0x52, 0, 0x6400, v, 2), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x40, 0x1234, 0x6400), EFilterResult::kFailed);  // no data stage
  ASSERT_EQ(r.eWrite(0x40, 0x1234, 0x6400, {0, 0}), EFilterResult::kSuccess);
  // vendor requests to another recipient than the device
  uint8_t in[24];
  FilterRequestRecord{2500, 2, 1, 0x52, 0, 0x5820}.vEncode(in);
  uint8_t out[1];
  size_t n = 0;
  EXPECT_EQ(h->eIoControl(VLNTFILTER0_IOCTL_VENDOR_READ, in, 24, out, 1, &n), EFilterResult::kFailed);
  // register writes: with their data stage, never the erase status, the reset trigger only with 1
  EXPECT_EQ(r.eWrite(0x53, 0x5A, 0x7FB), EFilterResult::kFailed);
  EXPECT_EQ(r.ucReg(0x7FB), 0xFF);
  EXPECT_EQ(r.eWrite(0x53, 0x5A, 0x7FB, std::vector<uint8_t>(33, 0)), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x53, 0, 0x7FF, {0}), EFilterResult::kFailed);
  EXPECT_EQ(r.eDescriptor(0x53, 0, 0x7FF, v, 1), EFilterResult::kFailed);
  EXPECT_EQ(r.ucReg(0x7FF), 1);
  EXPECT_EQ(r.eWrite(0x53, 2, 0x5810, {0}), EFilterResult::kFailed);
  EXPECT_EQ(r.eWrite(0x54, 1, 0), EFilterResult::kFailed);
  EXPECT_TRUE(m_bench->bPresent(0));
  EXPECT_EQ(r.eWrite(0x53, 1, 0x5810, {0}), EFilterResult::kSuccess);
  EXPECT_FALSE(m_bench->bPresent(0));
}

// An erase struck by erase_partial reports done and leaves its range as it was; writing
// there then AND-programs over the old bytes.
TEST_F(SimChip, PartialEraseReportsDoneAndLeavesItsRange) {
  vLoad(
      R"({"faults": [{"kind": "erase_partial", "request": "0x57", "offset": "0x100", "length": 40}]})"_json);
  m_bench->vSetFlash(0, 0, std::vector<uint8_t>(0x10000, 0x3C));
  auto h = pOpen();
  Raw r{*h};
  ASSERT_EQ(r.eWrite(0x57, 0, 0), EFilterResult::kSuccess);
  m_bench->clock().bSleepMs(250);
  EXPECT_EQ(r.ucReg(0x7FF), 1);
  ASSERT_EQ(r.eWrite(0x57, 0x0100, 0), EFilterResult::kSuccess);
  m_bench->clock().bSleepMs(250);
  EXPECT_EQ(r.ucReg(0x7FF), 1);
  auto img = m_bench->vecFlash(0, 0, 0x10000);
  EXPECT_EQ(std::count(img.begin() + 0x100, img.begin() + 0x128, 0x3C), 40);
  EXPECT_EQ(std::count(img.begin(), img.end(), 0xFF), 0x10000 - 40);
  vDownload(r, 0x50, std::vector<uint8_t>(64, 0xF5));
  EXPECT_EQ(m_bench->vecFlash(0, 0x100, 1)[0], 0x34);  // programmed over an unerased byte
  EXPECT_EQ(m_bench->vecFlash(0, 0x128, 1)[0], 0xF5);
  // the fault struck once: the next erase clears everything
  ASSERT_EQ(r.eWrite(0x57, 0, 0), EFilterResult::kSuccess);
  m_bench->clock().bSleepMs(250);
  EXPECT_EQ(m_bench->vecFlash(0, 0x100, 1)[0], 0xFF);
}

TEST_F(SimChip, FlashPersistsAcrossBenchLoads) {
  vLoad();
  {
    auto h = pOpen();
    Raw r{*h};
    vDownload(r, 0x51, vecConfig(0x0BDA, 0x0411, "KEEP"));
    vDownload(r, 0x50, vecFirmwareArea(0x5000));
  }
  m_platform.reset();
  m_bench.reset();
  std::ifstream f(m_dir.path() / "hubA.flash", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
  ASSERT_EQ(bytes.size(), 131072u);
  EXPECT_EQ(static_cast<uint8_t>(bytes[0x84]), 0xDA);
  vLoad();
  EXPECT_EQ(m_bench->stIdentity(0).strSerial, "KEEP");  // power-up reads the stored block
}

TEST_F(SimChip, FaultsFailStallAndTimeOutAtTheirRequest) {
  vLoad(
      R"({"faults": [{"kind": "fail", "at_request": 2}, {"kind": "stall", "request": "0x55", "occurrence": 2,
                        "count": 2}, {"kind": "timeout", "request": "0x65"}]})"_json);
  auto h = pOpen();
  Raw r{*h};
  std::vector<uint8_t> v;
  EXPECT_EQ(r.eRead(0x52, 0, 0x5820, v, 1), EFilterResult::kSuccess);
  EXPECT_EQ(r.eRead(0x52, 0, 0x5820, v, 1), EFilterResult::kFailed);
  EXPECT_EQ(r.eRead(0x52, 0, 0x5820, v, 1), EFilterResult::kSuccess);
  EXPECT_EQ(r.eRead(0x55, 0, 0, v, 32), EFilterResult::kSuccess);
  EXPECT_EQ(r.eRead(0x55, 0, 0, v, 32), EFilterResult::kFailed);
  EXPECT_EQ(nFilterLastError(), EPIPE);
  EXPECT_EQ(r.eRead(0x55, 0, 0, v, 32), EFilterResult::kFailed);
  EXPECT_EQ(r.eRead(0x55, 0, 0, v, 32), EFilterResult::kSuccess);
  uint64_t t0 = m_bench->clock().ullNowMs();
  EXPECT_EQ(r.eRead(0x65, 0, 0, v, 32, 700), EFilterResult::kFailed);
  EXPECT_EQ(m_bench->clock().ullNowMs() - t0, 700u);  // the whole timeout passed
  EXPECT_EQ(nFilterLastError(), ETIMEDOUT);
  EXPECT_EQ(m_bench->ullRequestCount(0), 8u);
}

TEST_F(SimChip, GoneHubLeavesForGood) {
  vLoad(R"({"faults": [{"kind": "gone", "request": "0x50", "occurrence": 3}]})"_json);
  auto h = pOpen();
  Raw r{*h};
  EXPECT_EQ(r.eWrite(0x50, 0, 128, std::vector<uint8_t>(32, 0)), EFilterResult::kSuccess);
  EXPECT_EQ(r.eWrite(0x50, 0, 128, std::vector<uint8_t>(32, 0)), EFilterResult::kSuccess);
  EXPECT_EQ(r.eWrite(0x50, 0, 128, std::vector<uint8_t>(32, 0)), EFilterResult::kLeftBus);
  m_bench->clock().bSleepMs(100000);
  EXPECT_FALSE(m_bench->bPresent(0));
  EXPECT_EQ(pOpen(), nullptr);
  m_bench->vSetPlugged(0, true);  // plugging it back powers it up
  EXPECT_TRUE(m_bench->bPresent(0));
}

TEST_F(SimChip, FlipChangesWhatTheFlashStoresReproducibly) {
  std::vector<uint8_t> first;
  for (int run = 0; run < 2; ++run) {
    std::filesystem::remove(m_dir.path() / "hubA.flash");
    vLoad(R"({"faults": [{"kind": "flip", "request": "0x50", "occurrence": 2, "seed": 9, "bits": 3}]})"_json);
    auto h = pOpen();
    Raw r{*h};
    std::vector<uint8_t> fw(96, 0x5A);
    vDownload(r, 0x50, fw);
    auto got = m_bench->vecFlash(0, 0x100, 96);
    int nDiff = 0;
    for (int i = 0; i < 96; ++i) {
      int d = __builtin_popcount(got[i] ^ 0x5A);
      nDiff += d;
      if (d) {
        EXPECT_TRUE(i >= 32 && i < 64) << i;  // only the second request's data
      }
    }
    EXPECT_GE(nDiff, 1);
    EXPECT_LE(nDiff, 3);
    if (run == 0) {
      first = got;
    } else {
      EXPECT_EQ(got, first);  // the seed decides the positions
    }
    m_platform.reset();
    m_bench.reset();
  }
}

// A fault by chance: the seed alone decides which requests it strikes, and over many
// requests it strikes about its share; another seed strikes others.
TEST_F(SimChip, ProbabilityFaultsStrikeTheirShareInASeededPattern) {
  auto pattern = [&](int nSeed) {
    nlohmann::json fault = {{"kind", "fail"}, {"request", "0x52"}, {"probability", 0.1}, {"seed", nSeed}};
    vLoad({{"faults", nlohmann::json::array({fault})}});
    auto h = pOpen();
    Raw r{*h};
    std::vector<bool> vecFailed;
    std::vector<uint8_t> v;
    for (int i = 0; i < 2000; ++i) {
      vecFailed.push_back(r.eRead(0x52, 0, 0x5820, v, 1) != EFilterResult::kSuccess);
      // requests with another code are never struck and do not move the draw
      if (i % 100 == 0) {
        EXPECT_EQ(r.eRead(0x55, 0, 0, v, 32), EFilterResult::kSuccess);
      }
    }
    h.reset();
    m_platform.reset();
    m_bench.reset();
    return vecFailed;
  };
  auto a = pattern(7), b = pattern(7), c = pattern(8);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  const auto nStruck = std::count(a.begin(), a.end(), true);
  EXPECT_GT(nStruck, 150);  // 200 expected
  EXPECT_LT(nStruck, 250);
}

// A flip striking a read changes one bit of its answer, not the flash; by chance, each
// strike draws a bit of its own.
TEST_F(SimChip, FlipOfAnAnswerChangesOneBitOfTheAnswerOnly) {
  vLoad(R"({"faults": [{"kind": "flip", "request": "0x55", "probability": 0.5, "seed": 3}]})"_json);
  m_bench->vSetFlash(0, 0, std::vector<uint8_t>(64, 0x00));
  auto h = pOpen();
  Raw r{*h};
  std::vector<uint8_t> v;
  int nFlipped = 0;
  std::set<size_t> setBits;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(r.eRead(0x55, 0, 0, v, 32), EFilterResult::kSuccess);
    int nBits = 0;
    for (size_t k = 0; k < v.size(); ++k) {
      nBits += __builtin_popcount(v[k]);
      for (int b = 0; b < 8; ++b) {
        if (v[k] & (1 << b)) setBits.insert(k * 8 + b);
      }
    }
    EXPECT_LE(nBits, 1);
    nFlipped += nBits;
  }
  EXPECT_GT(nFlipped, 5);
  EXPECT_GT(setBits.size(), 3u);                                        // not one bit every time
  EXPECT_EQ(m_bench->vecFlash(0, 0, 64), std::vector<uint8_t>(64, 0));  // the flash is untouched
}

TEST_F(SimChip, StuckEraseAndResetWithoutReturn) {
  vLoad(
      R"({"faults": [{"kind": "erase_stuck", "request": "0x57"}, {"kind": "no_return", "request": "0x54"}]})"_json);
  m_bench->vSetFlash(0, 0, std::vector<uint8_t>(16, 0));
  auto h = pOpen();
  Raw r{*h};
  ASSERT_EQ(r.eWrite(0x57, 0, 0), EFilterResult::kSuccess);
  m_bench->clock().bSleepMs(60000);
  EXPECT_EQ(r.ucReg(0x7FF), 0);
  EXPECT_EQ(m_bench->vecFlash(0, 0, 1)[0], 0);               // nothing erased
  ASSERT_EQ(r.eWrite(0x57, 0, 0), EFilterResult::kSuccess);  // the next erase works
  m_bench->clock().bSleepMs(200);
  EXPECT_EQ(r.ucReg(0x7FF), 1);
  ASSERT_EQ(r.eWrite(0x54, 0, 0), EFilterResult::kSuccess);
  m_bench->clock().bSleepMs(600000);
  EXPECT_FALSE(m_bench->bPresent(0));
}

TEST(SimBenchThreads, WorkersOnDifferentHubsRunAtOnce) {
  TempDir dir;
  auto bench = pLoadSimBench(
      dir, jsonSimBench(nlohmann::json::array({jsonSimHub("h1", 1), jsonSimHub("h2", 2)}), 0.001, 10));
  ASSERT_TRUE(bench);
  CSimFilterDevicePlatform platform(*bench);
  std::atomic<int> nFailed{0};
  std::vector<std::jthread> workers;
  workers.reserve(2);
  for (int w = 0; w < 2; ++w)
    workers.emplace_back([&, w] {
      auto h = platform.pOpen(bench->strDeviceName(w, true));
      if (!h) return void(++nFailed);
      Raw r{*h};
      std::vector<uint8_t> data(256, static_cast<uint8_t>(0x10 + w));
      for (int i = 0; i < 8; ++i)
        if (r.eWrite(0x51, 0, 256,
                     std::vector<uint8_t>(data.begin() + i * 32L, data.begin() + i * 32L + 32)) !=
            EFilterResult::kSuccess)
          ++nFailed;
      std::vector<uint8_t> v;
      for (int i = 0; i < 200; ++i)
        if (r.eRead(0x55, 0, 0, v, 32) != EFilterResult::kSuccess || v[0] != 0x10 + w) ++nFailed;
    });
  workers.clear();
  EXPECT_EQ(nFailed.load(), 0);
  EXPECT_EQ(bench->ullRequestCount(0), 208u);
}

TEST(SimBenchTree, NamesFollowTheTreeAndUsb2HubsHaveNoSuperSpeedHalf) {
  TempDir dir;
  nlohmann::json hubs = nlohmann::json::array(
      {jsonSimHub("top", 3), jsonSimHub("mid", 2, {}, {{"parent", "top"}}),
       R"({"name": "low", "parent": "mid", "port": 4, "usb3": false, "flash": "low.flash"})"_json});
  auto bench = pLoadSimBench(dir, jsonSimBench(hubs));
  ASSERT_TRUE(bench);
  int low = bench->nFindHub("low");
  EXPECT_EQ(bench->strDeviceName(low, false), "usb:1-3.2.4");
  EXPECT_EQ(bench->nHubDepth(low), 2);
  EXPECT_FALSE(bench->bHasSuperSpeedHalf(low));
  EXPECT_TRUE(bench->bHasSuperSpeedHalf(bench->nFindHub("mid")));
  bool ss = false;
  EXPECT_EQ(bench->nResolveName("usb:2-3.2", ss), bench->nFindHub("mid"));
  EXPECT_TRUE(ss);
  EXPECT_EQ(bench->nResolveName("usb:2-3.2.4", ss), -1);
  EXPECT_EQ(bench->nResolveName("usb:1-3.2.4", ss), low);
  EXPECT_EQ(bench->stIdentity(low).usPIDU2, bench->stIdentity(low).usPID);  // pid_u2 defaults to pid
}
