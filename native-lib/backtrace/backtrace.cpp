#include "backtrace/backtrace.h"

#include <dlfcn.h>
#include <unwind.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

BacktraceState::BacktraceState(void** pcs, unsigned depth) : pcs(pcs), depth(depth) {}

BacktraceState::~BacktraceState() {
  if (pcs != nullptr) free(pcs);
}

namespace {

struct UnwindWrapper {
  BacktraceState* state;
  int seen = 0;
  int skip = 1;
};

uintptr_t frameAddress(_Unwind_Context* context) {
#if defined(__arm__)
  uint32_t pc = 0;
  _Unwind_VRS_Get(context, _UVRSC_CORE, 15, _UVRSD_UINT32, &pc);
  return pc & ~static_cast<uint32_t>(1);  // Thumb bit
#else
  return _Unwind_GetIP(context);
#endif
}

// Room for all kMaxBacktraceDepth frames once the first array is full; false
// when memory runs out, and the stack then keeps what it has.
bool growToMax(BacktraceState* state) {
  auto* grown = static_cast<void**>(malloc(kMaxBacktraceDepth * sizeof(void*)));
  if (grown == nullptr) return false;
  memcpy(grown, state->pcs, state->depth * sizeof(void*));
  free(state->pcs);
  state->pcs = grown;
  return true;
}

_Unwind_Reason_Code unwindCallback(_Unwind_Context* context, void* arg) {
  auto* wrapper = static_cast<UnwindWrapper*>(arg);
  unsigned n = static_cast<unsigned>(wrapper->seen++);
  if (n < static_cast<unsigned>(wrapper->skip)) return _URC_NO_REASON;
  uintptr_t pc = frameAddress(context);
  BacktraceState* state = wrapper->state;
  if (pc == 0 || state->pcs == nullptr || state->depth >= kMaxBacktraceDepth) {
    return _URC_END_OF_STACK;
  }
  if (state->depth == kInitialBacktraceDepth && !growToMax(state)) return _URC_END_OF_STACK;
  state->pcs[state->depth++] = reinterpret_cast<void*>(pc);
  return _URC_NO_REASON;
}

// Inlined into both capturePC forms so that the first frame the unwinder
// reports is always the capture function that the caller called.
__attribute__((always_inline)) inline BacktraceState* capture(unsigned skip) {
  auto* pcs = static_cast<void**>(malloc(kInitialBacktraceDepth * sizeof(void*)));
  auto* state = new BacktraceState(pcs, 0);
  UnwindWrapper wrapper{state, 0, static_cast<int>(skip)};
  // On ARM the unwinder ends with a failure code at the thread's start routine,
  // after the valid frames: the stack recorded so far is the result either way.
  _Unwind_Backtrace(unwindCallback, &wrapper);
  return state;
}

void appendHex(std::ostringstream& os, uintptr_t value) {
  char text[2 + 2 * sizeof(uintptr_t) + 1];
  snprintf(text, sizeof(text), "0x%" PRIxPTR, value);
  os << text;
}

void appendFrame(std::ostringstream& os, unsigned index, void* pc) {
  Dl_info info;
  const char* library = "<unknown>";
  uintptr_t base = 0;
  const char* symbol = "";
  if (dladdr(pc, &info) != 0) {
    if (info.dli_fname != nullptr) library = info.dli_fname;
    base = reinterpret_cast<uintptr_t>(info.dli_fbase);
    if (info.dli_sname != nullptr) symbol = info.dli_sname;
  }
  char prefix[16];
  snprintf(prefix, sizeof(prefix), "#%2u: ", index);
  os << prefix;
  appendHex(os, reinterpret_cast<uintptr_t>(pc));
  os << ' ' << library << '+';
  appendHex(os, reinterpret_cast<uintptr_t>(pc) - base);
  os << "  " << symbol << '\n';
}

}  // namespace

__attribute__((noinline)) BacktraceState* capturePC(unsigned skip) { return capture(skip + 1); }

__attribute__((noinline)) BacktraceState* capturePC() { return capture(1); }

void getBacktrace(void** pcs, unsigned depth, std::ostringstream& os) {
  for (unsigned i = 0; i < depth; ++i) appendFrame(os, i, pcs[i]);
}

std::string* getBacktrace(void** pcs, unsigned depth) {
  std::ostringstream os;
  getBacktrace(pcs, depth, os);
  return new std::string(os.str());
}

bool containsPC(void** pcs, unsigned depth, void* pc) {
  for (unsigned i = 0; i < depth; ++i) {
    if (pcs[i] == pc) return true;
  }
  return false;
}

bool cmpFunc::operator()(const BacktraceState* a, const BacktraceState* b) const {
  for (uint32_t i = 0; i < a->depth && i < b->depth; ++i) {
    auto left = reinterpret_cast<uintptr_t>(a->pcs[i]);
    auto right = reinterpret_cast<uintptr_t>(b->pcs[i]);
    if (left != right) return left < right;
  }
  return a->depth < b->depth;
}
