// The window thread of the window-less modes: a dispatch loop on the thread that calls
// nRun (the main thread). Other threads send calls to it and wait, or post them; a call
// sent from the loop's own thread runs directly. Tests use it the same way.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "run/IRunView.h"

class CDispatchLoop : public IWindowThread {
 public:
  // The calling thread is the window thread until nRun is called on another one.
  CDispatchLoop();
  ~CDispatchLoop() override;

  bool bIsWindowThread() const override;
  bool bSend(std::function<void()> fn, std::stop_token st = {}) override;
  void vPost(std::function<void()> fn) override;
  void vRequestExit(int nExitCode) override;

  // Runs queued calls until an exit is requested; returns the exit code. The calling
  // thread becomes the window thread.
  int nRun();
  // Runs the calls queued now (and those they queue) without waiting; for tests that drive
  // the loop step by step. Returns the number run.
  int nRunPending();
  // Exit code requested so far, if any.
  std::optional<int> optExitCode() const;

 private:
  struct Call {
    std::function<void()> fn;
    bool bStarted = false;
    bool bDone = false;
    bool bDropped = false;
  };
  bool bRunOne(std::unique_lock<std::mutex>& lock);

  mutable std::mutex m_mutex;
  std::condition_variable_any m_cv;
  std::deque<std::shared_ptr<Call>> m_queue;
  std::thread::id m_windowThread;
  std::optional<int> m_optExit;
};
