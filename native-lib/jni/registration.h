// Registration of the library's native methods on the host classes.
#pragma once

#include <jni.h>

// Registers the four method groups in order and stops at the first that fails;
// true only when all four were registered.
bool registerNatives(JNIEnv* env);

// Registers `count` methods on the class `className`; false, with a logcat line,
// when the class is missing or the runtime refuses the methods.
bool registerNativeMethods(JNIEnv* env, const char* className, const JNINativeMethod* methods, int count);
