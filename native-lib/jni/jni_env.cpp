#include "jni/jni_env.h"

#include <android/log.h>

#include "jni/log_tag.h"

JavaVM* g_vm = nullptr;

namespace {

// The NDK declares the out-parameter as JNIEnv**, the JDK as void**.
jint attachCurrentThread(JavaVM* vm, JNIEnv** env) {
#ifdef __ANDROID__
  return vm->AttachCurrentThread(env, nullptr);
#else
  return vm->AttachCurrentThread(reinterpret_cast<void**>(env), nullptr);
#endif
}

}  // namespace

JNIEnv* getJniEnv(int* attached) {
  JNIEnv* env = nullptr;
  if (g_vm == nullptr) return nullptr;
  switch (g_vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4)) {
    case JNI_EDETACHED:
      __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "jvm not attached");
      if (attachCurrentThread(g_vm, &env) != JNI_OK) {
        __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "fail to attach");
      }
      *attached = 1;
      break;
    case JNI_OK:
      *attached = 0;
      break;
    case JNI_EVERSION:
      *attached = 0;
      __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "GetEnv: version not supported");
      break;
    default:
      break;
  }
  return env;
}

void _detach_current_thread() {
  if (g_vm == nullptr) return;
  JNIEnv* env = nullptr;
  switch (g_vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4)) {
    case JNI_EDETACHED:
      __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "jvm not attached");
      break;
    case JNI_OK:
      g_vm->DetachCurrentThread();
      break;
    case JNI_EVERSION:
      __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "GetEnv: version not supported");
      break;
    default:
      break;
  }
}
