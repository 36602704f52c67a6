// The loader entry the runtime calls when the host loads the library.
#include <android/log.h>
#include <jni.h>

#include "jni/jni_env.h"
#include "jni/registration.h"

JNIEXPORT jint JNI_OnLoad(JavaVM* vm, void* /*reserved*/) {
  // Recorded first: every environment lookup of the library goes through it.
  g_vm = vm;
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) != JNI_OK) {
    __android_log_print(ANDROID_LOG_ERROR, "MemoryTrackerDemo", "ERROR: GetEnv failed");
    return -1;
  }
  if (!registerNatives(env)) {
    __android_log_print(ANDROID_LOG_ERROR, "MemoryTrackerDemo", "ERROR: registerNatives failed");
    return -1;
  }
  return JNI_VERSION_1_4;
}
