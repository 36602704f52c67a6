// The host classes: present or left out per VM, with the values and recordings
// the tests of the monitor rely on.
#include <gtest/gtest.h>

#include "testvm/TestVm.h"

namespace {

using testvm::TestVm;
using testvm::VmOptions;

TEST(HostClasses, MonitorFlagsCarryTheirValuesAndOneCanBeLeftOut) {
  VmOptions options;
  options.monitorFlags["FLAG_JNI_LOCAL_REF_MONITOR"] = 0x40;
  options.monitorFlags.erase("FLAG_LOG_ALL");
  TestVm vm(options);
  JNIEnv* env = vm.env();
  jclass monitor = env->FindClass(testvm::kMonitorClass);
  auto flag = [&](const char* name) {
    jfieldID id = env->GetStaticFieldID(monitor, name, "J");
    return id == nullptr ? jlong{-1} : env->GetStaticLongField(monitor, id);
  };
  EXPECT_EQ(flag("FLAG_LARGE_OBJECT_ALLOC_MONITOR"), 0x100000000LL);
  EXPECT_EQ(flag("FLAG_OVER_ALLOCATE_PER_TIME_MONITOR"), 0x80000000LL);
  EXPECT_EQ(flag("FLAG_JNI_LOCAL_REF_MONITOR"), 0x40);
  EXPECT_EQ(flag("FLAG_LOG_ALL"), -1);
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/NoSuchFieldError");
}

TEST(HostClasses, LeftOutClassesAreNotFound) {
  VmOptions options;
  options.monitorClass = options.probeClass = options.reporterClass = options.threadCallbackClass = false;
  options.runtimeClass = options.threadClass = options.buildVersionClass = options.vmDebugClass = false;
  TestVm vm(options);
  JNIEnv* env = vm.env();
  for (const char* name : {testvm::kMonitorClass, testvm::kProbeClass, testvm::kReporterClass,
                           testvm::kDefaultThreadCallbackClass, testvm::kRuntimeClass, testvm::kThreadClass,
                           testvm::kBuildVersionClass, testvm::kVmDebugClass}) {
    EXPECT_EQ(env->FindClass(name), nullptr) << name;
    EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/NoClassDefFoundError") << name;
    env->ExceptionClear();
  }
}

TEST(HostClasses, HostMethodsRecordWhatTheyReceive) {
  VmOptions options;
  options.sdkInt = 25;
  options.threadCallbackClassName = "com/example/Callback";
  TestVm vm(options);
  JNIEnv* env = vm.env();
  jclass monitor = env->FindClass(testvm::kMonitorClass);
  jclass reporter = env->FindClass(testvm::kReporterClass);
  jclass callback = env->FindClass("com/example/Callback");
  jclass debug = env->FindClass(testvm::kVmDebugClass);
  jclass version = env->FindClass(testvm::kBuildVersionClass);
  jstring text = env->NewStringUTF("to the host");
  env->CallStaticVoidMethod(monitor, env->GetStaticMethodID(monitor, "logErrorFromNative", testvm::kLogSignature), text);
  env->CallStaticVoidMethod(monitor, env->GetStaticMethodID(monitor, "logInfoFromNative", testvm::kLogSignature), text);
  env->CallStaticVoidMethod(reporter, env->GetStaticMethodID(reporter, testvm::kReportMethod, testvm::kReportSignature),
                            env->NewStringUTF("NameException"), env->NewStringUTF("message"));
  env->CallStaticVoidMethod(callback, env->GetStaticMethodID(callback, testvm::kThreadCallbackMethod,
                                                             testvm::kThreadCallbackSignature),
                            text);
  env->CallStaticVoidMethod(debug, env->GetStaticMethodID(debug, "dumpReferenceTables", "()V"));

  EXPECT_EQ(vm.hostErrorLog(), std::vector<std::string>{"to the host"});
  EXPECT_EQ(vm.hostInfoLog(), std::vector<std::string>{"to the host"});
  ASSERT_EQ(vm.reports().size(), 1u);
  EXPECT_EQ(vm.reports()[0].name, "NameException");
  EXPECT_EQ(vm.reports()[0].message, "message");
  EXPECT_EQ(vm.reports()[0].thread, vm.currentThreadId());
  ASSERT_EQ(vm.threadCallbacks().size(), 1u);
  EXPECT_EQ(vm.threadCallbacks()[0].threadObject, vm.objectId(env, text));
  EXPECT_EQ(vm.dumpReferenceTablesCalls(), 1);
  EXPECT_EQ(env->GetStaticIntField(version, env->GetStaticFieldID(version, "SDK_INT", "I")), 25);
  EXPECT_TRUE(vm.errors().empty());
}

TEST(HostClasses, ReporterAndLogMethodsCanBeLeftOutAlone) {
  VmOptions options;
  options.reporterMethod = false;
  options.monitorLogInfo = false;
  TestVm vm(options);
  JNIEnv* env = vm.env();
  EXPECT_NE(vm.methodId(testvm::kMonitorClass, "logErrorFromNative", testvm::kLogSignature), nullptr);
  EXPECT_EQ(vm.methodId(testvm::kMonitorClass, "logInfoFromNative", testvm::kLogSignature), nullptr);
  EXPECT_NE(env->FindClass(testvm::kReporterClass), nullptr);
  EXPECT_EQ(vm.methodId(testvm::kReporterClass, testvm::kReportMethod, testvm::kReportSignature), nullptr);
}

}  // namespace
