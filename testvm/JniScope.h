// What every modelled JNI entry does first: find the calling thread's state,
// check that the env belongs to the calling thread and, unless the entry is
// one JNI allows then, that no exception is pending; then hold the VM lock.
#pragma once

#include <jni.h>

#include <mutex>
#include <string>

#include "VmImpl.h"

namespace testvm {

enum class PendingExceptionPolicy { kForbidden, kAllowed };

class JniScope {
 public:
  JniScope(JNIEnv* env, const char* entry, PendingExceptionPolicy policy = PendingExceptionPolicy::kForbidden);

  ThreadState* const ts;
  TestVm::Impl& vm;
  const char* const entry;
  std::unique_lock<std::mutex> lock;

  // The object of `ref`; null (recorded) when the reference is invalid.
  Object* decode(jobject ref) { return vm.decode(ts, ref, entry); }
  // As decode, but null is recorded as a misuse; `what` names the argument.
  Object* require(jobject ref, const char* what);
  Class* requireClass(jclass ref, const char* what = "java_class");
  Object* requireArray(jarray ref);
  jobject local(Object* object) { return vm.addLocal(ts, object, entry); }
  void throwNew(const std::string& className, std::optional<std::string> message) {
    vm.throwNew(ts, className, std::move(message));
  }
  void misuse(VmError::Kind kind, const std::string& detail) { vm.recordError(kind, entry, detail); }
};

}  // namespace testvm
