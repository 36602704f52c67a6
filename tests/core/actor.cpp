#include "actor.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

namespace {

// Scheduler state of one thread of this process ('R' running, 'S' asleep in an
// interruptible wait such as a futex, ...), from /proc/self/task/<tid>/stat.
char threadState(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // The command name in parentheses may hold blanks; the state follows it.
  const std::string::size_type close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) {
    return '?';
  }
  return line[close + 2];
}

}  // namespace

bool waitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

Actor::Actor(std::function<void()> body)
    : thread([this, body = std::move(body)] {
        tid.store(static_cast<pid_t>(syscall(SYS_gettid)));
        body();
        done.store(true);
      }) {}

Actor::~Actor() { thread.join(); }

bool Actor::waitUntilBlocked() {
  waitUntil([this] { return tid.load() != 0; });
  waitUntil([this] { return done.load() || threadState(tid.load()) == 'S'; });
  return !done.load();
}

bool Actor::waitUntilFinished() {
  return waitUntil([this] { return done.load(); });
}

void Gate::open() {
  std::lock_guard<std::mutex> guard(mutex);
  isOpen = true;
  opened.notify_all();
}

void Gate::wait() {
  std::unique_lock<std::mutex> guard(mutex);
  opened.wait(guard, [this] { return isOpen; });
}

Stage::~Stage() {
  for (Gate& g : gates) {
    g.open();
  }
  actors.clear();
}

Gate& Stage::gate() { return gates.emplace_back(); }

Actor& Stage::actor(std::function<void()> body) {
  actors.push_back(std::make_unique<Actor>(std::move(body)));
  return *actors.back();
}

void Journal::add(std::string event) {
  std::lock_guard<std::mutex> guard(mutex);
  entries.push_back(std::move(event));
}

bool Journal::contains(const std::string& event) const {
  std::lock_guard<std::mutex> guard(mutex);
  return std::find(entries.begin(), entries.end(), event) != entries.end();
}

std::vector<std::string> Journal::events() const {
  std::lock_guard<std::mutex> guard(mutex);
  return entries;
}
