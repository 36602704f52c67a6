// The bytes of a library file, read and altered through its ELF structures, so
// that a test can build a corrupted copy of a fixture.
#pragma once

#include <link.h>

#include <cstdint>
#include <string>
#include <vector>

class ElfImage {
 public:
  explicit ElfImage(const std::string& path);

  ElfW(Ehdr) & header();
  ElfW(Shdr) & section(size_t index);
  // The section header named `name`, or null.
  ElfW(Shdr) * sectionNamed(const std::string& name);
  // Offset of `name` inside the section-name table.
  size_t sectionNameOffset(const std::string& name);
  // File offset of a link-time address inside a PT_LOAD segment.
  size_t fileOffsetOf(ElfW(Addr) address);
  // The d_ptr of the dynamic entry `tag`, or 0.
  ElfW(Addr) dynamicPointer(ElfW(Sxword) tag);
  // End of the file content that PT_LOAD segments map.
  size_t loadedEnd();

  template <class T>
  T& at(size_t offset) {
    return *reinterpret_cast<T*>(bytes_.data() + offset);
  }
  std::vector<char>& bytes() { return bytes_; }
  void writeTo(const std::string& path) const;

 private:
  ElfW(Phdr) & segment(size_t index);
  std::vector<char> bytes_;
};
