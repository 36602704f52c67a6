#include "ObjectModel.h"

namespace testvm {

bool Class::isSubclassOf(const Class* other) const {
  for (const Class* c = this; c != nullptr; c = c->super) {
    if (c == other) return true;
  }
  return false;
}

std::string Class::descriptor() const { return isArray() ? name : "L" + name + ";"; }

std::string Class::dottedName() const {
  std::string dotted = name;
  for (char& c : dotted) {
    if (c == '/') c = '.';
  }
  return dotted;
}

std::size_t primitiveSize(char kind) {
  switch (kind) {
    case 'Z':
    case 'B':
      return 1;
    case 'C':
    case 'S':
      return 2;
    case 'I':
    case 'F':
      return 4;
    case 'J':
    case 'D':
      return 8;
    default:
      return 0;
  }
}

namespace {

// Skips one type descriptor at `pos`; npos when malformed.
std::size_t skipType(const std::string& s, std::size_t pos) {
  while (pos < s.size() && s[pos] == '[') ++pos;
  if (pos >= s.size()) return std::string::npos;
  if (s[pos] == 'L') {
    std::size_t end = s.find(';', pos);
    return end == std::string::npos ? end : end + 1;
  }
  return std::string("ZBCSIJFD").find(s[pos]) == std::string::npos ? std::string::npos : pos + 1;
}

}  // namespace

bool parseMethodSignature(const std::string& signature, std::string* argKinds, char* returnKind) {
  if (signature.empty() || signature[0] != '(') return false;
  std::size_t pos = 1;
  argKinds->clear();
  while (pos < signature.size() && signature[pos] != ')') {
    char first = signature[pos];
    std::size_t next = skipType(signature, pos);
    if (next == std::string::npos) return false;
    argKinds->push_back(first == '[' ? 'L' : first);
    pos = next;
  }
  if (pos >= signature.size()) return false;
  ++pos;
  if (pos < signature.size() && signature[pos] == 'V' && pos + 1 == signature.size()) {
    *returnKind = 'V';
    return true;
  }
  std::size_t end = skipType(signature, pos);
  if (end != signature.size()) return false;
  *returnKind = signature[pos] == '[' ? 'L' : signature[pos];
  return true;
}

}  // namespace testvm
