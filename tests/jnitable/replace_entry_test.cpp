// Replacement of function table entries on pages of our own: read-only like the
// runtime's table, or gone altogether.
#include "jnitable/jni_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "LogCapture.h"

namespace {

int first() { return 1; }
int second() { return 2; }
int third() { return 3; }

void* fn(int (*f)()) { return reinterpret_cast<void*>(f); }

// A table of entries on a page of its own, read-only after it is filled.
class ReadOnlyTable {
 public:
  ReadOnlyTable() {
    page_ = static_cast<void**>(
        mmap(nullptr, pageSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(page_, MAP_FAILED);
    for (size_t i = 0; i < kEntries; ++i) page_[i] = fn(&first);
    EXPECT_EQ(mprotect(page_, pageSize(), PROT_READ), 0);
  }
  ~ReadOnlyTable() { munmap(page_, pageSize()); }
  ReadOnlyTable(const ReadOnlyTable&) = delete;
  ReadOnlyTable& operator=(const ReadOnlyTable&) = delete;

  static size_t pageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }
  void** slot(size_t index) { return page_ + index; }
  static constexpr size_t kEntries = 16;

 private:
  void** page_ = nullptr;
};

TEST(ReplaceJniEnvFunction, WritesTheEntryOfAReadOnlyTableAndNothingElse) {
  ReadOnlyTable table;
  LogCapture cap;
  replaceJniEnvFunction(table.slot(5), fn(&second));

  for (size_t i = 0; i < ReadOnlyTable::kEntries; ++i) {
    EXPECT_EQ(*table.slot(i), i == 5 ? fn(&second) : fn(&first)) << "entry " << i;
  }
  EXPECT_TRUE(cap.lines().empty());
}

TEST(ReplaceJniEnvFunction, SecondReplacementOfAnEntryStays) {
  ReadOnlyTable table;
  replaceJniEnvFunction(table.slot(3), fn(&second));
  replaceJniEnvFunction(table.slot(3), fn(&third));
  EXPECT_EQ(*table.slot(3), fn(&third));
}

// An entry whose page cannot be made writable is left alone: writing it would
// fault. A shared mapping of a file opened read-only never becomes writable.
TEST(ReplaceJniEnvFunction, UnwritablePageIsLoggedAndNotWritten) {
  const size_t size = ReadOnlyTable::pageSize();
  const int fd = open("/proc/self/exe", O_RDONLY);
  ASSERT_GE(fd, 0);
  void* page = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  ASSERT_NE(page, MAP_FAILED);
  void** slot = static_cast<void**>(page) + 2;
  void* const before = *slot;

  LogCapture cap;
  replaceJniEnvFunction(slot, fn(&second));

  char where[64];
  std::snprintf(where, sizeof where, "make mem writable fail at %p", static_cast<void*>(slot));
  EXPECT_EQ(cap.texts("MemoryTrackerDemo"),
            (std::vector<std::string>{std::to_string(EACCES), std::strerror(EACCES), where}));
  for (const LogLine& line : cap.lines()) EXPECT_EQ(line.prio, 6);
  EXPECT_EQ(*slot, before);
  munmap(page, size);
}

}  // namespace
