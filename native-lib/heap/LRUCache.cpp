#include "heap/LRUCache.h"

LRUCache::LRUCache(int capacity) : capacity(capacity) {}

LRUCache::~LRUCache() {
  positions.clear();
  for (Entry& entry : entries) delete entry.first;
  entries.clear();
}

bool LRUCache::get(BacktraceState** key, count_time_t* value) {
  if (key == nullptr || *key == nullptr) return false;
  auto found = positions.find(*key);
  if (found == positions.end()) return false;
  BacktraceState* stored = found->first;
  if (*key != stored) delete *key;
  *key = stored;
  count_time_t copy = found->second->second;
  put(stored, copy);
  if (value != nullptr) *value = copy;
  return true;
}

void LRUCache::put(BacktraceState* key, count_time_t value) {
  if (key == nullptr) return;
  auto found = positions.find(key);
  if (found != positions.end()) {
    // The cache keeps one stack per call site: an equal stack handed in is
    // released in favour of the stored one, which stays the map's key.
    if (key != found->first) delete key;
    // Moved to the front in place: no node is freed or allocated, and the
    // position held in the map stays valid.
    entries.splice(entries.begin(), entries, found->second);
    found->second->second = value;
    return;
  }
  if (capacity < 1) {
    delete key;  // a cache of no entries keeps nothing
    return;
  }
  if (entries.size() >= static_cast<size_t>(capacity)) evictLeastRecent();
  entries.emplace_front(key, value);
  positions[key] = entries.begin();
}

void LRUCache::evictLeastRecent() {
  BacktraceState* oldest = entries.back().first;
  positions.erase(oldest);
  entries.pop_back();
  delete oldest;
}
