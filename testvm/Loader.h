// Native library loading as the runtime does it: dlopen, then JNI_OnLoad with
// the VM, once per library.
#pragma once

#include <jni.h>

#include <string>

#include "VmImpl.h"

namespace testvm {

struct LoadOutcome {
  enum Status { kOpened, kAlreadyLoaded, kDlopenFailed } status;
  void* onLoad;       // JNI_OnLoad, null when the library has none
  std::string error;  // dlerror text when dlopen failed
};

// dlopens `path` and remembers it as loaded by the VM.
LoadOutcome openLibrary(TestVm::Impl& vm, const std::string& path);

// Calls JNI_OnLoad(vm, nullptr) on the calling thread inside a native frame.
jint callOnLoad(TestVm::Impl& vm, ThreadState* ts, void* onLoad);

}  // namespace testvm
