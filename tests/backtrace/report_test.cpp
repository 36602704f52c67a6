// Reports as the host receives them, on the test VM.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "backtrace/report.h"
#include "jni/jni_env.h"
#include "testvm/TestVm.h"

namespace {

constexpr const char* kTag = "MemoryTrackerDemo";
constexpr const char* kNotFound = "VxCatchedExceptionReporter not found";

// Two frames at addresses no library maps, so their lines are fixed.
std::unique_ptr<BacktraceState> twoFrames() {
  auto* pcs = static_cast<void**>(malloc(kInitialBacktraceDepth * sizeof(void*)));
  pcs[0] = reinterpret_cast<void*>(0x10);
  pcs[1] = reinterpret_cast<void*>(0x20);
  return std::make_unique<BacktraceState>(pcs, 2);
}

constexpr const char* kTwoFrameLines = "# 0: 0x10 <unknown>+0x10  \n# 1: 0x20 <unknown>+0x20  \n";

// The reporter values are process-wide; each test starts and ends without them.
class Reporting : public testing::Test {
 protected:
  void SetUp() override { forget(); }
  void TearDown() override { forget(); }
  static void forget() {
    exceptionReporter = nullptr;
    reportMethod = nullptr;
    originDeleteLocalRef = nullptr;
    g_vm = nullptr;
  }
};

struct FormatCase {
  const char* name;
  std::function<void(JNIEnv*, BacktraceState*)> send;
  const char* reportName;
  std::string message;
};

class ReportFormat : public Reporting, public testing::WithParamInterface<FormatCase> {};

TEST_P(ReportFormat, HostReceivesNameAndMessageByteForByte) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  auto trace = twoFrames();
  GetParam().send(vm.env(), trace.get());
  auto reports = vm.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].name, GetParam().reportName);
  EXPECT_EQ(reports[0].message, GetParam().message);
  EXPECT_TRUE(vm.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Overloads, ReportFormat,
    testing::Values(
        FormatCase{"LargeAllocation",
                   [](JNIEnv* env, BacktraceState* trace) {
                     report(env, "BigMallocCatchedException", trace, 4096u);
                   },
                   "BigMallocCatchedException",
                   std::string("[hooked] malloc error, malloc_size4096, the top traces are: \n") +
                       kTwoFrameLines + "\n"},
        FormatCase{"AllocationRate",
                   [](JNIEnv* env, BacktraceState* trace) {
                     report(env, "OverAllcatePerTimeCatchedException", trace, 1000000LL, 1000LL);
                   },
                   "OverAllcatePerTimeCatchedException",
                   std::string("[hooked] malloc over_allocate_per,time_limited:1000000count_limited:"
                               "1000the top traces are: \n") +
                       kTwoFrameLines + "\n"},
        FormatCase{"SignedLimits",
                   [](JNIEnv* env, BacktraceState* trace) {
                     report(env, "OverAllcatePerTimeCatchedException", trace, -1LL, 0LL);
                   },
                   "OverAllcatePerTimeCatchedException",
                   std::string("[hooked] malloc over_allocate_per,time_limited:-1count_limited:0"
                               "the top traces are: \n") +
                       kTwoFrameLines + "\n"},
        FormatCase{"PlainMessage",
                   [](JNIEnv* env, BacktraceState*) {
                     report(env, "CheckJNIArgsException", "first\nsecond");
                   },
                   "CheckJNIArgsException", "first\nsecond"}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

struct MissingCase {
  const char* name;
  bool reporterClass;
  bool reporterMethod;
  bool init;
  std::vector<std::string> described;  // exceptions the start-up printed
};

class ReporterMissing : public Reporting, public testing::WithParamInterface<MissingCase> {};

TEST_P(ReporterMissing, EveryReportLogsNotFoundAndSendsNothing) {
  testvm::VmOptions options;
  options.reporterClass = GetParam().reporterClass;
  options.reporterMethod = GetParam().reporterMethod;
  testvm::TestVm vm(options);
  if (GetParam().init) initBacktraceTool(vm.env());
  EXPECT_FALSE(vm.exceptionPending(vm.env()));
  EXPECT_EQ(vm.describedExceptions(), GetParam().described);

  LogCapture cap;
  auto trace = twoFrames();
  report(vm.env(), "CheckJNIArgsException", "text");
  report(vm.env(), "BigMallocCatchedException", trace.get(), 4096u);
  report(vm.env(), "OverAllcatePerTimeCatchedException", trace.get(), 1000000LL, 1000LL);
  EXPECT_EQ(cap.texts(kTag), std::vector<std::string>(3, kNotFound));
  EXPECT_TRUE(vm.reports().empty());
  EXPECT_TRUE(vm.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReporterMissing,
    testing::Values(MissingCase{"BeforeStartUp", true, true, false, {}},
                    MissingCase{"ClassMissing", false, false, true, {"java/lang/NoClassDefFoundError"}},
                    MissingCase{"MethodMissing", true, false, true, {"java/lang/NoSuchMethodError"}}),
    [](const testing::TestParamInfo<MissingCase>& info) { return info.param.name; });

TEST_F(Reporting, NullTraceLogsAndSendsNothing) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  LogCapture cap;
  report(vm.env(), "BigMallocCatchedException", nullptr, 4096u);
  report(vm.env(), "OverAllcatePerTimeCatchedException", nullptr, 1000000LL, 1000LL);
  EXPECT_EQ(cap.texts(kTag),
            std::vector<std::string>(2, "[error] report trace is null"));
  EXPECT_TRUE(vm.reports().empty());
}

TEST_F(Reporting, NullEnvironmentSendsNothing) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  auto trace = twoFrames();
  LogCapture cap;
  report(nullptr, "CheckJNIArgsException", "text");
  report(nullptr, "BigMallocCatchedException", trace.get(), 4096u);
  EXPECT_EQ(cap.texts(kTag),
            (std::vector<std::string>{"no JNIEnv, report dropped: CheckJNIArgsException",
                                      "no JNIEnv, report dropped: BigMallocCatchedException"}));
  EXPECT_TRUE(vm.reports().empty());
}

TEST_F(Reporting, LeavesNoLocalReferenceBehind) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  std::size_t before = vm.localRefCount(vm.env());
  for (int i = 0; i < 3; ++i) report(vm.env(), "CheckJNIArgsException", "text");
  EXPECT_EQ(vm.localRefCount(vm.env()), before);
  EXPECT_EQ(vm.reports().size(), 3u);
}

std::vector<jobject> g_deletedThroughSaved;
void(JNICALL* g_runtimeDeleteLocalRef)(JNIEnv*, jobject) = nullptr;

void JNICALL savedDeleteLocalRef(JNIEnv* env, jobject ref) {
  g_deletedThroughSaved.push_back(ref);
  g_runtimeDeleteLocalRef(env, ref);
}

TEST_F(Reporting, DeletesItsStringsThroughTheSavedRuntimeEntry) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  g_runtimeDeleteLocalRef = vm.functionTable()->DeleteLocalRef;
  originDeleteLocalRef = savedDeleteLocalRef;
  std::size_t before = vm.localRefCount(vm.env());
  report(vm.env(), "CheckJNIArgsException", "text");
  EXPECT_EQ(g_deletedThroughSaved.size(), 2u);
  EXPECT_EQ(vm.localRefCount(vm.env()), before);
  ASSERT_EQ(vm.reports().size(), 1u);
}

TEST_F(Reporting, MessageIsRepairedToModifiedUtf8) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  report(vm.env(), "CheckJNIArgsException", "lib\xFFname.so");
  ASSERT_EQ(vm.reports().size(), 1u);
  EXPECT_EQ(vm.reports()[0].message, "lib?name.so");
  EXPECT_TRUE(vm.errors().empty());
}

TEST_F(Reporting, NativeThreadReportsThroughTheCachedClass) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  g_vm = vm.javaVm();
  auto trace = twoFrames();
  testvm::NativeThreadRun run = vm.runOnNativeThread([&] {
    int attached = 0;
    JNIEnv* env = getJniEnv(&attached);
    report(env, "BigMallocCatchedException", trace.get(), 4096u);
    if (attached) _detach_current_thread();
  });
  auto reports = vm.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].thread, run.id);
  EXPECT_FALSE(run.attachedAtExit);
  EXPECT_TRUE(vm.errors().empty());
}

TEST_F(Reporting, PendingAppExceptionIsKeptAndTheReportStillSent) {
  testvm::TestVm vm;
  initBacktraceTool(vm.env());
  JNIEnv* env = vm.env();
  env->FindClass("com/example/Missing");  // the app's own failed lookup
  ASSERT_TRUE(vm.exceptionPending(env));
  std::string pending = vm.pendingExceptionClass(env);
  report(env, "CheckJNIArgsException", "text");
  EXPECT_EQ(vm.reports().size(), 1u);
  EXPECT_TRUE(vm.errors().empty());
  EXPECT_EQ(vm.pendingExceptionClass(env), pending);
  env->ExceptionClear();
}

}  // namespace
