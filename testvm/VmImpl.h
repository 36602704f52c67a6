// The VM's state: classes, heap, reference tables, threads, pins and what the
// host classes recorded. One mutex guards the runtime state; it is never held
// while a native method, a host method or a library entry runs.
#pragma once

#include <jni.h>
#include <pthread.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ObjectModel.h"
#include "ReferenceTables.h"
#include "TestVm.h"
#include "ThreadState.h"

namespace testvm {

// What the host classes received and what the VM saw go wrong; its own mutex,
// taken after the VM's when both are held.
struct Recorder {
  mutable std::mutex mutex;
  std::vector<HostLogLine> hostLog;
  std::vector<Report> reports;
  std::vector<ThreadCallback> threadCallbacks;
  int dumpReferenceTablesCalls = 0;
  std::vector<std::string> describedExceptions;
  std::vector<VmError> errors;
};

// A pinned storage pointer handed out by a Get...Elements/Critical/Chars entry.
struct Pin {
  Object* object;
  std::size_t count;
};

class TestVm::Impl {
 public:
  Impl(VmOptions options);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  struct JavaVmObject {
    const JNIInvokeInterface_* functions;
    Impl* impl;
  };
  static Impl* of(JavaVM* vm) { return reinterpret_cast<JavaVmObject*>(vm)->impl; }
  JavaVM* javaVm() { return reinterpret_cast<JavaVM*>(&javaVmObject_); }
  const JNINativeInterface_* table() const { return table_; }

  const VmOptions options;
  const int sdkInt;
  Recorder recorder;

  // --- threads (called without the lock) ------------------------------------
  ThreadState* current() const;
  // Binds a new state to the calling thread and counts the attach.
  ThreadState* attachCurrent(bool managed);
  // Unbinds and frees the calling thread's state; `counted` says whether this
  // is a DetachCurrentThread (a thread exit is not).
  void detachCurrent(ThreadState* ts, bool counted);
  ThreadState* hostThread() const { return hostThread_; }
  ThreadCounters counters(ThreadId id) const;
  std::size_t attachedCount() const;
  // Binds a state made by prepareJavaThread to the calling thread.
  void bindPrepared(ThreadState* ts);

  // --- everything below requires `mutex` held --------------------------------
  mutable std::mutex mutex;

  Class* findClass(const std::string& name);  // makes array classes on demand
  Class* requireClass(const std::string& name);
  Class* defineClass(const ClassDef& def);
  MethodInfo* methodOf(jmethodID id, Class** owner = nullptr);
  Field* fieldOf(jfieldID id);
  MethodInfo* findMethod(Class* cls, const std::string& name, const std::string& sig, bool isStatic);
  Field* findField(Class* cls, const std::string& name, const std::string& sig, bool isStatic);
  jmethodID idOf(const MethodInfo& method) const;
  bool canSeeAppClasses(const ThreadState* ts) const { return ts->managed || ts->managedDepth > 0; }

  Object* allocate(Class* cls);
  Object* newString(const std::vector<jchar>& chars);
  Object* newPrimitiveArray(char kind, std::int32_t length);
  Object* newObjectArray(Class* elementClass, std::int32_t length);
  // Collects when the heap has grown enough; call only where every object the
  // calling entry holds is already reachable from a root.
  void maybeCollect();
  void collect();

  jobject addLocal(ThreadState* ts, Object* object, const char* entry);
  // The object of `ref` seen from `ts`; records an invalid reference (and
  // answers null) when it is none. *valid tells which.
  Object* decode(ThreadState* ts, jobject ref, const char* entry, bool* valid = nullptr);
  jobject pushHandle(ThreadState* ts, Object* object);
  // Creates the state of a Java thread before its OS thread exists, as ART
  // creates the child Thread before pthread_create; bindPrepared binds it.
  ThreadState* prepareJavaThread(Object* peer);
  void throwNew(ThreadState* ts, const std::string& className, std::optional<std::string> message);

  GlobalRefTable globals;
  GlobalRefTable weakGlobals;
  std::unordered_map<const void*, Pin> pins;
  std::unordered_set<char*> utfCopies;
  Object* appClassLoader = nullptr;
  std::unordered_map<std::string, void*> loadedLibraries;
  std::string lastLoadError;

  // --- recordings (any lock state) -----------------------------------------
  void recordError(VmError::Kind kind, std::string entry, std::string detail, std::string bytes = {});

 private:
  void bootstrap();
  Class* makeArrayClass(const std::string& name);
  void linkMethods(Class* cls, const std::vector<MethodDef>& defs);
  void markFrom(Object* root, std::vector<Object*>& stack);
  static void onThreadExit(void* state);

  JavaVmObject javaVmObject_;
  JNINativeInterface_* table_;
  pthread_key_t threadKey_;
  ThreadState* hostThread_ = nullptr;

  std::vector<std::unique_ptr<Class>> classes_;
  std::unordered_map<std::string, Class*> classByName_;
  std::map<std::uintptr_t, Class*> recordBlocks_;  // block start -> class
  std::unordered_set<const Field*> fieldSet_;
  std::vector<Object*> heap_;
  std::size_t collectThreshold_;
  std::unordered_set<ThreadState*> threads_;
  std::unordered_map<ThreadId, ThreadCounters> counters_;
};

// A native method's entry before registration: ART's dlsym lookup stub. A call
// that reaches it throws UnsatisfiedLinkError.
void unregisteredNativeStub();
// The quick-code entry of every method record: unused, but distinct from
// every native entry, as ART's trampolines are.
void quickEntryTrampoline();

// The runtime's own native entry of Runtime.nativeLoad.
jstring runtimeNativeLoad(JNIEnv* env, jclass cls, jstring fileName, jobject classLoader, jstring searchPath);

}  // namespace testvm
