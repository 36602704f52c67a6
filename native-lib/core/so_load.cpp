#include "core/so_load.h"

#include <android/log.h>

#include <cstring>

#include "core/NativeMonitor.h"
#include "jni/java_string.h"
#include "jni/log_tag.h"

namespace {

constexpr const char* kUserDataDir = "/data/user/0";
constexpr const char* kDataDir = "/data/data";

bool isListed(NativeMonitor* monitor, bool isSystem, const std::string& path) {
  if (isSystem || !monitor->containsInSoWhiteList(path)) return false;
  __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "native load, find so in whitelist");
  return true;
}

}  // namespace

NativeLoadFunction originNativeLoad = nullptr;

bool startsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

std::string mappedLibraryPath(const std::string& path, const std::string& packageName,
                              const std::string& nativeLibDir) {
  if (!startsWith(path.c_str(), kUserDataDir)) return path;
  std::string libDirByUser = std::string(kUserDataDir) + "/" + packageName + "/lib";
  // Only the lib directory itself: /data/user/0/<package>/lib64/... or .../library/...
  // are other directories of the app's data and live under /data/data.
  bool inLibDir = startsWith(path.c_str(), libDirByUser.c_str()) &&
                  (path.size() == libDirByUser.size() || path[libDirByUser.size()] == '/');
  if (inLibDir) return nativeLibDir + path.substr(libDirByUser.size());
  return kDataDir + path.substr(strlen(kUserDataDir));
}

jstring hookedRuntimeNativeLoad(JNIEnv* env, jclass cls, jstring fileName, jobject classLoader,
                                jstring librarySearchPath) {
  // A null name is the runtime's to refuse; there is nothing to announce.
  if (fileName == nullptr) return originNativeLoad(env, cls, fileName, classLoader, librarySearchPath);
  std::string path = readJavaString(env, fileName);
  bool isSystem = startsWith(path.c_str(), "/system");
  __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "native load %s, isSystem %d", path.c_str(), isSystem ? 1 : 0);
  NativeMonitor* monitor = NativeMonitor::getInstance();
  if (isListed(monitor, isSystem, path)) monitor->beforeSoLoad(path.c_str());
  jstring result = originNativeLoad(env, cls, fileName, classLoader, librarySearchPath);
  // Announced also when the load failed: the hookers decide what a missing mapping means.
  if (isListed(monitor, isSystem, path)) monitor->afterSoLoad(path.c_str());
  return result;
}
