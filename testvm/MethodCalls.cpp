#include "MethodCalls.h"

#include <cstdio>
#include <cstdlib>

#include "NativeDispatch.h"

namespace testvm {

jobject enterMethod(TestVm::Impl& vm, ThreadState* ts, const MethodInfo& method, Object* receiver) {
  ts->locals.pushFrame(FrameKind::kNativeCall);
  ++ts->managedDepth;
  return vm.pushHandle(ts, method.isStatic ? method.owner->mirror : receiver);
}

jobject leaveMethod(TestVm::Impl& vm, ThreadState* ts, jobject result, bool objectResult) {
  Object* kept = objectResult ? vm.decode(ts, result, "method return") : nullptr;
  ts->locals.popNativeCallFrame();
  ts->handles.pop_back();
  --ts->managedDepth;
  return vm.addLocal(ts, kept, "method return");
}

void* readNativeEntry(const MethodInfo& method) {
  return __atomic_load_n(&method.owner->record(method.index)->f.data, __ATOMIC_ACQUIRE);
}

void throwUnsatisfiedLink(TestVm::Impl& vm, ThreadState* ts, const MethodInfo& method) {
  vm.throwNew(ts, "java/lang/UnsatisfiedLinkError",
              "No implementation found for " + method.owner->descriptor() + "." + method.name + method.signature);
}

jvalue invokeMethod(TestVm::Impl& vm, ThreadState* ts, const MethodInfo& method, Object* receiver,
                    const jvalue* args) {
  jobject self;
  void* entry = nullptr;
  {
    std::lock_guard<std::mutex> lock(vm.mutex);
    self = enterMethod(vm, ts, method, receiver);
    if (method.isNative) entry = readNativeEntry(method);
    if (entry == reinterpret_cast<void*>(&unregisteredNativeStub)) throwUnsatisfiedLink(vm, ts, method);
  }
  jvalue result{};
  if (method.isNative && entry != reinterpret_cast<void*>(&unregisteredNativeStub)) {
    if (!callNativeEntry(entry, ts->jniEnv(), self, method.argKinds, method.returnKind, args, &result)) {
      std::fprintf(stderr, "testvm: calling native %s.%s%s through JNI with more than %zu arguments not implemented\n",
                   method.owner->name.c_str(), method.name.c_str(), method.signature.c_str(),
                   kMaxDispatchedArguments);
      std::abort();
    }
  } else if (!method.isNative && method.body) {
    result = method.body(ts->jniEnv(), self, args);
  }
  std::lock_guard<std::mutex> lock(vm.mutex);
  jobject kept = leaveMethod(vm, ts, method.returnKind == 'L' ? result.l : nullptr, method.returnKind == 'L');
  if (method.returnKind == 'L') result.l = kept;
  return result;
}

}  // namespace testvm
