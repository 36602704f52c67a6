// The tag of every Android log line the monitor writes (the GOT patcher has its own).
#pragma once

inline constexpr const char* kMonitorLogTag = "MemoryTrackerDemo";
