// The ten most frequent call stacks of a table, as overflow reports list them.
#include <jni.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "backtrace/top_backtrace.h"

namespace {

// A one-frame stack at an address no library maps, rendered with the placeholder.
BacktraceState* stackAt(uintptr_t pc) {
  auto* pcs = static_cast<void**>(malloc(sizeof(void*) * kInitialBacktraceDepth));
  pcs[0] = reinterpret_cast<void*>(pc);
  return new BacktraceState(pcs, 1);
}

uintptr_t pcOf(size_t index) { return 0x1000 + 0x10 * index; }

template <typename T>
struct Table {
  std::map<BacktraceState*, std::set<T>, cmpFunc> traces;

  // Stack i (in map order) gets sizes[i] distinct members.
  explicit Table(const std::vector<unsigned>& sizes) {
    uintptr_t member = 1;
    for (size_t i = 0; i < sizes.size(); ++i) {
      std::set<T>& objects = traces[stackAt(pcOf(i))];
      for (unsigned k = 0; k < sizes[i]; ++k) objects.insert(reinterpret_cast<T>(member++));
    }
  }
  ~Table() {
    for (auto& entry : traces) delete entry.first;
  }
  std::string ranking() const {
    std::ostringstream os;
    getTopBacktrace(traces, os);
    return os.str();
  }
};

std::string block(size_t index, unsigned count) {
  std::ostringstream os;
  os << "called " << count << " times: \n"
     << "# 0: 0x" << std::hex << pcOf(index) << " <unknown>+0x" << pcOf(index) << "  \n\n";
  return os.str();
}

struct RankingCase {
  const char* name;
  std::vector<unsigned> sizes;    // set sizes, in map order
  std::vector<size_t> written;    // stacks written, in output order
};

class TopBacktrace : public testing::TestWithParam<RankingCase> {};

TEST_P(TopBacktrace, WritesTheKeptStacksInHeapOrder) {
  Table<jobject> table(GetParam().sizes);
  std::string expected;
  for (size_t index : GetParam().written) expected += block(index, GetParam().sizes[index]);
  EXPECT_EQ(table.ranking(), expected);
}

std::vector<unsigned> oneToEleven() {
  std::vector<unsigned> sizes;
  for (unsigned size = 1; size <= 11; ++size) sizes.push_back(size);
  return sizes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TopBacktrace,
    testing::Values(
        RankingCase{"EmptyTable", {}, {}},
        RankingCase{"ThreeStacksLeastFirst", {5, 1, 3}, {1, 2, 0}},
        // The smallest kept count (2) comes first; the stack with 1 member is dropped.
        RankingCase{"ElevenStacksDropTheSmallest", oneToEleven(), {1, 3, 2, 5, 4, 9, 10, 6, 7, 8}},
        // A tie never displaces a kept stack: the eleventh in map order is dropped.
        RankingCase{"ElevenTiesKeepTheFirstTen",
                    {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
                    {9, 8, 2, 7, 4, 1, 0, 6, 5, 3}},
        RankingCase{"SingleStack", {4}, {0}}),
    [](const testing::TestParamInfo<RankingCase>& info) { return info.param.name; });

TEST(TopBacktrace, RanksPinnedArrayTables) {
  Table<void**> table({3, 7});
  EXPECT_EQ(table.ranking(), block(1, 7) + block(0, 3));
}

TEST(TopBacktrace, AppendsToTheReportText) {
  Table<jobject> table({1});
  std::ostringstream os;
  os << "head: \n";
  getTopBacktrace(table.traces, os);
  EXPECT_EQ(os.str(), "head: \n" + block(0, 1));
}

}  // namespace
