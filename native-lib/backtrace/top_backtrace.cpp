#include "backtrace/top_backtrace.h"

void swap(TraceEntry* entries, int i, int j) {
  TraceEntry held = entries[i];
  entries[i] = entries[j];
  entries[j] = held;
}

void adjustHeap(TraceEntry* entries, int n) {
  int i = 0;
  while (i < n / 2) {
    int left = 2 * i + 1;
    int right = 2 * i + 2;
    int candidate = (right == n || entries[left].times < entries[right].times) ? left : right;
    if (!(entries[candidate].times < entries[i].times)) return;
    swap(entries, i, candidate);
    i = candidate;
  }
}

void writeTopBacktraces(const TraceEntry* entries, int n, std::ostringstream& os) {
  for (int i = 0; i < n; ++i) {
    if (entries[i].times == 0) continue;
    os << "called " << entries[i].times << " times: \n";
    getBacktrace(entries[i].trace->pcs, entries[i].trace->depth, os);
    os << "\n";
  }
}
