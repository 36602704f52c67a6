// The search for the native entry's offset, on method records laid out in
// memory of our own: the probe's record ends where an inaccessible page starts,
// so a read beyond the bound the neighbour sets faults.
#include "jni_method_hook.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

void nativeMark() {}
void otherNative() {}

void* const kMark = reinterpret_cast<void*>(&nativeMark);
constexpr int kPtr = static_cast<int>(sizeof(void*));

class ProbeRecords {
 public:
  // `distance` from the probe's identifier to its neighbour's; negative when the
  // neighbour's record lies below the probe's.
  explicit ProbeRecords(int distance) {
    pageSize_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    memory_ = static_cast<char*>(
        mmap(nullptr, 2 * pageSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(memory_, MAP_FAILED);
    EXPECT_EQ(mprotect(memory_ + pageSize_, pageSize_, PROT_NONE), 0);
    const int size = distance == 0 ? 16 : std::abs(distance);
    mark_ = memory_ + pageSize_ - size;
    neighbour_ = mark_ + distance;
  }
  ~ProbeRecords() { munmap(memory_, 2 * pageSize_); }
  ProbeRecords(const ProbeRecords&) = delete;
  ProbeRecords& operator=(const ProbeRecords&) = delete;

  void put(int offset, void* function) { std::memcpy(mark_ + offset, &function, sizeof function); }
  jmethodID mark() const { return reinterpret_cast<jmethodID>(mark_); }
  jmethodID neighbour() const { return reinterpret_cast<jmethodID>(neighbour_); }

 private:
  size_t pageSize_ = 0;
  char* memory_ = nullptr;
  char* mark_ = nullptr;
  char* neighbour_ = nullptr;
};

class OffsetSearch : public testing::Test {
 protected:
  void SetUp() override { globalOffset = 0; }
};

struct SearchCase {
  const char* name;
  int distance;
  std::vector<int> entryOffsets;  // where the probe's record holds the known function
  int found;                      // the offset found, 0 when the search fails
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class OffsetSearchBounds : public OffsetSearch, public testing::WithParamInterface<SearchCase> {};

TEST_P(OffsetSearchBounds, FindsTheFirstMatchWithinTheRecord) {
  const SearchCase& c = GetParam();
  ProbeRecords records(c.distance);
  for (int offset : c.entryOffsets) records.put(offset, kMark);

  EXPECT_EQ(initJniMethodHook(nullptr, records.mark(), records.neighbour(), kMark), c.found != 0);
  EXPECT_EQ(globalOffset, c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OffsetSearchBounds,
    testing::Values(
        SearchCase{"Distance40FirstWord", 40, {4}, 4},
        SearchCase{"Distance40LastWholeWord", 40, {40 - kPtr}, 40 - kPtr},
        SearchCase{"Distance40NoMatchReadsOnlyTheRecord", 40, {}, 0},
        SearchCase{"Distance200LastOffsetBelow100", 200, {96}, 96},
        SearchCase{"Distance200Offset100NotExamined", 200, {100}, 0},
        SearchCase{"NeighbourBelow40", -40, {40 - kPtr}, 40 - kPtr},
        SearchCase{"NeighbourBelow40NoMatchReadsOnlyTheRecord", -40, {}, 0},
        SearchCase{"NeighbourBelow200Offset96", -200, {96}, 96},
        SearchCase{"NeighbourBelow200Offset100NotExamined", -200, {100}, 0},
        SearchCase{"FirstOfTwoMatches", 64, {12, 24}, 12},
        SearchCase{"MatchOnlyAtOffset0Fails", 40, {0}, 0},
        SearchCase{"SameIdentifierExaminesNothing", 0, {8}, 0}),
    [](const testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

TEST_F(OffsetSearch, NullArgumentFails) {
  ProbeRecords records(40);
  records.put(8, kMark);
  EXPECT_FALSE(initJniMethodHook(nullptr, records.mark(), records.neighbour(), nullptr));
  EXPECT_FALSE(initJniMethodHook(nullptr, nullptr, records.neighbour(), kMark));
  EXPECT_FALSE(initJniMethodHook(nullptr, records.mark(), nullptr, kMark));
  EXPECT_EQ(globalOffset, 0);
}

TEST_F(OffsetSearch, SecondCallAfterSuccessKeepsTheOffsetWithoutLooking) {
  ProbeRecords records(40);
  records.put(8, kMark);
  ASSERT_TRUE(initJniMethodHook(nullptr, records.mark(), records.neighbour(), kMark));

  ProbeRecords other(40);
  other.put(16, reinterpret_cast<void*>(&otherNative));
  EXPECT_TRUE(initJniMethodHook(nullptr, other.mark(), other.neighbour(),
                                reinterpret_cast<void*>(&otherNative)));
  EXPECT_TRUE(initJniMethodHook(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(globalOffset, 8);
}

TEST_F(OffsetSearch, FailedSearchIsRetried) {
  ProbeRecords records(40);
  ASSERT_FALSE(initJniMethodHook(nullptr, records.mark(), records.neighbour(), kMark));
  records.put(20, kMark);
  EXPECT_TRUE(initJniMethodHook(nullptr, records.mark(), records.neighbour(), kMark));
  EXPECT_EQ(globalOffset, 20);
}

// Before the offset is known nothing is looked up or written: a null JNIEnv
// would fault at the first use.
TEST_F(OffsetSearch, HookBeforeSearchFailsAndTouchesNothing) {
  void* saved = kMark;
  EXPECT_FALSE(hookJniMethod(nullptr, "java/lang/Runtime", "nativeLoad", "()V",
                             reinterpret_cast<void*>(&otherNative), &saved));
  EXPECT_EQ(saved, kMark);
  EXPECT_EQ(globalOffset, 0);
}

}  // namespace
