// A read/write lock that lets writers in first: once a writer asks, no new reader
// is admitted until every queued writer has finished. Readers are many and
// frequent (every publication on the topic bus), writers rare (subscriptions at
// start-up), so readers may starve but writers never wait behind a stream of
// readers.
//
// NativeMonitor owns one as `topicLock`; the topic bus (topic_bus.h) takes it,
// so the monitor itself never locks it directly. Not recursive: a thread that
// holds it in any mode must not ask for it again.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class WfirstRWLock {
 public:
  WfirstRWLock() = default;
  WfirstRWLock(const WfirstRWLock&) = delete;
  WfirstRWLock& operator=(const WfirstRWLock&) = delete;

  void lock_read();
  void release_read();
  void lock_write();
  void release_write();

 private:
  uint32_t active_readers = 0;
  // Waiting and active writers together; non-zero keeps new readers out.
  uint32_t queued_writers = 0;
  bool writer_active = false;
  std::mutex state_mutex;
  std::condition_variable writer_cv;
  std::condition_variable reader_cv;
};

// Holds `lock` for reading for the guard's lifetime.
template <typename RWLock>
class UniqueReadguard {
 public:
  explicit UniqueReadguard(RWLock& lock) : lock(lock) { lock.lock_read(); }
  ~UniqueReadguard() { lock.release_read(); }
  UniqueReadguard(const UniqueReadguard&) = delete;
  UniqueReadguard& operator=(const UniqueReadguard&) = delete;

 private:
  RWLock& lock;
};

// Holds `lock` exclusively for the guard's lifetime.
template <typename RWLock>
class UniqueWriteguard {
 public:
  explicit UniqueWriteguard(RWLock& lock) : lock(lock) { lock.lock_write(); }
  ~UniqueWriteguard() { lock.release_write(); }
  UniqueWriteguard(const UniqueWriteguard&) = delete;
  UniqueWriteguard& operator=(const UniqueWriteguard&) = delete;

 private:
  RWLock& lock;
};
