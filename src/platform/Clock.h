// The one clock every wait and time-out of the tool and of the simulated bench goes through.
// Time is counted in "tool milliseconds": with a scale below 1 (the simulated bench's
// time_scale) a 40 s wait passes in 40 s * scale of real time, and now() advances at the
// same scaled rate, so waits and time-outs stay consistent with each other. A scale of 0
// makes every wait pass at once; now() then advances by the waits made (benchmarks).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stop_token>

// Every call may be made from any thread, at the same time as any other; none throws and
// none fails.
class IClock {
 public:
  virtual ~IClock() = default;
  // Tool milliseconds since the clock was made; never goes back. Never blocks. With scale 0
  // it is the sum of the waits made so far, on all threads together.
  virtual uint64_t ullNowMs() const = 0;
  // Waits ms tool milliseconds: blocks the calling thread for ms * scale real milliseconds
  // (scale 0: not at all). Returns false as soon as the stop token is (or becomes)
  // stop-requested, true when the whole wait passed; a wait of 0 returns at once.
  virtual bool bSleepMs(uint64_t ullMs, std::stop_token st = {}) = 0;
  // Real seconds per tool second (1 on real hardware). Never blocks.
  virtual double dScale() const = 0;
};

class CScaledClock : public IClock {
 public:
  explicit CScaledClock(double dScale = 1.0);
  uint64_t ullNowMs() const override;
  bool bSleepMs(uint64_t ullMs, std::stop_token st = {}) override;
  double dScale() const override { return m_dScale; }

 private:
  double m_dScale;
  int64_t m_llStartNs;
  std::atomic<uint64_t> m_ullWaitedMs{0};  // only used with scale 0
};
