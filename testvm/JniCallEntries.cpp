// Call<Type>Method, CallNonvirtual<Type>Method, CallStatic<Type>Method in their
// three argument forms, and NewObject.
#include <cstdarg>
#include <string>
#include <vector>

#include "JniFunctionTable.h"
#include "JniScope.h"
#include "JniTypes.h"
#include "MethodCalls.h"

namespace testvm {
namespace {

enum class CallKind { kVirtual, kNonvirtual, kStatic };

// The entry's name, for the VM's error records.
template <typename R, CallKind K, char Form>
const char* entryName() {
  static const std::string name = std::string(K == CallKind::kVirtual      ? "Call"
                                              : K == CallKind::kNonvirtual ? "CallNonvirtual"
                                                                           : "CallStatic") +
                                  TypeName<R>::value + "Method" + (Form == ' ' ? "" : std::string(1, Form));
  return name.c_str();
}

// The arguments of a call as jvalues, from whichever form the caller used.
struct Arguments {
  const jvalue* array = nullptr;
  va_list* list = nullptr;

  std::vector<jvalue> read(const std::string& kinds) const {
    std::vector<jvalue> values(kinds.size() + 1);
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      if (array != nullptr) {
        values[i] = array[i];
        continue;
      }
      switch (kinds[i]) {
        case 'Z':
          values[i].z = static_cast<jboolean>(va_arg(*list, int));
          break;
        case 'B':
          values[i].b = static_cast<jbyte>(va_arg(*list, int));
          break;
        case 'C':
          values[i].c = static_cast<jchar>(va_arg(*list, int));
          break;
        case 'S':
          values[i].s = static_cast<jshort>(va_arg(*list, int));
          break;
        case 'I':
          values[i].i = va_arg(*list, jint);
          break;
        case 'J':
          values[i].j = va_arg(*list, jlong);
          break;
        case 'F':
          values[i].f = static_cast<jfloat>(va_arg(*list, double));
          break;
        case 'D':
          values[i].d = va_arg(*list, double);
          break;
        default:
          values[i].l = va_arg(*list, jobject);
          break;
      }
    }
    return values;
  }
};

// Checks a call and finds the method that runs; null when nothing may run.
const MethodInfo* resolveCall(JniScope& s, CallKind kind, jobject target, jclass nonvirtualClass, jmethodID id,
                              char returnKind, Object** receiver) {
  const MethodInfo* method = s.vm.methodOf(id);
  if (method == nullptr) {
    s.misuse(VmError::kInvalidId, id == nullptr ? "methodID == null" : "invalid jmethodID");
    return nullptr;
  }
  if (method->isStatic != (kind == CallKind::kStatic)) {
    s.misuse(VmError::kInvalidId, (method->isStatic ? "static method " : "instance method ") + method->name +
                                      " called through " + s.entry);
    return nullptr;
  }
  if (method->returnKind != returnKind) {
    s.misuse(VmError::kInvalidId, "method " + method->name + method->signature + " called through " + s.entry);
    return nullptr;
  }
  if (kind == CallKind::kStatic) {
    Class* cls = s.requireClass(static_cast<jclass>(target), "clazz");
    return cls == nullptr ? nullptr : method;
  }
  *receiver = s.require(target, "obj");
  if (*receiver == nullptr) return nullptr;
  if (!(*receiver)->klass->isSubclassOf(method->owner)) {
    s.misuse(VmError::kInvalidReference, "obj is not an instance of " + method->owner->name);
    return nullptr;
  }
  if (kind == CallKind::kNonvirtual) return s.requireClass(nonvirtualClass, "clazz") == nullptr ? nullptr : method;
  return s.vm.findMethod((*receiver)->klass, method->name, method->signature, false);
}

jvalue call(JNIEnv* env, const char* entry, CallKind kind, jobject target, jclass nonvirtualClass, jmethodID id,
            char returnKind, const Arguments& arguments) {
  const MethodInfo* method;
  Object* receiver = nullptr;
  std::vector<jvalue> values;
  ThreadState* ts;
  {
    JniScope s(env, entry);
    ts = s.ts;
    method = resolveCall(s, kind, target, nonvirtualClass, id, returnKind, &receiver);
    if (method == nullptr) return jvalue{};
    values = arguments.read(method->argKinds);
  }
  return invokeMethod(*ts->vm, ts, *method, receiver, values.data());
}

template <typename R>
R resultAs(const jvalue& v) {
  if constexpr (!std::is_void_v<R>) return detail::fromJvalue<R>(v);
}

// Call<Type>Method and CallStatic<Type>Method differ only in what they call
// on: an object (jobject) or a class (jclass).
template <typename R, CallKind K, typename Target>
R JNICALL CallMethodV(JNIEnv* env, Target target, jmethodID id, va_list args) {
  va_list copy;
  va_copy(copy, args);
  jvalue r = call(env, entryName<R, K, 'V'>(), K, target, nullptr, id, detail::JniKind<R>::value,
                  Arguments{nullptr, &copy});
  va_end(copy);
  return resultAs<R>(r);
}

template <typename R, CallKind K, typename Target>
R JNICALL CallMethod(JNIEnv* env, Target target, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  jvalue r = call(env, entryName<R, K, ' '>(), K, target, nullptr, id, detail::JniKind<R>::value,
                  Arguments{nullptr, &args});
  va_end(args);
  return resultAs<R>(r);
}

template <typename R, CallKind K, typename Target>
R JNICALL CallMethodA(JNIEnv* env, Target target, jmethodID id, const jvalue* args) {
  return resultAs<R>(call(env, entryName<R, K, 'A'>(), K, target, nullptr, id, detail::JniKind<R>::value,
                          Arguments{args, nullptr}));
}

template <typename R>
R JNICALL CallNonvirtualMethodV(JNIEnv* env, jobject obj, jclass clazz, jmethodID id, va_list args) {
  va_list copy;
  va_copy(copy, args);
  jvalue r = call(env, entryName<R, CallKind::kNonvirtual, 'V'>(), CallKind::kNonvirtual, obj, clazz, id,
                  detail::JniKind<R>::value, Arguments{nullptr, &copy});
  va_end(copy);
  return resultAs<R>(r);
}

template <typename R>
R JNICALL CallNonvirtualMethod(JNIEnv* env, jobject obj, jclass clazz, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  jvalue r = call(env, entryName<R, CallKind::kNonvirtual, ' '>(), CallKind::kNonvirtual, obj, clazz, id,
                  detail::JniKind<R>::value, Arguments{nullptr, &args});
  va_end(args);
  return resultAs<R>(r);
}

template <typename R>
R JNICALL CallNonvirtualMethodA(JNIEnv* env, jobject obj, jclass clazz, jmethodID id, const jvalue* args) {
  return resultAs<R>(call(env, entryName<R, CallKind::kNonvirtual, 'A'>(), CallKind::kNonvirtual, obj, clazz, id,
                          detail::JniKind<R>::value, Arguments{args, nullptr}));
}

// NewObject: an instance made, then its constructor run on it; null when the
// constructor throws.
jobject construct(JNIEnv* env, const char* entry, jclass clazz, jmethodID id, const Arguments& arguments) {
  const MethodInfo* method;
  Object* object;
  jobject result;
  ThreadState* ts;
  std::vector<jvalue> values;
  {
    JniScope s(env, entry);
    ts = s.ts;
    s.vm.maybeCollect();
    Class* cls = s.requireClass(clazz);
    if (cls == nullptr) return nullptr;
    method = s.vm.methodOf(id);
    if (method == nullptr || method->name != "<init>" || !cls->isSubclassOf(method->owner)) {
      s.misuse(VmError::kInvalidId, id == nullptr ? "methodID == null" : "not a constructor of " + cls->name);
      return nullptr;
    }
    if (cls->isArray() || cls->name == "java/lang/Class" || cls->name == "java/lang/String") {
      s.throwNew("java/lang/InstantiationException", cls->dottedName());
      return nullptr;
    }
    object = s.vm.allocate(cls);
    result = s.local(object);
    values = arguments.read(method->argKinds);
  }
  invokeMethod(*ts->vm, ts, *method, object, values.data());
  std::lock_guard<std::mutex> lock(ts->vm->mutex);
  if (ts->pendingException == nullptr) return result;
  if (result != nullptr) ts->locals.remove(result);
  return nullptr;
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass clazz, jmethodID id, va_list args) {
  va_list copy;
  va_copy(copy, args);
  jobject r = construct(env, "NewObjectV", clazz, id, Arguments{nullptr, &copy});
  va_end(copy);
  return r;
}

jobject JNICALL NewObject(JNIEnv* env, jclass clazz, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  jobject r = construct(env, "NewObject", clazz, id, Arguments{nullptr, &args});
  va_end(args);
  return r;
}

jobject JNICALL NewObjectA(JNIEnv* env, jclass clazz, jmethodID id, const jvalue* args) {
  return construct(env, "NewObjectA", clazz, id, Arguments{args, nullptr});
}

}  // namespace

void installCallEntries(JNINativeInterface_& t) {
#define TESTVM_CALL_ENTRIES(Name, R)                                       \
  t.Call##Name##Method = CallMethod<R, CallKind::kVirtual, jobject>;       \
  t.Call##Name##MethodV = CallMethodV<R, CallKind::kVirtual, jobject>;     \
  t.Call##Name##MethodA = CallMethodA<R, CallKind::kVirtual, jobject>;     \
  t.CallNonvirtual##Name##Method = CallNonvirtualMethod<R>;                \
  t.CallNonvirtual##Name##MethodV = CallNonvirtualMethodV<R>;              \
  t.CallNonvirtual##Name##MethodA = CallNonvirtualMethodA<R>;              \
  t.CallStatic##Name##Method = CallMethod<R, CallKind::kStatic, jclass>;   \
  t.CallStatic##Name##MethodV = CallMethodV<R, CallKind::kStatic, jclass>; \
  t.CallStatic##Name##MethodA = CallMethodA<R, CallKind::kStatic, jclass>;
  TESTVM_CALL_ENTRIES(Object, jobject)
  TESTVM_CALL_ENTRIES(Boolean, jboolean)
  TESTVM_CALL_ENTRIES(Byte, jbyte)
  TESTVM_CALL_ENTRIES(Char, jchar)
  TESTVM_CALL_ENTRIES(Short, jshort)
  TESTVM_CALL_ENTRIES(Int, jint)
  TESTVM_CALL_ENTRIES(Long, jlong)
  TESTVM_CALL_ENTRIES(Float, jfloat)
  TESTVM_CALL_ENTRIES(Double, jdouble)
  TESTVM_CALL_ENTRIES(Void, void)
#undef TESTVM_CALL_ENTRIES
  t.NewObject = NewObject;
  t.NewObjectV = NewObjectV;
  t.NewObjectA = NewObjectA;
}

}  // namespace testvm
