// Thread-start tracking end to end: the monitor library loaded by the test VM,
// driven through the host's native methods, observed through what the VM's
// Thread.start() writes and what the host's callback receives.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "testvm/TestVm.h"

namespace {

using testvm::ObjectId;
using testvm::TestVm;
using testvm::VmOptions;

constexpr const char* kCounterClass = "com/trivane/test/Counter";
constexpr size_t kSetLongFieldIndex = 110;

VmOptions withCounterClass(VmOptions options = {}) {
  testvm::FieldDef count;
  count.name = "count";
  count.signature = "J";
  count.isStatic = false;
  options.extraClasses.push_back(testvm::ClassDef{kCounterClass, "java/lang/Object", {count}, {}});
  return options;
}

class ThreadTracking : public testing::Test {
 protected:
  // Every test owns its process, so the process VM takes this test's options.
  void start(const VmOptions& options = withCounterClass()) {
    vm_ = &TestVm::processVm(options);
    env_ = vm_->env();
    ASSERT_EQ(vm_->loadLibrary(MONITOR_LIBRARY), JNI_VERSION_1_4) << vm_->lastLoadError();
  }
  void nativeThreadHook() { vm_->callStatic(env_, testvm::kMonitorClass, "nativeThreadHook", "()V"); }
  jint peakCount() {
    return vm_->callStatic<jint>(env_, testvm::kMonitorClass, "nativeGetJavaThreadPeakCount", "()I");
  }
  void* setLongFieldEntry() const { return reinterpret_cast<void*>(vm_->functionTable()->SetLongField); }
  std::vector<ObjectId> callbackObjects() const {
    std::vector<ObjectId> objects;
    for (const auto& call : vm_->threadCallbacks()) objects.push_back(call.threadObject);
    return objects;
  }
  int hookedLines() const {
    int lines = 0;
    for (const auto& text : vm_->hostInfoLog()) lines += text == "[setLongField hooked]";
    return lines;
  }
  jobject newObject(const char* cls) {
    jclass clazz = env_->FindClass(cls);
    return env_->AllocObject(clazz);
  }

  TestVm* vm_ = nullptr;
  JNIEnv* env_ = nullptr;
};

TEST_F(ThreadTracking, EveryNativePeerWriteCallsTheHostBackWithTheThread) {
  start();
  nativeThreadHook();
  EXPECT_EQ(hookedLines(), 1);

  const ObjectId first = vm_->runJavaThread();
  const ObjectId second = vm_->runJavaThread();
  EXPECT_EQ(callbackObjects(), (std::vector<ObjectId>{first, second}));
  for (const auto& call : vm_->threadCallbacks()) EXPECT_EQ(call.caller, vm_->currentThreadId());

  // Whatever the value, each write of nativePeer is one more callback.
  jobject thread = newObject(testvm::kThreadClass);
  jfieldID nativePeer = vm_->fieldId(testvm::kThreadClass, testvm::kNativePeerField, "J");
  env_->SetLongField(thread, nativePeer, 0);
  env_->SetLongField(thread, nativePeer, 42);
  EXPECT_EQ(env_->GetLongField(thread, nativePeer), 42);
  const ObjectId written = vm_->objectId(env_, thread);
  EXPECT_EQ(callbackObjects(), (std::vector<ObjectId>{first, second, written, written}));
  EXPECT_TRUE(vm_->errors().empty());
}

TEST_F(ThreadTracking, OtherFieldsAreWrittenWithoutCallback) {
  start();
  nativeThreadHook();
  jobject counter = newObject(kCounterClass);
  jfieldID count = vm_->fieldId(kCounterClass, "count", "J");
  env_->SetLongField(counter, count, 7);
  env_->SetLongField(counter, count, -3);
  EXPECT_EQ(env_->GetLongField(counter, count), -3);
  EXPECT_TRUE(vm_->threadCallbacks().empty());
  EXPECT_TRUE(vm_->describedExceptions().empty());
  EXPECT_TRUE(vm_->errors().empty());
}

// The Thread field is resolved on any write; without the class every write
// prints the failed lookup, and still writes its field.
TEST_F(ThreadTracking, WithoutThreadClassEveryWritePrintsTheLookupAndStillWrites) {
  VmOptions options = withCounterClass();
  options.threadClass = false;
  start(options);
  nativeThreadHook();
  jobject counter = newObject(kCounterClass);
  jfieldID count = vm_->fieldId(kCounterClass, "count", "J");
  env_->SetLongField(counter, count, 7);
  env_->SetLongField(counter, count, 8);
  EXPECT_EQ(env_->GetLongField(counter, count), 8);
  EXPECT_EQ(vm_->describedExceptions(), std::vector<std::string>(2, "java/lang/NoClassDefFoundError"));
  EXPECT_FALSE(vm_->exceptionPending(env_));
  EXPECT_TRUE(vm_->threadCallbacks().empty());
}

// A write made with the app's exception pending is the app's own misuse; the
// tracker leaves that exception alone and calls nothing with it pending.
TEST_F(ThreadTracking, WriteWithAppExceptionPendingLeavesItPendingAndCallsNothing) {
  start();
  nativeThreadHook();
  jobject thread = newObject(testvm::kThreadClass);
  jfieldID nativePeer = vm_->fieldId(testvm::kThreadClass, testvm::kNativePeerField, "J");
  env_->ThrowNew(env_->FindClass("java/lang/IllegalArgumentException"), "app");
  env_->SetLongField(thread, nativePeer, 1);

  EXPECT_EQ(vm_->pendingExceptionClass(env_), "java/lang/IllegalArgumentException");
  EXPECT_TRUE(vm_->threadCallbacks().empty());
  EXPECT_TRUE(vm_->describedExceptions().empty());
  ASSERT_EQ(vm_->errors().size(), 1u);
  EXPECT_EQ(vm_->errors()[0].entry, "SetLongField");
  env_->ExceptionClear();
}

TEST_F(ThreadTracking, SecondNativeThreadHookChangesNothing) {
  start();
  void* runtimeEntry = setLongFieldEntry();
  nativeThreadHook();
  void* hooked = setLongFieldEntry();
  ASSERT_NE(hooked, runtimeEntry);
  nativeThreadHook();
  EXPECT_EQ(setLongFieldEntry(), hooked);
  EXPECT_EQ(hookedLines(), 1);
  vm_->runJavaThread();
  EXPECT_EQ(vm_->threadCallbacks().size(), 1u);
}

TEST_F(ThreadTracking, MissingCallbackClassLeavesThreadStartsWorking) {
  VmOptions options = withCounterClass();
  options.threadCallbackClass = false;
  start(options);
  nativeThreadHook();
  int ran = 0;
  vm_->runJavaThread([&](JNIEnv*) { ++ran; });
  vm_->runJavaThread([&](JNIEnv*) { ++ran; });
  EXPECT_EQ(ran, 2);
  EXPECT_TRUE(vm_->threadCallbacks().empty());
  // Tried again at every start, each time printing the failed lookup.
  EXPECT_EQ(vm_->describedExceptions(), std::vector<std::string>(2, "java/lang/NoClassDefFoundError"));
  EXPECT_FALSE(vm_->exceptionPending(env_));
  EXPECT_TRUE(vm_->errors().empty());
}

TEST_F(ThreadTracking, PeakCountIsZeroBeforeAndAfterTracking) {
  start();
  EXPECT_EQ(peakCount(), 0);
  nativeThreadHook();
  vm_->runJavaThread();
  EXPECT_EQ(peakCount(), 0);
}

// Another replacement of SetLongField that counts and calls the entry it
// replaced, as the argument checker does.
std::atomic<int> g_otherCalls{0};
void (*g_otherSaved)(JNIEnv*, jobject, jfieldID, jlong) = nullptr;

void otherSetLongField(JNIEnv* env, jobject obj, jfieldID field, jlong value) {
  ++g_otherCalls;
  g_otherSaved(env, obj, field, value);
}

void installOther(TestVm& vm) {
  auto* table = const_cast<JNINativeInterface_*>(vm.functionTable());
  g_otherSaved = table->SetLongField;
  const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  void** slot = reinterpret_cast<void**>(table) + kSetLongFieldIndex;
  const uintptr_t page = reinterpret_cast<uintptr_t>(slot) & ~(pageSize - 1);
  ASSERT_EQ(mprotect(reinterpret_cast<void*>(page), pageSize, PROT_READ | PROT_WRITE), 0);
  *slot = reinterpret_cast<void*>(&otherSetLongField);
}

class ThreadTrackingChained : public ThreadTracking, public testing::WithParamInterface<bool> {};

TEST_P(ThreadTrackingChained, BothReplacementsRunOnEveryWrite) {
  const bool otherFirst = GetParam();
  start();
  if (otherFirst) installOther(*vm_);
  nativeThreadHook();
  if (!otherFirst) installOther(*vm_);

  const ObjectId thread = vm_->runJavaThread();
  jobject counter = newObject(kCounterClass);
  jfieldID count = vm_->fieldId(kCounterClass, "count", "J");
  env_->SetLongField(counter, count, 5);

  EXPECT_EQ(g_otherCalls.load(), 2);
  EXPECT_EQ(callbackObjects(), std::vector<ObjectId>{thread});
  EXPECT_EQ(env_->GetLongField(counter, count), 5);
}

INSTANTIATE_TEST_SUITE_P(Order, ThreadTrackingChained, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "OtherInstalledFirst" : "OtherInstalledSecond";
                         });

}  // namespace
