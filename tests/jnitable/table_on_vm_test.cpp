// Replacement of entries of the test VM's function table, which is read-only
// and shared by every JNIEnv, and the reference table dump.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "testvm/TestVm.h"
#include "jnitable/jni_table.h"

namespace {

using testvm::TestVm;
using testvm::VmOptions;

constexpr size_t kGetVersionIndex = 4;

std::atomic<int> g_getVersionCalls{0};
jint (*g_originalGetVersion)(JNIEnv*) = nullptr;

jint countingGetVersion(JNIEnv* env) {
  ++g_getVersionCalls;
  return g_originalGetVersion(env);
}

void** slotOf(JNIEnv* env, size_t index) {
  return reinterpret_cast<void**>(const_cast<JNINativeInterface_*>(env->functions)) + index;
}

// The permissions column ("r--p") of the mapping that holds `address`.
std::string protectionOf(const void* address) {
  const auto where = reinterpret_cast<uintptr_t>(address);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    uintptr_t start = 0, end = 0;
    char dash = 0;
    std::string perms;
    fields >> std::hex >> start >> dash >> end >> perms;
    if (start <= where && where < end) return perms;
  }
  return "";
}

TEST(JniTableOnVm, ReplacementReachesEveryThreadsEnv) {
  TestVm vm;
  JNIEnv* env = vm.env();
  ASSERT_EQ(protectionOf(env->functions).substr(0, 2), "r-");
  const jint version = env->GetVersion();
  g_originalGetVersion = env->functions->GetVersion;

  LogCapture cap;
  replaceJniEnvFunction(slotOf(env, kGetVersionIndex), reinterpret_cast<void*>(&countingGetVersion));
  EXPECT_TRUE(cap.lines().empty());

  jint onHost = env->GetVersion();
  jint onNative = 0;
  vm.runOnNativeThread([&] {
    JNIEnv* attached = nullptr;
    ASSERT_EQ(vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&attached), nullptr), JNI_OK);
    onNative = attached->GetVersion();
    vm.javaVm()->DetachCurrentThread();
  });
  jint onJava = 0;
  vm.runJavaThread([&](JNIEnv* threadEnv) { onJava = threadEnv->GetVersion(); });

  EXPECT_EQ(g_getVersionCalls.load(), 3);
  EXPECT_EQ(onHost, version);
  EXPECT_EQ(onNative, version);
  EXPECT_EQ(onJava, version);
}

TEST(DumpReferenceTable, CallsVmDebug) {
  TestVm vm;
  dumpReferenceTable(vm.env());
  EXPECT_EQ(vm.dumpReferenceTablesCalls(), 1);
  EXPECT_TRUE(vm.describedExceptions().empty());
}

struct MissingCase {
  const char* name;
  bool classWithoutMethod;  // false: no VMDebug class at all
  const char* described;
};

void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.name; }

class DumpReferenceTableMissing : public testing::TestWithParam<MissingCase> {};

TEST_P(DumpReferenceTableMissing, DescribesAndClearsTheExceptionAndCallsNothing) {
  VmOptions options;
  options.vmDebugClass = false;
  if (GetParam().classWithoutMethod) {
    options.extraClasses.push_back(testvm::ClassDef{testvm::kVmDebugClass, "java/lang/Object", {}, {}});
  }
  TestVm vm(options);
  dumpReferenceTable(vm.env());
  EXPECT_EQ(vm.dumpReferenceTablesCalls(), 0);
  EXPECT_EQ(vm.describedExceptions(), std::vector<std::string>{GetParam().described});
  EXPECT_FALSE(vm.exceptionPending(vm.env()));
  EXPECT_TRUE(vm.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, DumpReferenceTableMissing,
                         testing::Values(MissingCase{"NoClass", false, "java/lang/NoClassDefFoundError"}, MissingCase{"NoMethod", true, "java/lang/NoSuchMethodError"}),
                         [](const testing::TestParamInfo<MissingCase>& info) { return info.param.name; });

}  // namespace
