// Tracking of Java thread starts: the runtime writes a starting thread's
// Thread.nativePeer through the JNI SetLongField entry, so that entry is
// replaced and each such write is passed on to the host's static
// onThreadCreatedCallback(Object) of the class named by
// classThreadOnCreatedCallBack.
#pragma once

#include <jni.h>

#include "core/BaseHooker.h"

class NativeMonitor;

// The SetLongField entry that was in the table before hookedSetLongField.
extern void (*originalSetLongField)(JNIEnv*, jobject, jfieldID, jlong);

// Resolve Thread.nativePeer and the host's callback on first use and keep them
// for the life of the process; safe to call from several threads at once. Each
// returns 1 when its identifier is available and 0 when resolving it failed
// (the runtime has described and cleared the exception; the next call tries
// again).
int ensureThreadFiledIDInit(JNIEnv* env);
int ensureJobReportMethodInit(JNIEnv* env);

class LongSetFieldHooker : public BaseHooker {
 public:
  explicit LongSetFieldHooker(NativeMonitor* monitor);

  // One variadic argument each: the calling thread's JNIEnv*. beforeHook saves
  // the current SetLongField entry, onInit installs hookedSetLongField. The
  // monitor creates one hooker and calls both once, in this order.
  void onInit(int count, ...) override;
  void beforeHook(int count, ...) override;

  static void hookedSetLongField(JNIEnv* env, jobject obj, jfieldID fieldID, jlong value);

  // Tracked thread objects that have not been collected yet.
  static int getThreadAliveCount();
};
