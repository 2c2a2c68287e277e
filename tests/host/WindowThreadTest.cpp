#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host/WindowThread.h"
#include "support/LogCapture.h"

using namespace std::chrono_literals;

TEST(WindowThread, CallOnTheWindowThreadRunsDirectly) {
  CWindowThread wt;
  EXPECT_TRUE(wt.bIsWindowThread());
  int n = 0;
  EXPECT_TRUE(wt.bSend([&] { ++n; }));  // no loop runs: a queued call would never return
  EXPECT_EQ(n, 1);
}

TEST(WindowThread, WorkersSendCallsThatRunOnTheLoopThreadInOrder) {
  CWindowThread wt;
  std::thread::id loopId;
  std::vector<int> order;  // touched only on the window thread
  std::thread loop([&] {
    loopId = std::this_thread::get_id();
    EXPECT_EQ(wt.nRunLoop(), 7);
  });
  while (wt.bIsWindowThread()) std::this_thread::yield();  // wait until the loop owns it

  std::vector<std::thread> workers;
  std::atomic<int> ran{0};
  workers.reserve(4);
  for (int w = 0; w < 4; ++w)
    workers.emplace_back([&, w] {
      for (int i = 0; i < 50; ++i) {
        std::thread::id where;
        ASSERT_TRUE(wt.bSend([&] {
          where = std::this_thread::get_id();
          order.push_back(w * 1000 + i);
        }));
        EXPECT_EQ(where, loopId);
        ++ran;
      }
    });
  for (auto& t : workers) t.join();
  EXPECT_EQ(ran.load(), 200);
  // a send from inside a call is on the window thread and runs directly
  bool bInner = false;
  EXPECT_TRUE(wt.bSend([&] { EXPECT_TRUE(wt.bSend([&] { bInner = true; })); }));
  EXPECT_TRUE(bInner);
  wt.bPost([&] { wt.vQuit(7); });
  loop.join();
  ASSERT_EQ(order.size(), 200u);
  // each worker's calls kept their order
  for (int w = 0; w < 4; ++w) {
    int last = -1;
    for (int v : order)
      if (v / 1000 == w) {
        EXPECT_GT(v % 1000, last);
        last = v % 1000;
      }
  }
}

TEST(WindowThread, AfterQuitSendersAreReleasedNotBlocked) {
  CWindowThread wt;
  std::thread loop([&] { wt.nRunLoop(); });
  while (wt.bIsWindowThread()) std::this_thread::yield();
  wt.vQuit(0);
  loop.join();
  std::atomic<bool> bRan{false};
  auto f = std::async(std::launch::async, [&] { return wt.bSend([&] { bRan = true; }); });
  ASSERT_EQ(f.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(f.get());
  EXPECT_FALSE(bRan);
  EXPECT_FALSE(wt.bPost([] {}));
}

TEST(WindowThread, QuitReleasesASenderWaitingInTheQueue) {
  CWindowThread wt;  // no loop runs: the call stays queued
  std::thread other;
  std::promise<bool> result;
  other = std::thread([&] { result.set_value(wt.bSend([] { FAIL() << "must not run"; })); });
  std::this_thread::sleep_for(10ms);
  wt.vQuit(0);
  other.join();
  EXPECT_FALSE(result.get_future().get());
}

TEST(WindowThread, AStoppedSenderTakesBackItsPendingCall) {
  CWindowThread wt;  // the window thread is busy elsewhere (no loop)
  std::stop_source stop;
  std::atomic<bool> bRan{false};
  std::promise<bool> result;
  std::thread worker([&] { result.set_value(wt.bSend([&] { bRan = true; }, stop.get_token())); });
  std::this_thread::sleep_for(10ms);
  stop.request_stop();
  worker.join();
  EXPECT_FALSE(result.get_future().get());
  EXPECT_EQ(wt.nRunPending(), 0u);  // the dropped call is not run
  EXPECT_FALSE(bRan);
}

TEST(WindowThread, ARunningCallIsWaitedForEvenWhenTheSenderIsStopped) {
  CWindowThread wt;
  std::thread loop([&] { wt.nRunLoop(); });
  while (wt.bIsWindowThread()) std::this_thread::yield();
  std::stop_source stop;
  std::atomic<bool> bStarted{false}, bFinished{false};
  std::promise<bool> result;
  std::thread worker([&] {
    result.set_value(wt.bSend(
        [&] {
          bStarted = true;
          std::this_thread::sleep_for(30ms);
          bFinished = true;
        },
        stop.get_token()));
  });
  while (!bStarted) std::this_thread::yield();
  stop.request_stop();
  worker.join();
  EXPECT_TRUE(bFinished);  // the sender did not leave while its call used its data
  EXPECT_TRUE(result.get_future().get());
  wt.vQuit(0);
  loop.join();
}

TEST(WindowThread, ToolkitHookRunsPendingCallsAfterAWakeup) {
  CWindowThread wt;
  std::atomic<int> nWakeups{0};
  wt.vSetWakeup([&] { ++nWakeups; });
  std::atomic<bool> bRan{false};
  std::thread worker([&] { EXPECT_TRUE(wt.bSend([&] { bRan = true; })); });
  while (nWakeups == 0) std::this_thread::yield();
  while (wt.nRunPending() == 0) std::this_thread::yield();  // the GUI thread's turn
  worker.join();
  EXPECT_TRUE(bRan);
}

TEST(WindowThread, AnExceptionInACallIsLoggedAndReportedAsNotRun) {
  LogCapture log(1);
  CWindowThread wt;
  EXPECT_FALSE(wt.bSend([] { throw std::runtime_error("boom"); }));
  EXPECT_TRUE(log.contains("ERR::CWindowThread::bInvoke"));
  EXPECT_TRUE(log.contains("boom"));
}
