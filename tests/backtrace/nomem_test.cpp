// Capture when the C library cannot supply the address array. This program
// replaces malloc for the whole process so that one chosen allocation fails;
// sanitizer builds, which own malloc themselves, leave it out.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

#include "backtrace/backtrace.h"
#include "bt_callers.h"

extern "C" void* __libc_malloc(size_t size);

namespace {
// The size of the next allocation to fail; 0 when none is armed.
std::atomic<size_t> g_failSize{0};
}  // namespace

extern "C" void* malloc(size_t size) {
  size_t armed = g_failSize.load();
  if (armed != 0 && size == armed && g_failSize.compare_exchange_strong(armed, 0)) return nullptr;
  return __libc_malloc(size);
}

namespace {

extern "C" __attribute__((noinline)) int captureWithoutMemory(void* arg) {
  auto* states = static_cast<BacktraceState**>(arg);
  g_failSize = kInitialBacktraceDepth * sizeof(void*);
  states[0] = capturePC();
  return 0;
}

TEST(CaptureWithoutMemory, FirstArrayMissingGivesAnEmptyStack) {
  BacktraceState* state = nullptr;
  fixtureCallThrough(captureWithoutMemory, &state);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->depth, 0u);
  EXPECT_EQ(state->pcs, nullptr);
  std::string* text = getBacktrace(state->pcs, state->depth);
  EXPECT_EQ(*text, "");
  delete text;
  delete state;
}

extern "C" __attribute__((noinline)) int captureTwiceWithoutGrowth(void* arg) {
  auto* states = static_cast<BacktraceState**>(arg);
  g_failSize = kMaxBacktraceDepth * sizeof(void*);
  states[0] = capturePC();
  states[1] = capturePC();
  return 0;
}

TEST(CaptureWithoutMemory, GrowthMissingKeepsTheFirstEightFrames) {
  BacktraceState* states[2] = {nullptr, nullptr};
  fixtureRecurse(20, captureTwiceWithoutGrowth, states);
  ASSERT_EQ(states[0]->depth, kInitialBacktraceDepth);
  ASSERT_EQ(states[1]->depth, kMaxBacktraceDepth);
  for (unsigned i = 1; i < kInitialBacktraceDepth; ++i) {
    EXPECT_EQ(states[0]->pcs[i], states[1]->pcs[i]) << "frame " << i;
  }
  delete states[0];
  delete states[1];
}

}  // namespace
