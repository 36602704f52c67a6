// Cost of call stacks on the hot paths: capturePC(1) beside a bare unwinder walk
// over the same frames, the call-site cache's get+put on a full cache beside
// the stack allocation every examined malloc already pays, and rendering a
// 16-frame stack beside the dladdr lookups it cannot avoid.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <pthread.h>
#include <unwind.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include "backtrace/backtrace.h"
#include "heap/LRUCache.h"

namespace {

// Adds `levels` + 1 frames, then runs `bottom`.
__attribute__((noinline)) int recurse(int levels, const std::function<void()>& bottom) {
  volatile int result = 0;
  if (levels > 0) {
    result = recurse(levels - 1, bottom);
  } else {
    bottom();
  }
  return result + 1;
}

void* threadMain(void* arg) {
  (*static_cast<std::function<void()>*>(arg))();
  return nullptr;
}

// Runs `fn` on a new thread, whose stack above it is short and known.
void onFreshThread(std::function<void()> fn) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, threadMain, &fn) != 0) abort();
  pthread_join(thread, nullptr);
}

// A hooked function: captures from its caller on, as hookedMalloc does.
__attribute__((noinline)) BacktraceState* hookedCapture() {
  BacktraceState* state = capturePC(1);
  benchmark::DoNotOptimize(state);
  return state;
}

_Unwind_Reason_Code countFrame(_Unwind_Context* context, void* arg) {
  if (_Unwind_GetIP(context) == 0) return _URC_END_OF_STACK;
  ++*static_cast<unsigned*>(arg);
  return _URC_NO_REASON;
}

// The same position as hookedCapture, walking without recording anything.
__attribute__((noinline)) unsigned hookedBareWalk() {
  unsigned frames = 0;
  _Unwind_Backtrace(countFrame, &frames);
  benchmark::DoNotOptimize(frames);
  return frames;
}

// Recursion levels that make hookedCapture record exactly `depth` frames, on a
// fresh thread; -1 when the thread's own stack is already deeper.
int levelsFor(unsigned depth) {
  int found = -1;
  onFreshThread([&] {
    for (int levels = 0; levels < 40 && found < 0; ++levels) {
      recurse(levels, [&] {
        BacktraceState* state = hookedCapture();
        if (state->depth == depth) found = levels;
        delete state;
      });
    }
  });
  return found;
}

// Runs `body` in the timing loop at the stack depth that the benchmark's
// argument asks for, on a fresh thread.
template <typename Body>
void atDepth(benchmark::State& state, Body body) {
  unsigned depth = static_cast<unsigned>(state.range(0));
  int levels = levelsFor(depth);
  if (levels < 0) {
    state.SkipWithError("no such depth");
    return;
  }
  onFreshThread([&] {
    recurse(levels, [&] {
      for (auto _ : state) body();
    });
  });
  state.counters["depth"] = depth;
}

void BM_CapturePC(benchmark::State& state) {
  atDepth(state, [] { delete hookedCapture(); });
}
BENCHMARK(BM_CapturePC)->Arg(8)->Arg(16);

void BM_BareUnwindBacktrace(benchmark::State& state) {
  atDepth(state, [] { hookedBareWalk(); });
}
BENCHMARK(BM_BareUnwindBacktrace)->Arg(8)->Arg(16);

// A 16-frame stack of call site `site`: shared outer frames, its own innermost.
BacktraceState* callSite(uintptr_t site) {
  auto* pcs = static_cast<void**>(malloc(kMaxBacktraceDepth * sizeof(void*)));
  for (unsigned i = 0; i < kMaxBacktraceDepth; ++i) pcs[i] = reinterpret_cast<void*>(0x10000 + 0x100 * i);
  pcs[0] = reinterpret_cast<void*>(0x1000 + 0x10 * site);
  return new BacktraceState(pcs, kMaxBacktraceDepth);
}

constexpr int kCacheCapacity = 10;

// The stack every examined allocation captures anyway, made and released.
void BM_FreshStackOnly(benchmark::State& state) {
  uintptr_t site = 0;
  for (auto _ : state) {
    BacktraceState* key = callSite(site++ % kCacheCapacity);
    benchmark::DoNotOptimize(key);
    delete key;
  }
}
BENCHMARK(BM_FreshStackOnly);

// A call site already cached: the fresh stack is released by get.
void BM_LRUCacheHit(benchmark::State& state) {
  LRUCache cache(kCacheCapacity);
  for (int site = 0; site < kCacheCapacity; ++site) cache.put(callSite(site), {1, 0});
  uintptr_t site = 0;
  for (auto _ : state) {
    BacktraceState* key = callSite(site++ % kCacheCapacity);
    count_time_t value;
    bool hit = cache.get(&key, &value);
    benchmark::DoNotOptimize(hit);
    ++value.count;
    cache.put(key, value);
  }
}
BENCHMARK(BM_LRUCacheHit);

// A new call site on a full cache: get misses and put evicts the oldest.
void BM_LRUCacheMiss(benchmark::State& state) {
  LRUCache cache(kCacheCapacity);
  for (int site = 0; site < kCacheCapacity; ++site) cache.put(callSite(site), {1, 0});
  uintptr_t site = kCacheCapacity;
  for (auto _ : state) {
    BacktraceState* key = callSite(site++);
    count_time_t value;
    bool hit = cache.get(&key, &value);
    benchmark::DoNotOptimize(hit);
    cache.put(key, {1, 0});
  }
}
BENCHMARK(BM_LRUCacheMiss);

// A real 16-frame stack of this program and the libraries below it.
BacktraceState* sixteenRealFrames() {
  BacktraceState* captured = nullptr;
  recurse(20, [&] { captured = capturePC(); });
  return captured;
}

void BM_Render16(benchmark::State& state) {
  BacktraceState* trace = sixteenRealFrames();
  for (auto _ : state) {
    std::ostringstream os;
    getBacktrace(trace->pcs, trace->depth, os);
    benchmark::DoNotOptimize(os);
  }
  state.counters["depth"] = trace->depth;
  delete trace;
}
BENCHMARK(BM_Render16);

void BM_Dladdr16(benchmark::State& state) {
  BacktraceState* trace = sixteenRealFrames();
  for (auto _ : state) {
    for (unsigned i = 0; i < trace->depth; ++i) {
      Dl_info info;
      benchmark::DoNotOptimize(dladdr(trace->pcs[i], &info));
    }
  }
  state.counters["depth"] = trace->depth;
  delete trace;
}
BENCHMARK(BM_Dladdr16);

}  // namespace

BENCHMARK_MAIN();
