#include "ModifiedUtf8.h"

namespace testvm {
namespace {

constexpr jchar kReplacement = 0xFFFD;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid modified UTF-8 sequence at `p`, 0 if none starts there.
size_t sequenceLength(const unsigned char* p) {
  if (p[0] >= 0x01 && p[0] <= 0x7F) return 1;
  if (p[0] >= 0xC0 && p[0] <= 0xDF) return isContinuation(p[1]) ? 2 : 0;
  if (p[0] >= 0xE0 && p[0] <= 0xEF) return isContinuation(p[1]) && isContinuation(p[2]) ? 3 : 0;
  return 0;
}

void appendUtf8(std::string& out, unsigned codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

bool isHighSurrogate(jchar c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(jchar c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

long invalidModifiedUtf8Offset(const char* bytes) {
  auto start = reinterpret_cast<const unsigned char*>(bytes);
  for (auto p = start; *p != 0;) {
    size_t length = sequenceLength(p);
    if (length == 0) return p - start;
    p += length;
  }
  return -1;
}

std::vector<jchar> decodeModifiedUtf8(const char* bytes) {
  std::vector<jchar> out;
  auto p = reinterpret_cast<const unsigned char*>(bytes);
  while (*p != 0) {
    switch (sequenceLength(p)) {
      case 1:
        out.push_back(p[0]);
        p += 1;
        break;
      case 2:
        out.push_back(static_cast<jchar>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F)));
        p += 2;
        break;
      case 3:
        out.push_back(static_cast<jchar>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)));
        p += 3;
        break;
      default:
        out.push_back(kReplacement);
        p += 1;
        break;
    }
  }
  return out;
}

std::string encodeModifiedUtf8(const jchar* chars, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    if (chars[i] != 0 && chars[i] < 0x80) {
      out += static_cast<char>(chars[i]);
    } else if (chars[i] < 0x800) {
      out += static_cast<char>(0xC0 | (chars[i] >> 6));
      out += static_cast<char>(0x80 | (chars[i] & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (chars[i] >> 12));
      out += static_cast<char>(0x80 | ((chars[i] >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (chars[i] & 0x3F));
    }
  }
  return out;
}

std::vector<jchar> utf8ToUtf16(const std::string& utf8) {
  std::vector<jchar> out;
  auto p = reinterpret_cast<const unsigned char*>(utf8.data());
  auto end = p + utf8.size();
  while (p < end) {
    unsigned codePoint = kReplacement;
    size_t length = 1;
    if (p[0] < 0x80) {
      codePoint = p[0];
    } else if (p[0] >= 0xC2 && p[0] <= 0xDF && end - p >= 2 && isContinuation(p[1])) {
      codePoint = ((p[0] & 0x1F) << 6) | (p[1] & 0x3F);
      length = 2;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF && end - p >= 3 && isContinuation(p[1]) && isContinuation(p[2])) {
      codePoint = ((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
      length = 3;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4 && end - p >= 4 && isContinuation(p[1]) && isContinuation(p[2]) &&
               isContinuation(p[3])) {
      codePoint = ((p[0] & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
      length = 4;
    }
    if (codePoint >= 0x10000 && codePoint <= 0x10FFFF) {
      codePoint -= 0x10000;
      out.push_back(static_cast<jchar>(0xD800 | (codePoint >> 10)));
      out.push_back(static_cast<jchar>(0xDC00 | (codePoint & 0x3FF)));
    } else {
      out.push_back(static_cast<jchar>(codePoint > 0xFFFF ? kReplacement : codePoint));
    }
    p += length;
  }
  return out;
}

std::string utf16ToUtf8(const jchar* chars, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    unsigned codePoint = chars[i];
    if (isHighSurrogate(chars[i]) && i + 1 < length && isLowSurrogate(chars[i + 1])) {
      codePoint = 0x10000 + ((chars[i] - 0xD800u) << 10) + (chars[i + 1] - 0xDC00u);
      ++i;
    } else if (isHighSurrogate(chars[i]) || isLowSurrogate(chars[i])) {
      codePoint = kReplacement;
    }
    appendUtf8(out, codePoint);
  }
  return out;
}

}  // namespace testvm
