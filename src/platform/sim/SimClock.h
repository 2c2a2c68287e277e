// The bench's clock: CScaledClock(time_scale). A time_scale of 0 makes every wait pass at
// once while the clock still moves on by the wait, so modelled durations (erase phases, a
// reset's time off the bus, time-outs) pass in order while the whole run takes no real time.
#pragma once

#include <memory>

#include "platform/Clock.h"

// The time scales a bench may give besides 0. Outside them the clock's conversions overflow:
// a smaller scale makes a day of real time more tool milliseconds than 64 bits hold well,
// a larger one makes the tool's long waits more real nanoseconds than they can count.
constexpr double SIM_TIME_SCALE_MIN = 1e-6;
constexpr double SIM_TIME_SCALE_MAX = 1000.0;
inline bool bSimTimeScaleValid(double dTimeScale) {
  return dTimeScale == 0 || (dTimeScale >= SIM_TIME_SCALE_MIN && dTimeScale <= SIM_TIME_SCALE_MAX);
}

inline std::unique_ptr<IClock> pMakeBenchClock(double dTimeScale) {
  return std::make_unique<CScaledClock>(dTimeScale > 0 ? dTimeScale : 0.0);
}
