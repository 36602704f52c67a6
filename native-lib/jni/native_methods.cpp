#include "jni/native_methods.h"

#include <android/log.h>

#include <list>
#include <mutex>
#include <string>

#include "core/NativeMonitor.h"
#include "jni/host_classes.h"
#include "jni/java_string.h"
#include "jni/log_tag.h"
#include "thread/LongSetFieldHooker.h"

namespace {

constexpr const char* kAllSoHook = "all_so_hook";

// Fills the whitelist from the host's array. "all_so_hook" switches every
// library on and ends the list; null elements carry no path and are skipped.
void fillSoWhiteList(JNIEnv* env, NativeMonitor* monitor, jobjectArray soWhiteList) {
  jsize length = soWhiteList != nullptr ? env->GetArrayLength(soWhiteList) : 0;
  monitor->setAllSoHooked(0);
  for (jsize i = 0; i < length; ++i) {
    auto element = static_cast<jstring>(env->GetObjectArrayElement(soWhiteList, i));
    if (element == nullptr) continue;
    std::string so = readJavaString(env, element);
    env->DeleteLocalRef(element);
    if (so == kAllSoHook) {
      monitor->setAllSoHooked(1);
      break;
    }
    monitor->insert2SoWhiteList(so);
  }
}

// Keeps every callback class name the host ever gave: the thread tracking may
// still be reading an earlier one when the host replaces it.
const char* keepCallbackClassName(std::string name) {
  static std::mutex* namesMutex = new std::mutex();
  static auto* names = new std::list<std::string>();
  std::lock_guard<std::mutex> guard(*namesMutex);
  names->push_back(std::move(name));
  return names->back().c_str();
}

}  // namespace

void nativeInit(JNIEnv* env, jobject /*thiz*/, jlong featureMask, jstring packageName, jstring nativeLibDir,
                jobjectArray soWhiteList, jlong timeLimited, jlong countLimited, jlong memoryLimited) {
  NativeMonitor* monitor = NativeMonitor::getInstance();
  // A second start would install every interception a second time over the first.
  if (!monitor->claimStart()) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "nativeInit ignored: NativeMonitor already started");
    return;
  }
  // The whitelist is complete before start-up, which decides from it whether
  // library loads are intercepted at all.
  fillSoWhiteList(env, monitor, soWhiteList);
  std::string package = readJavaString(env, packageName);
  std::string libDir = readJavaString(env, nativeLibDir);
  jclass monitorClass = env->FindClass(classMonitorPathName);
  if (monitorClass == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "can not find monitor class");
    return;
  }
  monitor->start(env, monitorClass, featureMask, package.c_str(), libDir.c_str(), timeLimited, countLimited,
                 memoryLimited);
  env->DeleteLocalRef(monitorClass);
}

void nativeDump(JNIEnv* env, jobject /*thiz*/) { NativeMonitor::getInstance()->dump(env); }

jint nativeGetJavaThreadPeakCount(JNIEnv* /*env*/, jobject /*thiz*/) {
  return LongSetFieldHooker::getThreadAliveCount();
}

void nativeThreadHook(JNIEnv* env, jobject /*thiz*/) { NativeMonitor::getInstance()->hookLongSetField(env); }

void nativeThreadCreateHookInit(JNIEnv* env, jobject /*thiz*/, jstring className) {
  classThreadOnCreatedCallBack = keepCallbackClassName(readJavaString(env, className));
  ensureThreadFiledIDInit(env);
  ensureJobReportMethodInit(env);
}

void jniMethodToMark(JNIEnv* /*env*/, jobject /*thiz*/) {}
