// Clearing what a failed runtime lookup leaves behind.
#pragma once

#include <jni.h>

// When an exception is pending, lets the runtime print it to the log and clears
// it, so the caller can go on making JNI calls; returns whether one was pending.
bool describeAndClearException(JNIEnv* env);
