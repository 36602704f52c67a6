#include "TestSupport.h"

#include <cstdlib>

namespace {
int g_replacementCalls = 0;
}

void* countingMalloc(size_t size) {
  ++g_replacementCalls;
  return malloc(size);
}

bool reachesReplacement(AllocFn path) {
  int before = g_replacementCalls;
  free(path(24));
  return g_replacementCalls == before + 1;
}

void* originalMalloc() { return reinterpret_cast<void*>(&malloc); }

std::string hookFuncLine(const std::string& path, int code) {
  return "hookFunc in " + path + " by section fail with error: " + std::to_string(code);
}
