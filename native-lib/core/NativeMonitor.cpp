#include "core/NativeMonitor.h"

#include <android/log.h>

#include "backtrace/report.h"
#include "core/BaseHooker.h"
#include "core/BaseTracker.h"
#include "core/LogAllTracker.h"
#include "core/TreeNode.h"
#include "core/so_load.h"
#include "core/topic_bus.h"
#include "jni/host_classes.h"
#include "jni/host_log.h"
#include "jni/log_tag.h"
#include "jni/native_methods.h"
#include "jni_method_hook.h"
#include "thread/LongSetFieldHooker.h"

namespace {

constexpr const char* kNativeLoadSignature = "(Ljava/lang/String;Ljava/lang/ClassLoader;Ljava/lang/String;)Ljava/lang/String;";

}  // namespace

NativeMonitor* NativeMonitor::getInstance() {
  // Never destroyed: the hooks it installs stay in place until the process ends
  // and may still run on other threads while static objects are torn down.
  static NativeMonitor* const instance = new NativeMonitor();
  return instance;
}

bool NativeMonitor::claimStart() { return !startClaimed.exchange(true); }

void NativeMonitor::start(JNIEnv* env, jclass monitorClass, long long featureMask, const char* packageName,
                          const char* nativeLibDir, long long timeLimited, long long countLimited,
                          long long memoryLimited) {
  this->featureMask = featureMask;
  this->packageName = new std::string(packageName);
  this->nativeLibDir = new std::string(nativeLibDir);
  this->timeLimited = timeLimited;
  this->countLimited = countLimited;
  this->memoryLimited = memoryLimited;
  setupHooker(env, monitorClass);
  setupTracker(env, monitorClass);
  init(env);
  logInfoToJava("%s %lld %lld", "NativeMonitor started", timeLimited, countLimited);
}

void NativeMonitor::setupHooker(JNIEnv* env, jclass monitorClass) {
  // Every switch is read, and its state sent to the host, in this order; the
  // second allocation switch only when the first is off, as both select the
  // same hooker.
  if (!isFeatureOn(env, monitorClass, "FLAG_LARGE_OBJECT_ALLOC_MONITOR")) {
    isFeatureOn(env, monitorClass, "FLAG_OVER_ALLOCATE_PER_TIME_MONITOR");
  }
  isFeatureOn(env, monitorClass, "FLAG_JNI_LOCAL_REF_MONITOR");
  isFeatureOn(env, monitorClass, "FLAG_JNI_GLOBAL_REF_MONITOR");
  isFeatureOn(env, monitorClass, "FLAG_JNI_PRIMITIVE_ARRAY_MONITOR");
  isFeatureOn(env, monitorClass, "FLAG_JNI_WEAK_GLOBAL_REF_MONITOR");
  isFeatureOn(env, monitorClass, "FLAG_JNI_CALLXXMETHOD_MONITOR");
}

void NativeMonitor::setupTracker(JNIEnv* env, jclass monitorClass) {
  std::lock_guard<std::mutex> guard(trackerMutex);
  if (isFeatureOn(env, monitorClass, "FLAG_LOG_ALL")) {
    trackers.push_back(std::shared_ptr<LogAllTracker>(new LogAllTracker(this)));
  }
}

bool NativeMonitor::isFeatureOn(JNIEnv* env, jclass monitorClass, std::string name) {
  jfieldID field = env->GetStaticFieldID(monitorClass, name.c_str(), "J");
  if (field == nullptr) {
    // Cleared at once: with the lookup's exception pending, the line below would
    // never reach the host and the remaining switches could not be read.
    env->ExceptionClear();
    logErrorToJava("can not find field %s to check feature", name.c_str());
    return false;
  }
  // A flag sharing only bit 63 with the mask is negative, hence off.
  bool on = (featureMask & static_cast<long long>(env->GetStaticLongField(monitorClass, field))) > 0;
  if (on) {
    logInfoToJava("feature %s is on due to the flag %lld", name.c_str(), featureMask);
  } else {
    logInfoToJava("feature %s is off due to the flag %lld", name.c_str(), featureMask);
  }
  return on;
}

void NativeMonitor::init(JNIEnv* env) {
  std::lock_guard<std::mutex> guard(trackerMutex);
  {
    UniqueWriteguard<WfirstRWLock> treeGuard(topicLock);
    root = std::make_shared<TreeNode>("");
  }
  initBacktraceTool(env);
  initSdkInt(env);
  // Two full passes: every hooker saves the runtime's own entries before any
  // hooker replaces one.
  for (const auto& hooker : hookers) hooker->beforeHook(1, env);
  for (const auto& hooker : hookers) hooker->onInit(1, env);
  for (const auto& tracker : trackers) tracker->onInit();
  interceptLibraryLoads(env);
}

void NativeMonitor::interceptLibraryLoads(JNIEnv* env) {
  jclass probe = env->FindClass(classJniOffsetPathName);
  jmethodID mark = probe != nullptr ? env->GetStaticMethodID(probe, "mark", "()V") : nullptr;
  jmethodID mark2 = mark != nullptr ? env->GetStaticMethodID(probe, "mark2", "()V") : nullptr;
  if (probe != nullptr) env->DeleteLocalRef(probe);
  if (mark == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "can not find mark method");
    return;
  }
  if (mark2 == nullptr) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "can not find mark2 method");
    return;
  }
  if (allSoHooked == 0 && soWhiteList.empty()) return;
  if (!initJniMethodHook(env, mark, mark2, reinterpret_cast<void*>(jniMethodToMark))) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "initJniMethodHook fail");
    return;
  }
  // The runtime's entry is saved straight into originNativeLoad before the
  // replacement is written, so a load racing with this finds it in place.
  if (!hookJniMethod(env, "java/lang/Runtime", "nativeLoad", kNativeLoadSignature,
                     reinterpret_cast<void*>(hookedRuntimeNativeLoad), reinterpret_cast<void**>(&originNativeLoad))) {
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "hook jni method fail");
  }
}

void NativeMonitor::initSdkInt(JNIEnv* env) {
  jclass version = env->FindClass("android/os/Build$VERSION");
  jfieldID field = version != nullptr ? env->GetStaticFieldID(version, "SDK_INT", "I") : nullptr;
  if (field != nullptr) {
    sdkInt = env->GetStaticIntField(version, field);
  } else {
    // Not an Android runtime: the API level stays unknown (0).
    env->ExceptionClear();
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "can not find android/os/Build$VERSION.SDK_INT");
  }
  if (version != nullptr) env->DeleteLocalRef(version);
}

void NativeMonitor::hookLongSetField(JNIEnv* env) {
  // Claimed atomically: two first requests at once must not install the
  // tracking twice (the second would save the first's replacement as the
  // runtime's entry).
  if (longSetFieldHookClaimed.exchange(true)) return;
  longSetFieldHooker = new LongSetFieldHooker(this);
  longSetFieldHooker->beforeHook(1, env);
  longSetFieldHooker->onInit(1, env);
}

void NativeMonitor::dump(JNIEnv* env) const {
  for (const auto& hooker : hookers) hooker->dump(env);
}

void NativeMonitor::insert2SoWhiteList(std::string so) { soWhiteList.insert(std::move(so)); }

void NativeMonitor::setAllSoHooked(int hooked) { allSoHooked = hooked; }

bool NativeMonitor::containsInSoWhiteList(std::string so) {
  if (allSoHooked != 0) {
    logInfoToJava("%s", "[malloc hook]all so hook");
    return true;
  }
  if (soWhiteList.count(so) != 0) {
    logInfoToJava("[malloc hook]hook:%s", so.c_str());
    return true;
  }
  __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "[malloc hook]hook not find in so Whitee list:%s", so.c_str());
  logErrorToJava("[malloc hook]hook not find in so Whitee list:%s", so.c_str());
  return false;
}

void NativeMonitor::beforeSoLoad(const char* path) {
  for (const auto& hooker : hookers) hooker->beforeSoLoad(path);
}

void NativeMonitor::afterSoLoad(const char* path) {
  std::string libraryPath(path);
  bool seen = false;
  {
    std::lock_guard<std::mutex> guard(loadedSoMutex);
    seen = !loadedSoSet.insert(libraryPath).second;
  }
  if (seen) return;
  if (startsWith(path, "/data/user/0")) {
    libraryPath = mappedLibraryPath(libraryPath, *packageName, *nativeLibDir);
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "origin lib path is %s and replaced by %s", path,
                        libraryPath.c_str());
  }
  logInfoToJava("NativeMonitor::afterSoLoad: %s", path);
  for (const auto& hooker : hookers) hooker->afterSoLoad(libraryPath);
}

void NativeMonitor::subscribeTopic(std::string topic, BaseTracker* tracker) {
  subscribeOnTree(root, topicLock, std::move(topic), tracker);
}

void NativeMonitor::talkOnTopic(BaseHooker* hooker, std::string topic, _FunctionParam& param) {
  talkOnTree(root, topicLock, hooker, std::move(topic), param);
}
