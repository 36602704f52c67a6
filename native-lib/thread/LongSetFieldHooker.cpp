#include "thread/LongSetFieldHooker.h"

#include <android/log.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <list>
#include <mutex>
#include <type_traits>
#include <vector>

#include "jni/host_classes.h"
#include "jni/host_log.h"
#include "jni/jni_env.h"
#include "jni/jni_exception.h"
#include "jni/log_tag.h"
#include "jnitable/jni_table.h"

void (*originalSetLongField)(JNIEnv*, jobject, jfieldID, jlong) = nullptr;

namespace {

using FunctionTable = std::remove_const_t<std::remove_pointer_t<decltype(JNIEnv::functions)>>;
constexpr size_t kSetLongFieldIndex = 110;
static_assert(offsetof(FunctionTable, SetLongField) == kSetLongFieldIndex * sizeof(void*),
              "SetLongField is entry 110 of the JNI function table");

// Resolved on first use by whichever thread gets there first, never released.
// Every thread resolves the same values, so a lost race only costs a lookup.
std::atomic<jclass> g_thread_cls{nullptr};
std::atomic<jfieldID> g_nativePeer_filedID{nullptr};
std::atomic<jclass> g_job_report_class{nullptr};
std::atomic<jmethodID> g_job_report_method_id{nullptr};

// Weak global references to tracked thread objects. Nothing fills it yet; a
// writer must hold the mutex.
std::list<jobject> mAllJavaThreadList;
std::mutex mAllJavaThreadListMutex;

JNIEnv* envArgument(int count, va_list args) {
  return count >= 1 ? va_arg(args, JNIEnv*) : nullptr;
}

// The class `name`, held in `cached` as a global reference. Two first callers
// may both look it up; the first to publish wins and the other drops its own.
jclass ensureClass(JNIEnv* env, std::atomic<jclass>& cached, const char* name) {
  jclass published = cached.load(std::memory_order_acquire);
  if (published != nullptr) return published;
  jclass local = env->FindClass(name);
  if (describeAndClearException(env) || local == nullptr) return nullptr;
  auto global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  if (global == nullptr) return nullptr;
  if (cached.compare_exchange_strong(published, global, std::memory_order_acq_rel,
                                     std::memory_order_acquire)) {
    return global;
  }
  env->DeleteGlobalRef(global);
  return published;
}

}  // namespace

int ensureThreadFiledIDInit(JNIEnv* env) {
  if (g_nativePeer_filedID.load(std::memory_order_acquire) != nullptr) return 1;
  jclass thread = ensureClass(env, g_thread_cls, "java/lang/Thread");
  if (thread == nullptr) return 0;
  jfieldID field = env->GetFieldID(thread, "nativePeer", "J");
  if (describeAndClearException(env) || field == nullptr) return 0;
  g_nativePeer_filedID.store(field, std::memory_order_release);
  return 1;
}

int ensureJobReportMethodInit(JNIEnv* env) {
  if (g_job_report_method_id.load(std::memory_order_acquire) != nullptr) return 1;
  jclass reporter = ensureClass(env, g_job_report_class, classThreadOnCreatedCallBack);
  if (reporter == nullptr) return 0;
  jmethodID method =
      env->GetStaticMethodID(reporter, "onThreadCreatedCallback", "(Ljava/lang/Object;)V");
  if (describeAndClearException(env) || method == nullptr) return 0;
  // Published after the class: whoever sees the method also sees the class.
  g_job_report_method_id.store(method, std::memory_order_release);
  return 1;
}

LongSetFieldHooker::LongSetFieldHooker(NativeMonitor* monitor)
    : BaseHooker("LongSetFieldHooker", monitor) {}

void LongSetFieldHooker::beforeHook(int count, ...) {
  va_list args;
  va_start(args, count);
  JNIEnv* env = envArgument(count, args);
  va_end(args);
  if (env == nullptr) return;
  originalSetLongField = env->functions->SetLongField;
}

void LongSetFieldHooker::onInit(int count, ...) {
  va_list args;
  va_start(args, count);
  JNIEnv* env = envArgument(count, args);
  va_end(args);
  if (env == nullptr) return;
  void** table = reinterpret_cast<void**>(const_cast<FunctionTable*>(env->functions));
  replaceJniEnvFunction(table + kSetLongFieldIndex, reinterpret_cast<void*>(&hookedSetLongField));
  logInfoToJava("%s", "[setLongField hooked]");
}

void LongSetFieldHooker::hookedSetLongField(JNIEnv* env, jobject obj, jfieldID fieldID, jlong value) {
  if (originalSetLongField == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "oringal SetLongField is null");
    return;
  }
  originalSetLongField(env, obj, fieldID, value);
  // The caller's exception (it wrote with one pending, or the runtime threw):
  // looking anything up now would describe and clear it behind the caller's back.
  if (env->ExceptionCheck()) return;
  // The Thread field is resolved on the first write of any field, the callback
  // only on a write of nativePeer.
  if (ensureThreadFiledIDInit(env) != 1) return;
  if (fieldID != g_nativePeer_filedID.load(std::memory_order_acquire)) return;
  if (ensureJobReportMethodInit(env) != 1) return;
  // An exception thrown by the callback stays pending for the caller.
  env->CallStaticVoidMethod(g_job_report_class.load(std::memory_order_acquire),
                            g_job_report_method_id.load(std::memory_order_acquire), obj);
}

int LongSetFieldHooker::getThreadAliveCount() {
  int isAttachThread = 0;
  JNIEnv* env = getJniEnv(&isAttachThread);
  std::vector<jobject> threads;
  {
    // Copied so that the runtime is never called with the lock held.
    std::lock_guard<std::mutex> lock(mAllJavaThreadListMutex);
    threads.assign(mAllJavaThreadList.begin(), mAllJavaThreadList.end());
  }
  int count = 0;
  if (env != nullptr) {
    for (jobject thread : threads) {
      if (!env->IsSameObject(thread, nullptr)) ++count;
    }
  }
  if (isAttachThread != 0) _detach_current_thread();
  return count;
}
