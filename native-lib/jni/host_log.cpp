#include "jni/host_log.h"

#include <android/log.h>

#include <atomic>
#include <cstdarg>

#include "jni/java_string.h"
#include "jni/jni_env.h"
#include "jni/log_tag.h"

namespace {

constexpr const char* kMonitorClass = "com/trivane/corvalis/nativememorymonitor/library/NativeMemoryMonitor";
constexpr const char* kLogSignature = "(Ljava/lang/String;)V";
// 255 characters and the terminating zero.
constexpr size_t kLogBufferSize = 256;

// Filled on the first successful lookup and never released. Start-up fills them
// on the host's thread before any hook runs; atomics keep a first use that races
// on two threads well defined.
std::atomic<jclass> clazz{nullptr};
std::atomic<jmethodID> logErrorMethod{nullptr};
std::atomic<jmethodID> logInfoMethod{nullptr};

bool ensureStaticLogMethod(JNIEnv* env, std::atomic<jmethodID>& method, const char* name) {
  if (method.load() != nullptr) return true;
  jmethodID found = env->GetStaticMethodID(clazz.load(), name, kLogSignature);
  method.store(found);
  return found != nullptr;
}

void sendToHost(JNIEnv* env, const std::atomic<jmethodID>& method, const char* fmt, va_list args) {
  if (!ensureLogMethodInit(env)) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "fail to find method needed");
    return;
  }
  char buffer[kLogBufferSize];
  formatModifiedUtf8(buffer, sizeof(buffer), fmt, args);
  if (env->ExceptionCheck()) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "fail to find method needed 2");
    return;
  }
  jstring text = newJavaString(env, buffer);
  if (text == nullptr) return;
  env->CallStaticVoidMethod(clazz.load(), method.load(), text);
  env->DeleteLocalRef(text);
}

void logToJava(const std::atomic<jmethodID>& method, const char* fmt, va_list args) {
  int isAttachThread = 0;
  JNIEnv* env = getJniEnv(&isAttachThread);
  if (env != nullptr) sendToHost(env, method, fmt, args);
  if (isAttachThread != 0) _detach_current_thread();
}

}  // namespace

bool ensureLogClassInit(JNIEnv* env) {
  if (clazz.load() != nullptr) return true;
  jclass local = env->FindClass(kMonitorClass);
  if (local == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "can not find class NativeMemoryMonitor");
    return false;
  }
  auto global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  jclass expected = nullptr;
  if (!clazz.compare_exchange_strong(expected, global)) env->DeleteGlobalRef(global);
  return true;
}

bool ensureLogMethodInit(JNIEnv* env) {
  if (!ensureLogClassInit(env)) return false;
  return ensureStaticLogMethod(env, logErrorMethod, "logErrorFromNative") &&
         ensureStaticLogMethod(env, logInfoMethod, "logInfoFromNative");
}

void logErrorToJava(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  logToJava(logErrorMethod, fmt, args);
  va_end(args);
}

void logInfoToJava(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  logToJava(logInfoMethod, fmt, args);
  va_end(args);
}
