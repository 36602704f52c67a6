// The thread tracker's own units, linked statically: first resolutions racing
// on several threads, two first installations at once, and a replacement
// without a saved entry.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "testvm/TestVm.h"
#include "core/NativeMonitor.h"
#include "jni/host_log.h"
#include "jni/jni_env.h"
#include "thread/LongSetFieldHooker.h"

namespace {

using testvm::TestVm;

// Lets `parties` threads through only once all of them have arrived.
class StartLine {
 public:
  explicit StartLine(int parties) : waiting_(parties) {}
  void arriveAndWait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) {
      open_.notify_all();
      return;
    }
    open_.wait(lock, [this] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  int waiting_;
};

// Runs `fn` on `count` threads attached to the VM, at once.
void onAttachedThreads(TestVm& vm, int count, const std::function<void(JNIEnv*)>& fn) {
  StartLine line(count);
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&] {
      JNIEnv* env = nullptr;
      ASSERT_EQ(vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr), JNI_OK);
      line.arriveAndWait();
      fn(env);
      vm.javaVm()->DetachCurrentThread();
    });
  }
  for (auto& thread : threads) thread.join();
}

constexpr int kRacers = 4;

// Java threads (an attached native thread cannot find the app's callback class)
// resolve both identifiers at the same moment; one global reference per class
// survives.
TEST(ThreadIdentifiers, FirstResolutionsRacingAgreeAndKeepOneReferencePerClass) {
  TestVm vm;
  const size_t globalsBefore = vm.globalRefCount();
  StartLine line(kRacers);
  std::vector<int> fieldResults(kRacers), methodResults(kRacers);
  std::vector<std::thread> starters;
  for (int i = 0; i < kRacers; ++i) {
    starters.emplace_back([&, i] {
      JNIEnv* env = nullptr;
      ASSERT_EQ(vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr), JNI_OK);
      vm.runJavaThread([&](JNIEnv* javaEnv) {
        line.arriveAndWait();
        fieldResults[i] = ensureThreadFiledIDInit(javaEnv);
        methodResults[i] = ensureJobReportMethodInit(javaEnv);
      });
      vm.javaVm()->DetachCurrentThread();
    });
  }
  for (auto& starter : starters) starter.join();

  EXPECT_EQ(fieldResults, std::vector<int>(kRacers, 1));
  EXPECT_EQ(methodResults, std::vector<int>(kRacers, 1));
  EXPECT_EQ(vm.globalRefCount(), globalsBefore + 2);
  EXPECT_TRUE(vm.describedExceptions().empty());
  EXPECT_TRUE(vm.errors().empty());
}

TEST(ThreadIdentifiers, TwoFirstHookRequestsAtOnceInstallOnce) {
  TestVm vm;
  g_vm = vm.javaVm();
  // The host log's class can only be found from a host thread.
  ASSERT_TRUE(ensureLogClassInit(vm.env()));
  ASSERT_TRUE(ensureLogMethodInit(vm.env()));
  auto runtimeEntry = vm.functionTable()->SetLongField;

  onAttachedThreads(vm, 2, [](JNIEnv* env) { NativeMonitor::getInstance()->hookLongSetField(env); });

  EXPECT_EQ(originalSetLongField, runtimeEntry);
  EXPECT_EQ(vm.functionTable()->SetLongField, &LongSetFieldHooker::hookedSetLongField);
  EXPECT_EQ(vm.hostInfoLog(), std::vector<std::string>{"[setLongField hooked]"});
  vm.runJavaThread();
  EXPECT_EQ(vm.threadCallbacks().size(), 1u);
}

TEST(ThreadIdentifiers, ReplacementWithoutSavedEntryDropsTheWrite) {
  TestVm vm;
  JNIEnv* env = vm.env();
  jclass threadClass = env->FindClass(testvm::kThreadClass);
  jobject thread = env->AllocObject(threadClass);
  jfieldID nativePeer = vm.fieldId(testvm::kThreadClass, testvm::kNativePeerField, "J");

  LogCapture cap;
  LongSetFieldHooker::hookedSetLongField(env, thread, nativePeer, 42);
  EXPECT_EQ(cap.texts("MemoryTrackerDemo"), std::vector<std::string>{"oringal SetLongField is null"});
  EXPECT_EQ(env->GetLongField(thread, nativePeer), 0);
  EXPECT_TRUE(vm.threadCallbacks().empty());
}

}  // namespace
