// Member lookup and the Get/Set<Type>Field entries, static and instance.
#include <string>

#include "JniFunctionTable.h"
#include "JniScope.h"
#include "JniTypes.h"

namespace testvm {
namespace {

bool namesPresent(JniScope& s, const char* name, const char* sig) {
  if (name != nullptr && sig != nullptr) return true;
  s.misuse(VmError::kNullArgument, name == nullptr ? "name == null" : "sig == null");
  return false;
}

jmethodID methodId(JNIEnv* env, const char* entry, jclass clazz, const char* name, const char* sig, bool isStatic) {
  JniScope s(env, entry);
  Class* cls = s.requireClass(clazz);
  if (cls == nullptr || !namesPresent(s, name, sig)) return nullptr;
  MethodInfo* method = s.vm.findMethod(cls, name, sig, isStatic);
  if (method == nullptr) {
    s.throwNew("java/lang/NoSuchMethodError", std::string("no ") + (isStatic ? "static" : "non-static") +
                                                  " method \"" + cls->descriptor() + "." + name + sig + "\"");
    return nullptr;
  }
  return s.vm.idOf(*method);
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  return methodId(env, "GetMethodID", clazz, name, sig, false);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  return methodId(env, "GetStaticMethodID", clazz, name, sig, true);
}

jfieldID fieldId(JNIEnv* env, const char* entry, jclass clazz, const char* name, const char* sig, bool isStatic) {
  JniScope s(env, entry);
  Class* cls = s.requireClass(clazz);
  if (cls == nullptr || !namesPresent(s, name, sig)) return nullptr;
  Field* field = s.vm.findField(cls, name, sig, isStatic);
  if (field == nullptr) {
    s.throwNew("java/lang/NoSuchFieldError", std::string("no \"") + sig + "\" field \"" + name + "\" in class \"" +
                                                 cls->descriptor() + "\" or its superclasses");
    return nullptr;
  }
  return reinterpret_cast<jfieldID>(field);
}

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  return fieldId(env, "GetFieldID", clazz, name, sig, false);
}

jfieldID JNICALL GetStaticFieldID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  return fieldId(env, "GetStaticFieldID", clazz, name, sig, true);
}

template <typename T, bool Static, bool Set>
const char* entryName() {
  static const std::string name =
      std::string(Set ? "Set" : "Get") + (Static ? "Static" : "") + TypeName<T>::value + "Field";
  return name.c_str();
}

// The storage of the field, or null (recorded) when the access is invalid.
jvalue* fieldSlot(JniScope& s, jobject target, jfieldID id, bool isStatic, char kind) {
  Field* field = s.vm.fieldOf(id);
  if (field == nullptr) {
    s.misuse(VmError::kInvalidId, id == nullptr ? "fieldID == 0" : "invalid jfieldID");
    return nullptr;
  }
  if (field->isStatic != isStatic || field->kind() != kind) {
    s.misuse(VmError::kInvalidId, "field " + field->name + " " + field->signature + " accessed through " + s.entry);
    return nullptr;
  }
  if (isStatic) return s.requireClass(static_cast<jclass>(target), "clazz") == nullptr ? nullptr : &field->staticValue;
  Object* object = s.require(target, "obj");
  if (object == nullptr) return nullptr;
  if (!object->klass->isSubclassOf(field->owner)) {
    s.misuse(VmError::kInvalidReference, "obj is not an instance of " + field->owner->name);
    return nullptr;
  }
  return &object->fields[field->slot];
}

template <typename T, typename Target, bool Static>
T JNICALL getField(JNIEnv* env, Target target, jfieldID id) {
  JniScope s(env, entryName<T, Static, false>());
  jvalue* slot = fieldSlot(s, target, id, Static, detail::JniKind<T>::value);
  if (slot == nullptr) return T{};
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<T>(s.local(reinterpret_cast<Object*>(slot->l)));
  } else {
    return detail::fromJvalue<T>(*slot);
  }
}

template <typename T, typename Target, bool Static>
void JNICALL setField(JNIEnv* env, Target target, jfieldID id, T value) {
  JniScope s(env, entryName<T, Static, true>());
  jvalue* slot = fieldSlot(s, target, id, Static, detail::JniKind<T>::value);
  if (slot == nullptr) return;
  if constexpr (std::is_pointer_v<T>) {
    slot->l = reinterpret_cast<jobject>(s.decode(value));
  } else {
    *slot = detail::toJvalue(value);
  }
}

}  // namespace

void installFieldEntries(JNINativeInterface_& t) {
  t.GetMethodID = GetMethodID;
  t.GetStaticMethodID = GetStaticMethodID;
  t.GetFieldID = GetFieldID;
  t.GetStaticFieldID = GetStaticFieldID;
#define TESTVM_FIELD_ENTRIES(Name, T)                   \
  t.Get##Name##Field = getField<T, jobject, false>;     \
  t.Set##Name##Field = setField<T, jobject, false>;     \
  t.GetStatic##Name##Field = getField<T, jclass, true>; \
  t.SetStatic##Name##Field = setField<T, jclass, true>;
  TESTVM_FIELD_ENTRIES(Object, jobject)
  TESTVM_FIELD_ENTRIES(Boolean, jboolean)
  TESTVM_FIELD_ENTRIES(Byte, jbyte)
  TESTVM_FIELD_ENTRIES(Char, jchar)
  TESTVM_FIELD_ENTRIES(Short, jshort)
  TESTVM_FIELD_ENTRIES(Int, jint)
  TESTVM_FIELD_ENTRIES(Long, jlong)
  TESTVM_FIELD_ENTRIES(Float, jfloat)
  TESTVM_FIELD_ENTRIES(Double, jdouble)
#undef TESTVM_FIELD_ENTRIES
}

}  // namespace testvm
