#include "run/DispatchLoop.h"

#include <exception>

#include "log/DebugLog.h"

CDispatchLoop::CDispatchLoop() : m_windowThread(std::this_thread::get_id()) {}

CDispatchLoop::~CDispatchLoop() {
  std::lock_guard<std::mutex> l(m_mutex);
  for (auto& c : m_queue) c->bDropped = true;
  m_queue.clear();
  m_cv.notify_all();
}

bool CDispatchLoop::bIsWindowThread() const {
  std::lock_guard<std::mutex> l(m_mutex);
  return std::this_thread::get_id() == m_windowThread;
}

bool CDispatchLoop::bSend(std::function<void()> fn, std::stop_token st) {
  if (bIsWindowThread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  std::unique_lock<std::mutex> l(m_mutex);
  if (m_optExit) return false;  // the loop is ending: nobody will run it
  m_queue.push_back(call);
  m_cv.notify_all();
  // Stop-aware: a call not yet started is dropped when the sender is asked to stop.
  m_cv.wait(l, st, [&] { return call->bDone || call->bDropped; });
  if (call->bDone || call->bDropped) return call->bDone;
  if (!call->bStarted) {
    call->bDropped = true;
    return false;
  }
  // Already running on the window thread: it finishes soon, wait for it.
  m_cv.wait(l, [&] { return call->bDone; });
  return true;
}

void CDispatchLoop::vPost(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  std::lock_guard<std::mutex> l(m_mutex);
  m_queue.push_back(call);
  m_cv.notify_all();
}

void CDispatchLoop::vRequestExit(int nExitCode) {
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_optExit) m_optExit = nExitCode;
  m_cv.notify_all();
}

std::optional<int> CDispatchLoop::optExitCode() const {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_optExit;
}

bool CDispatchLoop::bRunOne(std::unique_lock<std::mutex>& lock) {
  while (!m_queue.empty()) {
    auto call = m_queue.front();
    m_queue.pop_front();
    if (call->bDropped) continue;
    call->bStarted = true;
    lock.unlock();
    try {
      call->fn();
    } catch (const std::exception& e) {
      vDEBUG_ERR_printf("%s:%d: %s", "CDispatchLoop::bRunOne", __LINE__, e.what());
    } catch (...) {
      vDEBUG_ERR_printf("%s:%d: unknown exception", "CDispatchLoop::bRunOne", __LINE__);
    }
    lock.lock();
    call->bDone = true;
    m_cv.notify_all();
    return true;
  }
  return false;
}

int CDispatchLoop::nRun() {
  std::unique_lock<std::mutex> l(m_mutex);
  m_windowThread = std::this_thread::get_id();
  for (;;) {
    m_cv.wait(l, [&] { return !m_queue.empty() || m_optExit.has_value(); });
    if (m_optExit) break;
    bRunOne(l);
  }
  // Senders still waiting get false: the loop will not run their calls.
  for (auto& c : m_queue) c->bDropped = true;
  m_queue.clear();
  m_cv.notify_all();
  return *m_optExit;
}

int CDispatchLoop::nRunPending() {
  std::unique_lock<std::mutex> l(m_mutex);
  m_windowThread = std::this_thread::get_id();
  int n = 0;
  while (bRunOne(l)) ++n;
  return n;
}
