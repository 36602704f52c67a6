// Library loads through the runtime after start-up has replaced the native entry
// of Runtime.nativeLoad.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "MonitorHost.h"

namespace {

constexpr const char* kTag = "MemoryTrackerDemo";
const std::string kLoadable = LOADABLE_LIBRARY;
const std::string kPackage = "com.example.app";
const std::string kLibDir = "/data/app/com.example.app-1/lib/arm";

using Whitelist = std::vector<std::optional<std::string>>;

void start(MonitorHost& host, const Whitelist& whitelist, const std::string& nativeLibDir = kLibDir) {
  InitArgs args;
  args.packageName = kPackage;
  args.nativeLibDir = nativeLibDir;
  args.soWhiteList = whitelist;
  host.nativeInit(args);
  host.vm().clearRecordings();
}

size_t count(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

TEST(LibraryLoad, StartUpReplacesTheLoaderEntryAndTheRuntimeStillLoads) {
  MonitorHost host;
  void* runtimeEntry = host.nativeLoadEntry();
  ASSERT_NE(runtimeEntry, nullptr);
  start(host, {kLoadable});
  void* entry = host.nativeLoadEntry();
  EXPECT_NE(entry, runtimeEntry);
  EXPECT_TRUE(MonitorHost::isInMonitorLibrary(entry));
  ASSERT_FALSE(MonitorHost::isLoaded(kLoadable));

  LogCapture cap;
  EXPECT_EQ(host.vm().nativeLoad(kLoadable), std::nullopt);

  EXPECT_TRUE(MonitorHost::isLoaded(kLoadable));
  EXPECT_EQ(cap.texts(kTag), (std::vector<std::string>{"native load " + kLoadable + ", isSystem 0",
                                                        "native load, find so in whitelist",
                                                        "native load, find so in whitelist"}));
  EXPECT_EQ(host.vm().hostInfoLog(),
            (std::vector<std::string>{"[malloc hook]hook:" + kLoadable, "[malloc hook]hook:" + kLoadable,
                                      "NativeMonitor::afterSoLoad: " + kLoadable}));
  EXPECT_TRUE(host.vm().errors().empty());
}

TEST(LibraryLoad, WithNothingToWatchTheLoaderIsLeftAlone) {
  MonitorHost host;
  void* runtimeEntry = host.nativeLoadEntry();
  start(host, {});
  EXPECT_EQ(host.nativeLoadEntry(), runtimeEntry);
  LogCapture cap;
  EXPECT_EQ(host.vm().nativeLoad(kLoadable), std::nullopt);
  EXPECT_TRUE(MonitorHost::isLoaded(kLoadable));
  EXPECT_TRUE(cap.texts(kTag).empty());
  EXPECT_TRUE(host.vm().hostLog().empty());
}

const std::string kSystemLibrary = "/system/lib/libnmm_absent.so";

class SystemLibrary : public testing::TestWithParam<Whitelist> {};

TEST_P(SystemLibrary, IsNeverTestedNorAnnounced) {
  MonitorHost host;
  start(host, GetParam());
  LogCapture cap;
  host.vm().nativeLoad(kSystemLibrary);
  EXPECT_EQ(cap.texts(kTag), std::vector<std::string>{"native load " + kSystemLibrary + ", isSystem 1"});
  EXPECT_TRUE(host.vm().hostLog().empty());
}

INSTANTIATE_TEST_SUITE_P(Whitelists, SystemLibrary,
                         testing::Values(Whitelist{"all_so_hook"}, Whitelist{kSystemLibrary}));

class AllLibrariesMode : public testing::TestWithParam<std::string> {};

TEST_P(AllLibrariesMode, AnnouncesEveryOtherPartition) {
  const std::string& path = GetParam();
  MonitorHost host;
  start(host, {"all_so_hook"});
  LogCapture cap;
  host.vm().nativeLoad(path);
  EXPECT_EQ(cap.texts(kTag), (std::vector<std::string>{"native load " + path + ", isSystem 0",
                                                        "native load, find so in whitelist",
                                                        "native load, find so in whitelist"}));
  EXPECT_EQ(host.vm().hostInfoLog(),
            (std::vector<std::string>{"[malloc hook]all so hook", "[malloc hook]all so hook",
                                      "NativeMonitor::afterSoLoad: " + path}));
}

INSTANTIATE_TEST_SUITE_P(Paths, AllLibrariesMode,
                         testing::Values("/vendor/lib/libnmm_absent.so", kLibDir + "/libnmm_absent.so", kLoadable));

TEST(LibraryLoad, AnUnlistedLibraryIsReportedAndNotAnnounced) {
  MonitorHost host;
  start(host, {kLoadable});
  const std::string other = kLibDir + "/libother.so";
  LogCapture cap;
  host.vm().nativeLoad(other);
  const std::string refusal = "[malloc hook]hook not find in so Whitee list:" + other;
  EXPECT_EQ(cap.texts(kTag), (std::vector<std::string>{"native load " + other + ", isSystem 0", refusal, refusal}));
  EXPECT_EQ(host.vm().hostErrorLog(), (std::vector<std::string>{refusal, refusal}));
  EXPECT_TRUE(host.vm().hostInfoLog().empty());
}

TEST(LibraryLoad, ALibraryLoadedTwiceIsAnnouncedAfterLoadingOnce) {
  MonitorHost host;
  start(host, {kLoadable});
  LogCapture cap;
  EXPECT_EQ(host.vm().nativeLoad(kLoadable), std::nullopt);
  EXPECT_EQ(host.vm().nativeLoad(kLoadable), std::nullopt);
  // Announced before loading both times, after loading the first time only.
  EXPECT_EQ(count(cap.texts(kTag), "native load, find so in whitelist"), 4u);
  EXPECT_EQ(count(host.vm().hostInfoLog(), "[malloc hook]hook:" + kLoadable), 4u);
  EXPECT_EQ(count(host.vm().hostInfoLog(), "NativeMonitor::afterSoLoad: " + kLoadable), 1u);
}

TEST(LibraryLoad, TwoThreadsLoadingOneLibraryAnnounceItOnce) {
  MonitorHost host;
  start(host, {kLoadable});
  std::atomic<int> ready{0};
  std::optional<std::string> results[2];
  auto load = [&](int i) {
    JNIEnv* env = nullptr;
    host.vm().javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    results[i] = host.vm().nativeLoad(kLoadable);
    host.vm().javaVm()->DetachCurrentThread();
  };
  std::thread first(load, 0);
  std::thread second(load, 1);
  first.join();
  second.join();

  EXPECT_EQ(results[0], std::nullopt);
  EXPECT_EQ(results[1], std::nullopt);
  EXPECT_EQ(count(host.vm().hostInfoLog(), "[malloc hook]hook:" + kLoadable), 4u);
  EXPECT_EQ(count(host.vm().hostInfoLog(), "NativeMonitor::afterSoLoad: " + kLoadable), 1u);
  EXPECT_TRUE(host.vm().errors().empty());
}

TEST(LibraryLoad, AFailedLoadIsStillAnnounced) {
  const std::string missing = kLibDir + "/libmissing.so";
  MonitorHost host;
  start(host, {missing});
  std::optional<std::string> result = host.vm().nativeLoad(missing);
  EXPECT_TRUE(result.has_value());
  EXPECT_EQ(host.vm().hostInfoLog(),
            (std::vector<std::string>{"[malloc hook]hook:" + missing, "[malloc hook]hook:" + missing,
                                      "NativeMonitor::afterSoLoad: " + missing}));
}

struct RewriteCase {
  const char* name;
  std::string nativeLibDir;
  std::string path;
  std::optional<std::string> mapped;  // nullopt: not rewritten
};

void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.name; }

class PathRewrite : public testing::TestWithParam<RewriteCase> {};

TEST_P(PathRewrite, UserPathsAreAnnouncedUnderTheirMappedPath) {
  const RewriteCase& c = GetParam();
  MonitorHost host;
  start(host, {"all_so_hook"}, c.nativeLibDir);
  LogCapture cap;
  host.vm().nativeLoad(c.path);
  std::vector<std::string> rewrites;
  for (const std::string& text : cap.texts(kTag)) {
    if (text.rfind("origin lib path is ", 0) == 0) rewrites.push_back(text);
  }
  std::vector<std::string> expected;
  if (c.mapped) expected.push_back("origin lib path is " + c.path + " and replaced by " + *c.mapped);
  EXPECT_EQ(rewrites, expected);
  // The host hears of the path as the runtime received it.
  EXPECT_EQ(count(host.vm().hostInfoLog(), "NativeMonitor::afterSoLoad: " + c.path), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PathRewrite,
    testing::Values(RewriteCase{"PackageLibDir", kLibDir, "/data/user/0/com.example.app/lib/libx.so",
                                kLibDir + "/libx.so"},
                    RewriteCase{"LibDirWithTrailingSlash", kLibDir + "/", "/data/user/0/com.example.app/lib/libx.so",
                                kLibDir + "//libx.so"},
                    RewriteCase{"OtherDataPath", kLibDir, "/data/user/0/com.example.app/files/libx.so",
                                std::string("/data/data/com.example.app/files/libx.so")},
                    RewriteCase{"OtherUser", kLibDir, "/data/user/10/com.example.app/lib/libx.so", std::nullopt}),
    [](const testing::TestParamInfo<RewriteCase>& info) { return info.param.name; });

}  // namespace
