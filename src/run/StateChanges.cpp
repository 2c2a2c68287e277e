#include "run/StateChanges.h"

void CStateChanges::vAnnounce() {
  CScopedLock l(m_mutex);
  ++m_ullGeneration;
  for (std::stop_source* p : m_waiters) p->request_stop();
}

uint64_t CStateChanges::ullGeneration() const {
  CScopedLock l(m_mutex);
  return m_ullGeneration;
}

CStateChanges::EWait CStateChanges::eWait(uint64_t ullMs, uint64_t ullSeen, std::stop_token st) {
  // The clock's wait ends early on a stop request: the waiter's own source is stopped by a
  // change or by the caller's stop request.
  std::stop_source wake;
  std::stop_callback onStop(st, [&wake] { wake.request_stop(); });
  {
    CScopedLock l(m_mutex);
    if (st.stop_requested()) return EWait::Stopped;
    if (m_ullGeneration != ullSeen) return EWait::Changed;
    m_waiters.push_back(&wake);
  }
  const bool bElapsed = m_clock.bSleepMs(ullMs, wake.get_token());
  {
    CScopedLock l(m_mutex);
    std::erase(m_waiters, &wake);
  }
  if (st.stop_requested()) return EWait::Stopped;
  return bElapsed ? EWait::Elapsed : EWait::Changed;
}
