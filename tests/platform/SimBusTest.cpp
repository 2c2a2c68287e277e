// The simulated bus below a hub: what a hub's reset, restart or unplug does to the hubs on
// its ports, in which order the events come, and what their handles answer meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/sim/SimBench.h"
#include "platform/sim/SimFilterDevice.h"
#include "support/SimBenchJson.h"

namespace {

using nlohmann::json;

// A chain top -> mid (port 2 of top) -> low (port 3 of mid) and a sibling of mid on port 1.
json jsonChain(const json& topExtra = json::object(), const json& midExtra = json::object(),
               const json& lowExtra = json::object()) {
  return json::array({jsonSimHub("top", 1, topExtra), jsonSimHub("side", 1, {}, {{"parent", "top"}}),
                      jsonSimHub("mid", 2, midExtra, {{"parent", "top"}}),
                      jsonSimHub("low", 3, lowExtra, {{"parent", "mid"}})});
}

EFilterResult eReadReg(IFilterDeviceHandle& h, uint16_t usAddr, uint8_t& v) {
  uint8_t in[24];
  FilterRequestRecord{2500, 2, 0, 0x52, 0, usAddr}.vEncode(in);
  size_t n = 0;
  return h.eIoControl(VLNTFILTER0_IOCTL_VENDOR_READ, in, 24, &v, 1, &n);
}

// A vendor write as the channel sends it: a register write carries one data byte, a CPU
// reset none (the chip refuses a reset with a data stage).
EFilterResult eWrite(IFilterDeviceHandle& h, uint8_t req, uint16_t value, uint16_t index) {
  uint8_t in[25] = {};
  FilterRequestRecord{2500, 2, 0, req, value, index}.vEncode(in);
  size_t n = 0;
  return h.eIoControl(VLNTFILTER0_IOCTL_VENDOR_WRITE, in, req == 0x54 ? 24 : sizeof in, nullptr, 0, &n);
}

class SimBus : public ::testing::Test {
 protected:
  void vLoad(const json& hubs, double dScale = 0) {
    m_bench = pLoadSimBench(m_dir, jsonSimBench(hubs, dScale));
    ASSERT_TRUE(m_bench);
    m_platform = std::make_unique<CSimFilterDevicePlatform>(*m_bench);
    m_bench->vSetHubEventHandler([this](int h, bool b) {
      std::lock_guard<std::mutex> l(m_mutex);
      m_events.push_back((b ? "+" : "-") + m_bench->hubSpec(h).strName);
    });
  }
  std::unique_ptr<IFilterDeviceHandle> pOpen(const std::string& strHub) {
    return m_platform->pOpen(m_bench->strDeviceName(m_bench->nFindHub(strHub), true));
  }
  bool bPresent(const std::string& strHub) { return m_bench->bPresent(m_bench->nFindHub(strHub)); }
  std::vector<std::string> vecTake() {
    std::lock_guard<std::mutex> l(m_mutex);
    return std::exchange(m_events, {});
  }
  void vAfter(uint64_t ullMs) {
    m_bench->clock().bSleepMs(ullMs);
    m_bench->vProcessDue();
  }
  TempDir m_dir;
  std::unique_ptr<CSimBench> m_bench;
  std::unique_ptr<CSimFilterDevicePlatform> m_platform;
  std::mutex m_mutex;
  std::vector<std::string> m_events;
};

using V = std::vector<std::string>;

TEST_F(SimBus, ResetOfAHubTakesEveryHubBelowOffTheBusAndBringsThemBackAfterIt) {
  vLoad(jsonChain());
  auto top = pOpen("top"), mid = pOpen("mid"), low = pOpen("low");
  ASSERT_TRUE(top && mid && low);
  uint8_t v = 0;
  ASSERT_EQ(eWrite(*mid, 0x53, 0x5A, 0x7FB), EFilterResult::kSuccess);  // a mark only a restart of mid clears
  ASSERT_EQ(eWrite(*top, 0x54, 0, 0), EFilterResult::kSuccess);
  // The deepest first, each before the hub above it; the hub that was reset last.
  EXPECT_EQ(vecTake(), (V{"-side", "-low", "-mid", "-top"}));
  for (const char* psz : {"top", "side", "mid", "low"}) {
    EXPECT_FALSE(bPresent(psz)) << psz;
    EXPECT_EQ(pOpen(psz), nullptr) << psz;
  }
  // Handles opened before answer every request as gone, even after their hubs are back.
  EXPECT_EQ(eReadReg(*low, 0x5820, v), EFilterResult::kLeftBus);
  EXPECT_EQ(nFilterLastError(), ENODEV);
  vAfter(1000);
  EXPECT_EQ(vecTake(), (V{"+top"}));
  EXPECT_FALSE(bPresent("mid"));  // attaching: not before its attach time after top
  vAfter(100);
  EXPECT_EQ(vecTake(), (V{"+side", "+mid"}));
  EXPECT_FALSE(bPresent("low"));
  vAfter(100);
  EXPECT_EQ(vecTake(), (V{"+low"}));
  for (auto* h : {mid.get(), low.get()}) EXPECT_EQ(eReadReg(*h, 0x5820, v), EFilterResult::kLeftBus);
  auto mid2 = pOpen("mid");
  ASSERT_TRUE(mid2);
  ASSERT_EQ(eReadReg(*mid2, 0x7FB, v), EFilterResult::kSuccess);
  EXPECT_EQ(v, 0x5A);  // only its link went: its chip did not start again
}

TEST_F(SimBus, AHubInAResetOfItsOwnIsBackNoEarlierThanItsResetEndsNorThanItsHub) {
  vLoad(jsonChain({}, {{"reset_ms", 5000}}, {{"reset_ms", 300}}));
  auto low = pOpen("low"), mid = pOpen("mid"), top = pOpen("top");
  ASSERT_TRUE(low && mid && top);
  ASSERT_EQ(eWrite(*low, 0x54, 0, 0), EFilterResult::kSuccess);
  ASSERT_EQ(eWrite(*mid, 0x54, 0, 0), EFilterResult::kSuccess);
  EXPECT_EQ(vecTake(), (V{"-low", "-mid"}));
  ASSERT_EQ(eWrite(*top, 0x54, 0, 0), EFilterResult::kSuccess);
  EXPECT_EQ(vecTake(), (V{"-side", "-top"}));  // mid and low were away already
  vAfter(1100);
  EXPECT_EQ(vecTake(), (V{"+top", "+side"}));  // low's reset is over, but mid's still runs
  EXPECT_FALSE(bPresent("low"));
  vAfter(3900);
  EXPECT_EQ(vecTake(), (V{"+mid"}));
  vAfter(100);
  EXPECT_EQ(vecTake(), (V{"+low"}));
}

TEST_F(SimBus, RestartAndUnplugDropTheHubsBelowAndThosePluggedLaterFollowTheirHub) {
  json hubs = jsonChain({}, {{"attach_ms", 400}});
  hubs.push_back(jsonSimHub("late", 3, {{"plug_at_ms", 2000}}));
  hubs.push_back(jsonSimHub("under", 1, {}, {{"parent", "late"}}));
  vLoad(hubs);
  EXPECT_FALSE(bPresent("under"));  // its hub is not plugged in yet
  auto top = pOpen("top");
  ASSERT_TRUE(top);
  ASSERT_TRUE(m_bench->bRestartHub(m_bench->nFindHub("top")));
  EXPECT_EQ(vecTake(), (V{"-side", "-low", "-mid", "-top", "+top"}));
  uint8_t v = 0;
  EXPECT_EQ(eReadReg(*top, 0x5820, v), EFilterResult::kLeftBus);  // enumerated again: a new session
  EXPECT_FALSE(m_bench->bRestartHub(m_bench->nFindHub("mid")));   // not on the bus yet
  vAfter(100);
  EXPECT_EQ(vecTake(), (V{"+side"}));
  vAfter(300);
  EXPECT_EQ(vecTake(), (V{"+mid"}));  // its own attach time
  vAfter(100);
  EXPECT_EQ(vecTake(), (V{"+low"}));
  m_bench->vSetPlugged(m_bench->nFindHub("mid"), false);
  EXPECT_EQ(vecTake(), (V{"-low", "-mid"}));
  m_bench->vSetPlugged(m_bench->nFindHub("mid"), true);
  EXPECT_EQ(vecTake(), (V{"+mid"}));
  vAfter(100);
  EXPECT_EQ(vecTake(), (V{"+low"}));
  vAfter(1450);  // the late hub is plugged in at 2000, the hub on its port 100 later
  EXPECT_EQ(vecTake(), (V{"+late"}));
  vAfter(50);
  EXPECT_EQ(vecTake(), (V{"+under"}));
}

TEST_F(SimBus, OnAScaledClockTheTimerBringsTheHubsBackInOrder) {
  vLoad(jsonChain({{"reset_ms", 100}}, {{"attach_ms", 50}}, {{"attach_ms", 20}}), 0.01);
  auto top = pOpen("top");
  ASSERT_TRUE(top);
  ASSERT_EQ(eWrite(*top, 0x54, 0, 0), EFilterResult::kSuccess);
  // Nothing touches the bench meanwhile: the returns come from its timer alone.
  V seen;
  for (int i = 0; i < 2000 && seen.size() < 8; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    V v = vecTake();
    seen.insert(seen.end(), v.begin(), v.end());
  }
  ASSERT_EQ(seen.size(), 8u);
  EXPECT_EQ(V(seen.begin(), seen.begin() + 5), (V{"-side", "-low", "-mid", "-top", "+top"}));
  // side and mid come back on their own times, low after mid.
  auto at = [&](const char* psz) { return std::find(seen.begin(), seen.end(), psz) - seen.begin(); };
  EXPECT_LT(at("+mid"), at("+low"));
  EXPECT_LT(at("+side"), 8);
}

}  // namespace
