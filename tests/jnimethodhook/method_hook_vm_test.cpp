// The offset search and the entry replacement on the test VM's method records,
// whose native entry sits at a fixed offset and is read at every call.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "testvm/TestVm.h"
#include "jni_method_hook.h"

namespace {

using testvm::TestVm;
using testvm::VmOptions;

void jniMark(JNIEnv*, jclass) {}

jint pokeOriginal(JNIEnv*, jobject) { return 1; }
jint pokeReplacement(JNIEnv*, jobject) { return 2; }

std::atomic<int> g_replacementCalls{0};
void* g_savedNativeLoad = nullptr;

jstring countingNativeLoad(JNIEnv* env, jclass runtime, jstring path, jobject loader, jstring searchPath) {
  ++g_replacementCalls;
  auto original = reinterpret_cast<jstring (*)(JNIEnv*, jclass, jstring, jobject, jstring)>(g_savedNativeLoad);
  return original(env, runtime, path, loader, searchPath);
}

constexpr const char* kInstanceOnlyClass = "com/trivane/test/InstanceOnly";

VmOptions withMark2At(int position) {
  VmOptions options;
  options.probeMark2Position = position;
  testvm::ClassDef instanceOnly{kInstanceOnlyClass, "java/lang/Object", {}, {}};
  testvm::MethodDef poke;
  poke.name = "poke";
  poke.signature = "()I";
  poke.isStatic = false;
  poke.isNative = true;
  poke.nativeEntry = reinterpret_cast<void*>(&pokeOriginal);
  instanceOnly.methods.push_back(poke);
  options.extraClasses.push_back(instanceOnly);
  return options;
}

class MethodHookOnVm : public testing::Test {
 protected:
  MethodHookOnVm() : vm_(withMark2At(1)) { globalOffset = 0; }

  // What the monitor does at start-up: jniMark registered as "mark", then the search.
  bool registerMarkAndSearch() {
    JNIEnv* env = vm_.env();
    jclass probe = env->FindClass(testvm::kProbeClass);
    JNINativeMethod mark{const_cast<char*>("mark"), const_cast<char*>("()V"),
                         reinterpret_cast<void*>(&jniMark)};
    EXPECT_EQ(env->RegisterNatives(probe, &mark, 1), JNI_OK);
    env->DeleteLocalRef(probe);
    return search(reinterpret_cast<void*>(&jniMark));
  }
  bool search(void* function) {
    return initJniMethodHook(vm_.env(), vm_.methodId(testvm::kProbeClass, "mark", "()V"),
                             vm_.methodId(testvm::kProbeClass, "mark2", "()V"), function);
  }

  TestVm vm_;
};

class ProbeNeighbours : public testing::TestWithParam<int> {};

TEST_P(ProbeNeighbours, SearchFindsTheRuntimesEntryOffset) {
  globalOffset = 0;
  TestVm vm(withMark2At(GetParam()));
  JNIEnv* env = vm.env();
  jclass probe = env->FindClass(testvm::kProbeClass);
  JNINativeMethod mark{const_cast<char*>("mark"), const_cast<char*>("()V"),
                       reinterpret_cast<void*>(&jniMark)};
  ASSERT_EQ(env->RegisterNatives(probe, &mark, 1), JNI_OK);

  EXPECT_TRUE(initJniMethodHook(env, vm.methodId(testvm::kProbeClass, "mark", "()V"),
                                vm.methodId(testvm::kProbeClass, "mark2", "()V"),
                                reinterpret_cast<void*>(&jniMark)));
  EXPECT_EQ(globalOffset, static_cast<int32_t>(TestVm::kNativeEntryOffset));
}

// mark2 one record after mark (40 bytes), five after (200 bytes, the scan stops
// at 100), and the same before mark.
INSTANTIATE_TEST_SUITE_P(Mark2Positions, ProbeNeighbours, testing::Values(1, 5, -1, -5));

TEST_F(MethodHookOnVm, UnregisteredProbeGivesNoOffset) {
  EXPECT_FALSE(search(reinterpret_cast<void*>(&jniMark)));
  EXPECT_EQ(globalOffset, 0);
}

TEST_F(MethodHookOnVm, ReplacedNativeLoadIsEnteredAndReachesTheRuntimesLoader) {
  const std::string missing = "/nonexistent/libnothing.so";
  const auto unhookedError = vm_.nativeLoad(missing);
  ASSERT_TRUE(unhookedError.has_value());
  void* runtimeEntry = TestVm::nativeEntry(
      vm_.methodId(testvm::kRuntimeClass, testvm::kNativeLoadMethod, testvm::kNativeLoadSignature));

  ASSERT_TRUE(registerMarkAndSearch());
  ASSERT_TRUE(hookJniMethod(vm_.env(), testvm::kRuntimeClass, testvm::kNativeLoadMethod,
                            testvm::kNativeLoadSignature, reinterpret_cast<void*>(&countingNativeLoad),
                            &g_savedNativeLoad));
  EXPECT_EQ(g_savedNativeLoad, runtimeEntry);

  EXPECT_EQ(vm_.nativeLoad(missing), unhookedError);
  EXPECT_EQ(vm_.nativeLoad(LOADABLE_LIBRARY), std::nullopt);
  EXPECT_EQ(g_replacementCalls.load(), 2);
  EXPECT_TRUE(vm_.describedExceptions().empty());
}

TEST_F(MethodHookOnVm, InstanceOnlyMethodIsFoundThroughTheSecondLookup) {
  ASSERT_TRUE(registerMarkAndSearch());
  void* saved = nullptr;
  ASSERT_TRUE(hookJniMethod(vm_.env(), kInstanceOnlyClass, "poke", "()I",
                            reinterpret_cast<void*>(&pokeReplacement), &saved));
  EXPECT_EQ(saved, reinterpret_cast<void*>(&pokeOriginal));

  JNIEnv* env = vm_.env();
  jclass cls = env->FindClass(kInstanceOnlyClass);
  jobject instance = env->AllocObject(cls);
  EXPECT_EQ(vm_.callMethod<jint>(env, instance, kInstanceOnlyClass, "poke", "()I"), 2);
  // The failed static lookup was printed and cleared.
  EXPECT_EQ(vm_.describedExceptions(), std::vector<std::string>{"java/lang/NoSuchMethodError"});
  EXPECT_FALSE(vm_.exceptionPending(env));
}

struct MissingCase {
  const char* name;
  const char* className;
  const char* methodName;
  std::vector<std::string> described;  // printed by the runtime: one per failed lookup
};

void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.name; }

class MethodHookMissing : public MethodHookOnVm, public testing::WithParamInterface<MissingCase> {};

TEST_P(MethodHookMissing, FailsWithTheExceptionPrintedAndCleared) {
  ASSERT_TRUE(registerMarkAndSearch());
  void* saved = reinterpret_cast<void*>(&jniMark);
  EXPECT_FALSE(hookJniMethod(vm_.env(), GetParam().className, GetParam().methodName, "()V",
                             reinterpret_cast<void*>(&pokeReplacement), &saved));
  EXPECT_EQ(saved, reinterpret_cast<void*>(&jniMark));
  EXPECT_EQ(vm_.describedExceptions(), GetParam().described);
  EXPECT_FALSE(vm_.exceptionPending(vm_.env()));
  EXPECT_TRUE(vm_.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MethodHookMissing,
    testing::Values(MissingCase{"Class", "com/trivane/test/NoSuchClass", "poke", {"java/lang/NoClassDefFoundError"}},
                    MissingCase{"Method", kInstanceOnlyClass, "noSuchMethod", {"java/lang/NoSuchMethodError", "java/lang/NoSuchMethodError"}}),
    [](const testing::TestParamInfo<MissingCase>& info) { return info.param.name; });

}  // namespace
