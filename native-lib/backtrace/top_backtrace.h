// The ten call stacks that created the most objects of a table, for overflow
// reports. Runs under the table's lock, so it makes one pass and allocates
// nothing for the selection.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <sstream>

#include "backtrace/backtrace.h"

// One slot of the selection heap; a slot whose `times` is 0 is empty.
struct TraceEntry {
  BacktraceState* trace;
  uint32_t times = 0;
};

constexpr int kTopBacktraceCount = 10;

// Exchanges slots i and j.
void swap(TraceEntry* entries, int i, int j);
// Sifts slot 0 down a min-heap on `times` of n slots.
void adjustHeap(TraceEntry* entries, int n);
// Writes the non-empty slots in array order, one block per stack:
// "called <n> times: \n", the frame lines, "\n".
void writeTopBacktraces(const TraceEntry* entries, int n, std::ostringstream& os);

// Appends the most frequent stacks of `traces` (by the size of their sets) to
// `os`. The listing follows the heap's array order, smallest kept count first;
// a stack only displaces the smallest kept one with a strictly larger count.
template <typename T>
void getTopBacktrace(const std::map<BacktraceState*, std::set<T>, cmpFunc>& traces,
                     std::ostringstream& os) {
  TraceEntry entries[kTopBacktraceCount];
  for (const auto& [trace, objects] : traces) {
    if (objects.size() > entries[0].times) {
      entries[0].trace = trace;
      entries[0].times = static_cast<uint32_t>(objects.size());
      adjustHeap(entries, kTopBacktraceCount);
    }
  }
  writeTopBacktraces(entries, kTopBacktraceCount, os);
}
