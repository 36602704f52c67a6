// Threads whose progress a test can observe without timing: an Actor runs one
// body on its own thread, and the test can wait until that body is asleep in
// the kernel (blocked on a lock or condition variable) or finished. Gates and
// the Journal let a test decide when each actor goes on and record in which
// order things happened.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Polls `done` until it holds; gives up after a deadline far beyond any correct
// run, so that a fault shows as a failed expectation instead of a hung test.
bool waitUntil(const std::function<bool()>& done);

class Actor {
 public:
  explicit Actor(std::function<void()> body);
  ~Actor();
  Actor(const Actor&) = delete;
  Actor& operator=(const Actor&) = delete;

  // Returns once the body sleeps in the kernel or has finished. Returns true
  // when it sleeps and has not finished.
  bool waitUntilBlocked();
  // Returns once the body has finished; false if it never does.
  bool waitUntilFinished();
  bool finished() const { return done.load(); }

 private:
  std::atomic<pid_t> tid{0};
  std::atomic<bool> done{false};
  std::thread thread;
};

// A one-shot event: wait() returns once open() has been called.
class Gate {
 public:
  void open();
  void wait();

 private:
  std::mutex mutex;
  std::condition_variable opened;
  bool isOpen = false;
};

// Owns the gates and actors of one test. On destruction it opens every gate
// before joining the actors, so a test that stops early (a failed assertion)
// still ends instead of leaving threads waiting for a step that never comes.
class Stage {
 public:
  Stage() = default;
  ~Stage();
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  Gate& gate();
  Actor& actor(std::function<void()> body);

 private:
  std::deque<Gate> gates;
  std::deque<std::unique_ptr<Actor>> actors;
};

// Events in the order they happened, from any thread.
class Journal {
 public:
  void add(std::string event);
  bool contains(const std::string& event) const;
  std::vector<std::string> events() const;

 private:
  mutable std::mutex mutex;
  std::vector<std::string> entries;
};
