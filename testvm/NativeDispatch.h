// Calls a native method's entry with arguments known only at run time, for the
// JNI Call*Method entries that reach a native method.
#pragma once

#include <jni.h>

#include <string>

namespace testvm {

// Up to this many declared arguments are supported.
constexpr std::size_t kMaxDispatchedArguments = 3;

// Calls `entry(env, self, args...)` as a function of the JNI letters
// `argKinds` returning `returnKind`; false when the shape has more arguments
// than supported.
bool callNativeEntry(void* entry, JNIEnv* env, jobject self, const std::string& argKinds, char returnKind,
                     const jvalue* args, jvalue* result);

}  // namespace testvm
