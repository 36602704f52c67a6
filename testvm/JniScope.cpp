#include "JniScope.h"

#include <cstdio>
#include <cstdlib>

namespace testvm {
namespace {

ThreadState* stateOf(JNIEnv* env, const char* entry) {
  if (env == nullptr) {
    std::fprintf(stderr, "testvm: %s called with a null JNIEnv\n", entry);
    std::abort();
  }
  return ThreadState::of(env);
}

}  // namespace

JniScope::JniScope(JNIEnv* env, const char* entryName, PendingExceptionPolicy policy)
    : ts(stateOf(env, entryName)), vm(*ts->vm), entry(entryName), lock(vm.mutex) {
  if (ts->id != currentOsThreadId()) {
    misuse(VmError::kWrongThread, "JNIEnv of thread " + std::to_string(ts->id) + " used on thread " +
                                      std::to_string(currentOsThreadId()));
  }
  if (ts->pendingException != nullptr && policy == PendingExceptionPolicy::kForbidden) {
    misuse(VmError::kPendingException,
           std::string("called with pending exception ") + ts->pendingException->klass->dottedName());
  }
}

Object* JniScope::require(jobject ref, const char* what) {
  if (ref == nullptr) {
    misuse(VmError::kNullArgument, std::string(what) + " == null");
    return nullptr;
  }
  return decode(ref);
}

Class* JniScope::requireClass(jclass ref, const char* what) {
  Object* object = require(ref, what);
  if (object == nullptr) return nullptr;
  if (object->kind != ObjectKind::kClassMirror) {
    misuse(VmError::kInvalidReference, std::string(what) + " is not a class");
    return nullptr;
  }
  return object->mirrorOf;
}

Object* JniScope::requireArray(jarray ref) {
  Object* object = require(ref, "java_array");
  if (object != nullptr && object->kind != ObjectKind::kPrimitiveArray && object->kind != ObjectKind::kObjectArray) {
    misuse(VmError::kInvalidReference, "java_array is not an array");
    return nullptr;
  }
  return object;
}

}  // namespace testvm
