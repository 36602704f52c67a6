// Java strings made from native bytes. ART's CheckJNI aborts the app when
// NewStringUTF receives bytes that are not modified UTF-8, and our texts carry
// symbol names, paths and truncated buffers, so every string the library hands
// to the runtime passes through here.
#pragma once

#include <jni.h>

#include <cstdarg>
#include <cstddef>
#include <string>

// Makes the zero-terminated `text` valid modified UTF-8 in place: a byte that
// does not start or continue a valid 1-, 2- or 3-byte sequence becomes '?', and
// an incomplete sequence at the very end (left by truncation) is dropped. The
// text never grows.
void repairModifiedUtf8(char* text);

// Formats like vsnprintf into `buffer` of `size` bytes, truncating, and repairs
// the result; an empty text when formatting fails.
void formatModifiedUtf8(char* buffer, size_t size, const char* fmt, va_list args);

// NewStringUTF of a repaired copy of `text`; null when `env` or `text` is null
// or the runtime fails.
jstring newJavaString(JNIEnv* env, const char* text);

// The characters of `text` as modified UTF-8; empty for a null string (the host
// may pass null where a string is expected) or when the runtime cannot supply
// them.
std::string readJavaString(JNIEnv* env, jstring text);
