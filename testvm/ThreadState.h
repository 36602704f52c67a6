// A thread as the VM knows it, with its JNIEnv laid out as ART's JNIEnvExt.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <deque>

#include "ReferenceTables.h"
#include "TestVm.h"

namespace testvm {

struct ThreadState;

// The head of ART's JNIEnvExt: the function table, the thread, the VM, the
// local reference cookie, then the local reference table whose first word is
// its segment state.
struct EnvObject {
  const JNINativeInterface_* functions;
  ThreadState* self;
  JavaVM* vm;
  std::uint32_t localRefCookie;
  alignas(void*) std::uint32_t segmentState;
};
static_assert(offsetof(EnvObject, segmentState) == TestVm::kSegmentStateOffset, "segment state offset");

struct ThreadState {
  ThreadState(TestVm::Impl* vm, const JNINativeInterface_* functions, JavaVM* javaVm, int sdkInt, bool managed);
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;

  static ThreadState* of(JNIEnv* env) { return reinterpret_cast<EnvObject*>(env)->self; }
  JNIEnv* jniEnv() { return reinterpret_cast<JNIEnv*>(&env); }

  EnvObject env;
  TestVm::Impl* vm;
  ThreadId id = 0;
  // A thread started by Java (or the VM's host thread) runs Java code and finds
  // app classes; a natively attached thread does so only inside a Java method.
  bool managed;
  int managedDepth = 0;
  LocalRefTable locals;
  // Handle-scope entries: the receiver or class of each method running on the
  // thread, referenced by address as ART's stack handles are.
  std::deque<Object*> handles;
  Object* pendingException = nullptr;
  Object* peer = nullptr;  // java.lang.Thread of a Java thread
};

// The calling OS thread's identity, assigned on first use.
ThreadId currentOsThreadId();

}  // namespace testvm
