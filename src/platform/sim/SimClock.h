// The bench's clock. A positive time_scale gives CScaledClock(time_scale); a time_scale of 0
// gives CInstantClock, whose waits pass at once and move its time on by the wait, so
// modelled durations (erase phases, a reset's time off the bus, time-outs) still pass in
// order while the whole run takes no real time.
#pragma once

#include <atomic>
#include <memory>

#include "platform/Clock.h"

class CInstantClock : public IClock {
 public:
  uint64_t ullNowMs() const override { return m_ullNowMs.load(); }
  bool bSleepMs(uint64_t ullMs, std::stop_token st = {}) override {
    if (st.stop_requested()) return false;
    m_ullNowMs.fetch_add(ullMs);
    return true;
  }
  double dScale() const override { return 0.0; }

 private:
  std::atomic<uint64_t> m_ullNowMs{0};
};

inline std::unique_ptr<IClock> pMakeBenchClock(double dTimeScale) {
  if (dTimeScale <= 0) return std::make_unique<CInstantClock>();
  return std::make_unique<CScaledClock>(dTimeScale);
}
