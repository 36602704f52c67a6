#include "LogCapture.h"

#include <atomic>

#include "log_sink.h"

namespace {
std::atomic<LogCapture*> g_active{nullptr};
}

LogCapture::LogCapture() {
  g_active.store(this);
  nmm_set_log_sink(&LogCapture::receive);
}

LogCapture::~LogCapture() {
  nmm_set_log_sink(nullptr);
  g_active.store(nullptr);
}

void LogCapture::receive(int prio, const char* tag, const char* text) {
  LogCapture* self = g_active.load();
  if (self == nullptr) return;
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->lines_.push_back({prio, tag, text});
}

std::vector<LogLine> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> LogCapture::texts(const std::string& tag) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const LogLine& line : lines_) {
    if (line.tag == tag) out.push_back(line.text);
  }
  return out;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}
