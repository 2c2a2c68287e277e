#include "platform/Clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace {
int64_t llSteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CScaledClock::CScaledClock(double dScale) : m_dScale(dScale >= 0 ? dScale : 1.0), m_llStartNs(llSteadyNs()) {}

uint64_t CScaledClock::ullNowMs() const {
  if (m_dScale == 0) return m_ullWaitedMs.load();
  double dRealMs = static_cast<double>(llSteadyNs() - m_llStartNs) / 1e6;
  const double dToolMs = dRealMs / m_dScale;
  // A scale too small for the time passed stops the clock at its end instead of wrapping.
  return dToolMs < 1.8e19 ? static_cast<uint64_t>(dToolMs) : UINT64_MAX;
}

bool CScaledClock::bSleepMs(uint64_t ullMs, std::stop_token st) {
  if (st.stop_requested()) return false;
  if (m_dScale == 0) {
    m_ullWaitedMs += ullMs;
    return true;
  }
  const double dRealNs = static_cast<double>(ullMs) * 1e6 * m_dScale;
  // Capped at about 30 years, so that the wait's deadline cannot overflow either.
  constexpr int64_t kMaxWaitNs = 1000000000000000000;
  auto realWait = std::chrono::nanoseconds(dRealNs < 1e18 ? static_cast<int64_t>(dRealNs) : kMaxWaitNs);
  if (realWait.count() <= 0) return !st.stop_requested();
  std::mutex m;
  std::condition_variable_any cv;
  std::unique_lock<std::mutex> lock(m);
  // wait_for with a stop token wakes early on a stop request; the predicate never holds.
  cv.wait_for(lock, st, realWait, [] { return false; });
  return !st.stop_requested();
}
