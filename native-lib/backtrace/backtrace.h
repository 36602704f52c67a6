// Native call stacks: capture on any thread (even inside malloc), ordering by
// content, and rendering with the names the dynamic linker knows.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

// One captured call stack, innermost frame first. Owns `pcs`, which comes from
// the C library's malloc; the object itself is made with new by capturePC.
class BacktraceState {
 public:
  BacktraceState(void** pcs, unsigned depth);
  ~BacktraceState();
  BacktraceState(const BacktraceState&) = delete;
  BacktraceState& operator=(const BacktraceState&) = delete;

  void** pcs;
  uint32_t depth;
};

// Most frames a capture records; the array starts with room for half of them.
constexpr unsigned kMaxBacktraceDepth = 16;
constexpr unsigned kInitialBacktraceDepth = 8;

// Captures the calling thread's stack. `skip` counts frames above the capture
// itself: from a hooked function, capturePC(1) starts at the code that called
// it, capturePC(2) from a helper one call further down does the same. Never
// null; the caller owns the result. If memory runs out the stack is empty or
// stops at the frames already recorded.
BacktraceState* capturePC(unsigned skip);
// Drops only the capture function's own frame, like capturePC(0).
BacktraceState* capturePC();

// Appends one line per frame: "#%2u: <pc> <library>+<offset>  <symbol>\n".
void getBacktrace(void** pcs, unsigned depth, std::ostringstream& os);
// The same lines in a new string that the caller owns.
std::string* getBacktrace(void** pcs, unsigned depth);

// Whether `pc` is among the first `depth` entries of `pcs`.
bool containsPC(void** pcs, unsigned depth, void* pc);

// Orders stacks by content, so that two captures of one call path are the same
// map key; a stack orders before any longer stack it is a prefix of.
struct cmpFunc {
  bool operator()(const BacktraceState* a, const BacktraceState* b) const;
};
