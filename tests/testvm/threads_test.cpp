// Environments per thread: GetEnv, attach and detach with their counters,
// class lookup on an attached native thread, and Java thread start.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "testvm/TestVm.h"

namespace {

using testvm::ClassDef;
using testvm::MethodDef;
using testvm::TestVm;
using testvm::VmError;
using testvm::VmOptions;

jboolean JNICALL findsProbe(JNIEnv* env, jclass) {
  jclass probe = env->FindClass(testvm::kProbeClass);
  env->ExceptionClear();
  return probe != nullptr;
}

VmOptions withFinder() {
  VmOptions o;
  o.extraClasses.push_back(ClassDef{"com/example/Finder", "java/lang/Object", {},
                                    {MethodDef{"findsProbe", "()Z", true, true, {},
                                               reinterpret_cast<void*>(&findsProbe)}}});
  return o;
}

TEST(Threads, GetEnvTellsAttachedDetachedAndUnsupportedVersions) {
  TestVm vm;
  JNIEnv* env = nullptr;
  for (jint version : {JNI_VERSION_1_1, JNI_VERSION_1_2, JNI_VERSION_1_4, JNI_VERSION_1_6}) {
    EXPECT_EQ(vm.javaVm()->GetEnv(reinterpret_cast<void**>(&env), version), JNI_OK) << version;
    EXPECT_EQ(env, vm.env());
  }
  EXPECT_EQ(vm.javaVm()->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8), JNI_EVERSION);
  EXPECT_EQ(vm.javaVm()->GetEnv(reinterpret_cast<void**>(&env), 0x10005), JNI_EVERSION);
  jint detached = 0;
  vm.runOnNativeThread([&] {
    env = vm.env();
    detached = vm.javaVm()->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4);
  });
  EXPECT_EQ(detached, JNI_EDETACHED);
  EXPECT_EQ(env, nullptr);
}

TEST(Threads, AttachAndDetachAreCountedPerThread) {
  TestVm vm;
  EXPECT_EQ(vm.attachedThreadCount(), 1u);
  JNIEnv* first = nullptr;
  JNIEnv* second = nullptr;
  std::size_t attachedInside = 0;
  testvm::NativeThreadRun run = vm.runOnNativeThread([&] {
    vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&first), nullptr);
    vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&second), nullptr);  // already attached
    attachedInside = vm.attachedThreadCount();
    EXPECT_EQ(vm.currentEnv(), first);
    EXPECT_EQ(vm.javaVm()->DetachCurrentThread(), JNI_OK);
    EXPECT_EQ(vm.javaVm()->DetachCurrentThread(), JNI_ERR);  // not attached any more
  });
  EXPECT_EQ(first, second);
  EXPECT_NE(first, vm.env());
  EXPECT_EQ(attachedInside, 2u);
  EXPECT_EQ(run.attaches, 1);
  EXPECT_EQ(run.detaches, 1);
  EXPECT_FALSE(run.attachedAtExit);
  EXPECT_EQ(vm.threadCounters(run.id).attaches, 1);
  EXPECT_EQ(vm.attachedThreadCount(), 1u);
  EXPECT_TRUE(vm.errors().empty());
}

TEST(Threads, ThreadEndingAttachedIsRecordedAndCleanedUp) {
  TestVm vm;
  testvm::NativeThreadRun run = vm.runOnNativeThread([&] {
    JNIEnv* env = nullptr;
    vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  });
  EXPECT_TRUE(run.attachedAtExit);
  EXPECT_EQ(run.detaches, 0);
  EXPECT_EQ(vm.attachedThreadCount(), 1u);
  ASSERT_EQ(vm.errors().size(), 1u);
  EXPECT_EQ(vm.errors()[0].kind, VmError::kThreadExitedAttached);
}

TEST(Threads, AttachedNativeThreadFindsSystemClassesButNoAppClass) {
  TestVm vm(withFinder());
  jclass finder = static_cast<jclass>(vm.env()->NewGlobalRef(vm.env()->FindClass("com/example/Finder")));
  jclass app = nullptr;
  jclass system = nullptr;
  std::string pending;
  jboolean foundInNative = JNI_FALSE;
  vm.runOnNativeThread([&] {
    JNIEnv* env = nullptr;
    vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    app = env->FindClass(testvm::kProbeClass);
    pending = vm.pendingExceptionClass(env);
    env->ExceptionClear();
    system = env->FindClass("java/lang/Thread");
    // Inside a Java method the method's class loader is used, as on Android.
    foundInNative = env->CallStaticBooleanMethod(finder, env->GetStaticMethodID(finder, "findsProbe", "()Z"));
    vm.javaVm()->DetachCurrentThread();
  });
  EXPECT_EQ(app, nullptr);
  EXPECT_EQ(pending, "java/lang/NoClassDefFoundError");
  EXPECT_NE(system, nullptr);
  EXPECT_TRUE(foundInNative);
}

// SetLongField as installed in the table before the test replaced it.
void (*g_originalSetLongField)(JNIEnv*, jobject, jfieldID, jlong);
struct PeerWrite {
  testvm::ObjectId object;
  jfieldID field;
  jlong value;
  testvm::ThreadId thread;
};
std::vector<PeerWrite> g_writes;
TestVm* g_vm;

void JNICALL recordingSetLongField(JNIEnv* env, jobject obj, jfieldID field, jlong value) {
  g_originalSetLongField(env, obj, field, value);
  g_writes.push_back(PeerWrite{g_vm->objectId(env, obj), field, value, g_vm->currentThreadId()});
}

TEST(Threads, JavaThreadStartWritesNativePeerThroughTheTable) {
  TestVm vm(withFinder());
  g_vm = &vm;
  g_writes.clear();
  auto* table = const_cast<JNINativeInterface_*>(vm.functionTable());
  auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  ASSERT_EQ(mprotect(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(table) & ~(page - 1)), page,
                     PROT_READ | PROT_WRITE),
            0);
  g_originalSetLongField = table->SetLongField;
  table->SetLongField = recordingSetLongField;

  testvm::ThreadId bodyThread = 0;
  bool bodyFoundProbe = false;
  testvm::ObjectId thread = vm.runJavaThread([&](JNIEnv* env) {
    bodyThread = vm.currentThreadId();
    bodyFoundProbe = env->FindClass(testvm::kProbeClass) != nullptr;
  });
  ASSERT_EQ(g_writes.size(), 1u);
  EXPECT_EQ(g_writes[0].object, thread);
  EXPECT_EQ(g_writes[0].field, vm.fieldId(testvm::kThreadClass, "nativePeer", "J"));
  EXPECT_NE(g_writes[0].value, 0);
  EXPECT_EQ(g_writes[0].thread, vm.currentThreadId());  // written by the starting thread
  EXPECT_NE(bodyThread, vm.currentThreadId());
  EXPECT_TRUE(bodyFoundProbe);
  EXPECT_EQ(vm.threadCounters(bodyThread).attaches, 1);
  EXPECT_EQ(vm.threadCounters(bodyThread).detaches, 1);
  EXPECT_EQ(vm.attachedThreadCount(), 1u);
  EXPECT_TRUE(vm.errors().empty());
}

TEST(Threads, EnvUsedOnAnotherThreadIsRecorded) {
  TestVm vm;
  JNIEnv* hostEnv = vm.env();
  vm.runOnNativeThread([&] { hostEnv->GetVersion(); });
  ASSERT_EQ(vm.errors().size(), 1u);
  EXPECT_EQ(vm.errors()[0].kind, VmError::kWrongThread);
}

}  // namespace

namespace {

TEST(Threads, ConcurrentThreadsShareTheVm) {
  TestVm vm;
  JNIEnv* host = vm.env();
  jclass stringClass = static_cast<jclass>(host->NewGlobalRef(host->FindClass("java/lang/String")));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      JNIEnv* env = nullptr;
      vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
      for (int i = 0; i < 200; ++i) {
        jstring s = env->NewStringUTF("shared");
        jobject global = env->NewGlobalRef(s);
        jweak weak = env->NewWeakGlobalRef(s);
        jobjectArray array = env->NewObjectArray(1, stringClass, s);
        EXPECT_TRUE(env->IsSameObject(env->GetObjectArrayElement(array, 0), global));
        env->DeleteWeakGlobalRef(weak);
        env->DeleteGlobalRef(global);
        env->DeleteLocalRef(array);
        env->DeleteLocalRef(s);
      }
      vm.javaVm()->DetachCurrentThread();
    });
  }
  for (int i = 0; i < 20; ++i) vm.collectGarbage();
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(vm.globalRefCount(), 1u);
  EXPECT_EQ(vm.weakGlobalRefCount(), 0u);
  EXPECT_EQ(vm.attachedThreadCount(), 1u);
  EXPECT_TRUE(vm.errors().empty());
}

}  // namespace
