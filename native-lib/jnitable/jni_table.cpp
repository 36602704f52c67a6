#include "jnitable/jni_table.h"

#include <android/log.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "jni/jni_exception.h"
#include "jni/log_tag.h"

namespace {

// Makes every page that holds part of `slot` readable and writable. The page
// size is the system's: 4 KB on most devices, 16 KB on recent arm64 ones.
bool makeWritable(void** slot) {
  const uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first = reinterpret_cast<uintptr_t>(slot) & ~(pageSize - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(slot) + sizeof(void*);
  return mprotect(reinterpret_cast<void*>(first), end - first, PROT_READ | PROT_WRITE) == 0;
}

}  // namespace

void replaceJniEnvFunction(void** slot, void* replacement) {
  if (!makeWritable(slot)) {
    const int error = errno;
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "%d", error);
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "%s", strerror(error));
    __android_log_print(ANDROID_LOG_ERROR, kMonitorLogTag, "make mem writable fail at %p", static_cast<void*>(slot));
    return;
  }
  // Other threads call through the table meanwhile: one aligned store, so each
  // of them reaches either the old entry or the replacement.
  __atomic_store_n(slot, replacement, __ATOMIC_RELEASE);
}

void dumpReferenceTable(JNIEnv* env) {
  jclass vmDebug = env->FindClass("dalvik/system/VMDebug");
  describeAndClearException(env);
  if (vmDebug == nullptr) return;
  jmethodID dump = env->GetStaticMethodID(vmDebug, "dumpReferenceTables", "()V");
  describeAndClearException(env);
  if (dump == nullptr) return;
  env->CallStaticVoidMethod(vmDebug, dump);
}
