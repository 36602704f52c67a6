#include "MonitorHost.h"

#include <dlfcn.h>

#include <cstring>

using testvm::kMonitorClass;

MonitorHost::MonitorHost(const testvm::VmOptions& options)
    : vm_(testvm::TestVm::processVm(options)), onLoadResult_(vm_.loadLibrary(NMM_MONITOR_LIBRARY)) {}

jstring MonitorHost::javaString(const std::optional<std::string>& text) {
  return text ? vm_.newString(env(), *text) : nullptr;
}

void MonitorHost::nativeInit(const InitArgs& args) {
  jobjectArray list = nullptr;
  if (args.soWhiteList) {
    jclass stringClass = env()->FindClass("java/lang/String");
    list = env()->NewObjectArray(static_cast<jsize>(args.soWhiteList->size()), stringClass, nullptr);
    for (size_t i = 0; i < args.soWhiteList->size(); ++i) {
      env()->SetObjectArrayElement(list, static_cast<jsize>(i), javaString((*args.soWhiteList)[i]));
    }
  }
  vm_.callStatic(env(), kMonitorClass, "nativeInit", testvm::kNativeInitSignature, args.featureMask,
                 javaString(args.packageName), javaString(args.nativeLibDir), list, args.timeLimited,
                 args.countLimited, args.memoryLimited);
}

void MonitorHost::nativeDump() {
  vm_.callStatic(env(), kMonitorClass, "nativeDump", testvm::kNativeDumpSignature);
}

jint MonitorHost::nativeGetJavaThreadPeakCount() {
  return vm_.callStatic<jint>(env(), kMonitorClass, "nativeGetJavaThreadPeakCount",
                              testvm::kNativeGetJavaThreadPeakCountSignature);
}

void MonitorHost::nativeThreadHook() {
  vm_.callStatic(env(), kMonitorClass, "nativeThreadHook", testvm::kNativeThreadHookSignature);
}

void MonitorHost::nativeThreadCreateHookInit(const std::optional<std::string>& className) {
  vm_.callStatic(env(), kMonitorClass, "nativeThreadCreateHookInit", testvm::kNativeThreadCreateHookInitSignature,
                 javaString(className));
}

void* MonitorHost::nativeLoadEntry() const {
  return testvm::TestVm::nativeEntry(
      vm_.methodId(testvm::kRuntimeClass, testvm::kNativeLoadMethod, testvm::kNativeLoadSignature));
}

bool MonitorHost::isLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

bool MonitorHost::isInMonitorLibrary(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 && info.dli_fname != nullptr &&
         strcmp(info.dli_fname, NMM_MONITOR_LIBRARY) == 0;
}
