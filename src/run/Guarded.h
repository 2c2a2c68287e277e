// A mutex and a scoped lock that Clang's thread-safety analysis (-Wthread-safety) can follow,
// and the attributes that say what a mutex guards. libstdc++'s std::mutex carries no such
// attributes, so the analysis sees nothing through it; members marked GUARDED_BY(m) and
// functions marked REQUIRES(m) or EXCLUDES(m) are checked against these types instead.
// Other compilers build the same code without the attributes.
//
// What the analysis cannot follow (atomics, condition variables, data handed from one thread
// to the next by starting or joining a thread) is said in a comment where it is declared.
#pragma once

#include <mutex>

#if defined(__clang__)
#define MP_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define MP_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) MP_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY MP_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) MP_THREAD_ATTRIBUTE(guarded_by(x))
#define REQUIRES(...) MP_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) MP_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) MP_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) MP_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) MP_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))

class CAPABILITY("mutex") CMutex {
 public:
  CMutex() = default;
  CMutex(const CMutex&) = delete;
  CMutex& operator=(const CMutex&) = delete;

  void lock() ACQUIRE() { m_mutex.lock(); }
  void unlock() RELEASE() { m_mutex.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

 private:
  std::mutex m_mutex;
};

// Holds a CMutex for the scope it lives in.
class SCOPED_CAPABILITY CScopedLock {
 public:
  explicit CScopedLock(CMutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~CScopedLock() RELEASE() { m_mutex.unlock(); }
  CScopedLock(const CScopedLock&) = delete;
  CScopedLock& operator=(const CScopedLock&) = delete;

 private:
  CMutex& m_mutex;
};
