// The walk's restarts of hubs that look idle, on a bus where a restarted hub takes every hub
// below it off the bus until they attach again after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "BenchRig.h"

namespace {

TEST(WalkRestart, BlankHubsInACascadeAreRestartedAndEveryOneIsFound) {
  BenchRig r;
  r.vController("xhci0");
  // top -> a -> b -> c, and a sibling of a; no strings, as blank hubs are: each looks idle.
  const std::vector<std::pair<std::string, std::pair<std::string, int>>> hubs = {
      {"top", {"xhci0", 1}}, {"a", {"top", 1}}, {"b", {"a", 2}}, {"c", {"b", 3}}, {"side", {"top", 4}}};
  for (const auto& [strName, on] : hubs) {
    SimHubSpec& h = r.hub(strName, on.first, on.second);
    h.strManufacturer.clear();
    h.strProduct.clear();
    h.uAttachMs = 300;  // longer than nothing, shorter than the walk's wait after a restart
  }
  ASSERT_TRUE(r.bStart());
  std::mutex m;
  std::vector<std::string> seen;
  ASSERT_TRUE(r.events->bStart([&](const DeviceEvent& e) {
    std::lock_guard<std::mutex> l(m);
    seen.push_back((e.eAction == EDeviceAction::Arrival ? "+" : "-") + e.strName);
  }));
  ASSERT_EQ(r.nScan(), 0);
  r.events->vStop();

  // Both halves of each, in the walk's order.
  ASSERT_EQ(r.list.m_DriverNum, 10);
  const std::vector<std::string> vecOrder = {"1-1", "1-1.1", "1-1.1.2", "1-1.1.2.3", "1-1.4"};
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(r.list.drv[i].DriverName, (i < 5 ? "" : "2") + vecOrder[i % 5].substr(i < 5 ? 0 : 1)) << i;
  EXPECT_EQ(r.list.DevNums, 5);
  const int nRestarts = r.state->nRestartCount();
  ASSERT_GE(nRestarts, 5);
  EXPECT_EQ(nRestarts % 5, 0);  // each hub as often as the others
  // The restarts of the hubs above the deepest one took it off the bus too (not those that
  // came while it was still attaching after the one before).
  auto nCount = [&](const std::string& s) {
    return static_cast<int>(std::count(seen.begin(), seen.end(), s));
  };
  EXPECT_GT(nCount("-2-1.1.2.3"), nRestarts / 5);
  EXPECT_EQ(nCount("+2-1.1.2.3"), nCount("-2-1.1.2.3"));
  // A hub leaves only after every hub below it, and comes back only after the hub above it.
  std::set<std::string> present;
  for (const auto& [strName, on] : hubs) {
    (void)on;
    present.insert(r.tree->strHubNodeName(r.nHub(strName), false));
    present.insert(r.tree->strHubNodeName(r.nHub(strName), true));
  }
  for (const std::string& e : seen) {
    const std::string strNode = e.substr(1);
    const std::string strUp =
        strNode.find('.') == std::string::npos ? "" : strNode.substr(0, strNode.rfind('.'));
    if (e[0] == '+') {
      EXPECT_TRUE(strUp.empty() || present.count(strUp)) << e << " before its hub";
      present.insert(strNode);
    } else {
      for (const auto& p : present) EXPECT_NE(p.rfind(strNode + ".", 0), 0u) << e << " before " << p;
      present.erase(strNode);
    }
  }
  EXPECT_EQ(present.size(), 10u);
}

}  // namespace
