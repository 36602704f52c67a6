#include "FixtureCopy.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

std::string freshDirectory() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/gothook-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string fileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

size_t pageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

FixtureCopy::FixtureCopy(const std::string& source)
    : dir_(freshDirectory()), path_(dir_ + "/" + fileName(source)) {
  write(ElfImage(source));
}

FixtureCopy::~FixtureCopy() {
  if (handle_ != nullptr) dlclose(handle_);
  unlink(path_.c_str());
  rmdir(dir_.c_str());
}

void FixtureCopy::load(int flags) {
  handle_ = dlopen(path_.c_str(), flags | RTLD_LOCAL);
  ASSERT_NE(handle_, nullptr) << dlerror();
}

void* FixtureCopy::symbol(const char* name) const {
  void* address = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
  if (address == nullptr) throw std::runtime_error(std::string("no symbol ") + name);
  return address;
}

MappedFile::MappedFile(const std::string& path, int protection) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0) throw std::runtime_error("cannot open " + path);
  size_ = static_cast<size_t>(status.st_size);
  start_ = mmap(nullptr, size_, protection, MAP_PRIVATE, fd, 0);
  close(fd);
  if (start_ == MAP_FAILED) throw std::runtime_error("cannot map " + path);
}

MappedFile::~MappedFile() { munmap(start_, size_); }

ReadOnlySharedImage::ReadOnlySharedImage(const std::string& path) {
  ElfImage image(path);
  size_t page = pageSize();
  ElfW(Ehdr)& header = image.header();
  std::vector<ElfW(Phdr)> loads;
  for (size_t i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment = image.at<ElfW(Phdr)>(header.e_phoff + i * sizeof(ElfW(Phdr)));
    if (segment.p_type == PT_LOAD) loads.push_back(segment);
  }
  size_ = (loads.back().p_vaddr + loads.back().p_memsz + page - 1) & ~(page - 1);
  start_ = mmap(nullptr, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (start_ == MAP_FAILED) throw std::runtime_error("cannot reserve");
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  for (const ElfW(Phdr)& segment : loads) {
    size_t first = segment.p_vaddr & ~(page - 1);
    size_t length = segment.p_vaddr + segment.p_filesz - first;
    void* at = mmap(static_cast<char*>(start_) + first, length, PROT_READ, MAP_SHARED | MAP_FIXED, fd,
                    static_cast<off_t>(segment.p_offset & ~(page - 1)));
    if (at == MAP_FAILED) throw std::runtime_error("cannot map a segment of " + path);
  }
  close(fd);
}

ReadOnlySharedImage::~ReadOnlySharedImage() { munmap(start_, size_); }
