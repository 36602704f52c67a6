#include "core/topic_path.h"

#include <cctype>

namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

void ltrim(std::string& text) {
  std::string::size_type first = 0;
  while (first < text.size() && isSpace(text[first])) {
    ++first;
  }
  text.erase(0, first);
}

void rtrim(std::string& text) {
  std::string::size_type end = text.size();
  while (end > 0 && isSpace(text[end - 1])) {
    --end;
  }
  text.erase(end);
}

void trim(std::string& text) {
  ltrim(text);
  rtrim(text);
}

std::string& normalizeTopic(std::string& text) {
  trim(text);
  if (text == "/") {
    return text;
  }
  const std::string::size_type last = text.find_last_not_of('/');
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

void split(const std::string& text, std::vector<std::string>& out, const std::string& delimiter) {
  if (delimiter.empty()) {
    // Searching for nothing would find it everywhere and never advance.
    if (!text.empty()) {
      out.push_back(text);
    }
    return;
  }
  std::string::size_type start = 0;
  std::string::size_type pos = text.find(delimiter);
  while (pos != std::string::npos) {
    out.emplace_back(text, start, pos - start);
    start = pos + delimiter.size();
    pos = text.find(delimiter, start);
  }
  if (start != text.size()) {
    out.emplace_back(text, start);
  }
}
