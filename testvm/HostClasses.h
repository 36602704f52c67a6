// Names and values of the host-side classes the test VM can provide: the app's
// monitor, probe, reporter and thread callback classes, and the runtime's own
// classes the monitor binds to.
#pragma once

#include <jni.h>

#include <map>
#include <string>

namespace testvm {

inline constexpr const char* kMonitorClass =
    "com/trivane/corvalis/nativememorymonitor/library/NativeMemoryMonitor";
inline constexpr const char* kProbeClass =
    "com/trivane/corvalis/nativememorymonitor/library/ClassToFindJniOffset";
inline constexpr const char* kReporterClass = "com/trivane/corvalis/statistics/VxCatchedExceptionReporter";
inline constexpr const char* kDefaultThreadCallbackClass = "com/trivane/corvalis/app/JobReporter";
inline constexpr const char* kRuntimeClass = "java/lang/Runtime";
inline constexpr const char* kThreadClass = "java/lang/Thread";
inline constexpr const char* kBuildVersionClass = "android/os/Build$VERSION";
inline constexpr const char* kVmDebugClass = "dalvik/system/VMDebug";

// Members of the host classes.
inline constexpr const char* kLogErrorMethod = "logErrorFromNative";
inline constexpr const char* kLogInfoMethod = "logInfoFromNative";
inline constexpr const char* kLogSignature = "(Ljava/lang/String;)V";
inline constexpr const char* kReportMethod = "reportVxCatchException";
inline constexpr const char* kReportSignature = "(Ljava/lang/String;Ljava/lang/String;)V";
inline constexpr const char* kThreadCallbackMethod = "onThreadCreatedCallback";
inline constexpr const char* kThreadCallbackSignature = "(Ljava/lang/Object;)V";
inline constexpr const char* kNativeLoadMethod = "nativeLoad";
inline constexpr const char* kNativeLoadSignature =
    "(Ljava/lang/String;Ljava/lang/ClassLoader;Ljava/lang/String;)Ljava/lang/String;";
inline constexpr const char* kNativePeerField = "nativePeer";
inline constexpr const char* kSdkIntField = "SDK_INT";
inline constexpr const char* kDumpReferenceTablesMethod = "dumpReferenceTables";

// The monitor class's native methods, all declared static.
inline constexpr const char* kNativeInitSignature =
    "(JLjava/lang/String;Ljava/lang/String;[Ljava/lang/String;JJJ)V";
inline constexpr const char* kNativeDumpSignature = "()V";
inline constexpr const char* kNativeGetJavaThreadPeakCountSignature = "()I";
inline constexpr const char* kNativeThreadHookSignature = "()V";
inline constexpr const char* kNativeThreadCreateHookInitSignature = "(Ljava/lang/String;)V";

// The native methods the host classes declare for the library to register, in
// registration order.
struct DeclaredNative {
  const char* className;
  const char* name;
  const char* signature;
};
inline constexpr DeclaredNative kDeclaredNatives[] = {
    {kProbeClass, "mark", "()V"},
    {kMonitorClass, "nativeInit", kNativeInitSignature},
    {kMonitorClass, "nativeDump", kNativeDumpSignature},
    {kMonitorClass, "nativeGetJavaThreadPeakCount", kNativeGetJavaThreadPeakCountSignature},
    {kMonitorClass, "nativeThreadHook", kNativeThreadHookSignature},
    {kMonitorClass, "nativeThreadCreateHookInit", kNativeThreadCreateHookInitSignature},
};

// The eight feature switches of the monitor class ("J" static fields) and the
// values a default host gives them: one bit each, the two allocation switches
// on the bits the host contract fixes.
inline constexpr jlong kFlagLogAll = 0x1;
inline constexpr jlong kFlagJniLocalRef = 0x2;
inline constexpr jlong kFlagJniGlobalRef = 0x4;
inline constexpr jlong kFlagJniPrimitiveArray = 0x8;
inline constexpr jlong kFlagJniWeakGlobalRef = 0x10;
inline constexpr jlong kFlagJniCallXXMethod = 0x20;
inline constexpr jlong kFlagOverAllocatePerTime = 0x80000000LL;
inline constexpr jlong kFlagLargeObjectAlloc = 0x100000000LL;

// Field name -> value; erase an entry to leave that field out of the class.
std::map<std::string, jlong> defaultMonitorFlags();

}  // namespace testvm
