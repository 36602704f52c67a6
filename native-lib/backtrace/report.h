// Findings reach the host as VxCatchedExceptionReporter.reportVxCatchException
// (name, message), called on the thread that made the finding.
#pragma once

#include <jni.h>

#include "backtrace/backtrace.h"

// The host's reporter class (global reference) and its static report method,
// looked up once at start-up and only read afterwards; null until found.
extern jclass exceptionReporter;
extern jmethodID reportMethod;

// The runtime's own DeleteLocalRef, saved by the local reference hooker before it
// replaces the table entry; null until then. Reports delete their strings through
// it so that the monitor's clean-up is not counted as the app's.
extern void(JNICALL* originDeleteLocalRef)(JNIEnv* env, jobject obj);

// Looks the reporter up with the starting thread's environment; a missing class
// or method is described, cleared, and leaves reports disabled.
void initBacktraceTool(JNIEnv* env);

// Sends one finding. `env` is the calling thread's environment; with no
// environment or no reporter nothing is sent.
void report(JNIEnv* env, const char* name, const char* message);
// A single allocation of `size` bytes, with the stack that made it.
void report(JNIEnv* env, const char* name, BacktraceState* trace, unsigned size);
// A call site allocating more than `countLimited` times within `timeLimited`
// microseconds, with its stack.
void report(JNIEnv* env, const char* name, BacktraceState* trace, long long timeLimited,
            long long countLimited);
