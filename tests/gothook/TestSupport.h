// Shared by the GOT patcher's suites: a replacement of malloc that counts its
// callers, and the log line hookFunc writes for a failure.
#pragma once

#include <cstddef>
#include <string>

using AllocFn = void* (*)(size_t);

constexpr char kGotTag[] = "GOTHookLibrary";

// Forwards to malloc and counts the call.
void* countingMalloc(size_t size);

// Calls `path` once and tells whether the call reached countingMalloc.
bool reachesReplacement(AllocFn path);

void* originalMalloc();

std::string hookFuncLine(const std::string& path, int code);
