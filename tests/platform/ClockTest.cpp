#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"

TEST(ScaledClock, WaitsAreScaledAndNowFollows) {
  CScaledClock clock(0.001);
  auto t0 = std::chrono::steady_clock::now();
  uint64_t n0 = clock.ullNowMs();
  EXPECT_TRUE(clock.bSleepMs(20000));  // 20 tool seconds = 20 ms real
  auto realMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(clock.ullNowMs() - n0, 20000u);
  EXPECT_LT(realMs, 2000);
}

TEST(ScaledClock, StopRequestEndsAWaitEarly) {
  CScaledClock clock(1.0);
  std::stop_source src;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    src.request_stop();
  });
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(clock.bSleepMs(60000, src.get_token()));
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_FALSE(clock.bSleepMs(10, src.get_token()));  // already stopped: returns at once
}

TEST(ScaledClock, ScaleZeroPassesAtOnceAndCountsWaits) {
  CScaledClock clock(0);
  EXPECT_TRUE(clock.bSleepMs(40000));
  EXPECT_TRUE(clock.bSleepMs(2000));
  EXPECT_EQ(clock.ullNowMs(), 42000u);
}

// Extreme scales saturate instead of overflowing their conversions.
TEST(ScaledClock, ExtremeScalesSaturate) {
  CScaledClock tiny(1e-300);
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(tiny.ullNowMs(), UINT64_MAX);
  CScaledClock huge(1e300);
  std::stop_source src;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    src.request_stop();
  });
  EXPECT_FALSE(huge.bSleepMs(1000, src.get_token()));  // a very long wait, ended by the stop
  stopper.join();
  EXPECT_EQ(huge.ullNowMs(), 0u);
}
