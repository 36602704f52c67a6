// The type part of JNI entry names (Call<Type>Method, Get<Type>Field, ...).
#pragma once

#include <jni.h>

namespace testvm {

template <typename T>
struct TypeName;
template <> struct TypeName<jobject> { static constexpr const char* value = "Object"; };
template <> struct TypeName<jboolean> { static constexpr const char* value = "Boolean"; };
template <> struct TypeName<jbyte> { static constexpr const char* value = "Byte"; };
template <> struct TypeName<jchar> { static constexpr const char* value = "Char"; };
template <> struct TypeName<jshort> { static constexpr const char* value = "Short"; };
template <> struct TypeName<jint> { static constexpr const char* value = "Int"; };
template <> struct TypeName<jlong> { static constexpr const char* value = "Long"; };
template <> struct TypeName<jfloat> { static constexpr const char* value = "Float"; };
template <> struct TypeName<jdouble> { static constexpr const char* value = "Double"; };
template <> struct TypeName<void> { static constexpr const char* value = "Void"; };

}  // namespace testvm
