// Object and primitive arrays: creation, elements, regions, pinned storage.
#include <cstring>
#include <string>

#include "JniFunctionTable.h"
#include "JniScope.h"
#include "JniTypes.h"
#include "Pinning.h"

namespace testvm {
namespace {

constexpr auto kAllowed = PendingExceptionPolicy::kAllowed;

bool lengthValid(JniScope& s, jsize length) {
  if (length >= 0) return true;
  s.throwNew("java/lang/NegativeArraySizeException", std::to_string(length));
  return false;
}

bool indexValid(JniScope& s, Object* array, jsize index) {
  if (index >= 0 && index < array->length) return true;
  s.throwNew("java/lang/ArrayIndexOutOfBoundsException",
             "length=" + std::to_string(array->length) + "; index=" + std::to_string(index));
  return false;
}

bool regionValid(JniScope& s, Object* array, jsize start, jsize length) {
  if (start >= 0 && length >= 0 && start <= array->length - length) return true;
  s.throwNew("java/lang/ArrayIndexOutOfBoundsException", "length=" + std::to_string(array->length) +
                                                             "; regionStart=" + std::to_string(start) +
                                                             "; regionLength=" + std::to_string(length));
  return false;
}

Object* requireObjectArray(JniScope& s, jobjectArray ref) {
  Object* array = s.requireArray(ref);
  if (array != nullptr && array->kind != ObjectKind::kObjectArray) {
    s.misuse(VmError::kInvalidReference, "java_array is not an object array");
    return nullptr;
  }
  return array;
}

bool storable(JniScope& s, Object* array, Object* value) {
  if (value == nullptr || array->klass->component == nullptr || value->klass->isSubclassOf(array->klass->component)) {
    return true;
  }
  s.throwNew("java/lang/ArrayStoreException",
             value->klass->dottedName() + " cannot be stored in an array of type " + array->klass->dottedName());
  return false;
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray ref) {
  JniScope s(env, "GetArrayLength");
  Object* array = s.requireArray(ref);
  return array == nullptr ? 0 : array->length;
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass elementClass, jobject initial) {
  JniScope s(env, "NewObjectArray");
  s.vm.maybeCollect();
  Class* cls = s.requireClass(elementClass, "element_jclass");
  Object* init = s.decode(initial);
  if (cls == nullptr || !lengthValid(s, length)) return nullptr;
  Object* array = s.vm.newObjectArray(cls, length);
  if (length > 0 && !storable(s, array, init)) return nullptr;
  for (Object*& element : array->elements) element = init;
  return static_cast<jobjectArray>(s.local(array));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray ref, jsize index) {
  JniScope s(env, "GetObjectArrayElement");
  Object* array = requireObjectArray(s, ref);
  if (array == nullptr || !indexValid(s, array, index)) return nullptr;
  return s.local(array->elements[static_cast<std::size_t>(index)]);
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray ref, jsize index, jobject value) {
  JniScope s(env, "SetObjectArrayElement");
  Object* array = requireObjectArray(s, ref);
  Object* object = s.decode(value);
  if (array == nullptr || !indexValid(s, array, index) || !storable(s, array, object)) return;
  array->elements[static_cast<std::size_t>(index)] = object;
}

template <typename T>
struct Names {
  static const std::string& get(int which) {
    static const std::string names[] = {
        std::string("New") + TypeName<T>::value + "Array",
        std::string("Get") + TypeName<T>::value + "ArrayElements",
        std::string("Release") + TypeName<T>::value + "ArrayElements",
        std::string("Get") + TypeName<T>::value + "ArrayRegion",
        std::string("Set") + TypeName<T>::value + "ArrayRegion",
    };
    return names[which];
  }
};
enum { kNew, kGetElements, kReleaseElements, kGetRegion, kSetRegion };

template <typename T>
Object* requirePrimitiveArray(JniScope& s, jarray ref) {
  Object* array = s.requireArray(ref);
  if (array != nullptr && array->klass->componentKind != detail::JniKind<T>::value) {
    s.misuse(VmError::kInvalidReference, "java_array is a " + array->klass->name + ", not a " +
                                             std::string("[") + detail::JniKind<T>::value);
    return nullptr;
  }
  return array;
}

template <typename T, typename ArrayRef>
ArrayRef JNICALL newArray(JNIEnv* env, jsize length) {
  JniScope s(env, Names<T>::get(kNew).c_str());
  s.vm.maybeCollect();
  if (!lengthValid(s, length)) return nullptr;
  return static_cast<ArrayRef>(s.local(s.vm.newPrimitiveArray(detail::JniKind<T>::value, length)));
}

template <typename T, typename ArrayRef>
T* JNICALL getElements(JNIEnv* env, ArrayRef ref, jboolean* isCopy) {
  JniScope s(env, Names<T>::get(kGetElements).c_str());
  Object* array = requirePrimitiveArray<T>(s, ref);
  if (array == nullptr) return nullptr;
  if (isCopy != nullptr) *isCopy = JNI_FALSE;
  pin(s, array, array->primitives.get());
  return reinterpret_cast<T*>(array->primitives.get());
}

template <typename T, typename ArrayRef>
void JNICALL releaseElements(JNIEnv* env, ArrayRef ref, T* elements, jint mode) {
  JniScope s(env, Names<T>::get(kReleaseElements).c_str(), kAllowed);
  Object* array = requirePrimitiveArray<T>(s, ref);
  if (array != nullptr) unpin(s, array, elements, mode);
}

template <typename T, typename ArrayRef>
void JNICALL getRegion(JNIEnv* env, ArrayRef ref, jsize start, jsize length, T* buffer) {
  JniScope s(env, Names<T>::get(kGetRegion).c_str());
  Object* array = requirePrimitiveArray<T>(s, ref);
  if (array == nullptr || !regionValid(s, array, start, length)) return;
  if (buffer == nullptr && length > 0) {
    s.misuse(VmError::kNullArgument, "buf == null");
    return;
  }
  if (length > 0) std::memcpy(buffer, array->primitives.get() + start * sizeof(T), length * sizeof(T));
}

template <typename T, typename ArrayRef>
void JNICALL setRegion(JNIEnv* env, ArrayRef ref, jsize start, jsize length, const T* buffer) {
  JniScope s(env, Names<T>::get(kSetRegion).c_str());
  Object* array = requirePrimitiveArray<T>(s, ref);
  if (array == nullptr || !regionValid(s, array, start, length)) return;
  if (buffer == nullptr && length > 0) {
    s.misuse(VmError::kNullArgument, "buf == null");
    return;
  }
  if (length > 0) std::memcpy(array->primitives.get() + start * sizeof(T), buffer, length * sizeof(T));
}

void* JNICALL GetPrimitiveArrayCritical(JNIEnv* env, jarray ref, jboolean* isCopy) {
  JniScope s(env, "GetPrimitiveArrayCritical");
  Object* array = s.requireArray(ref);
  if (array == nullptr) return nullptr;
  if (array->kind != ObjectKind::kPrimitiveArray) {
    s.misuse(VmError::kInvalidReference, "java_array is not a primitive array");
    return nullptr;
  }
  if (isCopy != nullptr) *isCopy = JNI_FALSE;
  pin(s, array, array->primitives.get());
  return array->primitives.get();
}

void JNICALL ReleasePrimitiveArrayCritical(JNIEnv* env, jarray ref, void* elements, jint mode) {
  JniScope s(env, "ReleasePrimitiveArrayCritical", kAllowed);
  Object* array = s.requireArray(ref);
  if (array != nullptr) unpin(s, array, elements, mode);
}

}  // namespace

void installArrayEntries(JNINativeInterface_& t) {
  t.GetArrayLength = GetArrayLength;
  t.NewObjectArray = NewObjectArray;
  t.GetObjectArrayElement = GetObjectArrayElement;
  t.SetObjectArrayElement = SetObjectArrayElement;
  t.GetPrimitiveArrayCritical = GetPrimitiveArrayCritical;
  t.ReleasePrimitiveArrayCritical = ReleasePrimitiveArrayCritical;
#define TESTVM_ARRAY_ENTRIES(Name, T, ArrayRef)                      \
  t.New##Name##Array = newArray<T, ArrayRef>;                        \
  t.Get##Name##ArrayElements = getElements<T, ArrayRef>;                                            \
  t.Release##Name##ArrayElements = releaseElements<T, ArrayRef>;                                    \
  t.Get##Name##ArrayRegion = getRegion<T, ArrayRef>;                                                \
  t.Set##Name##ArrayRegion = setRegion<T, ArrayRef>;
  TESTVM_ARRAY_ENTRIES(Boolean, jboolean, jbooleanArray)
  TESTVM_ARRAY_ENTRIES(Byte, jbyte, jbyteArray)
  TESTVM_ARRAY_ENTRIES(Char, jchar, jcharArray)
  TESTVM_ARRAY_ENTRIES(Short, jshort, jshortArray)
  TESTVM_ARRAY_ENTRIES(Int, jint, jintArray)
  TESTVM_ARRAY_ENTRIES(Long, jlong, jlongArray)
  TESTVM_ARRAY_ENTRIES(Float, jfloat, jfloatArray)
  TESTVM_ARRAY_ENTRIES(Double, jdouble, jdoubleArray)
#undef TESTVM_ARRAY_ENTRIES
}

}  // namespace testvm
