// Start-up as an app drives it: JNI_OnLoad through the runtime's loader, then
// nativeInit, observed through what the host receives and what reaches logcat.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "MonitorHost.h"

namespace {

using testvm::HostLogLine;

constexpr const char* kTag = "MemoryTrackerDemo";
constexpr jlong kBit63 = LLONG_MIN;

struct Line {
  HostLogLine::Level level;
  std::string text;
  bool operator==(const Line& other) const { return level == other.level && text == other.text; }
};

void PrintTo(const Line& line, std::ostream* os) {
  *os << (line.level == HostLogLine::kError ? "E:" : "I:") << line.text;
}

Line info(const std::string& text) { return {HostLogLine::kInfo, text}; }
Line error(const std::string& text) { return {HostLogLine::kError, text}; }

Line feature(const std::string& name, bool on, jlong mask) {
  return info("feature " + name + (on ? " is on" : " is off") + " due to the flag " + std::to_string(mask));
}

// The host's lines about feature switches, in order.
std::vector<Line> switchLines(const testvm::TestVm& vm) {
  std::vector<Line> lines;
  for (const HostLogLine& line : vm.hostLog()) {
    if (line.text.rfind("feature ", 0) == 0 || line.text.rfind("can not find field ", 0) == 0) {
      lines.push_back({line.level, line.text});
    }
  }
  return lines;
}

std::vector<std::string> hostTexts(const testvm::TestVm& vm) {
  std::vector<std::string> texts;
  for (const HostLogLine& line : vm.hostLog()) texts.push_back(line.text);
  return texts;
}

struct SwitchCase {
  const char* name;
  jlong mask;
  std::map<std::string, jlong> flagValues;  // replaces the host's default value
  std::vector<std::string> missingFlags;
  std::vector<Line> expected;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

class FeatureSwitches : public testing::TestWithParam<SwitchCase> {};

TEST_P(FeatureSwitches, EverySwitchIsReadInOrderAndItsStateSentToTheHost) {
  const SwitchCase& c = GetParam();
  testvm::VmOptions options;
  for (const auto& [name, value] : c.flagValues) options.monitorFlags[name] = value;
  for (const std::string& name : c.missingFlags) options.monitorFlags.erase(name);
  MonitorHost host(options);
  ASSERT_EQ(host.onLoadResult(), JNI_VERSION_1_4);
  InitArgs args;
  args.featureMask = c.mask;
  host.nativeInit(args);

  EXPECT_EQ(switchLines(host.vm()), c.expected);
  // Start-up carried on to its end, with nothing left pending for the host.
  ASSERT_FALSE(host.vm().hostLog().empty());
  EXPECT_EQ(host.vm().hostLog().back().text, "NativeMonitor started 1000000 1000");
  EXPECT_FALSE(host.vm().exceptionPending(host.env()));
  EXPECT_TRUE(host.vm().errors().empty());
}

std::vector<Line> jniSwitches(bool local, bool global, bool primitive, bool weak, bool callxx, bool logAll,
                              jlong mask) {
  return {feature("FLAG_JNI_LOCAL_REF_MONITOR", local, mask),
          feature("FLAG_JNI_GLOBAL_REF_MONITOR", global, mask),
          feature("FLAG_JNI_PRIMITIVE_ARRAY_MONITOR", primitive, mask),
          feature("FLAG_JNI_WEAK_GLOBAL_REF_MONITOR", weak, mask),
          feature("FLAG_JNI_CALLXXMETHOD_MONITOR", callxx, mask),
          feature("FLAG_LOG_ALL", logAll, mask)};
}

std::vector<Line> concat(std::vector<Line> head, const std::vector<Line>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

constexpr jlong kLarge = testvm::kFlagLargeObjectAlloc;
constexpr jlong kOver = testvm::kFlagOverAllocatePerTime;
constexpr jlong kEveryJniSwitch = testvm::kFlagJniLocalRef | testvm::kFlagJniGlobalRef |
                                  testvm::kFlagJniPrimitiveArray | testvm::kFlagJniWeakGlobalRef |
                                  testvm::kFlagJniCallXXMethod | testvm::kFlagLogAll;

INSTANTIATE_TEST_SUITE_P(
    Cases, FeatureSwitches,
    testing::Values(
        SwitchCase{"MaskZero", 0, {}, {},
                   concat({feature("FLAG_LARGE_OBJECT_ALLOC_MONITOR", false, 0),
                           feature("FLAG_OVER_ALLOCATE_PER_TIME_MONITOR", false, 0)},
                          jniSwitches(false, false, false, false, false, false, 0))},
        // The second allocation switch selects the same hooker and is not read.
        SwitchCase{"LargeObjectOn", kLarge, {}, {},
                   concat({feature("FLAG_LARGE_OBJECT_ALLOC_MONITOR", true, kLarge)},
                          jniSwitches(false, false, false, false, false, false, kLarge))},
        SwitchCase{"BothAllocationSwitches", kLarge | kOver, {}, {},
                   concat({feature("FLAG_LARGE_OBJECT_ALLOC_MONITOR", true, kLarge | kOver)},
                          jniSwitches(false, false, false, false, false, false, kLarge | kOver))},
        SwitchCase{"OverAllocateOnly", kOver, {}, {},
                   concat({feature("FLAG_LARGE_OBJECT_ALLOC_MONITOR", false, kOver),
                           feature("FLAG_OVER_ALLOCATE_PER_TIME_MONITOR", true, kOver)},
                          jniSwitches(false, false, false, false, false, false, kOver))},
        SwitchCase{"EveryJniSwitch", kEveryJniSwitch, {}, {},
                   concat({feature("FLAG_LARGE_OBJECT_ALLOC_MONITOR", false, kEveryJniSwitch),
                           feature("FLAG_OVER_ALLOCATE_PER_TIME_MONITOR", false, kEveryJniSwitch)},
                          jniSwitches(true, true, true, true, true, true, kEveryJniSwitch))},
        // Sharing only bit 63 makes the AND negative: off.
        SwitchCase{"OnlyBit63Shared", kBit63 | testvm::kFlagJniGlobalRef,
                   {{"FLAG_JNI_LOCAL_REF_MONITOR", kBit63}}, {},
                   concat({feature("FLAG_LARGE_OBJECT_ALLOC_MONITOR", false, kBit63 | testvm::kFlagJniGlobalRef),
                           feature("FLAG_OVER_ALLOCATE_PER_TIME_MONITOR", false, kBit63 | testvm::kFlagJniGlobalRef)},
                          jniSwitches(false, true, false, false, false, false, kBit63 | testvm::kFlagJniGlobalRef))},
        // A host without a switch gets told so, and the switches after it are read.
        SwitchCase{"MissingField", testvm::kFlagJniWeakGlobalRef, {}, {"FLAG_JNI_GLOBAL_REF_MONITOR"},
                   {feature("FLAG_LARGE_OBJECT_ALLOC_MONITOR", false, testvm::kFlagJniWeakGlobalRef),
                    feature("FLAG_OVER_ALLOCATE_PER_TIME_MONITOR", false, testvm::kFlagJniWeakGlobalRef),
                    feature("FLAG_JNI_LOCAL_REF_MONITOR", false, testvm::kFlagJniWeakGlobalRef),
                    error("can not find field FLAG_JNI_GLOBAL_REF_MONITOR to check feature"),
                    feature("FLAG_JNI_PRIMITIVE_ARRAY_MONITOR", false, testvm::kFlagJniWeakGlobalRef),
                    feature("FLAG_JNI_WEAK_GLOBAL_REF_MONITOR", true, testvm::kFlagJniWeakGlobalRef),
                    feature("FLAG_JNI_CALLXXMETHOD_MONITOR", false, testvm::kFlagJniWeakGlobalRef),
                    feature("FLAG_LOG_ALL", false, testvm::kFlagJniWeakGlobalRef)}}),
    [](const testing::TestParamInfo<SwitchCase>& info) { return info.param.name; });

TEST(StartUp, HostLogEndsWithTheStartLineAndTheTwoLimits) {
  MonitorHost host;
  InitArgs args;
  args.timeLimited = 5000;
  args.countLimited = 77;
  args.memoryLimited = 123456;
  host.nativeInit(args);
  std::vector<std::string> texts = hostTexts(host.vm());
  ASSERT_EQ(texts.size(), 9u);
  EXPECT_EQ(texts.front(), "feature FLAG_LARGE_OBJECT_ALLOC_MONITOR is off due to the flag 0");
  EXPECT_EQ(texts.back(), "NativeMonitor started 5000 77");
}

TEST(StartUp, SecondNativeInitIsRefusedWithOneLogLine) {
  MonitorHost host;
  host.nativeInit(InitArgs{});
  void* loaderEntry = host.nativeLoadEntry();
  host.vm().clearRecordings();
  LogCapture cap;

  InitArgs second;
  second.featureMask = kEveryJniSwitch;
  second.soWhiteList = std::vector<std::optional<std::string>>{"all_so_hook"};
  host.nativeInit(second);

  EXPECT_EQ(cap.texts(kTag), std::vector<std::string>{"nativeInit ignored: NativeMonitor already started"});
  EXPECT_TRUE(host.vm().hostLog().empty());
  // The refused whitelist did not switch library-load interception on.
  EXPECT_EQ(host.nativeLoadEntry(), loaderEntry);
  EXPECT_TRUE(host.vm().errors().empty());
}

TEST(StartUp, NullStringsAreReadAsEmpty) {
  MonitorHost host;
  InitArgs args;
  args.packageName = std::nullopt;
  args.nativeLibDir = std::nullopt;
  args.soWhiteList = std::vector<std::optional<std::string>>{"all_so_hook"};
  host.nativeInit(args);
  ASSERT_FALSE(host.vm().hostLog().empty());
  EXPECT_EQ(host.vm().hostLog().back().text, "NativeMonitor started 1000000 1000");

  // An empty package name and library directory make the app's lib directory
  // "/data/user/0//lib", rewritten to the empty directory.
  LogCapture cap;
  host.vm().nativeLoad("/data/user/0//lib/libx.so");
  std::vector<std::string> logcat = cap.texts(kTag);
  EXPECT_NE(std::find(logcat.begin(), logcat.end(), "origin lib path is /data/user/0//lib/libx.so and replaced by /libx.so"),
            logcat.end());
  EXPECT_TRUE(host.vm().errors().empty());
}

TEST(StartUp, MissingMark2LeavesTheLoaderAloneAndTheExceptionToTheHost) {
  testvm::VmOptions options;
  options.probeMark2 = false;
  MonitorHost host(options);
  ASSERT_EQ(host.onLoadResult(), JNI_VERSION_1_4);
  void* loaderEntry = host.nativeLoadEntry();
  LogCapture cap;
  InitArgs args;
  args.soWhiteList = std::vector<std::optional<std::string>>{"all_so_hook"};
  host.nativeInit(args);

  std::vector<std::string> logcat = cap.texts(kTag);
  EXPECT_NE(std::find(logcat.begin(), logcat.end(), "can not find mark2 method"), logcat.end());
  // The lookup's exception is still pending when the start line is to be sent.
  EXPECT_EQ(logcat.back(), "fail to find method needed 2");
  std::vector<std::string> texts = hostTexts(host.vm());
  EXPECT_EQ(std::find(texts.begin(), texts.end(), "NativeMonitor started 1000000 1000"), texts.end());
  EXPECT_EQ(host.vm().pendingExceptionClass(host.env()), "java/lang/NoSuchMethodError");
  EXPECT_EQ(host.nativeLoadEntry(), loaderEntry);
}

TEST(StartUp, MissingReporterDoesNotStopStartUp) {
  testvm::VmOptions options;
  options.reporterClass = false;
  MonitorHost host(options);
  host.nativeInit(InitArgs{});
  ASSERT_FALSE(host.vm().hostLog().empty());
  EXPECT_EQ(host.vm().hostLog().back().text, "NativeMonitor started 1000000 1000");
  EXPECT_FALSE(host.vm().exceptionPending(host.env()));
}

// The whitelist as nativeInit fills it, observed through the library loads that
// start-up then intercepts.
struct WhitelistCase {
  const char* name;
  std::vector<std::optional<std::string>> soWhiteList;
  std::string loadedPath;
  std::vector<Line> expected;  // what the host hears about one load of loadedPath
};

void PrintTo(const WhitelistCase& c, std::ostream* os) { *os << c.name; }

class Whitelist : public testing::TestWithParam<WhitelistCase> {};

TEST_P(Whitelist, DecidesWhichLoadsAreAnnounced) {
  MonitorHost host;
  InitArgs args;
  args.soWhiteList = GetParam().soWhiteList;
  host.nativeInit(args);
  host.vm().clearRecordings();
  host.vm().nativeLoad(GetParam().loadedPath);
  std::vector<Line> received;
  for (const HostLogLine& line : host.vm().hostLog()) received.push_back({line.level, line.text});
  EXPECT_EQ(received, GetParam().expected);
  EXPECT_TRUE(host.vm().errors().empty());
}

const std::string kLib = "/data/app/com.example.app-1/lib/arm/libfoo.so";

std::vector<Line> announced(const std::string& path, const std::string& test) {
  return {info(test), info(test), info("NativeMonitor::afterSoLoad: " + path)};
}

std::vector<Line> refused(const std::string& path) {
  std::string line = "[malloc hook]hook not find in so Whitee list:" + path;
  return {error(line), error(line)};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Whitelist,
    testing::Values(
        WhitelistCase{"Listed", {kLib}, kLib, announced(kLib, "[malloc hook]hook:" + kLib)},
        WhitelistCase{"NotListed", {"/data/app/com.example.app-1/lib/arm/libbar.so"}, kLib, refused(kLib)},
        WhitelistCase{"AllSoHookFirst", {"all_so_hook"}, kLib, announced(kLib, "[malloc hook]all so hook")},
        WhitelistCase{"AllSoHookInTheMiddle",
                      {"/data/app/com.example.app-1/lib/arm/libbar.so", "all_so_hook", "/x/libbaz.so"},
                      kLib,
                      announced(kLib, "[malloc hook]all so hook")},
        // Other spellings are ordinary paths: "ALL_SO_HOOK" is listed, the rest not.
        WhitelistCase{"OtherCaseIsAPath", {"ALL_SO_HOOK", " all_so_hook", "all_so_hook "}, "ALL_SO_HOOK",
                      announced("ALL_SO_HOOK", "[malloc hook]hook:ALL_SO_HOOK")},
        WhitelistCase{"BlanksAndSuffixAreNotTheSwitch", {" all_so_hook", "all_so_hook ", "all_so_hookx"}, kLib,
                      refused(kLib)},
        WhitelistCase{"BareNameNeverMatches", {"libfoo.so"}, kLib, refused(kLib)},
        WhitelistCase{"NullElementIsSkipped", {std::nullopt, kLib}, kLib,
                      announced(kLib, "[malloc hook]hook:" + kLib)}),
    [](const testing::TestParamInfo<WhitelistCase>& info) { return info.param.name; });

TEST(StartUp, NullWhitelistLeavesLibraryLoadsAlone) {
  MonitorHost host;
  void* loaderEntry = host.nativeLoadEntry();
  InitArgs args;
  args.soWhiteList = std::nullopt;
  host.nativeInit(args);
  EXPECT_EQ(host.nativeLoadEntry(), loaderEntry);
  EXPECT_TRUE(host.vm().errors().empty());
}

TEST(NativeMethods, DumpWithoutHookersSendsNothing) {
  MonitorHost host;
  host.nativeInit(InitArgs{});
  host.vm().clearRecordings();
  LogCapture cap;
  host.nativeDump();
  EXPECT_TRUE(host.vm().hostLog().empty());
  EXPECT_TRUE(cap.texts(kTag).empty());
}

TEST(NativeMethods, TwoFirstThreadHookRequestsAtOnceInstallTrackingOnce) {
  MonitorHost host;
  host.nativeInit(InitArgs{});
  const void* runtimeSetLongField = reinterpret_cast<const void*>(host.vm().functionTable()->SetLongField);
  host.vm().clearRecordings();

  std::atomic<int> ready{0};
  auto request = [&host, &ready] {
    JNIEnv* env = nullptr;
    host.vm().javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    host.vm().callStatic(env, testvm::kMonitorClass, "nativeThreadHook", testvm::kNativeThreadHookSignature);
    host.vm().javaVm()->DetachCurrentThread();
  };
  std::thread first(request);
  std::thread second(request);
  first.join();
  second.join();

  EXPECT_EQ(host.vm().hostInfoLog(), std::vector<std::string>{"[setLongField hooked]"});
  const void* installed = reinterpret_cast<const void*>(host.vm().functionTable()->SetLongField);
  EXPECT_NE(installed, runtimeSetLongField);
  EXPECT_TRUE(MonitorHost::isInMonitorLibrary(installed));
  // Every thread start still reaches the runtime's own entry exactly once.
  host.vm().runJavaThread();
  EXPECT_EQ(host.vm().threadCallbacks().size(), 1u);
}

TEST(NativeMethods, ThreadCreateHookInitNamesTheCallbackClass) {
  testvm::VmOptions options;
  options.threadCallbackClassName = "com/example/app/ThreadWatcher";
  MonitorHost host(options);
  host.nativeInit(InitArgs{});
  host.nativeThreadCreateHookInit(std::string("com/example/app/ThreadWatcher"));
  EXPECT_TRUE(host.vm().describedExceptions().empty());
  host.nativeThreadHook();
  testvm::ObjectId thread = host.vm().runJavaThread();
  ASSERT_EQ(host.vm().threadCallbacks().size(), 1u);
  EXPECT_EQ(host.vm().threadCallbacks()[0].threadObject, thread);
}

TEST(NativeMethods, ThreadCreateHookInitWithNullNameLooksUpAnEmptyName) {
  MonitorHost host;
  host.nativeInit(InitArgs{});
  host.nativeThreadCreateHookInit(std::nullopt);
  // The empty name is no class: described and cleared, nothing left pending.
  EXPECT_EQ(host.vm().describedExceptions().size(), 1u);
  EXPECT_FALSE(host.vm().exceptionPending(host.env()));
  EXPECT_TRUE(host.vm().errors().empty());
}

}  // namespace
