#include "Loader.h"

#include <dlfcn.h>

#include "MethodCalls.h"
#include "ModifiedUtf8.h"

namespace testvm {

LoadOutcome openLibrary(TestVm::Impl& vm, const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW);
  if (handle == nullptr) {
    const char* error = dlerror();
    return LoadOutcome{LoadOutcome::kDlopenFailed, nullptr, error != nullptr ? error : "dlopen failed"};
  }
  void* onLoad = dlsym(handle, "JNI_OnLoad");
  std::lock_guard<std::mutex> lock(vm.mutex);
  bool known = !vm.loadedLibraries.emplace(path, handle).second;
  return LoadOutcome{known ? LoadOutcome::kAlreadyLoaded : LoadOutcome::kOpened, onLoad, {}};
}

jint callOnLoad(TestVm::Impl& vm, ThreadState* ts, void* onLoad) {
  {
    std::lock_guard<std::mutex> lock(vm.mutex);
    // The runtime runs JNI_OnLoad with the library's class loader, so app
    // classes are found there.
    ts->locals.pushFrame(FrameKind::kNativeCall);
    ++ts->managedDepth;
  }
  jint result = reinterpret_cast<jint (*)(JavaVM*, void*)>(onLoad)(vm.javaVm(), nullptr);
  std::lock_guard<std::mutex> lock(vm.mutex);
  ts->locals.popNativeCallFrame();
  --ts->managedDepth;
  return result;
}

jstring runtimeNativeLoad(JNIEnv* env, jclass, jstring fileName, jobject, jstring) {
  ThreadState* ts = ThreadState::of(env);
  TestVm::Impl& vm = *ts->vm;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(vm.mutex);
    Object* name = vm.decode(ts, fileName, "Runtime.nativeLoad");
    if (name == nullptr) return nullptr;
    path = utf16ToUtf8(name->chars.get(), static_cast<size_t>(name->length));
  }
  LoadOutcome outcome = openLibrary(vm, path);
  std::string error;
  if (outcome.status == LoadOutcome::kDlopenFailed) {
    error = outcome.error;
  } else if (outcome.status == LoadOutcome::kOpened && outcome.onLoad != nullptr) {
    jint version = callOnLoad(vm, ts, outcome.onLoad);
    if (version == JNI_ERR) {
      error = "JNI_ERR returned from JNI_OnLoad in \"" + path + "\"";
    } else if (version != JNI_VERSION_1_2 && version != JNI_VERSION_1_4 && version != JNI_VERSION_1_6) {
      error = "Bad JNI version returned from JNI_OnLoad in \"" + path + "\": " + std::to_string(version);
    }
  }
  return error.empty() ? nullptr : env->NewStringUTF(error.c_str());
}

}  // namespace testvm
