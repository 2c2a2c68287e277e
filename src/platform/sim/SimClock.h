// The bench's clock: CScaledClock(time_scale). A time_scale of 0 makes every wait pass at
// once while the clock still moves on by the wait, so modelled durations (erase phases, a
// reset's time off the bus, time-outs) pass in order while the whole run takes no real time.
#pragma once

#include <memory>

#include "platform/Clock.h"

inline std::unique_ptr<IClock> pMakeBenchClock(double dTimeScale) {
  return std::make_unique<CScaledClock>(dTimeScale > 0 ? dTimeScale : 0.0);
}
