#include "backtrace/report.h"

#include <android/log.h>

#include <sstream>
#include <string>

#include "jni/java_string.h"
#include "jni/jni_exception.h"
#include "jni/log_tag.h"

jclass exceptionReporter = nullptr;
jmethodID reportMethod = nullptr;
void(JNICALL* originDeleteLocalRef)(JNIEnv* env, jobject obj) = nullptr;

namespace {

constexpr const char* kReporterClass = "com/trivane/corvalis/statistics/VxCatchedExceptionReporter";
constexpr const char* kReportMethod = "reportVxCatchException";
constexpr const char* kReportSignature = "(Ljava/lang/String;Ljava/lang/String;)V";

void deleteOwnLocalRef(JNIEnv* env, jobject ref) {
  if (ref == nullptr) return;
  if (originDeleteLocalRef != nullptr) {
    originDeleteLocalRef(env, ref);
  } else {
    env->DeleteLocalRef(ref);
  }
}

// Calls the host with both strings made; a string the runtime could not make
// (out of memory) leaves its exception pending, which is ours to clear.
void callReporter(JNIEnv* env, const char* name, const char* message) {
  jstring messageString = newJavaString(env, message);
  jstring nameString = newJavaString(env, name);
  if (messageString != nullptr && nameString != nullptr) {
    env->CallStaticVoidMethod(exceptionReporter, reportMethod, nameString, messageString);
  } else {
    env->ExceptionClear();
  }
  deleteOwnLocalRef(env, messageString);
  deleteOwnLocalRef(env, nameString);
}

void reportTrace(JNIEnv* env, const char* name, BacktraceState* trace, std::ostringstream& os) {
  getBacktrace(trace->pcs, trace->depth, os);
  os << "\n";
  report(env, name, os.str().c_str());
}

bool traceMissing(const BacktraceState* trace) {
  if (trace != nullptr) return false;
  __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "[error] report trace is null");
  return true;
}

}  // namespace

void initBacktraceTool(JNIEnv* env) {
  if (env == nullptr) return;
  jclass reporter = env->FindClass(kReporterClass);
  if (describeAndClearException(env) || reporter == nullptr) return;
  exceptionReporter = static_cast<jclass>(env->NewGlobalRef(reporter));
  reportMethod = env->GetStaticMethodID(reporter, kReportMethod, kReportSignature);
  if (describeAndClearException(env)) reportMethod = nullptr;
}

void report(JNIEnv* env, const char* name, const char* message) {
  if (exceptionReporter == nullptr || reportMethod == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "VxCatchedExceptionReporter not found");
    return;
  }
  if (env == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "no JNIEnv, report dropped: %s",
                        name != nullptr ? name : "");
    return;
  }
  // A finding made while the app's native code has an exception pending (say,
  // a malloc between a failed JNI call and its return) must neither trip the
  // runtime's checks nor swallow the app's exception.
  jthrowable pending = env->ExceptionOccurred();
  if (pending != nullptr) env->ExceptionClear();
  callReporter(env, name, message);
  if (pending != nullptr) {
    if (!env->ExceptionCheck()) env->Throw(pending);
    deleteOwnLocalRef(env, pending);
  }
}

void report(JNIEnv* env, const char* name, BacktraceState* trace, unsigned size) {
  if (traceMissing(trace)) return;
  std::ostringstream os;
  os << "[hooked] malloc error, malloc_size" << size << ", the top traces are: \n";
  reportTrace(env, name, trace, os);
}

void report(JNIEnv* env, const char* name, BacktraceState* trace, long long timeLimited,
            long long countLimited) {
  if (traceMissing(trace)) return;
  std::ostringstream os;
  os << "[hooked] malloc over_allocate_per," << "time_limited:" << timeLimited
     << "count_limited:" << countLimited << "the top traces are: \n";
  reportTrace(env, name, trace, os);
}
