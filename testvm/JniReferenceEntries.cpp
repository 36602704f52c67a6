// Classes, references, local frames, exceptions and native registration.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "JniFunctionTable.h"
#include "JniScope.h"
#include "ModifiedUtf8.h"

namespace testvm {
namespace {

constexpr auto kAllowed = PendingExceptionPolicy::kAllowed;

std::string describe(const Class* cls, const std::string& name, const std::string& sig) {
  return "\"" + cls->descriptor() + "." + name + sig + "\"";
}

jint JNICALL GetVersion(JNIEnv* env) {
  JniScope s(env, "GetVersion");
  return JNI_VERSION_1_6;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  JniScope s(env, "FindClass");
  if (name == nullptr) {
    s.misuse(VmError::kNullArgument, "name == null");
    return nullptr;
  }
  Class* cls = s.vm.findClass(name);
  if (cls == nullptr || !(cls->system || s.vm.canSeeAppClasses(s.ts))) {
    std::string dotted = name;
    for (char& c : dotted) {
      if (c == '/') c = '.';
    }
    s.throwNew("java/lang/NoClassDefFoundError", "Didn't find class \"" + dotted + "\"");
    return nullptr;
  }
  return static_cast<jclass>(s.local(cls->mirror));
}

jclass JNICALL GetSuperclass(JNIEnv* env, jclass clazz) {
  JniScope s(env, "GetSuperclass");
  Class* cls = s.requireClass(clazz);
  if (cls == nullptr || cls->super == nullptr) return nullptr;
  return static_cast<jclass>(s.local(cls->super->mirror));
}

jboolean JNICALL IsAssignableFrom(JNIEnv* env, jclass from, jclass to) {
  JniScope s(env, "IsAssignableFrom");
  Class* a = s.requireClass(from, "clazz1");
  Class* b = s.requireClass(to, "clazz2");
  return a != nullptr && b != nullptr && a->isSubclassOf(b) ? JNI_TRUE : JNI_FALSE;
}

bool isThrowable(TestVm::Impl& vm, const Class* cls) { return cls->isSubclassOf(vm.requireClass("java/lang/Throwable")); }

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
  JniScope s(env, "Throw");
  Object* t = s.require(obj, "java_throwable");
  if (t == nullptr || !isThrowable(s.vm, t->klass)) {
    if (t != nullptr) s.misuse(VmError::kInvalidReference, "java_throwable is not a Throwable");
    return JNI_ERR;
  }
  s.ts->pendingException = t;
  return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass clazz, const char* message) {
  JniScope s(env, "ThrowNew");
  Class* cls = s.requireClass(clazz);
  if (cls == nullptr || !isThrowable(s.vm, cls)) {
    if (cls != nullptr) s.misuse(VmError::kInvalidReference, "java_class is not a Throwable class");
    return JNI_ERR;
  }
  s.vm.maybeCollect();
  s.throwNew(cls->name, message == nullptr ? std::nullopt : std::optional<std::string>(message));
  return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
  JniScope s(env, "ExceptionOccurred", kAllowed);
  return static_cast<jthrowable>(s.local(s.ts->pendingException));
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
  JniScope s(env, "ExceptionDescribe", kAllowed);
  Object* t = s.ts->pendingException;
  if (t == nullptr) return;
  s.ts->pendingException = nullptr;
  std::fprintf(stderr, "testvm: %s%s%s\n", t->klass->dottedName().c_str(), t->message ? ": " : "",
               t->message ? t->message->c_str() : "");
  std::lock_guard<std::mutex> lock(s.vm.recorder.mutex);
  s.vm.recorder.describedExceptions.push_back(t->klass->name);
}

void JNICALL ExceptionClear(JNIEnv* env) {
  JniScope s(env, "ExceptionClear", kAllowed);
  s.ts->pendingException = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  JniScope s(env, "ExceptionCheck", kAllowed);
  return s.ts->pendingException != nullptr ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FatalError(JNIEnv* env, const char* message) {
  JniScope s(env, "FatalError", kAllowed);
  std::fprintf(stderr, "testvm: FatalError called: %s\n", message != nullptr ? message : "(null)");
  std::abort();
}

bool ensureCapacity(JniScope& s, jint capacity) {
  if (capacity < 0) {
    s.misuse(VmError::kTableOverflow, "negative capacity " + std::to_string(capacity));
    return false;
  }
  if (!s.ts->locals.hasRoomFor(static_cast<std::size_t>(capacity))) {
    s.throwNew("java/lang/OutOfMemoryError", "Requested local reference capacity " + std::to_string(capacity) +
                                                 " is greater than the maximum " +
                                                 std::to_string(s.ts->locals.capacity()));
    return false;
  }
  return true;
}

jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity) {
  JniScope s(env, "PushLocalFrame", kAllowed);
  if (!ensureCapacity(s, capacity)) return JNI_ERR;
  s.ts->locals.pushFrame(FrameKind::kPushedFrame);
  return JNI_OK;
}

jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result) {
  JniScope s(env, "PopLocalFrame", kAllowed);
  Object* kept = s.decode(result);
  if (!s.ts->locals.popPushedFrame()) s.misuse(VmError::kBadRelease, "no frame pushed by PushLocalFrame to pop");
  return s.local(kept);
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity) {
  JniScope s(env, "EnsureLocalCapacity");
  return ensureCapacity(s, capacity) ? JNI_OK : JNI_ERR;
}

// The global and the weak global table are used alike; `kind` names the table
// in misuse records ("global", "weak global").
jobject addGlobal(JNIEnv* env, const char* entry, jobject obj, GlobalRefTable TestVm::Impl::*table,
                  const std::string& kind) {
  JniScope s(env, entry);
  Object* object = s.decode(obj);
  if (object == nullptr) return nullptr;
  jobject ref = (s.vm.*table).add(object);
  if (ref == nullptr) s.misuse(VmError::kTableOverflow, kind + " reference table overflow");
  return ref;
}

void deleteGlobal(JNIEnv* env, const char* entry, jobject ref, GlobalRefTable TestVm::Impl::*table,
                  const std::string& kind) {
  JniScope s(env, entry, kAllowed);
  if (ref != nullptr && !(s.vm.*table).remove(ref)) {
    s.misuse(VmError::kInvalidReference, "not a " + kind + " reference");
  }
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject obj) {
  return addGlobal(env, "NewGlobalRef", obj, &TestVm::Impl::globals, "global");
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
  deleteGlobal(env, "DeleteGlobalRef", ref, &TestVm::Impl::globals, "global");
}

jweak JNICALL NewWeakGlobalRef(JNIEnv* env, jobject obj) {
  return addGlobal(env, "NewWeakGlobalRef", obj, &TestVm::Impl::weakGlobals, "weak global");
}

void JNICALL DeleteWeakGlobalRef(JNIEnv* env, jweak ref) {
  deleteGlobal(env, "DeleteWeakGlobalRef", ref, &TestVm::Impl::weakGlobals, "weak global");
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
  JniScope s(env, "DeleteLocalRef", kAllowed);
  if (ref == nullptr) return;
  if (refKindOf(ref) == kHandleRef) {
    // A method's own class or receiver: not in the table, nothing to delete (as ART).
    s.decode(ref);
    return;
  }
  if (refKindOf(ref) != kLocalRef || s.ts->locals.remove(ref) == LocalRefTable::Removal::kInvalid) {
    s.misuse(VmError::kInvalidReference, "not a local reference of this thread");
  }
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
  JniScope s(env, "NewLocalRef");
  return s.local(s.decode(ref));
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
  JniScope s(env, "IsSameObject");
  return s.decode(a) == s.decode(b) ? JNI_TRUE : JNI_FALSE;
}

jobjectRefType JNICALL GetObjectRefType(JNIEnv* env, jobject ref) {
  JniScope s(env, "GetObjectRefType");
  if (ref == nullptr) return JNIInvalidRefType;
  bool valid;
  s.vm.decode(s.ts, ref, s.entry, &valid);
  if (!valid) return JNIInvalidRefType;
  switch (refKindOf(ref)) {
    case kGlobalRef:
      return JNIGlobalRefType;
    case kWeakGlobalRef:
      return JNIWeakGlobalRefType;
    default:
      return JNILocalRefType;
  }
}

jobject JNICALL AllocObject(JNIEnv* env, jclass clazz) {
  JniScope s(env, "AllocObject");
  s.vm.maybeCollect();
  Class* cls = s.requireClass(clazz);
  if (cls == nullptr) return nullptr;
  if (cls->isArray() || cls->name == "java/lang/Class" || cls->name == "java/lang/String") {
    s.throwNew("java/lang/InstantiationException", cls->dottedName());
    return nullptr;
  }
  return s.local(s.vm.allocate(cls));
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
  JniScope s(env, "GetObjectClass");
  Object* object = s.require(obj, "obj");
  return object == nullptr ? nullptr : static_cast<jclass>(s.local(object->klass->mirror));
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass clazz) {
  JniScope s(env, "IsInstanceOf");
  Class* cls = s.requireClass(clazz);
  Object* object = s.decode(obj);
  if (cls == nullptr) return JNI_FALSE;
  return object == nullptr || object->klass->isSubclassOf(cls) ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) {
  JniScope s(env, "GetJavaVM");
  if (vm == nullptr) {
    s.misuse(VmError::kNullArgument, "vm == null");
    return JNI_ERR;
  }
  *vm = s.vm.javaVm();
  return JNI_OK;
}

jobject reflect(JniScope& s, const char* className, const void* id) {
  s.vm.maybeCollect();
  Object* object = s.vm.allocate(s.vm.requireClass(className));
  object->kind = ObjectKind::kReflected;
  object->reflected = id;
  return s.local(object);
}

jobject JNICALL ToReflectedMethod(JNIEnv* env, jclass clazz, jmethodID method, jboolean) {
  JniScope s(env, "ToReflectedMethod");
  if (s.requireClass(clazz) == nullptr) return nullptr;
  if (s.vm.methodOf(method) == nullptr) {
    s.misuse(VmError::kInvalidId, "invalid jmethodID");
    return nullptr;
  }
  return reflect(s, "java/lang/reflect/Method", method);
}

jobject JNICALL ToReflectedField(JNIEnv* env, jclass clazz, jfieldID field, jboolean) {
  JniScope s(env, "ToReflectedField");
  if (s.requireClass(clazz) == nullptr) return nullptr;
  if (s.vm.fieldOf(field) == nullptr) {
    s.misuse(VmError::kInvalidId, "invalid jfieldID");
    return nullptr;
  }
  return reflect(s, "java/lang/reflect/Field", field);
}

const void* reflectedId(JniScope& s, jobject obj, const char* className) {
  Object* object = s.require(obj, "jlr_method");
  if (object == nullptr) return nullptr;
  if (object->kind != ObjectKind::kReflected || object->klass->name != className) {
    s.misuse(VmError::kInvalidReference, std::string("not a ") + className);
    return nullptr;
  }
  return object->reflected;
}

jmethodID JNICALL FromReflectedMethod(JNIEnv* env, jobject method) {
  JniScope s(env, "FromReflectedMethod");
  return static_cast<jmethodID>(const_cast<void*>(reflectedId(s, method, "java/lang/reflect/Method")));
}

jfieldID JNICALL FromReflectedField(JNIEnv* env, jobject field) {
  JniScope s(env, "FromReflectedField");
  return static_cast<jfieldID>(const_cast<void*>(reflectedId(s, field, "java/lang/reflect/Field")));
}

void setNativeEntry(MethodInfo& method, void* entry) {
  __atomic_store_n(&method.owner->record(method.index)->f.data, entry, __ATOMIC_RELEASE);
}

jint JNICALL RegisterNatives(JNIEnv* env, jclass clazz, const JNINativeMethod* methods, jint count) {
  JniScope s(env, "RegisterNatives");
  Class* cls = s.requireClass(clazz);
  if (cls == nullptr) return JNI_ERR;
  if (count < 0 || (methods == nullptr && count > 0)) {
    s.misuse(VmError::kNullArgument, "methods == null or negative count");
    return JNI_ERR;
  }
  for (jint i = 0; i < count; ++i) {
    if (methods[i].name == nullptr || methods[i].signature == nullptr || methods[i].fnPtr == nullptr) {
      s.misuse(VmError::kNullArgument, "null name, signature or fnPtr in method " + std::to_string(i));
      return JNI_ERR;
    }
    std::string name = methods[i].name;
    std::string sig = methods[i].signature;
    if (!sig.empty() && sig[0] == '!') sig.erase(0, 1);  // the old fast-native marker
    MethodInfo* method = nullptr;
    for (Class* c = cls; c != nullptr && method == nullptr; c = c->super) {
      for (MethodInfo& m : c->methods) {
        if (m.name == name && m.signature == sig) method = &m;
      }
    }
    if (method == nullptr || !method->isNative) {
      s.throwNew("java/lang/NoSuchMethodError",
                 std::string(method == nullptr ? "no static or non-static method " : "method is not native: ") +
                     describe(cls, name, sig));
      return JNI_ERR;
    }
    setNativeEntry(*method, methods[i].fnPtr);
  }
  return JNI_OK;
}

jint JNICALL UnregisterNatives(JNIEnv* env, jclass clazz) {
  JniScope s(env, "UnregisterNatives");
  Class* cls = s.requireClass(clazz);
  if (cls == nullptr) return JNI_ERR;
  for (MethodInfo& m : cls->methods) {
    if (m.isNative) setNativeEntry(m, reinterpret_cast<void*>(&unregisteredNativeStub));
  }
  return JNI_OK;
}

}  // namespace

void installReferenceEntries(JNINativeInterface_& t) {
  t.GetVersion = GetVersion;
  t.FindClass = FindClass;
  t.GetSuperclass = GetSuperclass;
  t.IsAssignableFrom = IsAssignableFrom;
  t.Throw = Throw;
  t.ThrowNew = ThrowNew;
  t.ExceptionOccurred = ExceptionOccurred;
  t.ExceptionDescribe = ExceptionDescribe;
  t.ExceptionClear = ExceptionClear;
  t.ExceptionCheck = ExceptionCheck;
  t.FatalError = FatalError;
  t.PushLocalFrame = PushLocalFrame;
  t.PopLocalFrame = PopLocalFrame;
  t.EnsureLocalCapacity = EnsureLocalCapacity;
  t.NewGlobalRef = NewGlobalRef;
  t.DeleteGlobalRef = DeleteGlobalRef;
  t.NewWeakGlobalRef = NewWeakGlobalRef;
  t.DeleteWeakGlobalRef = DeleteWeakGlobalRef;
  t.DeleteLocalRef = DeleteLocalRef;
  t.NewLocalRef = NewLocalRef;
  t.IsSameObject = IsSameObject;
  t.GetObjectRefType = GetObjectRefType;
  t.AllocObject = AllocObject;
  t.GetObjectClass = GetObjectClass;
  t.IsInstanceOf = IsInstanceOf;
  t.GetJavaVM = GetJavaVM;
  t.ToReflectedMethod = ToReflectedMethod;
  t.ToReflectedField = ToReflectedField;
  t.FromReflectedMethod = FromReflectedMethod;
  t.FromReflectedField = FromReflectedField;
  t.RegisterNatives = RegisterNatives;
  t.UnregisterNatives = UnregisterNatives;
}

}  // namespace testvm
