#include "jni/java_string.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the sequence that `lead` starts, or 0 when it starts none. Modified
// UTF-8 has no 4-byte form: supplementary characters are surrogate pairs.
size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  return 0;
}

}  // namespace

void repairModifiedUtf8(char* text) {
  auto* bytes = reinterpret_cast<unsigned char*>(text);
  size_t length = strlen(text);
  size_t i = 0;
  while (i < length) {
    size_t need = sequenceLength(bytes[i]);
    if (need == 0) {
      bytes[i++] = '?';
      continue;
    }
    if (i + need > length) {
      // Only continuation bytes follow up to the end: a character cut by truncation.
      bool cut = true;
      for (size_t k = i + 1; k < length; ++k) cut = cut && isContinuation(bytes[k]);
      if (cut) {
        bytes[i] = '\0';
        return;
      }
    }
    size_t k = 1;
    while (k < need && i + k < length && isContinuation(bytes[i + k])) ++k;
    if (k < need) {
      bytes[i++] = '?';
      continue;
    }
    i += need;
  }
}

void formatModifiedUtf8(char* buffer, size_t size, const char* fmt, va_list args) {
  if (size == 0) return;
  if (vsnprintf(buffer, size, fmt, args) < 0) buffer[0] = '\0';
  repairModifiedUtf8(buffer);
}

jstring newJavaString(JNIEnv* env, const char* text) {
  if (env == nullptr || text == nullptr) return nullptr;
  std::string copy(text);
  repairModifiedUtf8(&copy[0]);
  return env->NewStringUTF(copy.c_str());
}

std::string readJavaString(JNIEnv* env, jstring text) {
  if (text == nullptr) return std::string();
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (chars == nullptr) return std::string();
  std::string copy(chars);
  env->ReleaseStringUTFChars(text, chars);
  return copy;
}
