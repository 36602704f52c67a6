// Method records, native entries read at every call, registration, and the
// runtime's library loading.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "testvm/TestVm.h"

namespace {

using testvm::ClassDef;
using testvm::MethodDef;
using testvm::TestVm;
using testvm::VmOptions;

char* chars(const char* s) { return const_cast<char*>(s); }

std::ptrdiff_t distance(jmethodID from, jmethodID to) {
  return reinterpret_cast<const char*>(to) - reinterpret_cast<const char*>(from);
}

class ProbeLayout : public testing::TestWithParam<int> {};

TEST_P(ProbeLayout, Mark2LiesThatManyRecordsFromMark) {
  VmOptions options;
  options.probeMark2Position = GetParam();
  TestVm vm(options);
  jmethodID mark = vm.methodId(testvm::kProbeClass, "mark", "()V");
  jmethodID mark2 = vm.methodId(testvm::kProbeClass, "mark2", "()V");
  ASSERT_NE(mark, nullptr);
  ASSERT_NE(mark2, nullptr);
  EXPECT_EQ(distance(mark, mark2), GetParam() * static_cast<std::ptrdiff_t>(TestVm::kMethodRecordSize));
}

INSTANTIATE_TEST_SUITE_P(Positions, ProbeLayout, testing::Values(1, 5, -1, -5));

TEST(ProbeLayout, Mark2CanBeLeftOut) {
  VmOptions options;
  options.probeMark2 = false;
  TestVm vm(options);
  EXPECT_NE(vm.methodId(testvm::kProbeClass, "mark", "()V"), nullptr);
  EXPECT_EQ(vm.methodId(testvm::kProbeClass, "mark2", "()V"), nullptr);
}

int g_calls_a;
int g_calls_b;
void JNICALL entryA(JNIEnv*, jclass) { ++g_calls_a; }
void JNICALL entryB(JNIEnv*, jclass) { ++g_calls_b; }

class NativeEntries : public testing::Test {
 protected:
  void SetUp() override {
    g_calls_a = g_calls_b = 0;
    probe = env->FindClass(testvm::kProbeClass);
    mark = env->GetStaticMethodID(probe, "mark", "()V");
  }
  TestVm vm;
  JNIEnv* env = vm.env();
  jclass probe;
  jmethodID mark;
};

TEST_F(NativeEntries, RegisterNativesWritesTheEntryWordOfTheRecord) {
  JNINativeMethod m{chars("mark"), chars("()V"), reinterpret_cast<void*>(&entryA)};
  ASSERT_EQ(env->RegisterNatives(probe, &m, 1), JNI_OK);
  void* word;
  std::memcpy(&word, reinterpret_cast<char*>(mark) + TestVm::kNativeEntryOffset, sizeof(word));
  EXPECT_EQ(word, reinterpret_cast<void*>(&entryA));
  EXPECT_EQ(TestVm::nativeEntry(mark), reinterpret_cast<void*>(&entryA));
  // No other word of the record holds it, so a scan finds exactly this offset.
  for (std::size_t offset = 0; offset < TestVm::kMethodRecordSize; offset += sizeof(void*)) {
    if (offset == TestVm::kNativeEntryOffset) continue;
    std::memcpy(&word, reinterpret_cast<char*>(mark) + offset, sizeof(word));
    EXPECT_NE(word, reinterpret_cast<void*>(&entryA)) << offset;
  }
}

TEST_F(NativeEntries, EntryIsReadAtEveryCall) {
  JNINativeMethod m{chars("mark"), chars("()V"), reinterpret_cast<void*>(&entryA)};
  ASSERT_EQ(env->RegisterNatives(probe, &m, 1), JNI_OK);
  vm.callStatic(env, testvm::kProbeClass, "mark", "()V");
  void* replacement = reinterpret_cast<void*>(&entryB);
  std::memcpy(reinterpret_cast<char*>(mark) + TestVm::kNativeEntryOffset, &replacement, sizeof(replacement));
  vm.callStatic(env, testvm::kProbeClass, "mark", "()V");
  env->CallStaticVoidMethod(probe, mark);
  EXPECT_EQ(g_calls_a, 1);
  EXPECT_EQ(g_calls_b, 2);
}

TEST_F(NativeEntries, UnregisteredNativeThrowsUnsatisfiedLinkError) {
  vm.callStatic(env, testvm::kProbeClass, "mark", "()V");
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/UnsatisfiedLinkError");
  env->ExceptionClear();
  JNINativeMethod m{chars("mark"), chars("()V"), reinterpret_cast<void*>(&entryA)};
  ASSERT_EQ(env->RegisterNatives(probe, &m, 1), JNI_OK);
  ASSERT_EQ(env->UnregisterNatives(probe), JNI_OK);
  env->CallStaticVoidMethod(probe, mark);
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/UnsatisfiedLinkError");
  EXPECT_EQ(g_calls_a, 0);
}

TEST_F(NativeEntries, RegisteringAMissingOrNonNativeMethodFails) {
  JNINativeMethod missing{chars("nope"), chars("()V"), reinterpret_cast<void*>(&entryA)};
  EXPECT_EQ(env->RegisterNatives(probe, &missing, 1), JNI_ERR);
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/NoSuchMethodError");
  env->ExceptionClear();
  JNINativeMethod plain{chars("mark2"), chars("()V"), reinterpret_cast<void*>(&entryA)};
  EXPECT_EQ(env->RegisterNatives(probe, &plain, 1), JNI_ERR);
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/NoSuchMethodError");
}

// A native with every kind of argument the JNI call entries pass on.
jlong JNICALL mixed(JNIEnv*, jclass, jint i, jlong j, jdouble d) { return i + j + static_cast<jlong>(d); }
jobject JNICALL echo(JNIEnv* env, jclass, jobject o) { return env->NewLocalRef(o); }

TEST(NativeCalls, ArgumentsAndResultsCrossTheJniCallEntries) {
  VmOptions options;
  options.extraClasses.push_back(ClassDef{"com/example/Mixed", "java/lang/Object", {},
                                          {MethodDef{"mixed", "(IJD)J", true, true, {}, reinterpret_cast<void*>(&mixed)},
                                           MethodDef{"echo", "(Ljava/lang/Object;)Ljava/lang/Object;", true, true,
                                                     {}, reinterpret_cast<void*>(&echo)}}});
  TestVm vm(options);
  JNIEnv* env = vm.env();
  jclass cls = env->FindClass("com/example/Mixed");
  jmethodID mixedId = env->GetStaticMethodID(cls, "mixed", "(IJD)J");
  EXPECT_EQ(env->CallStaticLongMethod(cls, mixedId, 1, jlong{1} << 40, 2.5), (jlong{1} << 40) + 3);
  jvalue args[3];
  args[0].i = -4;
  args[1].j = 10;
  args[2].d = 1.0;
  EXPECT_EQ(env->CallStaticLongMethodA(cls, mixedId, args), 7);
  EXPECT_EQ(vm.callStatic<jlong>(env, "com/example/Mixed", "mixed", "(IJD)J", 2, jlong{3}, 4.0), 9);

  jstring s = env->NewStringUTF("same");
  std::uint32_t top = vm.topIndex(env);
  jobject back = env->CallStaticObjectMethod(cls, env->GetStaticMethodID(cls, "echo", "(Ljava/lang/Object;)Ljava/lang/Object;"), s);
  EXPECT_TRUE(env->IsSameObject(back, s));
  EXPECT_EQ(vm.topIndex(env), top + 1);  // the result, now in the caller's frame
  EXPECT_TRUE(vm.errors().empty());
}

// The onload fixture's switches, reached through the dynamic linker.
template <typename T>
T* fixtureSymbol(const char* name) {
  void* handle = dlopen(TESTVM_ONLOAD_FIXTURE, RTLD_NOW);
  return handle == nullptr ? nullptr : static_cast<T*>(dlsym(handle, name));
}

TEST(Loading, LoadLibraryCallsJniOnLoadWithTheVmAndAnAppClassLoader) {
  TestVm vm;
  *fixtureSymbol<jint>("testvm_fixture_result") = JNI_VERSION_1_4;
  *fixtureSymbol<int>("testvm_fixture_found_app_class") = 0;
  std::uint32_t top = vm.topIndex(vm.env());
  EXPECT_EQ(vm.loadLibrary(TESTVM_ONLOAD_FIXTURE), JNI_VERSION_1_4);
  EXPECT_EQ(*fixtureSymbol<JavaVM*>("testvm_fixture_vm"), vm.javaVm());
  EXPECT_EQ(*fixtureSymbol<int>("testvm_fixture_found_app_class"), 1);
  EXPECT_EQ(vm.topIndex(vm.env()), top);
}

TEST(Loading, LoadLibraryTellsDlopenFailureFromAMissingJniOnLoad) {
  TestVm vm;
  EXPECT_EQ(vm.loadLibrary("/nonexistent/libnothing.so"), TestVm::kDlopenFailed);
  EXPECT_NE(vm.lastLoadError().find("libnothing.so"), std::string::npos);
  EXPECT_EQ(vm.loadLibrary(TESTVM_PLAIN_FIXTURE), TestVm::kNoJniOnLoad);
}

TEST(Loading, NativeLoadReturnsNullOrTheRuntimesErrorText) {
  TestVm vm;
  EXPECT_NE(vm.nativeLoad("/nonexistent/libnothing.so")->find("libnothing.so"), std::string::npos);
  EXPECT_EQ(vm.nativeLoad(TESTVM_PLAIN_FIXTURE), std::nullopt);

  *fixtureSymbol<jint>("testvm_fixture_result") = JNI_ERR;
  EXPECT_EQ(vm.nativeLoad(TESTVM_ONLOAD_FIXTURE),
            std::string("JNI_ERR returned from JNI_OnLoad in \"") + TESTVM_ONLOAD_FIXTURE + "\"");
  // A library is initialised once: a second load succeeds without JNI_OnLoad.
  *fixtureSymbol<JavaVM*>("testvm_fixture_vm") = nullptr;
  EXPECT_EQ(vm.nativeLoad(TESTVM_ONLOAD_FIXTURE), std::nullopt);
  EXPECT_EQ(*fixtureSymbol<JavaVM*>("testvm_fixture_vm"), nullptr);
  EXPECT_TRUE(vm.errors().empty());
}

jstring JNICALL replacedNativeLoad(JNIEnv* env, jclass, jstring, jobject, jstring) {
  return env->NewStringUTF("replaced");
}

TEST(Loading, NativeLoadEntersWhateverTheRecordHolds) {
  TestVm vm;
  jmethodID nativeLoad = vm.methodId(testvm::kRuntimeClass, testvm::kNativeLoadMethod, testvm::kNativeLoadSignature);
  void* replacement = reinterpret_cast<void*>(&replacedNativeLoad);
  std::memcpy(reinterpret_cast<char*>(nativeLoad) + TestVm::kNativeEntryOffset, &replacement, sizeof(replacement));
  EXPECT_EQ(vm.nativeLoad(TESTVM_PLAIN_FIXTURE), "replaced");
}

}  // namespace
