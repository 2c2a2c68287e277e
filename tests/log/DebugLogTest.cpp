#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "log/DebugLog.h"
#include "support/LogCapture.h"

namespace {

// The line of each entry below, as the caller sees it.
struct WrittenLines {
  unsigned uMsg = 0, uWrn = 0, uErr = 0;
};

WrittenLines stWriteAll() {
  WrittenLines l;
  l.uMsg = __LINE__ + 1;
  vDEBUG_MSG_printf("T::F", "m");
  l.uWrn = __LINE__ + 1;
  vDEBUG_WRN_printf("T::F", "w");
  l.uErr = __LINE__ + 1;
  vDEBUG_ERR_printf("T::F", "e");
  return l;
}

std::string strEntry(const char* pszSeverity, unsigned uLine, const char* pszText) {
  return std::string("\r\n") + pszSeverity + "::T::F:" + std::to_string(uLine) + ": " + pszText;
}

std::vector<std::string> entriesAtLevel(int nLevel, WrittenLines& lines) {
  LogCapture cap(nLevel);
  lines = stWriteAll();
  return cap.entries();
}

// A helper that logs on behalf of its caller passes the site on.
void vLogFor(LogSite site, int n) {
  vDEBUG_ERR_printf(site, "value %d", n);
}

}  // namespace

TEST(DebugLog, ThresholdsByLevel) {
  WrittenLines l;
  EXPECT_TRUE(entriesAtLevel(0, l).empty());
  EXPECT_TRUE(entriesAtLevel(-5, l).empty());
  const std::string m = strEntry("MSG", l.uMsg, "m"), w = strEntry("WRN", l.uWrn, "w"),
                    e = strEntry("ERR", l.uErr, "e");
  EXPECT_EQ(entriesAtLevel(1, l), (std::vector<std::string>{e}));
  EXPECT_EQ(entriesAtLevel(2, l), (std::vector<std::string>{w, e}));
  EXPECT_EQ(entriesAtLevel(3, l), (std::vector<std::string>{m, w, e}));
  EXPECT_EQ(entriesAtLevel(4, l), (std::vector<std::string>{m, w, e}));
}

TEST(DebugLog, LineIsTheCallersLine) {
  LogCapture cap(3);
  const unsigned uOneLine = __LINE__ + 1;
  vDEBUG_MSG_printf("T::F", "one line %d", 1);
  // A call spread over lines counts from the line it starts on.
  const unsigned uSpread = __LINE__ + 1;
  vDEBUG_MSG_printf("T::F", "spread over lines: %s, %s, %d", "a first argument long enough",
                    "and a second one that goes on to the next line", 3);
  const unsigned uHelper = __LINE__ + 1;
  vLogFor("T::G", 7);
  const char* pszLabel = "T::H";
  const unsigned uVariable = __LINE__ + 1;
  vDEBUG_WRN_printf(pszLabel, "label from a variable");
  EXPECT_EQ(cap.entries(), (std::vector<std::string>{
                               "\r\nMSG::T::F:" + std::to_string(uOneLine) + ": one line 1",
                               "\r\nMSG::T::F:" + std::to_string(uSpread) +
                                   ": spread over lines: a first argument long enough, and a second one "
                                   "that goes on to the next line, 3",
                               "\r\nERR::T::G:" + std::to_string(uHelper) + ": value 7",
                               "\r\nWRN::T::H:" + std::to_string(uVariable) + ": label from a variable"}));
}

TEST(DebugLog, SetLevelReturnsLevel) {
  LogCapture cap(0);
  EXPECT_EQ(vDEBUG_SetLevel(4), 4);
  EXPECT_EQ(g_nDebugLevel.load(), 4);
}

TEST(DebugLog, LongTextIsCutToTheBuffer) {
  LogCapture cap(3);
  std::string big(10000, 'x');
  vDEBUG_ERR_printf("T::F", "%s", big.c_str());
  // A label that alone fills the buffer is cut too, and nothing follows it.
  vDEBUG_ERR_printf(big.c_str(), "tail");
  auto e = cap.entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].size(), 4095u);
  EXPECT_EQ(e[0].substr(0, 12), "\r\nERR::T::F:");
  EXPECT_EQ(e[0].substr(e[0].size() - 3), "xxx");
  EXPECT_EQ(e[1], "\r\nERR::" + big.substr(0, 4095 - 7));
}

TEST(DebugLog, ConcurrentEntriesComeOutWhole) {
  LogCapture cap(3);
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) vDEBUG_MSG_printf("T::F", "thread %d entry %d end", t, i);
    });
  for (auto& th : threads) th.join();
  auto e = cap.entries();
  ASSERT_EQ(e.size(), 800u);
  for (const auto& s : e) {
    EXPECT_EQ(s.rfind("\r\nMSG::T::F:", 0), 0u) << s;
    EXPECT_NE(s.find(": thread "), std::string::npos) << s;
    EXPECT_EQ(s.substr(s.size() - 4), " end") << s;
  }
}
