#include "host/WindowThread.h"

#include <cerrno>
#include <exception>

#include "log/DebugLog.h"

CWindowThread::CWindowThread() : m_owner(std::this_thread::get_id()) {}

CWindowThread::~CWindowThread() {
  vQuit(0);
}

void CWindowThread::vBindToCurrentThread() {
  std::lock_guard<std::mutex> l(m_mutex);
  m_owner = std::this_thread::get_id();
}

bool CWindowThread::bIsWindowThread() const {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_owner == std::this_thread::get_id();
}

bool CWindowThread::bInvoke(std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const std::exception& e) {
    vDEBUG_ERR_printf("CWindowThread::bInvoke", "window call failed: %s , dwErrorCode %d", e.what(), errno);
  } catch (...) {
    vDEBUG_ERR_printf("CWindowThread::bInvoke", "window call failed , dwErrorCode %d", errno);
  }
  return false;
}

void CWindowThread::vSetWakeup(std::function<void()> fnWakeup) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_fnWakeup = std::move(fnWakeup);
}

bool CWindowThread::bEnqueue(const std::shared_ptr<Call>& call) {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> l(m_mutex);
    if (m_nExitCode) return false;
    m_queue.push_back(call);
    wake = m_fnWakeup;
  }
  m_cvLoop.notify_all();
  if (wake) wake();
  return true;
}

bool CWindowThread::bSend(std::function<void()> fn, std::stop_token st) {
  if (bIsWindowThread()) return bInvoke(fn);
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  if (!bEnqueue(call)) return false;
  std::unique_lock<std::mutex> l(m_mutex);
  // Wake on completion, or on a stop request while the call is still pending.
  m_cvDone.wait(l, st, [&] { return call->eState == EState::Done || call->eState == EState::Dropped; });
  if (call->eState == EState::Pending) {
    // stop requested before the call started: take it back
    call->eState = EState::Dropped;
    return false;
  }
  // a call already running must finish before the sender's data may go
  m_cvDone.wait(l, [&] { return call->eState == EState::Done || call->eState == EState::Dropped; });
  return call->bRan;
}

bool CWindowThread::bPost(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  return bEnqueue(call);
}

bool CWindowThread::bRunOne(const std::shared_ptr<Call>& call) {
  {
    std::lock_guard<std::mutex> l(m_mutex);
    if (call->eState != EState::Pending) return false;  // the sender gave up
    call->eState = EState::Running;
  }
  bool bRan = bInvoke(call->fn);
  {
    std::lock_guard<std::mutex> l(m_mutex);
    call->bRan = bRan;
    call->eState = EState::Done;
    call->fn = nullptr;
  }
  m_cvDone.notify_all();
  return true;
}

size_t CWindowThread::nRunPending() {
  std::deque<std::shared_ptr<Call>> batch;
  {
    std::lock_guard<std::mutex> l(m_mutex);
    batch.swap(m_queue);
  }
  size_t n = 0;
  for (auto& call : batch)
    if (bRunOne(call)) ++n;
  return n;
}

int CWindowThread::nRunLoop() {
  vBindToCurrentThread();
  for (;;) {
    std::shared_ptr<Call> call;
    {
      std::unique_lock<std::mutex> l(m_mutex);
      m_cvLoop.wait(l, [&] { return m_nExitCode.has_value() || !m_queue.empty(); });
      if (m_nExitCode) {
        // The thread is about to end and its id may be given to a new thread, which must
        // not be taken for the window thread.
        m_owner = std::thread::id();
        return *m_nExitCode;
      }
      call = m_queue.front();
      m_queue.pop_front();
    }
    bRunOne(call);
  }
}

void CWindowThread::vQuit(int nExitCode) {
  {
    std::lock_guard<std::mutex> l(m_mutex);
    if (!m_nExitCode) m_nExitCode = nExitCode;
    for (auto& call : m_queue)
      if (call->eState == EState::Pending) call->eState = EState::Dropped;
    m_queue.clear();
  }
  m_cvLoop.notify_all();
  m_cvDone.notify_all();
}

std::optional<int> CWindowThread::optExitCode() const {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_nExitCode;
}

bool CWindowThread::bQuit() const {
  std::lock_guard<std::mutex> l(m_mutex);
  return m_nExitCode.has_value();
}
