// Messages for the host's own log, sent through the static methods
// "logErrorFromNative" and "logInfoFromNative" of the monitor class.
#pragma once

#include <jni.h>

// Both format like printf into a 256-byte buffer (longer texts are cut) and work
// on any thread; a thread the VM did not know is attached for the call and
// detached again. Failures go to logcat only.
void logErrorToJava(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void logInfoToJava(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The lazy lookups behind the two log functions. The first successful lookup
// must happen on a host thread: threads attached later cannot find app classes.
bool ensureLogClassInit(JNIEnv* env);
bool ensureLogMethodInit(JNIEnv* env);
