// The run's change signal: a change ends a wait at once whether it came before the wait
// began or during it, no change lets the whole wait pass, and a stop request wins.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "run/StateChanges.h"

namespace {
using EWait = CStateChanges::EWait;
constexpr uint64_t LONG_WAIT_MS = 1000000;  // a thousand tool seconds, a real second at this scale
}  // namespace

TEST(StateChanges, AChangeEndsTheWaitAndNoneIsLost) {
  CScaledClock clock(0.001);
  CStateChanges changes(clock);
  const uint64_t ullSeen = changes.ullGeneration();
  EXPECT_EQ(changes.eWait(10, ullSeen, {}), EWait::Elapsed);
  // Announced between the look and the wait: the wait ends at once.
  changes.vAnnounce();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(changes.eWait(LONG_WAIT_MS, ullSeen, {}), EWait::Changed);
  // Announced while the wait goes on.
  const uint64_t ullNow = changes.ullGeneration();
  EXPECT_NE(ullNow, ullSeen);
  std::jthread announcer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    changes.vAnnounce();
  });
  EXPECT_EQ(changes.eWait(LONG_WAIT_MS, ullNow, {}), EWait::Changed);
  announcer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST(StateChanges, AStopRequestEndsTheWaitAndComesFirst) {
  CScaledClock clock(0.001);
  CStateChanges changes(clock);
  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop.request_stop();
  });
  EXPECT_EQ(changes.eWait(LONG_WAIT_MS, changes.ullGeneration(), stop.get_token()), EWait::Stopped);
  stopper.join();
  // A change not yet seen does not hide the stop.
  const uint64_t ullSeen = changes.ullGeneration();
  changes.vAnnounce();
  EXPECT_EQ(changes.eWait(LONG_WAIT_MS, ullSeen, stop.get_token()), EWait::Stopped);
}
