#include "jni/registration.h"

#include <android/log.h>

#include <iterator>

#include "jni/host_classes.h"
#include "jni/log_tag.h"
#include "jni/native_methods.h"

namespace {

// The JDK's jni.h declares the name and signature as char*, the NDK's as const
// char*; the runtime never writes through either.
template <typename Function>
JNINativeMethod nativeMethod(const char* name, const char* signature, Function function) {
  return JNINativeMethod{const_cast<char*>(name), const_cast<char*>(signature), reinterpret_cast<void*>(function)};
}

const JNINativeMethod methodsInJniOffset[] = {
    nativeMethod("mark", "()V", jniMethodToMark),
};

const JNINativeMethod methodsInMonitor[] = {
    nativeMethod("nativeInit", "(JLjava/lang/String;Ljava/lang/String;[Ljava/lang/String;JJJ)V", nativeInit),
    nativeMethod("nativeDump", "()V", nativeDump),
};

const JNINativeMethod methodsInThread[] = {
    nativeMethod("nativeGetJavaThreadPeakCount", "()I", nativeGetJavaThreadPeakCount),
    nativeMethod("nativeThreadHook", "()V", nativeThreadHook),
};

const JNINativeMethod methodsInThreadCreateCallback[] = {
    nativeMethod("nativeThreadCreateHookInit", "(Ljava/lang/String;)V", nativeThreadCreateHookInit),
};

template <size_t N>
bool registerGroup(JNIEnv* env, const char* className, const JNINativeMethod (&methods)[N]) {
  return registerNativeMethods(env, className, methods, static_cast<int>(N));
}

}  // namespace

bool registerNativeMethods(JNIEnv* env, const char* className, const JNINativeMethod* methods, int count) {
  jclass clazz = env->FindClass(className);
  if (clazz == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "Native registration unable to find class '%s'", className);
    return false;
  }
  bool registered = env->RegisterNatives(clazz, methods, count) >= 0;
  env->DeleteLocalRef(clazz);
  if (!registered) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "RegisterNatives failed for '%s'", className);
  }
  return registered;
}

bool registerNatives(JNIEnv* env) {
  return registerGroup(env, classJniOffsetPathName, methodsInJniOffset) &&
         registerGroup(env, classMonitorPathName, methodsInMonitor) &&
         registerGroup(env, classMonitorPathName, methodsInThread) &&
         registerGroup(env, classMonitorPathName, methodsInThreadCreateCallback);
}
