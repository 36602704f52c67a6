// Redirects a Java native method to another native function by rewriting the
// native entry inside the runtime's own method record.
//
// The runtime does not publish where in a method record that entry lies, so
// initJniMethodHook finds it by experiment: the caller registers a known
// function as the native implementation of a probe method and hands over the
// probe's jmethodID (the record's address) and that of a neighbouring method of
// the same class, whose distance bounds the scan. The offset found holds for
// every record of the runtime, so hookJniMethod can then rewrite any native
// method. Both run once, at start-up, on one thread.
#pragma once

#include <jni.h>

#include <cstdint>

// Byte offset of the native entry inside a method record; 0 while unknown (an
// entry is never at offset 0, the record starts with other data).
extern int32_t globalOffset;

// Searches the record of `markMethod` for `nativeFunction`. Returns true when
// the offset is known afterwards; after one success it returns true at once.
bool initJniMethodHook(JNIEnv* env, jmethodID markMethod, jmethodID neighbourMethod,
                       void* nativeFunction);

// Replaces the native entry of the static (or, failing that, instance) method
// `methodName` `signature` of `className` with `newFunction`, saving the entry
// it replaces in *savedFunction first. False, with nothing changed, when the
// offset is unknown or the class or method cannot be found.
bool hookJniMethod(JNIEnv* env, const char* className, const char* methodName,
                   const char* signature, void* newFunction, void** savedFunction);

// Lets the runtime print a pending exception, then clears it.
void checkAndClearException(JNIEnv* env);
