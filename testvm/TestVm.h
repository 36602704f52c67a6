// An ART-like Java VM for tests, benchmarks and the demo: the JavaVM and JNIEnv
// interfaces with the runtime internals the monitor relies on laid out as ART
// lays them out, host classes implemented in C++ that record what they receive,
// and helpers that do what the runtime does (load a library, call a native
// method, start a thread).
//
// One VM per test; a test that loads the monitor library keeps its VM for the
// life of the process (processVm()), because the library keeps pointers into it.
// Every recording accessor is thread-safe.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "HostClasses.h"

namespace testvm {

// Identity of a live object; 0 for null. Unlike a reference it stays the same
// for every reference to the object, on every thread.
using ObjectId = std::uintptr_t;
// Identity the VM gives each OS thread the first time it sees it; never reused.
using ThreadId = std::uint64_t;

// A Java method implemented in C++. `self` is the receiver, or the class of a
// static method; `args` holds the arguments in signature order. The result is
// ignored for a void method; an object result is a local reference made in the
// method's own frame (the VM moves it into the caller's frame).
using HostMethod = std::function<jvalue(JNIEnv* env, jobject self, const jvalue* args)>;

struct MethodDef {
  std::string name;
  std::string signature;
  bool isStatic = true;
  bool isNative = false;
  // Non-native methods: the body; empty = does nothing and returns zero/null.
  HostMethod body;
  // Native methods: the entry before any RegisterNatives; null = unregistered
  // (a call then throws UnsatisfiedLinkError, as ART's lookup stub does).
  void* nativeEntry = nullptr;
};

struct FieldDef {
  std::string name;
  std::string signature;
  bool isStatic = true;
  jvalue initial{};  // primitive fields only; object fields start null
};

// A class added to a VM. Names under java/, javax/, android/, dalvik/, sun/ and
// libcore/ are system classes (found from any thread); others are app classes.
// Method records are laid out in the order of `methods`.
struct ClassDef {
  std::string name;
  std::string superName = "java/lang/Object";
  std::vector<FieldDef> fields;
  std::vector<MethodDef> methods;
};

struct VmOptions {
  int sdkInt = 28;

  // Monitor class: the feature switch fields (erase one to leave it out), the
  // two log methods, and the five native methods as declared methods.
  bool monitorClass = true;
  std::map<std::string, jlong> monitorFlags = defaultMonitorFlags();
  bool monitorLogError = true;
  bool monitorLogInfo = true;

  // Probe class: static native "mark" and static "mark2". mark2 is declared
  // `probeMark2Position` methods after mark (negative: before it); the gap is
  // filled with other static methods, so the identifiers lie
  // |probeMark2Position| * kMethodRecordSize bytes apart.
  bool probeClass = true;
  bool probeMark2 = true;
  int probeMark2Position = 1;

  // Reporter class; `reporterMethod` false keeps the class without its method.
  bool reporterClass = true;
  bool reporterMethod = true;

  // Thread callback class with static onThreadCreatedCallback(Object).
  bool threadCallbackClass = true;
  std::string threadCallbackClassName = kDefaultThreadCallbackClass;

  bool runtimeClass = true;       // java/lang/Runtime with native nativeLoad
  bool threadClass = true;        // java/lang/Thread with long nativePeer
  bool buildVersionClass = true;  // android/os/Build$VERSION with SDK_INT
  bool vmDebugClass = true;       // dalvik/system/VMDebug with dumpReferenceTables

  std::vector<ClassDef> extraClasses;
};

// One message the host received through logErrorFromNative/logInfoFromNative.
struct HostLogLine {
  enum Level { kError, kInfo } level;
  std::string text;
  ThreadId thread;
};

// One call of reportVxCatchException.
struct Report {
  std::string name;
  std::string message;
  ThreadId thread;
};

// One call of onThreadCreatedCallback.
struct ThreadCallback {
  ObjectId threadObject;  // the argument
  ThreadId caller;        // the thread that made the call
};

// Misuse of the JNI that ART's CheckJNI would have stopped the app for. The VM
// records it and carries on with a harmless result, so tests can assert on it.
struct VmError {
  enum Kind {
    kInvalidModifiedUtf8,  // NewStringUTF input; `bytes` holds the whole input
    kPendingException,     // a call that is not allowed with an exception pending
    kInvalidReference,     // a reference that is not live (or of another thread)
    kNullArgument,         // null where the entry requires an object/class/array
    kInvalidId,            // a jmethodID/jfieldID that is none, or of the wrong kind
    kWrongThread,          // a JNIEnv used on a thread it does not belong to
    kTableOverflow,        // local or global reference table full
    kBadRelease,           // a release of something that is not pinned, or a bad mode
    kThreadExitedAttached  // a thread ended without DetachCurrentThread
  } kind;
  std::string entry;   // JNI entry name, or a short context
  std::string detail;  // human-readable description
  std::string bytes;   // kInvalidModifiedUtf8 only
};

struct ThreadCounters {
  int attaches = 0;
  int detaches = 0;
};

// Outcome of runOnNativeThread.
struct NativeThreadRun {
  ThreadId id;
  int attaches;
  int detaches;
  bool attachedAtExit;  // still attached when the function returned
};

namespace detail {
// The JNI type letter of a C++ argument or result type ('L' for every reference).
template <typename T, typename = void>
struct JniKind;
template <> struct JniKind<void> { static constexpr char value = 'V'; };
template <> struct JniKind<jboolean> { static constexpr char value = 'Z'; };
template <> struct JniKind<jbyte> { static constexpr char value = 'B'; };
template <> struct JniKind<jchar> { static constexpr char value = 'C'; };
template <> struct JniKind<jshort> { static constexpr char value = 'S'; };
template <> struct JniKind<jint> { static constexpr char value = 'I'; };
template <> struct JniKind<jlong> { static constexpr char value = 'J'; };
template <> struct JniKind<jfloat> { static constexpr char value = 'F'; };
template <> struct JniKind<jdouble> { static constexpr char value = 'D'; };
template <> struct JniKind<std::nullptr_t> { static constexpr char value = 'L'; };
template <typename T>
struct JniKind<T*, std::enable_if_t<std::is_base_of_v<_jobject, T>>> {
  static constexpr char value = 'L';
};

template <typename T>
jvalue toJvalue(T v) {
  jvalue j{};
  if constexpr (std::is_same_v<T, jboolean>) j.z = v;
  else if constexpr (std::is_same_v<T, jbyte>) j.b = v;
  else if constexpr (std::is_same_v<T, jchar>) j.c = v;
  else if constexpr (std::is_same_v<T, jshort>) j.s = v;
  else if constexpr (std::is_same_v<T, jint>) j.i = v;
  else if constexpr (std::is_same_v<T, jlong>) j.j = v;
  else if constexpr (std::is_same_v<T, jfloat>) j.f = v;
  else if constexpr (std::is_same_v<T, jdouble>) j.d = v;
  else j.l = v;
  return j;
}

template <typename R>
R fromJvalue(const jvalue& j) {
  if constexpr (std::is_same_v<R, jboolean>) return j.z;
  else if constexpr (std::is_same_v<R, jbyte>) return j.b;
  else if constexpr (std::is_same_v<R, jchar>) return j.c;
  else if constexpr (std::is_same_v<R, jshort>) return j.s;
  else if constexpr (std::is_same_v<R, jint>) return j.i;
  else if constexpr (std::is_same_v<R, jlong>) return j.j;
  else if constexpr (std::is_same_v<R, jfloat>) return j.f;
  else if constexpr (std::is_same_v<R, jdouble>) return j.d;
  else return static_cast<R>(j.l);
}
}  // namespace detail

class TestVm;

// One call of a Java method made as the runtime makes it: a local frame pushed
// for the callee, the native entry read from the method record at this moment,
// the frame popped (an object result moved into the caller's frame). Used by
// TestVm::callStatic/callMethod; tests rarely need it directly.
class CallFrame {
 public:
  // `resultKind`/`argKinds` are the JNI letters of the C++ types the caller
  // uses; a mismatch with the method's signature aborts (a wrong C++ type
  // would break the native calling convention silently).
  CallFrame(JNIEnv* env, jmethodID method, jobject receiver, char resultKind, const char* argKinds);
  ~CallFrame();
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  // False when nothing may be called: the method has no implementation
  // (UnsatisfiedLinkError pending) or the receiver is null (NullPointerException).
  bool ready() const { return ready_; }
  bool isNative() const { return native_; }
  void* entry() const { return entry_; }
  jobject self() const { return self_; }  // the class (static) or receiver, in the callee's frame
  jvalue callHost(const jvalue* args);
  // Pops the callee's frame; an object result gets a reference in the caller's frame.
  jobject finish(jobject result);

 private:
  JNIEnv* env_;
  jmethodID method_;
  bool ready_ = false;
  bool native_ = false;
  bool popped_ = false;
  void* entry_ = nullptr;
  jobject self_ = nullptr;
};

class TestVm {
 public:
  // Layout of the runtime internals the monitor reads and writes.
  static constexpr std::size_t kSegmentStateOffset = 4 * sizeof(void*);
  static constexpr std::size_t kMethodRecordSize = 40;
  static constexpr std::size_t kNativeEntryOffset = sizeof(void*) == 8 ? 24 : 20;

  // loadLibrary results other than JNI_OnLoad's own.
  static constexpr jint kDlopenFailed = -1001;
  static constexpr jint kNoJniOnLoad = -1002;

  // Creates the VM and attaches the calling thread as a host thread: it has a
  // Java frame, so FindClass finds app classes there. Destroy on that thread.
  explicit TestVm(VmOptions options = {});
  ~TestVm();
  TestVm(const TestVm&) = delete;
  TestVm& operator=(const TestVm&) = delete;

  // A VM that lives until the process exits, for tests that load the monitor
  // library. Created with `options` on the first call (whose thread becomes its
  // host thread); later calls return it unchanged and ignore `options`.
  static TestVm& processVm(const VmOptions& options = {});

  JavaVM* javaVm();
  JNIEnv* env();         // the creating (host) thread's environment
  JNIEnv* currentEnv();  // the calling thread's environment, null when not attached
  int sdkInt() const;
  const JNINativeInterface_* functionTable() const;

  // --- classes and methods -------------------------------------------------
  void defineClass(const ClassDef& def);
  // Static or instance method / field, found without any exception; null if missing.
  jmethodID methodId(const std::string& cls, const std::string& name, const std::string& sig) const;
  jfieldID fieldId(const std::string& cls, const std::string& name, const std::string& sig) const;
  // The native entry word of a method record, as the runtime reads it at a call.
  static void* nativeEntry(jmethodID method);

  // Calls a method the way the runtime calls it from Java (see CallFrame). The
  // C++ argument types must match the signature exactly (jlong, not int, for J).
  // Aborts if the class or method does not exist.
  template <typename R = void, typename... A>
  R callStatic(JNIEnv* env, const std::string& cls, const std::string& name, const std::string& sig,
               A... args) {
    return invoke<R>(env, requireMethod(cls, name, sig), nullptr, args...);
  }
  template <typename R = void, typename... A>
  R callMethod(JNIEnv* env, jobject receiver, const std::string& cls, const std::string& name,
               const std::string& sig, A... args) {
    return invoke<R>(env, requireMethod(cls, name, sig), receiver, args...);
  }
  template <typename R = void, typename... A>
  R invoke(JNIEnv* env, jmethodID method, jobject receiver, A... args);

  // Runtime.nativeLoad(path, appClassLoader, librarySearchPath) called as the
  // runtime's System.load does, on the calling thread (which must be attached):
  // whatever entry the method record holds now is entered. nullopt = the Java
  // result was null (success); otherwise the error text.
  std::optional<std::string> nativeLoad(const std::string& path, const std::string& librarySearchPath = "");

  // What the runtime does for System.loadLibrary, without the Java layer:
  // dlopen(path) and JNI_OnLoad(javaVm(), nullptr) on the calling thread (which
  // must be attached), inside a local frame. Returns JNI_OnLoad's result, or
  // kDlopenFailed / kNoJniOnLoad; lastLoadError() then tells why.
  jint loadLibrary(const std::string& path);
  std::string lastLoadError() const;

  // --- threads -------------------------------------------------------------
  ThreadId currentThreadId();
  // Runs `fn` on a new native thread the VM has never seen, and waits for it.
  NativeThreadRun runOnNativeThread(const std::function<void()>& fn);
  // Starts a Java thread as the runtime's Thread.start() does, from the calling
  // (attached) thread: a java.lang.Thread object, its nativePeer written through
  // the function table's SetLongField on the calling thread, then the new thread
  // attached with a Java frame, `body` run there, the thread detached. Waits for
  // it to end. Returns the thread object's identity.
  ObjectId runJavaThread(const std::function<void(JNIEnv*)>& body = {});
  ThreadCounters threadCounters(ThreadId thread) const;
  std::size_t attachedThreadCount() const;  // includes the host thread

  // --- what the host received ---------------------------------------------
  std::vector<HostLogLine> hostLog() const;
  std::vector<std::string> hostErrorLog() const;  // texts of logErrorFromNative, in order
  std::vector<std::string> hostInfoLog() const;   // texts of logInfoFromNative, in order
  std::vector<Report> reports() const;
  std::vector<ThreadCallback> threadCallbacks() const;
  int dumpReferenceTablesCalls() const;
  // Class names of exceptions printed by ExceptionDescribe, in order.
  std::vector<std::string> describedExceptions() const;
  void clearRecordings();

  // --- runtime state --------------------------------------------------------
  std::vector<VmError> errors() const;
  std::size_t pendingPins() const;
  std::size_t globalRefCount() const;
  std::size_t weakGlobalRefCount() const;
  // The thread's local reference table: its top index and its live entries.
  std::uint32_t topIndex(JNIEnv* env) const;
  std::size_t localRefCount(JNIEnv* env) const;
  bool exceptionPending(JNIEnv* env) const;
  std::string pendingExceptionClass(JNIEnv* env) const;  // empty when none
  std::string pendingExceptionMessage(JNIEnv* env) const;

  // --- objects ------------------------------------------------------------
  ObjectId objectId(JNIEnv* env, jobject ref) const;
  // Frees every object no strong reference, static field, pin or live thread
  // reaches; weak global references to them then equal null.
  void collectGarbage();
  // Made by the VM directly, not through the function table (hooks see nothing).
  jstring newString(JNIEnv* env, const std::string& utf8);
  jobjectArray newStringArray(JNIEnv* env, const std::vector<std::string>& utf8);
  std::string stringValue(JNIEnv* env, jstring string) const;  // as UTF-8

  // --- local reference internals ------------------------------------------
  // The segment state word at kSegmentStateOffset of the env object. The VM
  // rewrites it whenever the thread's local reference table changes.
  static std::uint32_t segmentState(JNIEnv* env);
  static void setSegmentState(JNIEnv* env, std::uint32_t word);
  // A local reference value for `slot` as the runtime of `sdkInt` encodes it:
  // above 25 slot << 4 | kind, at 25 and below serial << 20 | slot << 2 | kind.
  static jobject encodeLocalRef(int sdkInt, std::uint32_t slot, std::uint32_t serial = 0);

  class Impl;
  Impl& impl() { return *impl_; }

 private:
  jmethodID requireMethod(const std::string& cls, const std::string& name, const std::string& sig) const;
  std::unique_ptr<Impl> impl_;
};

template <typename R, typename... A>
R TestVm::invoke(JNIEnv* env, jmethodID method, jobject receiver, A... args) {
  static constexpr char kArgKinds[] = {detail::JniKind<A>::value..., '\0'};
  CallFrame frame(env, method, receiver, detail::JniKind<R>::value, kArgKinds);
  if (!frame.ready()) {
    frame.finish(nullptr);
    if constexpr (std::is_void_v<R>) return;
    else return R{};
  }
  if (frame.isNative()) {
    auto fn = reinterpret_cast<R (*)(JNIEnv*, jobject, A...)>(frame.entry());
    if constexpr (std::is_void_v<R>) {
      fn(env, frame.self(), args...);
      frame.finish(nullptr);
    } else if constexpr (std::is_pointer_v<R>) {
      return static_cast<R>(frame.finish(fn(env, frame.self(), args...)));
    } else {
      R result = fn(env, frame.self(), args...);
      frame.finish(nullptr);
      return result;
    }
  } else {
    const jvalue values[] = {detail::toJvalue(args)..., jvalue{}};
    jvalue result = frame.callHost(values);
    if constexpr (std::is_void_v<R>) {
      frame.finish(nullptr);
    } else if constexpr (std::is_pointer_v<R>) {
      return static_cast<R>(frame.finish(result.l));
    } else {
      frame.finish(nullptr);
      return detail::fromJvalue<R>(result);
    }
  }
}

}  // namespace testvm
