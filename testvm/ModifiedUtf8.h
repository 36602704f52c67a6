// Conversions between the runtime's UTF-16 strings and the byte encodings JNI
// speaks: modified UTF-8 (NewStringUTF, GetStringUTFChars) and, for the test
// helpers, standard UTF-8.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace testvm {

// Checks `bytes` (zero-terminated) as CheckJNI checks modified UTF-8: 0x01-0x7F
// alone, a lead 0xC0-0xDF with one continuation byte, or a lead 0xE0-0xEF with
// two; continuation bytes are 0x80-0xBF. Returns the offset of the first byte
// that starts no valid sequence, -1 when all is valid.
long invalidModifiedUtf8Offset(const char* bytes);

// Decodes modified UTF-8; a byte that starts no valid sequence becomes U+FFFD.
std::vector<jchar> decodeModifiedUtf8(const char* bytes);

// Encodes UTF-16 units as modified UTF-8 (U+0000 as two bytes, each surrogate
// on its own as three bytes).
std::string encodeModifiedUtf8(const jchar* chars, size_t length);

// Standard UTF-8 <-> UTF-16; invalid input becomes U+FFFD.
std::vector<jchar> utf8ToUtf16(const std::string& utf8);
std::string utf16ToUtf8(const jchar* chars, size_t length);

}  // namespace testvm
