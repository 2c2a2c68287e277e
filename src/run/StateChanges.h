// The run's change signal: a worker whose state changes (or that lets the reset lock go)
// announces it, and the run thread and the waiting workers look again at once rather than
// at their next poll. The poll intervals stay as the longest a look can be late.
//
// A waiter notes ullGeneration() before it looks at the states, then waits with that value:
// a change announced after its look ends the wait, one announced before it ends it at once.
#pragma once

#include <cstdint>
#include <stop_token>
#include <vector>

#include "platform/Clock.h"
#include "run/Guarded.h"

class CStateChanges {
 public:
  explicit CStateChanges(IClock& clock) : m_clock(clock) {}
  CStateChanges(const CStateChanges&) = delete;
  CStateChanges& operator=(const CStateChanges&) = delete;

  void vAnnounce() EXCLUDES(m_mutex);
  uint64_t ullGeneration() const EXCLUDES(m_mutex);

  enum class EWait { Stopped, Changed, Elapsed };
  // Waits up to ullMs of tool time, or less when a change came after ullSeen (a value of
  // ullGeneration). The result says which, or that st asked to stop.
  EWait eWait(uint64_t ullMs, uint64_t ullSeen, std::stop_token st) EXCLUDES(m_mutex);

 private:
  IClock& m_clock;
  mutable CMutex m_mutex;
  uint64_t m_ullGeneration GUARDED_BY(m_mutex) = 0;
  // The wake-up sources of the waits under way; a change stops each of them.
  std::vector<std::stop_source*> m_waiters GUARDED_BY(m_mutex);
};
