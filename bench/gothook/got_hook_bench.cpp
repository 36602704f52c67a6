// The cost of one patch, and of a call through a patched GOT slot beside the
// same call through the untouched slot of a second copy of the library.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "got_hook.h"

namespace {

using AllocFn = void* (*)(size_t);

void* forwardingMalloc(size_t size) { return malloc(size); }

void* mallocAddress() { return reinterpret_cast<void*>(&malloc); }
void* forwardingAddress() { return reinterpret_cast<void*>(&forwardingMalloc); }

// A private, loaded copy of the fixture: each benchmark patches its own.
class LoadedCopy {
 public:
  LoadedCopy() {
    char pattern[] = "/tmp/gothook-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    path_ = dir_ + "/libgothook_fixture.so";
    std::ifstream in(GOTHOOK_FIXTURE, std::ios::binary);
    std::ofstream(path_, std::ios::binary) << in.rdbuf();
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
  }
  ~LoadedCopy() {
    dlclose(handle_);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  const char* path() const { return path_.c_str(); }
  AllocFn callMalloc() const { return reinterpret_cast<AllocFn>(dlsym(handle_, "fixtureCallMalloc")); }

 private:
  std::string dir_;
  std::string path_;
  void* handle_ = nullptr;
};

// Patches back and forth, so that every iteration finds a word to replace.
void BM_HookFuncSectionMode(benchmark::State& state) {
  LoadedCopy copy;
  bool patched = false;
  for (auto _ : state) {
    int result = patched ? hookFunc(copy.path(), "malloc", forwardingAddress(), mallocAddress())
                         : hookFunc(copy.path(), "malloc", mallocAddress(), forwardingAddress());
    if (result != 0) state.SkipWithError("hookFunc failed");
    patched = !patched;
  }
}
BENCHMARK(BM_HookFuncSectionMode)->Unit(benchmark::kMicrosecond)->Repetitions(10)->DisplayAggregatesOnly(true);

void BM_PatchGotDynamicMode(benchmark::State& state) {
  LoadedCopy copy;
  bool patched = false;
  for (auto _ : state) {
    int result = patchGot(copy.path(), "malloc", nullptr, patched ? mallocAddress() : forwardingAddress(), 1);
    if (result != 0) state.SkipWithError("patchGot failed");
    patched = !patched;
  }
}
BENCHMARK(BM_PatchGotDynamicMode)->Unit(benchmark::kMicrosecond)->Repetitions(10)->DisplayAggregatesOnly(true);

constexpr int kCallsPerIteration = 1000;

void callLoop(benchmark::State& state, AllocFn call) {
  for (auto _ : state) {
    for (int i = 0; i < kCallsPerIteration; ++i) {
      void* block = call(32);
      benchmark::DoNotOptimize(block);
      free(block);
    }
  }
  state.SetItemsProcessed(state.iterations() * kCallsPerIteration);
}

void BM_CallsThroughUnpatchedSlot(benchmark::State& state) {
  LoadedCopy copy;
  callLoop(state, copy.callMalloc());
}
BENCHMARK(BM_CallsThroughUnpatchedSlot)->Repetitions(10)->DisplayAggregatesOnly(true);

void BM_CallsThroughPatchedSlot(benchmark::State& state) {
  LoadedCopy copy;
  if (hookFunc(copy.path(), "malloc", mallocAddress(), forwardingAddress()) != 0) {
    state.SkipWithError("hookFunc failed");
    return;
  }
  callLoop(state, copy.callMalloc());
}
BENCHMARK(BM_CallsThroughPatchedSlot)->Repetitions(10)->DisplayAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
