// A fixture library copied to a fresh temporary directory and loaded from there
// by absolute path. Patches cannot be undone, so every test works on its own
// instance of the library, whatever ran before it in the process.
#pragma once

#include <string>

#include "ElfImage.h"

class FixtureCopy {
 public:
  // Copies `source`, unaltered, as `<fresh dir>/<file name of source>`.
  explicit FixtureCopy(const std::string& source);
  ~FixtureCopy();
  FixtureCopy(const FixtureCopy&) = delete;
  FixtureCopy& operator=(const FixtureCopy&) = delete;

  const std::string& path() const { return path_; }
  // Replaces the copy's bytes.
  void write(const ElfImage& image) const { image.writeTo(path_); }
  // dlopen by absolute path; fails the test when the loader refuses.
  void load(int flags);
  template <class Function>
  Function function(const char* name) const {
    return reinterpret_cast<Function>(symbol(name));
  }

 private:
  void* symbol(const char* name) const;
  std::string dir_;
  std::string path_;
  void* handle_ = nullptr;
};

// A file mapped whole, as something other than the loader might map it.
class MappedFile {
 public:
  MappedFile(const std::string& path, int protection);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

 private:
  void* start_ = nullptr;
  size_t size_ = 0;
};

// A library mapped segment by segment like the loader does, but shared and
// read-only from a read-only descriptor: the system refuses to make any of its
// pages writable.
class ReadOnlySharedImage {
 public:
  explicit ReadOnlySharedImage(const std::string& path);
  ~ReadOnlySharedImage();
  ReadOnlySharedImage(const ReadOnlySharedImage&) = delete;
  ReadOnlySharedImage& operator=(const ReadOnlySharedImage&) = delete;

  uintptr_t loadBias() const { return reinterpret_cast<uintptr_t>(start_); }

 private:
  void* start_ = nullptr;
  size_t size_ = 0;
};
