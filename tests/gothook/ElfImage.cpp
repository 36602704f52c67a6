#include "ElfImage.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

ElfImage::ElfImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (bytes_.size() < sizeof(ElfW(Ehdr))) throw std::runtime_error("not a library: " + path);
}

ElfW(Ehdr) & ElfImage::header() { return at<ElfW(Ehdr)>(0); }

ElfW(Shdr) & ElfImage::section(size_t index) {
  return at<ElfW(Shdr)>(header().e_shoff + index * sizeof(ElfW(Shdr)));
}

ElfW(Phdr) & ElfImage::segment(size_t index) {
  return at<ElfW(Phdr)>(header().e_phoff + index * sizeof(ElfW(Phdr)));
}

ElfW(Shdr) * ElfImage::sectionNamed(const std::string& name) {
  const char* names = bytes_.data() + section(header().e_shstrndx).sh_offset;
  for (size_t i = 0; i < header().e_shnum; ++i) {
    if (name == names + section(i).sh_name) return &section(i);
  }
  return nullptr;
}

size_t ElfImage::sectionNameOffset(const std::string& name) {
  ElfW(Shdr)* named = sectionNamed(name);
  if (named == nullptr) throw std::runtime_error("no section " + name);
  return section(header().e_shstrndx).sh_offset + named->sh_name;
}

size_t ElfImage::fileOffsetOf(ElfW(Addr) address) {
  for (size_t i = 0; i < header().e_phnum; ++i) {
    ElfW(Phdr)& load = segment(i);
    if (load.p_type == PT_LOAD && address >= load.p_vaddr && address < load.p_vaddr + load.p_filesz) {
      return address - load.p_vaddr + load.p_offset;
    }
  }
  throw std::runtime_error("address outside the file's segments");
}

ElfW(Addr) ElfImage::dynamicPointer(ElfW(Sxword) tag) {
  for (size_t i = 0; i < header().e_phnum; ++i) {
    if (segment(i).p_type != PT_DYNAMIC) continue;
    for (size_t offset = segment(i).p_offset; offset < segment(i).p_offset + segment(i).p_filesz;
         offset += sizeof(ElfW(Dyn))) {
      if (at<ElfW(Dyn)>(offset).d_tag == tag) return at<ElfW(Dyn)>(offset).d_un.d_ptr;
    }
  }
  return 0;
}

size_t ElfImage::loadedEnd() {
  size_t end = 0;
  for (size_t i = 0; i < header().e_phnum; ++i) {
    if (segment(i).p_type == PT_LOAD) end = std::max<size_t>(end, segment(i).p_offset + segment(i).p_filesz);
  }
  return end;
}

void ElfImage::writeTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}
