// The per-thread call-site cache: recency, eviction and who owns each stack.
// Leaks and double deletes of stacks show up in the sanitizer build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "heap/LRUCache.h"

namespace {

// A fresh capture of "call site" `site`: equal sites give equal stacks.
BacktraceState* stackOf(uintptr_t site) {
  auto* pcs = static_cast<void**>(malloc(sizeof(void*) * kInitialBacktraceDepth));
  pcs[0] = reinterpret_cast<void*>(0x4000 + site);
  pcs[1] = reinterpret_cast<void*>(0x8000);
  return new BacktraceState(pcs, 2);
}

// Looks `site` up the way the allocation hooker does, handing the cache a fresh
// capture either way; returns whether it was present and its stored count.
bool lookUp(LRUCache& cache, uintptr_t site, int64_t* count = nullptr) {
  BacktraceState* key = stackOf(site);
  count_time_t value;
  bool hit = cache.get(&key, &value);
  if (count != nullptr) *count = value.count;
  cache.put(key, hit ? value : count_time_t{1, 0});
  return hit;
}

void fill(LRUCache& cache, uintptr_t first, uintptr_t last) {
  for (uintptr_t site = first; site <= last; ++site) cache.put(stackOf(site), {int64_t(site), 0});
}

// Whether `site` is cached, by a get that leaves recency as lookUp would.
bool holds(LRUCache& cache, uintptr_t site) {
  BacktraceState* key = stackOf(site);
  count_time_t value;
  if (!cache.get(&key, &value)) {
    delete key;
    return false;
  }
  cache.put(key, value);
  return true;
}

TEST(LRUCache, EleventhCallSiteEvictsTheLeastRecent) {
  LRUCache cache(10);
  fill(cache, 1, 11);
  EXPECT_FALSE(holds(cache, 1));
  for (uintptr_t site = 2; site <= 11; ++site) EXPECT_TRUE(holds(cache, site)) << site;
}

TEST(LRUCache, HitMakesTheOldestTheMostRecent) {
  LRUCache cache(10);
  fill(cache, 1, 10);
  EXPECT_TRUE(lookUp(cache, 1));
  cache.put(stackOf(11), {});
  EXPECT_FALSE(holds(cache, 2));
  EXPECT_TRUE(holds(cache, 1));
  EXPECT_TRUE(holds(cache, 3));
}

TEST(LRUCache, HitHandsBackTheStoredStackAndReleasesTheFreshOne) {
  LRUCache cache(10);
  BacktraceState* stored = stackOf(1);
  cache.put(stored, {5, 77});
  BacktraceState* fresh = stackOf(1);
  count_time_t value;
  ASSERT_TRUE(cache.get(&fresh, &value));
  EXPECT_EQ(fresh, stored);
  EXPECT_EQ(value.count, 5);
  EXPECT_EQ(value.time, 77u);
  cache.put(fresh, {6, 78});
  int64_t count = 0;
  EXPECT_TRUE(lookUp(cache, 1, &count));
  EXPECT_EQ(count, 6);
}

TEST(LRUCache, MissLeavesTheStackWithTheCallerUntilPut) {
  LRUCache cache(10);
  fill(cache, 1, 3);
  BacktraceState* fresh = stackOf(4);
  BacktraceState* asCaptured = fresh;
  count_time_t value{42, 43};
  EXPECT_FALSE(cache.get(&fresh, &value));
  EXPECT_EQ(fresh, asCaptured);
  EXPECT_EQ(value.count, 42);
  EXPECT_EQ(value.time, 43u);
  cache.put(fresh, {1, 0});
  BacktraceState* again = stackOf(4);
  ASSERT_TRUE(cache.get(&again, &value));
  EXPECT_EQ(again, asCaptured);
  cache.put(again, value);
}

TEST(LRUCache, EqualStackPutTwiceKeepsOneEntry) {
  LRUCache cache(2);
  cache.put(stackOf(1), {1, 0});
  cache.put(stackOf(1), {2, 0});  // a second capture of the same call site
  cache.put(stackOf(2), {1, 0});
  int64_t count = 0;
  EXPECT_TRUE(lookUp(cache, 1, &count));
  EXPECT_EQ(count, 2);
  EXPECT_TRUE(holds(cache, 2));
}

TEST(LRUCache, DestructionReleasesEveryStack) {
  auto* cache = new LRUCache(10);
  fill(*cache, 1, 25);
  delete cache;  // the sanitizer build reports any stack left behind
}

class LRUCacheWithoutRoom : public testing::TestWithParam<int> {};

TEST_P(LRUCacheWithoutRoom, KeepsNothing) {
  LRUCache cache(GetParam());
  cache.put(stackOf(1), {1, 0});
  EXPECT_FALSE(lookUp(cache, 1));
  EXPECT_FALSE(holds(cache, 1));
}

INSTANTIATE_TEST_SUITE_P(Capacities, LRUCacheWithoutRoom, testing::Values(0, -1));

}  // namespace
