#include "TestVm.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "Loader.h"
#include "MethodCalls.h"
#include "ModifiedUtf8.h"
#include "VmImpl.h"

namespace testvm {
namespace {

[[noreturn]] void fatal(const std::string& message) {
  std::fprintf(stderr, "testvm: %s\n", message.c_str());
  std::abort();
}

ThreadState* requireAttached(TestVm::Impl& impl, const char* what) {
  ThreadState* ts = impl.current();
  if (ts == nullptr) fatal(std::string(what) + " needs a thread attached to the VM");
  return ts;
}

}  // namespace

// --- TestVm --------------------------------------------------------------------

TestVm::TestVm(VmOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

TestVm::~TestVm() = default;

TestVm& TestVm::processVm(const VmOptions& options) {
  // Never destroyed: the monitor library keeps the VM's pointers until exit.
  static TestVm* vm = new TestVm(options);
  return *vm;
}

JavaVM* TestVm::javaVm() { return impl_->javaVm(); }
JNIEnv* TestVm::env() { return impl_->hostThread()->jniEnv(); }

JNIEnv* TestVm::currentEnv() {
  ThreadState* ts = impl_->current();
  return ts == nullptr ? nullptr : ts->jniEnv();
}

int TestVm::sdkInt() const { return impl_->sdkInt; }
const JNINativeInterface_* TestVm::functionTable() const { return impl_->table(); }

void TestVm::defineClass(const ClassDef& def) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->defineClass(def);
}

jmethodID TestVm::methodId(const std::string& cls, const std::string& name, const std::string& sig) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Class* c = impl_->findClass(cls);
  if (c == nullptr) return nullptr;
  MethodInfo* m = impl_->findMethod(c, name, sig, true);
  if (m == nullptr) m = impl_->findMethod(c, name, sig, false);
  return m == nullptr ? nullptr : impl_->idOf(*m);
}

jfieldID TestVm::fieldId(const std::string& cls, const std::string& name, const std::string& sig) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Class* c = impl_->findClass(cls);
  if (c == nullptr) return nullptr;
  Field* f = impl_->findField(c, name, sig, true);
  if (f == nullptr) f = impl_->findField(c, name, sig, false);
  return reinterpret_cast<jfieldID>(f);
}

jmethodID TestVm::requireMethod(const std::string& cls, const std::string& name, const std::string& sig) const {
  jmethodID id = methodId(cls, name, sig);
  if (id == nullptr) fatal("no method " + cls + "." + name + sig);
  return id;
}

void* TestVm::nativeEntry(jmethodID method) {
  auto* word = reinterpret_cast<void**>(reinterpret_cast<char*>(method) + kNativeEntryOffset);
  return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}

std::optional<std::string> TestVm::nativeLoad(const std::string& path, const std::string& librarySearchPath) {
  ThreadState* ts = requireAttached(*impl_, "nativeLoad");
  JNIEnv* env = ts->jniEnv();
  jstring name;
  jobject loader;
  jstring searchPath;
  {
    // The arguments live in a frame of their own, as Java's would not be in
    // the table at all.
    std::lock_guard<std::mutex> lock(impl_->mutex);
    ts->locals.pushFrame(FrameKind::kPushedFrame);
    name = static_cast<jstring>(impl_->addLocal(ts, impl_->newString(utf8ToUtf16(path)), "nativeLoad"));
    loader = impl_->addLocal(ts, impl_->appClassLoader, "nativeLoad");
    searchPath = static_cast<jstring>(impl_->addLocal(ts, impl_->newString(utf8ToUtf16(librarySearchPath)), "nativeLoad"));
  }
  jstring error = callStatic<jstring>(env, kRuntimeClass, kNativeLoadMethod, kNativeLoadSignature, name, loader,
                                      searchPath);
  std::optional<std::string> result;
  if (error != nullptr) result = stringValue(env, error);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  ts->locals.popPushedFrame();
  return result;
}

jint TestVm::loadLibrary(const std::string& path) {
  ThreadState* ts = requireAttached(*impl_, "loadLibrary");
  LoadOutcome outcome = openLibrary(*impl_, path);
  if (outcome.status == LoadOutcome::kDlopenFailed || outcome.onLoad == nullptr) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->lastLoadError = outcome.onLoad == nullptr && outcome.status != LoadOutcome::kDlopenFailed
                               ? "no JNI_OnLoad in " + path
                               : outcome.error;
    return outcome.status == LoadOutcome::kDlopenFailed ? kDlopenFailed : kNoJniOnLoad;
  }
  return callOnLoad(*impl_, ts, outcome.onLoad);
}

std::string TestVm::lastLoadError() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->lastLoadError;
}

// --- threads -------------------------------------------------------------------

ThreadId TestVm::currentThreadId() { return currentOsThreadId(); }

NativeThreadRun TestVm::runOnNativeThread(const std::function<void()>& fn) {
  NativeThreadRun run{};
  std::thread thread([&] {
    run.id = currentOsThreadId();
    fn();
    run.attachedAtExit = impl_->current() != nullptr;
  });
  thread.join();
  ThreadCounters counters = impl_->counters(run.id);
  run.attaches = counters.attaches;
  run.detaches = counters.detaches;
  return run;
}

ObjectId TestVm::runJavaThread(const std::function<void(JNIEnv*)>& body) {
  ThreadState* parent = requireAttached(*impl_, "runJavaThread");
  Object* peer;
  ThreadState* child;
  jobject peerHandle;
  Field* nativePeer;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Class* threadClass = impl_->findClass(kThreadClass);
    if (threadClass == nullptr) fatal("runJavaThread needs java/lang/Thread");
    nativePeer = impl_->findField(threadClass, kNativePeerField, "J", false);
    impl_->maybeCollect();
    peer = impl_->allocate(threadClass);
    child = impl_->prepareJavaThread(peer);
    peerHandle = impl_->pushHandle(parent, peer);
  }
  // Thread.nativeCreate: the parent publishes the child's Thread* in the peer
  // through JNI before the child runs.
  parent->jniEnv()->SetLongField(peerHandle, reinterpret_cast<jfieldID>(nativePeer),
                                 static_cast<jlong>(reinterpret_cast<std::intptr_t>(child)));
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    parent->handles.pop_back();
  }
  std::thread thread([&] {
    impl_->bindPrepared(child);
    if (body) body(child->jniEnv());
    {
      // The runtime clears the peer directly when the thread ends.
      std::lock_guard<std::mutex> lock(impl_->mutex);
      peer->fields[nativePeer->slot].j = 0;
    }
    impl_->detachCurrent(child, true);
  });
  thread.join();
  return reinterpret_cast<ObjectId>(peer);
}

ThreadCounters TestVm::threadCounters(ThreadId thread) const { return impl_->counters(thread); }
std::size_t TestVm::attachedThreadCount() const { return impl_->attachedCount(); }

// --- recordings ----------------------------------------------------------------

std::vector<HostLogLine> TestVm::hostLog() const {
  std::lock_guard<std::mutex> lock(impl_->recorder.mutex);
  return impl_->recorder.hostLog;
}

namespace {
std::vector<std::string> textsAt(const std::vector<HostLogLine>& log, HostLogLine::Level level) {
  std::vector<std::string> texts;
  for (const HostLogLine& line : log) {
    if (line.level == level) texts.push_back(line.text);
  }
  return texts;
}
}  // namespace

std::vector<std::string> TestVm::hostErrorLog() const { return textsAt(hostLog(), HostLogLine::kError); }
std::vector<std::string> TestVm::hostInfoLog() const { return textsAt(hostLog(), HostLogLine::kInfo); }

std::vector<Report> TestVm::reports() const {
  std::lock_guard<std::mutex> lock(impl_->recorder.mutex);
  return impl_->recorder.reports;
}

std::vector<ThreadCallback> TestVm::threadCallbacks() const {
  std::lock_guard<std::mutex> lock(impl_->recorder.mutex);
  return impl_->recorder.threadCallbacks;
}

int TestVm::dumpReferenceTablesCalls() const {
  std::lock_guard<std::mutex> lock(impl_->recorder.mutex);
  return impl_->recorder.dumpReferenceTablesCalls;
}

std::vector<std::string> TestVm::describedExceptions() const {
  std::lock_guard<std::mutex> lock(impl_->recorder.mutex);
  return impl_->recorder.describedExceptions;
}

void TestVm::clearRecordings() {
  std::lock_guard<std::mutex> lock(impl_->recorder.mutex);
  Recorder& r = impl_->recorder;
  r.hostLog.clear();
  r.reports.clear();
  r.threadCallbacks.clear();
  r.dumpReferenceTablesCalls = 0;
  r.describedExceptions.clear();
  r.errors.clear();
}

std::vector<VmError> TestVm::errors() const {
  std::lock_guard<std::mutex> lock(impl_->recorder.mutex);
  return impl_->recorder.errors;
}

// --- runtime state ----------------------------------------------------------------

std::size_t TestVm::pendingPins() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::size_t count = 0;
  for (const auto& pin : impl_->pins) count += pin.second.count;
  return count;
}

std::size_t TestVm::globalRefCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->globals.size();
}

std::size_t TestVm::weakGlobalRefCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->weakGlobals.size();
}

std::uint32_t TestVm::topIndex(JNIEnv* env) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return ThreadState::of(env)->locals.top();
}

std::size_t TestVm::localRefCount(JNIEnv* env) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return ThreadState::of(env)->locals.liveCount();
}

bool TestVm::exceptionPending(JNIEnv* env) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return ThreadState::of(env)->pendingException != nullptr;
}

std::string TestVm::pendingExceptionClass(JNIEnv* env) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Object* t = ThreadState::of(env)->pendingException;
  return t == nullptr ? std::string() : t->klass->name;
}

std::string TestVm::pendingExceptionMessage(JNIEnv* env) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Object* t = ThreadState::of(env)->pendingException;
  return t == nullptr || !t->message ? std::string() : *t->message;
}

// --- objects -------------------------------------------------------------------

ObjectId TestVm::objectId(JNIEnv* env, jobject ref) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return reinterpret_cast<ObjectId>(impl_->decode(ThreadState::of(env), ref, "objectId"));
}

void TestVm::collectGarbage() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->collect();
}

jstring TestVm::newString(JNIEnv* env, const std::string& utf8) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->maybeCollect();
  return static_cast<jstring>(impl_->addLocal(ThreadState::of(env), impl_->newString(utf8ToUtf16(utf8)), "newString"));
}

jobjectArray TestVm::newStringArray(JNIEnv* env, const std::vector<std::string>& utf8) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->maybeCollect();
  Object* array = impl_->newObjectArray(impl_->requireClass("java/lang/String"), static_cast<std::int32_t>(utf8.size()));
  for (std::size_t i = 0; i < utf8.size(); ++i) array->elements[i] = impl_->newString(utf8ToUtf16(utf8[i]));
  return static_cast<jobjectArray>(impl_->addLocal(ThreadState::of(env), array, "newStringArray"));
}

std::string TestVm::stringValue(JNIEnv* env, jstring string) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Object* s = impl_->decode(ThreadState::of(env), string, "stringValue");
  return s == nullptr ? std::string() : utf16ToUtf8(s->chars.get(), static_cast<size_t>(s->length));
}

// --- local reference internals ----------------------------------------------------

std::uint32_t TestVm::segmentState(JNIEnv* env) { return reinterpret_cast<EnvObject*>(env)->segmentState; }

void TestVm::setSegmentState(JNIEnv* env, std::uint32_t word) {
  reinterpret_cast<EnvObject*>(env)->segmentState = word;
}

jobject TestVm::encodeLocalRef(int sdkInt, std::uint32_t slot, std::uint32_t serial) {
  return encodeRef(sdkInt, slot, serial, kLocalRef);
}

}  // namespace testvm
