// An app's view of the monitor: the real libnativememorymonitor.so loaded into
// the process's test VM by the runtime's loader, driven through the natives it
// registered. One per test process (the library keeps pointers into the VM).
#pragma once

#include <jni.h>

#include <optional>
#include <string>
#include <vector>

#include "testvm/TestVm.h"

// Arguments of NativeMemoryMonitor.nativeInit; nullopt stands for a Java null.
struct InitArgs {
  jlong featureMask = 0;
  std::optional<std::string> packageName = std::string("com.example.app");
  std::optional<std::string> nativeLibDir = std::string("/data/app/com.example.app-1/lib/arm");
  std::optional<std::vector<std::optional<std::string>>> soWhiteList = std::vector<std::optional<std::string>>{};
  jlong timeLimited = 1000000;
  jlong countLimited = 1000;
  jlong memoryLimited = 2000;
};

class MonitorHost {
 public:
  explicit MonitorHost(const testvm::VmOptions& options = {});

  testvm::TestVm& vm() { return vm_; }
  JNIEnv* env() { return vm_.env(); }
  jint onLoadResult() const { return onLoadResult_; }

  void nativeInit(const InitArgs& args);
  void nativeDump();
  jint nativeGetJavaThreadPeakCount();
  void nativeThreadHook();
  void nativeThreadCreateHookInit(const std::optional<std::string>& className);

  // The native entry of Runtime.nativeLoad as the runtime would read it now.
  void* nativeLoadEntry() const;
  // Whether the library at `path` is mapped into the process.
  static bool isLoaded(const std::string& path);
  // Whether `address` lies inside the monitor library.
  static bool isInMonitorLibrary(const void* address);

 private:
  jstring javaString(const std::optional<std::string>& text);

  testvm::TestVm& vm_;
  jint onLoadResult_;
};
