#include "NativeDispatch.h"

#include <cstdint>

namespace testvm {
namespace {

// Integral arguments and references travel as one machine word, as every
// supported ABI passes them (in a register of their own); 64-bit integers and
// floating point keep their own types so that register pairs and floating
// point registers are used as the callee expects.
std::intptr_t wordOf(char kind, const jvalue& v) {
  switch (kind) {
    case 'Z':
      return v.z;
    case 'B':
      return v.b;
    case 'C':
      return v.c;
    case 'S':
      return v.s;
    case 'I':
      return v.i;
    default:
      return reinterpret_cast<std::intptr_t>(v.l);
  }
}

jvalue resultOf(char kind, std::intptr_t word) {
  jvalue r{};
  switch (kind) {
    case 'Z':
      r.z = static_cast<jboolean>(word);
      break;
    case 'B':
      r.b = static_cast<jbyte>(word);
      break;
    case 'C':
      r.c = static_cast<jchar>(word);
      break;
    case 'S':
      r.s = static_cast<jshort>(word);
      break;
    case 'I':
      r.i = static_cast<jint>(word);
      break;
    default:
      r.l = reinterpret_cast<jobject>(word);
      break;
  }
  return r;
}

template <typename... Done>
jvalue dispatch(void* entry, JNIEnv* env, jobject self, const char* kinds, char returnKind, const jvalue* args,
                bool* supported, Done... done) {
  if (*kinds == '\0') {
    jvalue r{};
    switch (returnKind) {
      case 'V':
        reinterpret_cast<void (*)(JNIEnv*, jobject, Done...)>(entry)(env, self, done...);
        break;
      case 'J':
        r.j = reinterpret_cast<jlong (*)(JNIEnv*, jobject, Done...)>(entry)(env, self, done...);
        break;
      case 'F':
        r.f = reinterpret_cast<jfloat (*)(JNIEnv*, jobject, Done...)>(entry)(env, self, done...);
        break;
      case 'D':
        r.d = reinterpret_cast<jdouble (*)(JNIEnv*, jobject, Done...)>(entry)(env, self, done...);
        break;
      default:
        r = resultOf(returnKind, reinterpret_cast<std::intptr_t (*)(JNIEnv*, jobject, Done...)>(entry)(env, self, done...));
        break;
    }
    return r;
  }
  if constexpr (sizeof...(Done) < kMaxDispatchedArguments) {
    switch (*kinds) {
      case 'J':
        return dispatch(entry, env, self, kinds + 1, returnKind, args + 1, supported, done..., args->j);
      case 'F':
        return dispatch(entry, env, self, kinds + 1, returnKind, args + 1, supported, done..., args->f);
      case 'D':
        return dispatch(entry, env, self, kinds + 1, returnKind, args + 1, supported, done..., args->d);
      default:
        return dispatch(entry, env, self, kinds + 1, returnKind, args + 1, supported, done..., wordOf(*kinds, *args));
    }
  } else {
    *supported = false;
    return jvalue{};
  }
}

}  // namespace

bool callNativeEntry(void* entry, JNIEnv* env, jobject self, const std::string& argKinds, char returnKind,
                     const jvalue* args, jvalue* result) {
  if (argKinds.size() > kMaxDispatchedArguments) return false;
  bool supported = true;
  *result = dispatch(entry, env, self, argKinds.c_str(), returnKind, args, &supported);
  return supported;
}

}  // namespace testvm
