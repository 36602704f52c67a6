// Capture: which frames a stack holds, how deep it goes, how its array grows.
#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <unwind.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "backtrace/backtrace.h"
#include "bt_callers.h"

namespace {

// An independent walk of the same stack, through _Unwind_GetIP, with no cap.
struct ReferenceWalk {
  std::vector<uintptr_t> pcs;
};

_Unwind_Reason_Code referenceStep(_Unwind_Context* context, void* arg) {
  auto* walk = static_cast<ReferenceWalk*>(arg);
  uintptr_t pc = _Unwind_GetIP(context);
  if (pc == 0 || walk->pcs.size() == 256) return _URC_END_OF_STACK;
  walk->pcs.push_back(pc);
  return _URC_NO_REASON;
}

// Frames of the caller of this function, innermost first.
__attribute__((noinline)) std::vector<uintptr_t> walkFromCaller() {
  ReferenceWalk walk;
  _Unwind_Backtrace(referenceStep, &walk);
  walk.pcs.erase(walk.pcs.begin());  // this function's own frame
  return walk.pcs;
}

std::string symbolOf(void* pc) {
  Dl_info info;
  if (dladdr(pc, &info) == 0 || info.dli_sname == nullptr) return "";
  return info.dli_sname;
}

std::string libraryOf(void* pc) {
  Dl_info info;
  if (dladdr(pc, &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}

struct Probe {
  BacktraceState* captured = nullptr;
  std::vector<uintptr_t> reference;
};

extern "C" __attribute__((noinline)) int probeCapture(void* arg) {
  auto* probe = static_cast<Probe*>(arg);
  probe->captured = capturePC(0);
  probe->reference = walkFromCaller();
  return 0;
}

struct ThreadRun {
  int levels;
  Probe probe;
};

void* runProbeOnFreshThread(void* arg) {
  auto* run = static_cast<ThreadRun*>(arg);
  fixtureRecurse(run->levels, probeCapture, &run->probe);
  return nullptr;
}

// Captures at the bottom of `levels` + 1 fixture frames on a new thread, whose
// stack above them is short and the same on every run.
Probe probeOnThread(int levels) {
  ThreadRun run{levels, {}};
  pthread_t thread;
  EXPECT_EQ(pthread_create(&thread, nullptr, runProbeOnFreshThread, &run), 0);
  pthread_join(thread, nullptr);
  return run.probe;
}

class CaptureDepth : public testing::TestWithParam<unsigned> {};

// Each stack equals the independent walk, frame for frame, up to 16 frames; the
// first array (8 entries) is replaced only when a 9th frame arrives.
TEST_P(CaptureDepth, RecordsTheStackUpToSixteenFrames) {
  Probe shortest = probeOnThread(0);
  delete shortest.captured;
  unsigned total = GetParam();
  ASSERT_LE(shortest.reference.size(), 8u) << "thread stack too deep for the case";
  Probe probe = probeOnThread(static_cast<int>(total - shortest.reference.size()));
  ASSERT_EQ(probe.reference.size(), total);

  BacktraceState* state = probe.captured;
  ASSERT_NE(state, nullptr);
  unsigned expected = total < kMaxBacktraceDepth ? total : kMaxBacktraceDepth;
  ASSERT_EQ(state->depth, expected);
  // Frame 0 is the probe, at its own call of capturePC; the rest are shared.
  EXPECT_EQ(symbolOf(state->pcs[0]), "probeCapture");
  for (unsigned i = 1; i < expected; ++i) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(state->pcs[i]), probe.reference[i]) << "frame " << i;
  }
  size_t room = malloc_usable_size(state->pcs) / sizeof(void*);
  if (expected <= kInitialBacktraceDepth) {
    EXPECT_LT(room, kMaxBacktraceDepth);
  } else {
    EXPECT_GE(room, kMaxBacktraceDepth);
  }
  delete state;
}

INSTANTIATE_TEST_SUITE_P(Frames, CaptureDepth, testing::Values(8u, 9u, 16u, 17u, 40u));

// The "hooked function" of the skip cases: called by the fixture library, as a
// hooked malloc is called by an app library.
extern "C" __attribute__((noinline)) int hookedSkip1(void* arg) {
  *static_cast<BacktraceState**>(arg) = capturePC(1);
  return 0;
}

extern "C" __attribute__((noinline)) int checkOneCallDown(void* arg) {
  *static_cast<BacktraceState**>(arg) = capturePC(2);
  return 0;
}

extern "C" __attribute__((noinline)) int hookedSkip2(void* arg) {
  return checkOneCallDown(arg) + 1;
}

struct SkipCase {
  const char* name;
  fixture_callee hooked;
};

class CaptureSkip : public testing::TestWithParam<SkipCase> {};

TEST_P(CaptureSkip, FirstFrameIsTheCallerOfTheHookedFunction) {
  BacktraceState* state = nullptr;
  fixtureCallThrough(GetParam().hooked, &state);
  ASSERT_NE(state, nullptr);
  ASSERT_GE(state->depth, 2u);
  EXPECT_EQ(symbolOf(state->pcs[0]), "fixtureCallThrough");
  EXPECT_EQ(libraryOf(state->pcs[0]), BT_CALLERS_PATH);
  EXPECT_NE(libraryOf(state->pcs[1]), BT_CALLERS_PATH);
  delete state;
}

INSTANTIATE_TEST_SUITE_P(
    Skips, CaptureSkip,
    testing::Values(SkipCase{"HookedCaptures", hookedSkip1}, SkipCase{"HelperCaptures", hookedSkip2}),
    [](const testing::TestParamInfo<SkipCase>& info) { return info.param.name; });

extern "C" __attribute__((noinline)) int captureBothForms(void* arg) {
  auto* states = static_cast<BacktraceState**>(arg);
  states[0] = capturePC(0);
  states[1] = capturePC();
  return 0;
}

TEST(Capture, SkipZeroAndNoArgumentDropOnlyTheCaptureItself) {
  BacktraceState* states[2] = {nullptr, nullptr};
  fixtureCallThrough(captureBothForms, states);
  ASSERT_EQ(states[0]->depth, states[1]->depth);
  ASSERT_GE(states[0]->depth, 2u);
  EXPECT_EQ(symbolOf(states[0]->pcs[0]), "captureBothForms");
  EXPECT_EQ(symbolOf(states[1]->pcs[0]), "captureBothForms");
  for (unsigned i = 1; i < states[0]->depth; ++i) {
    EXPECT_EQ(states[0]->pcs[i], states[1]->pcs[i]) << "frame " << i;
  }
  EXPECT_EQ(symbolOf(states[0]->pcs[1]), "fixtureCallThrough");
  delete states[0];
  delete states[1];
}

extern "C" __attribute__((noinline)) int captureHere(void* arg) {
  *static_cast<BacktraceState**>(arg) = capturePC(1);
  return 0;
}

TEST(Capture, SameCallSiteGivesEquivalentStacks) {
  BacktraceState* states[2] = {nullptr, nullptr};
  volatile int count = 2;  // one call site, not one per unrolled iteration
  for (int i = 0; i < count; ++i) fixtureCallThrough(captureHere, &states[i]);
  cmpFunc less;
  EXPECT_FALSE(less(states[0], states[1]));
  EXPECT_FALSE(less(states[1], states[0]));
  EXPECT_NE(states[0]->pcs, states[1]->pcs);
  delete states[0];
  delete states[1];
}

TEST(Capture, OtherCallSiteGivesADifferentStack) {
  BacktraceState* first = nullptr;
  BacktraceState* second = nullptr;
  fixtureCallThrough(captureHere, &first);
  fixtureCallThrough(captureHere, &second);
  cmpFunc less;
  EXPECT_NE(less(first, second), less(second, first));
  delete first;
  delete second;
}

}  // namespace
