// A sample host on the test VM: loads libnativememorymonitor.so the way an
// app's runtime does, starts the monitor as the app's Java side would, and
// prints a short account of what the host received.
//
// Usage: nmm_demo [logcat-file]. With a file, the Android log (and everything
// else written to stderr) goes there instead of the terminal.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "log_sink.h"
#include "testvm/TestVm.h"

namespace {

using testvm::TestVm;

int g_logLines = 0;
void countLogLine(int, const char*, const char*) { ++g_logLines; }

std::vector<void*> nativeEntries(TestVm& vm) {
  std::vector<void*> entries;
  for (const testvm::DeclaredNative& m : testvm::kDeclaredNatives) entries.push_back(TestVm::nativeEntry(vm.methodId(m.className, m.name, m.signature)));
  return entries;
}

void* nativeLoadEntry(TestVm& vm) {
  return TestVm::nativeEntry(vm.methodId(testvm::kRuntimeClass, testvm::kNativeLoadMethod, testvm::kNativeLoadSignature));
}

enum class Loaded { kStartable, kNotStartable, kDlopenFailed };

Loaded load(TestVm& vm) {
  std::printf("Loading %s\n", NMM_MONITOR_LIBRARY);
  std::vector<void*> before = nativeEntries(vm);
  jint result = vm.loadLibrary(NMM_MONITOR_LIBRARY);
  if (result == TestVm::kDlopenFailed) {
    std::printf("  dlopen failed: %s\n", vm.lastLoadError().c_str());
    return Loaded::kDlopenFailed;
  }
  if (result == TestVm::kNoJniOnLoad) {
    std::printf("  the library has no JNI_OnLoad yet: nothing to start\n");
    return Loaded::kNotStartable;
  }
  std::printf("  JNI_OnLoad returned 0x%x%s\n", static_cast<unsigned>(result),
              result == JNI_VERSION_1_4 ? " (JNI_VERSION_1_4)" : "");
  std::vector<void*> after = nativeEntries(vm);
  int registered = 0;
  for (std::size_t i = 0; i < after.size(); ++i) registered += after[i] != before[i];
  std::printf("  native methods registered: %d of %zu\n", registered, after.size());
  bool startable = result == JNI_VERSION_1_4 && registered == static_cast<int>(after.size());
  return startable ? Loaded::kStartable : Loaded::kNotStartable;
}

// What the host's log received since `from`, one line each.
void printHostLogSince(TestVm& vm, std::size_t from) {
  std::vector<testvm::HostLogLine> log = vm.hostLog();
  for (std::size_t i = from; i < log.size(); ++i) {
    std::printf("    host log %s %s\n", log[i].level == testvm::HostLogLine::kError ? "E" : "I", log[i].text.c_str());
  }
}

void startMonitor(TestVm& vm) {
  JNIEnv* env = vm.env();
  jlong features = 0;
  for (const auto& flag : testvm::defaultMonitorFlags()) features |= flag.second;
  const std::vector<std::string> whitelist = {NMM_DEMO_APP_LIBRARY};
  std::printf("Calling NativeMemoryMonitor.nativeInit: every feature on, whitelist [%s]\n", whitelist[0].c_str());
  void* loaderBefore = nativeLoadEntry(vm);
  std::size_t logBefore = vm.hostLog().size();
  vm.callStatic(env, testvm::kMonitorClass, "nativeInit", testvm::kNativeInitSignature, features,
                vm.newString(env, "com.trivane.demo"), vm.newString(env, "/data/app/com.trivane.demo/lib/arm"),
                vm.newStringArray(env, whitelist), jlong{1000}, jlong{100}, jlong{2 * 1024 * 1024});
  if (vm.exceptionPending(env)) {
    std::printf("  nativeInit left %s pending: %s\n", vm.pendingExceptionClass(env).c_str(),
                vm.pendingExceptionMessage(env).c_str());
    env->ExceptionClear();
  }
  printHostLogSince(vm, logBefore);
  std::printf("  library loads intercepted (Runtime.nativeLoad entry replaced): %s\n",
              nativeLoadEntry(vm) != loaderBefore ? "yes" : "no");
}

void loadAppLibraries(TestVm& vm) {
  for (const char* path : {NMM_DEMO_APP_LIBRARY, NMM_DEMO_OTHER_LIBRARY}) {
    std::printf("The app loads %s through Runtime.nativeLoad\n", path);
    std::size_t before = vm.hostLog().size();
    std::optional<std::string> error = vm.nativeLoad(path);
    std::printf("  runtime result: %s\n", error ? error->c_str() : "loaded");
    printHostLogSince(vm, before);
  }
}

void trackThreadStarts(TestVm& vm) {
  JNIEnv* env = vm.env();
  std::printf("Calling NativeMemoryMonitor.nativeThreadHook, then starting two Java threads\n");
  vm.callStatic(env, testvm::kMonitorClass, "nativeThreadHook", testvm::kNativeThreadHookSignature);
  vm.runJavaThread();
  vm.runJavaThread();
  std::printf("  thread-start callbacks the host received: %zu\n", vm.threadCallbacks().size());
}

void printHostSide(TestVm& vm) {
  std::vector<testvm::HostLogLine> log = vm.hostLog();
  std::printf("In all, the host received\n  %zu log message%s\n", log.size(), log.size() == 1 ? "" : "s");
  std::vector<testvm::Report> reports = vm.reports();
  std::printf("  %zu report%s\n", reports.size(), reports.size() == 1 ? "" : "s");
  for (const testvm::Report& report : reports) {
    std::printf("    %s: %s\n", report.name.c_str(), report.message.substr(0, report.message.find('\n')).c_str());
  }
}

void printVmChecks(TestVm& vm, const char* logcatFile) {
  std::vector<testvm::VmError> errors = vm.errors();
  std::printf("The runtime saw\n  JNI misuse: %s\n", errors.empty() ? "none" : "");
  for (const testvm::VmError& e : errors) std::printf("    %s: %s\n", e.entry.c_str(), e.detail.c_str());
  std::printf("  threads left attached besides the host: %zu\n", vm.attachedThreadCount() - 1);
  std::printf("Android log: %d line%s", g_logLines, g_logLines == 1 ? "" : "s");
  if (logcatFile != nullptr) std::printf(", written to %s", logcatFile);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const char* logcatFile = argc > 1 ? argv[1] : nullptr;
  if (logcatFile != nullptr) {
    int fd = open(logcatFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) {
      std::perror(logcatFile);
      return 1;
    }
    close(fd);
  }
  nmm_set_log_sink(countLogLine);
  // The library keeps pointers into the VM until the process ends.
  TestVm& vm = TestVm::processVm();
  std::printf("Native memory monitor demo on the test VM (ART-like, SDK %d)\n\n", vm.sdkInt());
  Loaded loaded = load(vm);
  if (loaded == Loaded::kStartable) {
    std::printf("\n");
    startMonitor(vm);
    std::printf("\n");
    loadAppLibraries(vm);
    std::printf("\n");
    trackThreadStarts(vm);
  }
  std::printf("\n");
  printHostSide(vm);
  std::printf("\n");
  printVmChecks(vm, logcatFile);
  std::fflush(stdout);
  return loaded == Loaded::kDlopenFailed ? 1 : 0;
}
