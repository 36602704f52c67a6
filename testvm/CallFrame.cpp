#include <cstdio>
#include <cstdlib>

#include "MethodCalls.h"
#include "TestVm.h"
#include "VmImpl.h"

namespace testvm {
namespace {

[[noreturn]] void fatal(const std::string& message) {
  std::fprintf(stderr, "testvm: %s\n", message.c_str());
  std::abort();
}

}  // namespace

CallFrame::CallFrame(JNIEnv* env, jmethodID method, jobject receiver, char resultKind, const char* argKinds)
    : env_(env), method_(method), popped_(true) {
  ThreadState* ts = ThreadState::of(env);
  TestVm::Impl& vm = *ts->vm;
  std::lock_guard<std::mutex> lock(vm.mutex);
  const MethodInfo* m = vm.methodOf(method);
  if (m == nullptr) fatal("call of an invalid jmethodID");
  if (m->returnKind != resultKind || m->argKinds != argKinds) {
    fatal("C++ types (" + std::string(argKinds) + ")" + resultKind + " do not match " + m->owner->name + "." + m->name +
          m->signature);
  }
  Object* self = nullptr;
  if (!m->isStatic) {
    self = vm.decode(ts, receiver, "call");
    if (self == nullptr) {
      vm.throwNew(ts, "java/lang/NullPointerException", "call of " + m->name + " on a null object");
      return;
    }
  }
  self_ = enterMethod(vm, ts, *m, self);
  popped_ = false;
  native_ = m->isNative;
  if (native_) {
    entry_ = readNativeEntry(*m);
    if (entry_ == reinterpret_cast<void*>(&unregisteredNativeStub)) {
      throwUnsatisfiedLink(vm, ts, *m);
      return;
    }
  }
  ready_ = true;
}

CallFrame::~CallFrame() { finish(nullptr); }

jvalue CallFrame::callHost(const jvalue* args) {
  const MethodInfo* m;
  {
    std::lock_guard<std::mutex> lock(ThreadState::of(env_)->vm->mutex);
    m = ThreadState::of(env_)->vm->methodOf(method_);
  }
  return m->body ? m->body(env_, self_, args) : jvalue{};
}

jobject CallFrame::finish(jobject result) {
  if (popped_) return nullptr;
  popped_ = true;
  ThreadState* ts = ThreadState::of(env_);
  std::lock_guard<std::mutex> lock(ts->vm->mutex);
  return leaveMethod(*ts->vm, ts, result, result != nullptr);
}

}  // namespace testvm
