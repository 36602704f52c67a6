// The VM's classes, method records, fields and objects.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestVm.h"

namespace testvm {

struct Class;

enum class ObjectKind : std::uint8_t { kPlain, kString, kPrimitiveArray, kObjectArray, kClassMirror, kReflected };

struct Object {
  Class* klass = nullptr;
  ObjectKind kind = ObjectKind::kPlain;
  bool marked = false;
  std::vector<jvalue> fields;  // instance fields, references held as Object*
  // Strings (UTF-16 units) and arrays: the length, and storage that never moves
  // while the object lives, so pinned pointers stay valid.
  std::int32_t length = 0;
  std::unique_ptr<jchar[]> chars;
  std::unique_ptr<unsigned char[]> primitives;
  std::vector<Object*> elements;
  std::optional<std::string> message;  // Throwable detail message
  Class* mirrorOf = nullptr;           // java.lang.Class instances
  const void* reflected = nullptr;     // java.lang.reflect.Method/Field: the id
};

// ART's ArtMethod layout: 32-bit fields, then the pointer-sized fields, the
// first of which (data_) holds a native method's entry.
struct MethodRecordFields {
  std::uint32_t declaringClass;  // index of the class in the VM
  std::uint32_t accessFlags;
  std::uint32_t dexCodeItemOffset;
  std::uint32_t dexMethodIndex;  // index of the method in its class
  std::uint16_t methodIndex;
  std::uint16_t hotnessCount;
  void* data;
  void* entryPointFromQuickCompiledCode;
};

union MethodRecord {
  MethodRecordFields f;
  unsigned char bytes[TestVm::kMethodRecordSize];
};
static_assert(sizeof(MethodRecord) == TestVm::kMethodRecordSize, "record size");
static_assert(offsetof(MethodRecordFields, data) == TestVm::kNativeEntryOffset, "native entry offset");

constexpr std::uint32_t kAccPublic = 0x0001;
constexpr std::uint32_t kAccStatic = 0x0008;
constexpr std::uint32_t kAccNative = 0x0100;

struct Field {
  std::string name;
  std::string signature;
  bool isStatic = false;
  Class* owner = nullptr;
  std::size_t slot = 0;  // instance fields: index in Object::fields
  jvalue staticValue{};
  char kind() const { return signature[0] == '[' ? 'L' : signature[0]; }
};

struct MethodInfo {
  std::string name;
  std::string signature;
  bool isStatic = false;
  bool isNative = false;
  HostMethod body;
  Class* owner = nullptr;
  std::size_t index = 0;
  char returnKind = 'V';  // JNI letter, 'L' for every reference
  std::string argKinds;   // one JNI letter per argument
};

struct Class {
  std::string name;
  Class* super = nullptr;
  bool system = false;
  std::uint32_t index = 0;
  Object* mirror = nullptr;
  std::vector<std::unique_ptr<Field>> fields;
  std::size_t instanceFieldCount = 0;        // with the superclasses' fields
  std::vector<bool> instanceReferenceFields;  // per instance field slot
  std::vector<MethodInfo> methods;            // in record order
  std::unique_ptr<unsigned char[]> recordBlock;
  // Arrays: the element letter ('L' for references) and element class.
  char componentKind = 0;
  Class* component = nullptr;

  MethodRecord* record(std::size_t i) const {
    return reinterpret_cast<MethodRecord*>(recordBlock.get() + i * sizeof(MethodRecord));
  }
  bool isArray() const { return componentKind != 0; }
  bool isSubclassOf(const Class* other) const;
  std::string descriptor() const;
  std::string dottedName() const;
};

// Size in bytes of a primitive array element of JNI letter `kind`.
std::size_t primitiveSize(char kind);

// Splits a method signature into its argument letters and return letter;
// false when it is malformed.
bool parseMethodSignature(const std::string& signature, std::string* argKinds, char* returnKind);

}  // namespace testvm
