// Captures the log lines written through __android_log_print while it lives.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct LogLine {
  int prio;
  std::string tag;
  std::string text;
  bool operator==(const LogLine& other) const {
    return prio == other.prio && tag == other.tag && text == other.text;
  }
};

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> lines() const;
  // Texts of the lines written under `tag`, in order.
  std::vector<std::string> texts(const std::string& tag) const;
  void clear();

 private:
  static void receive(int prio, const char* tag, const char* text);
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
};
