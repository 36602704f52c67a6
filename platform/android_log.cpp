#include <android/log.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "log_sink.h"

namespace {

// Android truncates a log entry at about 4 KB; so do we.
constexpr size_t kMaxLine = 4068;

std::atomic<nmm_log_sink> g_sink{nullptr};

char priorityLetter(int prio) {
  static const char kLetters[] = "??VDIWEFS";
  return prio >= 0 && prio <= ANDROID_LOG_SILENT ? kLetters[prio] : '?';
}

}  // namespace

extern "C" void nmm_set_log_sink(nmm_log_sink sink) { g_sink.store(sink); }

extern "C" int __android_log_print(int prio, const char* tag, const char* fmt, ...) {
  char text[kMaxLine];
  va_list args;
  va_start(args, fmt);
  int written = vsnprintf(text, sizeof(text), fmt, args);
  va_end(args);
  if (written < 0) text[0] = '\0';
  const char* safeTag = tag != nullptr ? tag : "";
  fprintf(stderr, "%c/%s: %s\n", priorityLetter(prio), safeTag, text);
  if (nmm_log_sink sink = g_sink.load()) sink(prio, safeTag, text);
  return written < 0 ? written : 1;
}
