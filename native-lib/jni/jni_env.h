// A JNI environment for the calling thread, whatever thread that is.
#pragma once

#include <jni.h>

// The runtime's VM, recorded by JNI_OnLoad before any other entry point exists.
extern JavaVM* g_vm;

// Returns the calling thread's environment, attaching the thread when the VM does
// not know it; *attached is then 1 and the caller must _detach_current_thread().
JNIEnv* getJniEnv(int* attached);

// Detaches the calling thread if it is attached.
void _detach_current_thread();
