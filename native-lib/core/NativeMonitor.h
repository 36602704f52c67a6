// The process-wide monitor: the host's configuration, the hookers and trackers
// created from the host's feature switches, the library whitelist, and the
// topic bus they talk on.
#pragma once

#include <jni.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "core/WfirstRWLock.h"

class BaseHooker;
class BaseTracker;
class LongSetFieldHooker;
class TreeNode;
struct _FunctionParam;

class NativeMonitor {
 public:
  static NativeMonitor* getInstance();

  NativeMonitor(const NativeMonitor&) = delete;
  NativeMonitor& operator=(const NativeMonitor&) = delete;

  // Claims the one start-up of the process: true for the first caller only.
  bool claimStart();
  void start(JNIEnv* env, jclass monitorClass, long long featureMask, const char* packageName,
             const char* nativeLibDir, long long timeLimited, long long countLimited, long long memoryLimited);
  void setupHooker(JNIEnv* env, jclass monitorClass);
  void setupTracker(JNIEnv* env, jclass monitorClass);
  void init(JNIEnv* env);
  bool isFeatureOn(JNIEnv* env, jclass monitorClass, std::string name);
  void initSdkInt(JNIEnv* env);
  void hookLongSetField(JNIEnv* env);
  void dump(JNIEnv* env) const;

  long long getFeasure() const { return featureMask; }
  long long getTimeLimited() const { return timeLimited; }
  long long getCountLimited() const { return countLimited; }
  long long getMemoryLimited() const { return memoryLimited; }
  BaseHooker* getLocalRefHooker() const { return localRefHooker; }
  int getSdkInt() const { return sdkInt; }

  // Library loads through the runtime's loader.
  void insert2SoWhiteList(std::string so);
  void setAllSoHooked(int hooked);
  bool containsInSoWhiteList(std::string so);
  void beforeSoLoad(const char* path);
  void afterSoLoad(const char* path);

  // The topic bus.
  void subscribeTopic(std::string topic, BaseTracker* tracker);
  void talkOnTopic(BaseHooker* hooker, std::string topic, _FunctionParam& param);

 private:
  NativeMonitor() = default;
  // Replaces the native entry of Runtime.nativeLoad when there is a library to
  // watch, once the probe methods have given away the entry's offset.
  void interceptLibraryLoads(JNIEnv* env);

  std::mutex trackerMutex;
  std::list<std::shared_ptr<BaseTracker>> trackers;
  std::list<std::shared_ptr<BaseHooker>> hookers;
  // Created on the host's first request for thread tracking, never freed.
  LongSetFieldHooker* longSetFieldHooker = nullptr;
  BaseHooker* localRefHooker = nullptr;
  std::unordered_set<std::string> soWhiteList;
  WfirstRWLock topicLock;
  std::shared_ptr<TreeNode> root;
  long long featureMask = 0;
  int allSoHooked = 0;
  long long timeLimited = 0;
  long long countLimited = 0;
  long long memoryLimited = 0;
  // Owned and never freed: hooks may read them until the process ends.
  std::string* packageName = nullptr;
  std::string* nativeLibDir = nullptr;
  std::mutex loadedSoMutex;
  std::unordered_set<std::string> loadedSoSet;
  int sdkInt = 0;
  std::atomic<bool> startClaimed{false};
  std::atomic<bool> longSetFieldHookClaimed{false};
};
