// Strings: modified UTF-8 in and out, UTF-16 inside; chars pinned in place.
#include <cstring>
#include <sstream>

#include "JniFunctionTable.h"
#include "JniScope.h"
#include "ModifiedUtf8.h"
#include "Pinning.h"

namespace testvm {
namespace {

constexpr auto kAllowed = PendingExceptionPolicy::kAllowed;

Object* requireString(JniScope& s, jstring string) {
  Object* object = s.require(string, "java_string");
  if (object != nullptr && object->kind != ObjectKind::kString) {
    s.misuse(VmError::kInvalidReference, "java_string is not a String");
    return nullptr;
  }
  return object;
}

// The first offending byte, as CheckJNI names it.
std::string invalidUtfDetail(const char* bytes, long offset) {
  std::ostringstream detail;
  detail << "input is not valid Modified UTF-8: illegal byte 0x" << std::hex
         << static_cast<unsigned>(static_cast<unsigned char>(bytes[offset])) << std::dec << " at offset " << offset;
  return detail.str();
}

jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize length) {
  JniScope s(env, "NewString");
  s.vm.maybeCollect();
  if (length < 0 || (chars == nullptr && length > 0)) {
    s.misuse(VmError::kNullArgument, "unicode_chars == null or negative length");
    return nullptr;
  }
  return static_cast<jstring>(s.local(s.vm.newString(std::vector<jchar>(chars, chars + length))));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
  JniScope s(env, "NewStringUTF");
  if (bytes == nullptr) return nullptr;
  s.vm.maybeCollect();
  long invalid = invalidModifiedUtf8Offset(bytes);
  if (invalid >= 0) {
    s.vm.recordError(VmError::kInvalidModifiedUtf8, "NewStringUTF", invalidUtfDetail(bytes, invalid), bytes);
  }
  return static_cast<jstring>(s.local(s.vm.newString(decodeModifiedUtf8(bytes))));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring string) {
  JniScope s(env, "GetStringLength");
  Object* str = requireString(s, string);
  return str == nullptr ? 0 : str->length;
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring string) {
  JniScope s(env, "GetStringUTFLength");
  Object* str = requireString(s, string);
  return str == nullptr ? 0 : static_cast<jsize>(encodeModifiedUtf8(str->chars.get(), str->length).size());
}

const jchar* pinChars(JNIEnv* env, const char* entry, jstring string, jboolean* isCopy) {
  JniScope s(env, entry);
  Object* str = requireString(s, string);
  if (str == nullptr) return nullptr;
  if (isCopy != nullptr) *isCopy = JNI_FALSE;
  pin(s, str, str->chars.get());
  return str->chars.get();
}

void unpinChars(JNIEnv* env, const char* entry, jstring string, const jchar* chars) {
  JniScope s(env, entry, kAllowed);
  Object* str = requireString(s, string);
  if (str != nullptr) unpin(s, str, chars, 0);
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring string, jboolean* isCopy) {
  return pinChars(env, "GetStringChars", string, isCopy);
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring string, const jchar* chars) {
  unpinChars(env, "ReleaseStringChars", string, chars);
}

const jchar* JNICALL GetStringCritical(JNIEnv* env, jstring string, jboolean* isCopy) {
  return pinChars(env, "GetStringCritical", string, isCopy);
}

void JNICALL ReleaseStringCritical(JNIEnv* env, jstring string, const jchar* chars) {
  unpinChars(env, "ReleaseStringCritical", string, chars);
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy) {
  JniScope s(env, "GetStringUTFChars");
  Object* str = requireString(s, string);
  if (str == nullptr) return nullptr;
  std::string utf = encodeModifiedUtf8(str->chars.get(), str->length);
  char* copy = new char[utf.size() + 1];
  std::memcpy(copy, utf.c_str(), utf.size() + 1);
  s.vm.utfCopies.insert(copy);
  if (isCopy != nullptr) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring string, const char* chars) {
  JniScope s(env, "ReleaseStringUTFChars", kAllowed);
  requireString(s, string);
  auto it = s.vm.utfCopies.find(const_cast<char*>(chars));
  if (it == s.vm.utfCopies.end()) {
    s.misuse(VmError::kBadRelease, "release of chars that GetStringUTFChars did not hand out");
    return;
  }
  delete[] *it;
  s.vm.utfCopies.erase(it);
}

bool regionInBounds(JniScope& s, Object* str, jsize start, jsize length) {
  if (start >= 0 && length >= 0 && start <= str->length - length) return true;
  s.throwNew("java/lang/StringIndexOutOfBoundsException", "length=" + std::to_string(str->length) +
                                                              "; regionStart=" + std::to_string(start) +
                                                              "; regionLength=" + std::to_string(length));
  return false;
}

void JNICALL GetStringRegion(JNIEnv* env, jstring string, jsize start, jsize length, jchar* buffer) {
  JniScope s(env, "GetStringRegion");
  Object* str = requireString(s, string);
  if (str == nullptr || !regionInBounds(s, str, start, length)) return;
  if (buffer == nullptr && length > 0) {
    s.misuse(VmError::kNullArgument, "buf == null");
    return;
  }
  std::copy(str->chars.get() + start, str->chars.get() + start + length, buffer);
}

void JNICALL GetStringUTFRegion(JNIEnv* env, jstring string, jsize start, jsize length, char* buffer) {
  JniScope s(env, "GetStringUTFRegion");
  Object* str = requireString(s, string);
  if (str == nullptr || !regionInBounds(s, str, start, length)) return;
  if (buffer == nullptr) {
    s.misuse(VmError::kNullArgument, "buf == null");
    return;
  }
  std::string utf = encodeModifiedUtf8(str->chars.get() + start, static_cast<size_t>(length));
  std::memcpy(buffer, utf.c_str(), utf.size() + 1);
}

}  // namespace

void installStringEntries(JNINativeInterface_& t) {
  t.NewString = NewString;
  t.NewStringUTF = NewStringUTF;
  t.GetStringLength = GetStringLength;
  t.GetStringUTFLength = GetStringUTFLength;
  t.GetStringChars = GetStringChars;
  t.ReleaseStringChars = ReleaseStringChars;
  t.GetStringCritical = GetStringCritical;
  t.ReleaseStringCritical = ReleaseStringCritical;
  t.GetStringUTFChars = GetStringUTFChars;
  t.ReleaseStringUTFChars = ReleaseStringUTFChars;
  t.GetStringRegion = GetStringRegion;
  t.GetStringUTFRegion = GetStringUTFRegion;
}

}  // namespace testvm
