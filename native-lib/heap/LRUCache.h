// Per-thread cache of the call sites that allocated most recently, each with
// its allocation count and time. Runs inside malloc; touched only by its thread.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <utility>

#include "backtrace/backtrace.h"

struct count_time_t {
  int64_t count = 0;
  uint64_t time = 0;  // microseconds, of the last counted allocation
};

// Bounded map from call stack (by content) to count_time_t that forgets the
// least recently used call site. Owns every stack it holds.
class LRUCache {
 public:
  explicit LRUCache(int capacity);
  ~LRUCache();
  LRUCache(const LRUCache&) = delete;
  LRUCache& operator=(const LRUCache&) = delete;

  // On a hit, deletes the caller's *key, hands back the cache's own equal stack
  // in its place, fills *value and makes the entry the most recent. On a miss
  // both stay as they are and the caller still owns *key.
  bool get(BacktraceState** key, count_time_t* value);
  // Stores `value` for `key` as the most recent entry; the cache takes `key`.
  // A miss on a full cache first evicts and deletes the least recent stack.
  void put(BacktraceState* key, count_time_t value);

 private:
  using Entry = std::pair<BacktraceState*, count_time_t>;

  void evictLeastRecent();

  int capacity;
  std::list<Entry> entries;
  std::map<BacktraceState*, std::list<Entry>::iterator, cmpFunc> positions;
};
