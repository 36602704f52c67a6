#include "core/WfirstRWLock.h"

void WfirstRWLock::lock_read() {
  std::unique_lock<std::mutex> state(state_mutex);
  reader_cv.wait(state, [this] { return queued_writers == 0; });
  ++active_readers;
}

void WfirstRWLock::release_read() {
  std::unique_lock<std::mutex> state(state_mutex);
  --active_readers;
  if (active_readers == 0 && queued_writers != 0) {
    writer_cv.notify_one();
  }
}

void WfirstRWLock::lock_write() {
  std::unique_lock<std::mutex> state(state_mutex);
  // Counted before waiting, so that readers arriving from now on stay out.
  ++queued_writers;
  writer_cv.wait(state, [this] { return active_readers == 0 && !writer_active; });
  writer_active = true;
}

void WfirstRWLock::release_write() {
  std::unique_lock<std::mutex> state(state_mutex);
  --queued_writers;
  if (queued_writers == 0) {
    reader_cv.notify_all();
  } else {
    // The next writer goes before any waiting reader.
    writer_cv.notify_one();
  }
  writer_active = false;
}
