#include "jni_method_hook.h"

#include <cstring>

int32_t globalOffset = 0;

namespace {

// The entry lies below this offset in every record of the runtimes we know.
constexpr uintptr_t kMaxEntryOffset = 100;
// Record fields are 4-byte aligned, also on 64-bit runtimes.
constexpr uintptr_t kOffsetStep = 4;

uintptr_t distanceBetween(jmethodID a, jmethodID b) {
  const uintptr_t x = reinterpret_cast<uintptr_t>(a);
  const uintptr_t y = reinterpret_cast<uintptr_t>(b);
  return x > y ? x - y : y - x;
}

void* wordAt(jmethodID method, uintptr_t offset) {
  void* word;
  // Offsets are only 4-byte aligned; memcpy reads a pointer from any of them.
  std::memcpy(&word, reinterpret_cast<const char*>(method) + offset, sizeof word);
  return word;
}

jmethodID findMethod(JNIEnv* env, jclass clazz, const char* methodName, const char* signature) {
  jmethodID method = env->GetStaticMethodID(clazz, methodName, signature);
  checkAndClearException(env);
  if (method == nullptr) {
    method = env->GetMethodID(clazz, methodName, signature);
    checkAndClearException(env);
  }
  return method;
}

}  // namespace

void checkAndClearException(JNIEnv* env) {
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
  }
}

bool initJniMethodHook(JNIEnv* /*env*/, jmethodID markMethod, jmethodID neighbourMethod,
                       void* nativeFunction) {
  if (globalOffset != 0) return true;
  if (nativeFunction == nullptr || markMethod == nullptr || neighbourMethod == nullptr) {
    return false;
  }
  // The neighbour's record starts `distance` bytes away, so every word read lies
  // wholly inside the probe's record; the entry itself lies below 100 bytes.
  const uintptr_t distance = distanceBetween(markMethod, neighbourMethod);
  for (uintptr_t offset = 0; offset < kMaxEntryOffset && offset + sizeof(void*) <= distance;
       offset += kOffsetStep) {
    if (wordAt(markMethod, offset) == nativeFunction) {
      // A first match at offset 0 lies in the record's header, not in an entry:
      // the offset stays unknown.
      globalOffset = static_cast<int32_t>(offset);
      break;
    }
  }
  return globalOffset != 0;
}

bool hookJniMethod(JNIEnv* env, const char* className, const char* methodName,
                   const char* signature, void* newFunction, void** savedFunction) {
  if (globalOffset == 0 || savedFunction == nullptr) return false;
  jclass clazz = env->FindClass(className);
  checkAndClearException(env);
  if (clazz == nullptr) return false;
  const jmethodID method = findMethod(env, clazz, methodName, signature);
  env->DeleteLocalRef(clazz);
  if (method == nullptr) return false;

  void** slot = reinterpret_cast<void**>(reinterpret_cast<char*>(method) + globalOffset);
  *savedFunction = wordAt(method, static_cast<uintptr_t>(globalOffset));
  // Other threads may call the method right now: the saved entry is in place
  // before one aligned store lets them reach the replacement.
  __atomic_store_n(slot, newFunction, __ATOMIC_RELEASE);
  return true;
}
