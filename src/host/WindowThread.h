// The window thread: every handler of the main window runs on it. Other threads "send a
// message" by handing it a call and waiting until it has run; a call made on the window
// thread itself runs at once (a blocking hand-over to yourself would never return).
//
// In window mode the toolkit's GUI thread drives it: the wake-up hook asks the toolkit to
// call nRunPending() soon (for Qt, a queued invocation). In the window-less modes nRunLoop()
// is the dispatch loop of the main thread until vQuit().
//
// All shared state sits under one mutex; calls run outside it. A waiting sender can give up
// through its stop token: a call not yet started is then dropped, one already running is
// waited for (it may use the sender's data).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

// The window thread: Qt's GUI thread in window mode, a dispatch loop on the main thread in
// the window-less modes. The engine's threads hand it calls.
class IWindowThread {
 public:
  virtual ~IWindowThread() = default;
  virtual bool bIsWindowThread() const = 0;
  // Runs fn on the window thread and waits until it ran ("send a message"). On the window
  // thread itself fn runs directly. When st is stop-requested before fn started, fn is
  // dropped and false is returned, so a thread being stopped never waits on a window thread
  // that is busy stopping it.
  virtual bool bSend(std::function<void()> fn, std::stop_token st = {}) = 0;
  // Queues fn for the window thread and returns at once ("post a message").
  virtual void vPost(std::function<void()> fn) = 0;
  // Ends the process's event loop with this exit code (window-less runs end this way).
  virtual void vRequestExit(int nExitCode) = 0;
};

class CWindowThread : public IWindowThread {
 public:
  // The constructing thread is the window thread until vBindToCurrentThread moves it.
  CWindowThread();
  CWindowThread(const CWindowThread&) = delete;
  CWindowThread& operator=(const CWindowThread&) = delete;
  ~CWindowThread() override;

  void vBindToCurrentThread();
  bool bIsWindowThread() const override;

  // Runs fn on the window thread and waits for it. True when it ran (an exception inside is
  // caught and logged, and counts as not run); false when the loop has quit or the stop
  // token asked the sender to give up before the call started.
  bool bSend(std::function<void()> fn, std::stop_token st = {}) override;
  // Hands fn over without waiting; false when the loop has quit.
  bool bPost(std::function<void()> fn);

  // Window-less dispatch loop: runs calls until vQuit, then returns its code. Calls still
  // queued at that moment are dropped and their senders released.
  int nRunLoop();
  void vQuit(int nExitCode);
  void vPost(std::function<void()> fn) override { bPost(std::move(fn)); }
  void vRequestExit(int nExitCode) override { vQuit(nExitCode); }
  // The exit code asked for so far, if any.
  std::optional<int> optExitCode() const;
  bool bQuit() const;
  // Runs the calls queued now (the toolkit's hook); returns how many ran (calls their
  // senders took back do not count).
  size_t nRunPending();
  // Called (from any thread, without locks held) whenever a call is queued.
  void vSetWakeup(std::function<void()> fnWakeup);

 private:
  enum class EState { Pending, Running, Done, Dropped };
  struct Call {
    std::function<void()> fn;
    EState eState = EState::Pending;
    bool bRan = false;
  };
  bool bEnqueue(const std::shared_ptr<Call>& call);
  // Runs a call that is still pending; false when its sender took it back.
  bool bRunOne(const std::shared_ptr<Call>& call);
  static bool bInvoke(std::function<void()>& fn);

  mutable std::mutex m_mutex;
  std::condition_variable_any m_cvLoop;  // the loop waits for work
  std::condition_variable_any m_cvDone;  // senders wait for their call
  std::deque<std::shared_ptr<Call>> m_queue;
  std::thread::id m_owner;
  std::optional<int> m_nExitCode;
  std::function<void()> m_fnWakeup;
};
