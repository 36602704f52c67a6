// Ordering stacks by content (the key order of every map keyed by call stack),
// and finding an address in a stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "backtrace/backtrace.h"

namespace {

std::unique_ptr<BacktraceState> stateOf(const std::vector<uintptr_t>& pcs) {
  auto* array = static_cast<void**>(malloc(kMaxBacktraceDepth * sizeof(void*)));
  for (size_t i = 0; i < pcs.size(); ++i) array[i] = reinterpret_cast<void*>(pcs[i]);
  return std::make_unique<BacktraceState>(array, static_cast<unsigned>(pcs.size()));
}

constexpr uintptr_t kHigh = ~uintptr_t{0} - 0xF;  // above every "signed" view

struct OrderCase {
  const char* name;
  std::vector<uintptr_t> a;
  std::vector<uintptr_t> b;
  bool aFirst;
  bool bFirst;
};

class StackOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(StackOrder, OrdersByContent) {
  auto a = stateOf(GetParam().a);
  auto b = stateOf(GetParam().b);
  cmpFunc less;
  EXPECT_EQ(less(a.get(), b.get()), GetParam().aFirst);
  EXPECT_EQ(less(b.get(), a.get()), GetParam().bFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StackOrder,
    testing::Values(OrderCase{"EqualStacks", {1, 2, 3}, {1, 2, 3}, false, false},
                    OrderCase{"EmptyStacks", {}, {}, false, false},
                    OrderCase{"FirstDifferenceDecides", {1, 9, 9}, {2, 0}, true, false},
                    OrderCase{"LaterDifferenceDecides", {1, 2, 3}, {1, 2, 4}, true, false},
                    OrderCase{"PrefixOrdersFirst", {1, 2}, {1, 2, 3}, true, false},
                    OrderCase{"EmptyIsPrefixOfAll", {}, {7}, true, false},
                    OrderCase{"AddressesCompareUnsigned", {1}, {kHigh}, true, false}),
    [](const testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

TEST(ContainsPC, LooksOnlyAtTheFirstDepthEntries) {
  auto state = stateOf({10, 20, 30, 40});
  EXPECT_TRUE(containsPC(state->pcs, 4, reinterpret_cast<void*>(10)));
  EXPECT_TRUE(containsPC(state->pcs, 4, reinterpret_cast<void*>(40)));
  EXPECT_FALSE(containsPC(state->pcs, 4, reinterpret_cast<void*>(50)));
  EXPECT_FALSE(containsPC(state->pcs, 3, reinterpret_cast<void*>(40)));
  EXPECT_FALSE(containsPC(state->pcs, 0, reinterpret_cast<void*>(10)));
}

}  // namespace
