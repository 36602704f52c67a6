// Replacement of entries of the runtime's JNI function table, and a dump of the
// runtime's own reference tables.
#pragma once

#include <jni.h>

// Stores `replacement` into `slot`, one entry of the function table that every
// JNIEnv of the runtime shares, so every thread reaches it from its next call.
// The table is read-only, so the page holding `slot` is made writable first and
// stays writable. When that fails the entry is left untouched and the failure
// is logged. The caller saves the old entry beforehand.
void replaceJniEnvFunction(void** slot, void* replacement);

// Asks the runtime to print its reference tables (dalvik.system.VMDebug
// dumpReferenceTables) to the system log; does nothing on a runtime without it.
void dumpReferenceTable(JNIEnv* env);
