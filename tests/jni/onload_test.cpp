// The library's load entry as the runtime calls it when the app loads the
// library: the four native method groups and what stops them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "MonitorHost.h"

namespace {

constexpr const char* kTag = "MemoryTrackerDemo";

using Native = testvm::DeclaredNative;
constexpr const auto& kNatives = testvm::kDeclaredNatives;

void* entryOf(const testvm::TestVm& vm, const Native& native) {
  jmethodID method = vm.methodId(native.className, native.name, native.signature);
  return method != nullptr ? testvm::TestVm::nativeEntry(method) : nullptr;
}

TEST(JniOnLoad, RegistersEveryGroupAndReportsVersion14) {
  LogCapture cap;
  MonitorHost host;
  EXPECT_EQ(host.onLoadResult(), JNI_VERSION_1_4);
  for (const Native& native : kNatives) {
    EXPECT_TRUE(MonitorHost::isInMonitorLibrary(entryOf(host.vm(), native))) << native.name;
  }
  EXPECT_TRUE(cap.texts(kTag).empty());
  EXPECT_TRUE(host.vm().errors().empty());
  // The registered natives are callable as the host declares them.
  EXPECT_EQ(host.nativeGetJavaThreadPeakCount(), 0);
}

// A monitor class that lacks one of the natives of the second group.
testvm::MethodDef staticMethod(const char* name, const char* signature, bool isNative) {
  testvm::MethodDef method;
  method.name = name;
  method.signature = signature;
  method.isNative = isNative;
  return method;
}

testvm::ClassDef monitorClassWithoutNativeDump() {
  testvm::ClassDef def;
  def.name = testvm::kMonitorClass;
  def.methods = {
      staticMethod(testvm::kLogErrorMethod, testvm::kLogSignature, false),
      staticMethod(testvm::kLogInfoMethod, testvm::kLogSignature, false),
      staticMethod("nativeInit", testvm::kNativeInitSignature, true),
      staticMethod("nativeGetJavaThreadPeakCount", testvm::kNativeGetJavaThreadPeakCountSignature, true),
      staticMethod("nativeThreadHook", testvm::kNativeThreadHookSignature, true),
      staticMethod("nativeThreadCreateHookInit", testvm::kNativeThreadCreateHookInitSignature, true),
  };
  return def;
}

struct FailureCase {
  const char* name;
  testvm::VmOptions options;
  std::vector<std::string> logcat;
  std::vector<std::string> registered;    // natives whose groups went through
  std::vector<std::string> unregistered;  // natives of groups never attempted
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class JniOnLoadFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(JniOnLoadFailure, StopsAtTheFailingGroupAndReturnsMinusOne) {
  LogCapture cap;
  MonitorHost host(GetParam().options);
  EXPECT_EQ(host.onLoadResult(), -1);
  EXPECT_EQ(cap.texts(kTag), GetParam().logcat);
  for (const Native& native : kNatives) {
    void* entry = entryOf(host.vm(), native);
    const auto& registered = GetParam().registered;
    const auto& unregistered = GetParam().unregistered;
    if (std::find(registered.begin(), registered.end(), native.name) != registered.end()) {
      EXPECT_TRUE(MonitorHost::isInMonitorLibrary(entry)) << native.name;
    }
    if (std::find(unregistered.begin(), unregistered.end(), native.name) != unregistered.end()) {
      EXPECT_FALSE(MonitorHost::isInMonitorLibrary(entry)) << native.name;
    }
  }
}

testvm::VmOptions withoutProbeClass() {
  testvm::VmOptions options;
  options.probeClass = false;
  return options;
}

testvm::VmOptions withMonitorClassWithoutNativeDump() {
  testvm::VmOptions options;
  options.monitorClass = false;
  options.extraClasses.push_back(monitorClassWithoutNativeDump());
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JniOnLoadFailure,
    testing::Values(
        FailureCase{"NoProbeClass", withoutProbeClass(),
                    {"Native registration unable to find class "
                     "'com/trivane/corvalis/nativememorymonitor/library/ClassToFindJniOffset'",
                     "ERROR: registerNatives failed"},
                    {},
                    {"nativeInit", "nativeDump", "nativeGetJavaThreadPeakCount", "nativeThreadHook",
                     "nativeThreadCreateHookInit"}},
        FailureCase{"MonitorClassWithoutNativeDump", withMonitorClassWithoutNativeDump(),
                    {"RegisterNatives failed for 'com/trivane/corvalis/nativememorymonitor/library/NativeMemoryMonitor'",
                     "ERROR: registerNatives failed"},
                    {"mark"},
                    {"nativeGetJavaThreadPeakCount", "nativeThreadHook", "nativeThreadCreateHookInit"}}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(JniOnLoad, WithoutAnEnvironmentFailsBeforeRegistering) {
  testvm::TestVm& vm = testvm::TestVm::processVm();
  void* library = dlopen(NMM_MONITOR_LIBRARY, RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  auto onLoad = reinterpret_cast<jint (*)(JavaVM*, void*)>(dlsym(library, "JNI_OnLoad"));
  ASSERT_NE(onLoad, nullptr);
  LogCapture cap;
  jint result = 0;
  // A thread the VM does not know has no environment to register with.
  std::thread([&] { result = onLoad(vm.javaVm(), nullptr); }).join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(cap.texts(kTag), std::vector<std::string>{"ERROR: GetEnv failed"});
  EXPECT_FALSE(MonitorHost::isInMonitorLibrary(entryOf(vm, kNatives[0])));
}

}  // namespace
