// The singleton's configuration after start-up, read where only the library
// itself can see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "LogCapture.h"
#include "core/NativeMonitor.h"
#include "testvm/TestVm.h"

namespace {

void startMonitor(testvm::TestVm& vm, jlong mask) {
  ASSERT_EQ(JNI_OnLoad(vm.javaVm(), nullptr), JNI_VERSION_1_4);
  JNIEnv* env = vm.env();
  vm.callStatic(env, testvm::kMonitorClass, "nativeInit", testvm::kNativeInitSignature, mask,
                vm.newString(env, "com.example.app"), vm.newString(env, "/data/app/com.example.app-1/lib/arm"),
                vm.newStringArray(env, {}), jlong{1000000}, jlong{1000}, jlong{4096});
}

TEST(MonitorState, StartUpKeepsTheConfigurationAndTheApiLevel) {
  testvm::VmOptions options;
  options.sdkInt = 23;
  testvm::TestVm& vm = testvm::TestVm::processVm(options);
  startMonitor(vm, testvm::kFlagLargeObjectAlloc);
  NativeMonitor* monitor = NativeMonitor::getInstance();
  EXPECT_EQ(monitor->getFeasure(), testvm::kFlagLargeObjectAlloc);
  EXPECT_EQ(monitor->getTimeLimited(), 1000000);
  EXPECT_EQ(monitor->getCountLimited(), 1000);
  EXPECT_EQ(monitor->getMemoryLimited(), 4096);
  EXPECT_EQ(monitor->getSdkInt(), 23);
}

TEST(MonitorState, WithoutBuildVersionTheApiLevelStaysUnknown) {
  testvm::VmOptions options;
  options.buildVersionClass = false;
  testvm::TestVm& vm = testvm::TestVm::processVm(options);
  LogCapture cap;
  startMonitor(vm, 0);
  EXPECT_EQ(NativeMonitor::getInstance()->getSdkInt(), 0);
  std::vector<std::string> logcat = cap.texts("MemoryTrackerDemo");
  EXPECT_NE(std::find(logcat.begin(), logcat.end(), "can not find android/os/Build$VERSION.SDK_INT"), logcat.end());
  ASSERT_FALSE(vm.hostInfoLog().empty());
  EXPECT_EQ(vm.hostInfoLog().back(), "NativeMonitor started 1000000 1000");
  EXPECT_FALSE(vm.exceptionPending(vm.env()));
  EXPECT_TRUE(vm.errors().empty());
}

}  // namespace
