// The JavaVM invoke interface: environments, attach and detach.
#include <cstdio>
#include <cstdlib>

#include "JniFunctionTable.h"
#include "VmImpl.h"

namespace testvm {
namespace {

bool isSupportedVersion(jint version) {
  return version == JNI_VERSION_1_2 || version == JNI_VERSION_1_4 || version == JNI_VERSION_1_6;
}

jint JNICALL DestroyJavaVM(JavaVM*) {
  std::fprintf(stderr, "testvm: DestroyJavaVM not implemented\n");
  std::abort();
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** env, void* args) {
  if (vm == nullptr || env == nullptr) return JNI_ERR;
  auto* attachArgs = static_cast<JavaVMAttachArgs*>(args);
  if (attachArgs != nullptr && !isSupportedVersion(attachArgs->version)) return JNI_EVERSION;
  TestVm::Impl* impl = TestVm::Impl::of(vm);
  ThreadState* ts = impl->current();
  if (ts == nullptr) ts = impl->attachCurrent(false);
  *env = ts->jniEnv();
  return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM* vm) {
  if (vm == nullptr) return JNI_ERR;
  TestVm::Impl* impl = TestVm::Impl::of(vm);
  ThreadState* ts = impl->current();
  if (ts == nullptr) return JNI_ERR;
  if (ts->managed || ts->managedDepth > 0) {
    // ART aborts: the thread is still running Java code.
    impl->recordError(VmError::kWrongThread, "DetachCurrentThread", "thread is still running Java code");
    return JNI_ERR;
  }
  impl->detachCurrent(ts, true);
  return JNI_OK;
}

// As ART: an unknown thread is told so whatever the version it asks for.
jint JNICALL GetEnv(JavaVM* vm, void** env, jint version) {
  if (vm == nullptr || env == nullptr) return JNI_ERR;
  ThreadState* ts = TestVm::Impl::of(vm)->current();
  if (ts == nullptr) {
    *env = nullptr;
    return JNI_EDETACHED;
  }
  if (!isSupportedVersion(version) && version != JNI_VERSION_1_1) return JNI_EVERSION;
  *env = ts->jniEnv();
  return JNI_OK;
}

const JNIInvokeInterface_ kInvokeInterface = {
    nullptr, nullptr, nullptr, DestroyJavaVM, AttachCurrentThread, DetachCurrentThread, GetEnv, AttachCurrentThread,
};

}  // namespace

const JNIInvokeInterface_* invokeInterface() { return &kInvokeInterface; }

}  // namespace testvm
