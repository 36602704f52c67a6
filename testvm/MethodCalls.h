// Calls of Java methods as the runtime makes them: a local frame and a handle
// for the callee's class or receiver, the native entry read from the method
// record at the moment of the call, and the frame popped afterwards.
#pragma once

#include <jni.h>

#include "VmImpl.h"

namespace testvm {

// With the VM lock held: pushes the callee's frame and handle; returns the
// handle reference of the class (static) or receiver.
jobject enterMethod(TestVm::Impl& vm, ThreadState* ts, const MethodInfo& method, Object* receiver);
// With the VM lock held: pops what enterMethod pushed; an object result (a
// reference valid in the callee's frame) gets a reference in the caller's frame.
jobject leaveMethod(TestVm::Impl& vm, ThreadState* ts, jobject result, bool objectResult);
// The native entry as the runtime reads it at a call.
void* readNativeEntry(const MethodInfo& method);
// With the VM lock held: raises the UnsatisfiedLinkError of an unregistered method.
void throwUnsatisfiedLink(TestVm::Impl& vm, ThreadState* ts, const MethodInfo& method);

// The whole call, made without the VM lock held. An object result is a local
// reference in the caller's frame.
jvalue invokeMethod(TestVm::Impl& vm, ThreadState* ts, const MethodInfo& method, Object* receiver,
                    const jvalue* args);

}  // namespace testvm
