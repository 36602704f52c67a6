#include "HostClassDefs.h"

#include <cstdio>
#include <cstdlib>

#include "ModifiedUtf8.h"

namespace testvm {

std::map<std::string, jlong> defaultMonitorFlags() {
  return {
      {"FLAG_LOG_ALL", kFlagLogAll},
      {"FLAG_LARGE_OBJECT_ALLOC_MONITOR", kFlagLargeObjectAlloc},
      {"FLAG_OVER_ALLOCATE_PER_TIME_MONITOR", kFlagOverAllocatePerTime},
      {"FLAG_JNI_LOCAL_REF_MONITOR", kFlagJniLocalRef},
      {"FLAG_JNI_GLOBAL_REF_MONITOR", kFlagJniGlobalRef},
      {"FLAG_JNI_PRIMITIVE_ARRAY_MONITOR", kFlagJniPrimitiveArray},
      {"FLAG_JNI_WEAK_GLOBAL_REF_MONITOR", kFlagJniWeakGlobalRef},
      {"FLAG_JNI_CALLXXMETHOD_MONITOR", kFlagJniCallXXMethod},
  };
}

namespace {

// The text of a Java string argument, as UTF-8; "null" for a null string.
std::string textOf(TestVm::Impl& vm, JNIEnv* env, jobject string) {
  std::lock_guard<std::mutex> lock(vm.mutex);
  Object* s = vm.decode(ThreadState::of(env), string, "host method");
  if (s == nullptr) return "null";
  return utf16ToUtf8(s->chars.get(), static_cast<size_t>(s->length));
}

MethodDef staticNative(const char* name, const char* signature, void* entry = nullptr) {
  return MethodDef{name, signature, true, true, {}, entry};
}

MethodDef staticHost(const char* name, const char* signature, HostMethod body) {
  return MethodDef{name, signature, true, false, std::move(body), nullptr};
}

HostMethod logMethod(TestVm::Impl& vm, HostLogLine::Level level) {
  return [&vm, level](JNIEnv* env, jobject, const jvalue* args) {
    std::string text = textOf(vm, env, args[0].l);
    std::lock_guard<std::mutex> lock(vm.recorder.mutex);
    vm.recorder.hostLog.push_back(HostLogLine{level, std::move(text), ThreadState::of(env)->id});
    return jvalue{};
  };
}

ClassDef monitorClass(TestVm::Impl& vm) {
  ClassDef def{kMonitorClass, "java/lang/Object", {}, {}};
  for (const auto& flag : vm.options.monitorFlags) {
    jvalue value{};
    value.j = flag.second;
    def.fields.push_back(FieldDef{flag.first, "J", true, value});
  }
  def.methods.push_back(staticNative("nativeInit", kNativeInitSignature));
  def.methods.push_back(staticNative("nativeDump", kNativeDumpSignature));
  def.methods.push_back(staticNative("nativeGetJavaThreadPeakCount", kNativeGetJavaThreadPeakCountSignature));
  def.methods.push_back(staticNative("nativeThreadHook", kNativeThreadHookSignature));
  def.methods.push_back(staticNative("nativeThreadCreateHookInit", kNativeThreadCreateHookInitSignature));
  if (vm.options.monitorLogError) {
    def.methods.push_back(staticHost(kLogErrorMethod, kLogSignature, logMethod(vm, HostLogLine::kError)));
  }
  if (vm.options.monitorLogInfo) {
    def.methods.push_back(staticHost(kLogInfoMethod, kLogSignature, logMethod(vm, HostLogLine::kInfo)));
  }
  return def;
}

// "mark" and "mark2" with |probeMark2Position| - 1 other methods between them.
ClassDef probeClass(const VmOptions& options) {
  int position = options.probeMark2Position;
  if (position == 0) {
    std::fprintf(stderr, "testvm: probeMark2Position must not be 0\n");
    std::abort();
  }
  ClassDef def{kProbeClass, "java/lang/Object", {}, {}};
  std::vector<MethodDef> between;
  for (int i = 1; i < std::abs(position); ++i) {
    between.push_back(staticHost(("between" + std::to_string(i)).c_str(), "()V", {}));
  }
  MethodDef mark = staticNative("mark", "()V");
  MethodDef mark2 = staticHost("mark2", "()V", {});
  def.methods.push_back(position > 0 || !options.probeMark2 ? mark : mark2);
  if (options.probeMark2) {
    def.methods.insert(def.methods.end(), between.begin(), between.end());
    def.methods.push_back(position > 0 ? mark2 : mark);
  }
  return def;
}

ClassDef reporterClass(TestVm::Impl& vm) {
  ClassDef def{kReporterClass, "java/lang/Object", {}, {}};
  if (vm.options.reporterMethod) {
    def.methods.push_back(staticHost(kReportMethod, kReportSignature, [&vm](JNIEnv* env, jobject, const jvalue* args) {
      Report report{textOf(vm, env, args[0].l), textOf(vm, env, args[1].l), ThreadState::of(env)->id};
      std::lock_guard<std::mutex> lock(vm.recorder.mutex);
      vm.recorder.reports.push_back(std::move(report));
      return jvalue{};
    }));
  }
  return def;
}

ClassDef threadCallbackClass(TestVm::Impl& vm) {
  ClassDef def{vm.options.threadCallbackClassName, "java/lang/Object", {}, {}};
  def.methods.push_back(
      staticHost(kThreadCallbackMethod, kThreadCallbackSignature, [&vm](JNIEnv* env, jobject, const jvalue* args) {
        ThreadState* ts = ThreadState::of(env);
        ObjectId thread;
        {
          std::lock_guard<std::mutex> lock(vm.mutex);
          thread = reinterpret_cast<ObjectId>(vm.decode(ts, args[0].l, "onThreadCreatedCallback"));
        }
        std::lock_guard<std::mutex> lock(vm.recorder.mutex);
        vm.recorder.threadCallbacks.push_back(ThreadCallback{thread, ts->id});
        return jvalue{};
      }));
  return def;
}

ClassDef vmDebugClass(TestVm::Impl& vm) {
  ClassDef def{kVmDebugClass, "java/lang/Object", {}, {}};
  def.methods.push_back(staticHost(kDumpReferenceTablesMethod, "()V", [&vm](JNIEnv* env, jobject, const jvalue*) {
    ThreadState* ts = ThreadState::of(env);
    {
      std::lock_guard<std::mutex> lock(vm.mutex);
      std::fprintf(stderr, "testvm: reference tables: %zu global, %zu weak global, %zu local on this thread\n",
                   vm.globals.size(), vm.weakGlobals.size(), ts->locals.liveCount());
    }
    std::lock_guard<std::mutex> lock(vm.recorder.mutex);
    ++vm.recorder.dumpReferenceTablesCalls;
    return jvalue{};
  }));
  return def;
}

}  // namespace

std::vector<ClassDef> hostClassDefs(TestVm::Impl& vm) {
  const VmOptions& options = vm.options;
  std::vector<ClassDef> defs;
  if (options.monitorClass) defs.push_back(monitorClass(vm));
  if (options.probeClass) defs.push_back(probeClass(options));
  if (options.reporterClass) defs.push_back(reporterClass(vm));
  if (options.threadCallbackClass) defs.push_back(threadCallbackClass(vm));
  if (options.runtimeClass) {
    defs.push_back(ClassDef{kRuntimeClass, "java/lang/Object", {},
                            {staticNative(kNativeLoadMethod, kNativeLoadSignature,
                                          reinterpret_cast<void*>(&runtimeNativeLoad))}});
  }
  if (options.threadClass) {
    defs.push_back(ClassDef{kThreadClass, "java/lang/Object", {FieldDef{kNativePeerField, "J", false, {}}}, {}});
  }
  if (options.buildVersionClass) {
    jvalue sdk{};
    sdk.i = options.sdkInt;
    defs.push_back(ClassDef{kBuildVersionClass, "java/lang/Object", {FieldDef{kSdkIntField, "I", true, sdk}}, {}});
  }
  if (options.vmDebugClass) defs.push_back(vmDebugClass(vm));
  return defs;
}

}  // namespace testvm
