#include <gtest/gtest.h>

#include <thread>

#include "log/DebugLog.h"
#include "support/LogCapture.h"

namespace {

void vWriteAll() {
  vDEBUG_MSG_printf("%s:%d: m", "T::F", 1);
  vDEBUG_WRN_printf("%s:%d: w", "T::F", 2);
  vDEBUG_ERR_printf("%s:%d: e", "T::F", 3);
}

std::vector<std::string> entriesAtLevel(int nLevel) {
  LogCapture cap(nLevel);
  vWriteAll();
  return cap.entries();
}

}  // namespace

TEST(DebugLog, ThresholdsByLevel) {
  EXPECT_TRUE(entriesAtLevel(0).empty());
  EXPECT_TRUE(entriesAtLevel(-5).empty());
  EXPECT_EQ(entriesAtLevel(1), (std::vector<std::string>{"\r\nERR::T::F:3: e"}));
  EXPECT_EQ(entriesAtLevel(2), (std::vector<std::string>{"\r\nWRN::T::F:2: w", "\r\nERR::T::F:3: e"}));
  auto all = std::vector<std::string>{"\r\nMSG::T::F:1: m", "\r\nWRN::T::F:2: w", "\r\nERR::T::F:3: e"};
  EXPECT_EQ(entriesAtLevel(3), all);
  EXPECT_EQ(entriesAtLevel(4), all);
}

TEST(DebugLog, SetLevelReturnsLevel) {
  LogCapture cap(0);
  EXPECT_EQ(vDEBUG_SetLevel(4), 4);
  EXPECT_EQ(g_nDebugLevel.load(), 4);
}

TEST(DebugLog, LongTextIsCutToTheBuffer) {
  LogCapture cap(3);
  std::string big(10000, 'x');
  vDEBUG_ERR_printf("%s:%d: %s", "T::F", 1, big.c_str());
  auto e = cap.entries();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].size(), 4095u);
  EXPECT_EQ(e[0].substr(0, 7), "\r\nERR::");
}

TEST(DebugLog, ConcurrentEntriesComeOutWhole) {
  LogCapture cap(3);
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) vDEBUG_MSG_printf("%s:%d: thread %d entry %d end", "T::F", 7, t, i);
    });
  for (auto& th : threads) th.join();
  auto e = cap.entries();
  ASSERT_EQ(e.size(), 800u);
  for (const auto& s : e) {
    EXPECT_EQ(s.rfind("\r\nMSG::T::F:7: thread ", 0), 0u) << s;
    EXPECT_EQ(s.substr(s.size() - 4), " end") << s;
  }
}
