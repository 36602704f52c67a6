// Messages for the host's log: formatting, the thread they are sent from, and
// what happens when the host cannot take them.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "jni/host_log.h"
#include "jni/jni_env.h"
#include "testvm/TestVm.h"

namespace {

constexpr const char* kTag = "MemoryTrackerDemo";

testvm::TestVm& hostVm(const testvm::VmOptions& options = {}) {
  testvm::TestVm& vm = testvm::TestVm::processVm(options);
  g_vm = vm.javaVm();
  return vm;
}

TEST(HostLog, BothKindsReachTheHostFromAHostThread) {
  testvm::TestVm& vm = hostVm();
  testvm::ThreadCounters before = vm.threadCounters(vm.currentThreadId());
  logInfoToJava("feature %s is on due to the flag %lld", "FLAG_LOG_ALL", 1LL);
  logErrorToJava("can not find field %s to check feature", "FLAG_X");

  std::vector<testvm::HostLogLine> lines = vm.hostLog();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, testvm::HostLogLine::kInfo);
  EXPECT_EQ(lines[0].text, "feature FLAG_LOG_ALL is on due to the flag 1");
  EXPECT_EQ(lines[1].level, testvm::HostLogLine::kError);
  EXPECT_EQ(lines[1].text, "can not find field FLAG_X to check feature");
  EXPECT_EQ(lines[0].thread, vm.currentThreadId());
  // A thread the VM knows is neither attached nor detached by the library.
  testvm::ThreadCounters after = vm.threadCounters(vm.currentThreadId());
  EXPECT_EQ(after.attaches, before.attaches);
  EXPECT_EQ(after.detaches, before.detaches);
}

TEST(HostLog, ANativeThreadIsAttachedForTheMessageAndDetachedAgain) {
  testvm::TestVm& vm = hostVm();
  // The host thread looks the host class up; attached threads cannot.
  logInfoToJava("%s", "start");
  LogCapture cap;
  testvm::NativeThreadRun run = vm.runOnNativeThread([] { logInfoToJava("from %s", "native"); });

  EXPECT_EQ(run.attaches, 1);
  EXPECT_EQ(run.detaches, 1);
  EXPECT_FALSE(run.attachedAtExit);
  EXPECT_EQ(cap.texts(kTag), std::vector<std::string>{"jvm not attached"});
  std::vector<testvm::HostLogLine> lines = vm.hostLog();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].text, "from native");
  EXPECT_EQ(lines[1].thread, run.id);
}

struct MissingMethodCase {
  const char* name;
  bool logError;
  bool logInfo;
};

void PrintTo(const MissingMethodCase& c, std::ostream* os) { *os << c.name; }

class HostLogMissingMethod : public testing::TestWithParam<MissingMethodCase> {};

TEST_P(HostLogMissingMethod, DropsBothKinds) {
  testvm::VmOptions options;
  options.monitorLogError = GetParam().logError;
  options.monitorLogInfo = GetParam().logInfo;
  testvm::TestVm& vm = hostVm(options);
  LogCapture cap;
  logErrorToJava("%s", "error line");
  vm.env()->ExceptionClear();
  logInfoToJava("%s", "info line");
  vm.env()->ExceptionClear();
  EXPECT_TRUE(vm.hostLog().empty());
  EXPECT_EQ(cap.texts(kTag), (std::vector<std::string>{"fail to find method needed", "fail to find method needed"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, HostLogMissingMethod,
                         testing::Values(MissingMethodCase{"NoLogInfo", true, false},
                                         MissingMethodCase{"NoLogError", false, true}),
                         [](const testing::TestParamInfo<MissingMethodCase>& info) { return info.param.name; });

TEST(HostLog, APendingExceptionDropsTheLineAndStaysPending) {
  testvm::TestVm& vm = hostVm();
  logInfoToJava("%s", "before");
  JNIEnv* env = vm.env();
  ASSERT_EQ(env->FindClass("com/example/app/Missing"), nullptr);
  std::string pending = vm.pendingExceptionClass(env);
  ASSERT_FALSE(pending.empty());
  LogCapture cap;

  logInfoToJava("%s", "dropped");
  logErrorToJava("%s", "dropped");

  EXPECT_EQ(vm.hostInfoLog(), std::vector<std::string>{"before"});
  EXPECT_TRUE(vm.hostErrorLog().empty());
  EXPECT_EQ(cap.texts(kTag), (std::vector<std::string>{"fail to find method needed 2", "fail to find method needed 2"}));
  EXPECT_EQ(vm.pendingExceptionClass(env), pending);
  env->ExceptionClear();
}

struct FormatCase {
  const char* name;
  std::string argument;
  std::string received;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class HostLogFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(HostLogFormat, SendsAtMost255ValidCharacters) {
  testvm::TestVm& vm = hostVm();
  logInfoToJava("%s", GetParam().argument.c_str());
  EXPECT_EQ(vm.hostInfoLog(), std::vector<std::string>{GetParam().received});
  // Nothing the runtime's CheckJNI would abort the app for.
  EXPECT_TRUE(vm.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostLogFormat,
    testing::Values(FormatCase{"Short", "[malloc hook]all so hook", "[malloc hook]all so hook"},
                    FormatCase{"Exactly255", std::string(255, 'a'), std::string(255, 'a')},
                    FormatCase{"LongerIsCut", std::string(300, 'b'), std::string(255, 'b')},
                    FormatCase{"InvalidBytesRepaired", "/data/lib\xff\xfe.so", "/data/lib??.so"},
                    // "é" would take bytes 255 and 256: it is left out, not split.
                    FormatCase{"CharacterAtTheLimitNotSplit", std::string(254, 'c') + "\xC3\xA9",
                               std::string(254, 'c')}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST(HostLog, AFormatWithoutConversionsPassesUnchanged) {
  testvm::TestVm& vm = hostVm();
  logErrorToJava("[setLongField hooked]");
  EXPECT_EQ(vm.hostErrorLog(), std::vector<std::string>{"[setLongField hooked]"});
}

TEST(JniEnv, WithoutAVmThereIsNoEnvironmentAndNothingToDetach) {
  g_vm = nullptr;
  LogCapture cap;
  int attached = 0;
  EXPECT_EQ(getJniEnv(&attached), nullptr);
  EXPECT_EQ(attached, 0);
  _detach_current_thread();
  logInfoToJava("%s", "nowhere to go");
  EXPECT_TRUE(cap.lines().empty());
}

}  // namespace
