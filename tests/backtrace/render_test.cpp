// Rendering: one line per frame, "#<index>: <pc> <library>+<offset>  <symbol>".
#include <dlfcn.h>
#include <link.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "backtrace/backtrace.h"
#include "bt_callers.h"

namespace {

std::string hex(uintptr_t value) {
  std::ostringstream os;
  os << "0x" << std::hex << value;
  return os.str();
}

// Load address of the fixture library, from the loader's own record.
uintptr_t fixtureBase() {
  void* handle = dlopen(BT_CALLERS_PATH, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(handle, nullptr);
  link_map* map = nullptr;
  EXPECT_EQ(dlinfo(handle, RTLD_DI_LINKMAP, &map), 0);
  dlclose(handle);
  return map->l_addr;
}

// A code address inside fixtureCallThrough (with the Thumb bit cleared on ARM).
uintptr_t insideCallThrough() {
  return (reinterpret_cast<uintptr_t>(&fixtureCallThrough) & ~uintptr_t{1}) + 2;
}

std::unique_ptr<BacktraceState> stateOf(std::initializer_list<uintptr_t> pcs) {
  auto* array = static_cast<void**>(malloc(kMaxBacktraceDepth * sizeof(void*)));
  unsigned depth = 0;
  for (uintptr_t pc : pcs) array[depth++] = reinterpret_cast<void*>(pc);
  return std::make_unique<BacktraceState>(array, depth);
}

std::string render(const BacktraceState& state) {
  std::ostringstream os;
  getBacktrace(state.pcs, state.depth, os);
  return os.str();
}

TEST(Render, NamesLibraryOffsetAndSymbol) {
  uintptr_t pc = insideCallThrough();
  uintptr_t base = fixtureBase();
  auto state = stateOf({pc});
  EXPECT_EQ(render(*state), "# 0: " + hex(pc) + " " + BT_CALLERS_PATH + "+" + hex(pc - base) +
                                "  fixtureCallThrough\n");
}

TEST(Render, AddressWithoutSymbolEndsAfterTheTwoSpaces) {
  uintptr_t base = fixtureBase();
  auto state = stateOf({base + 1});  // inside the ELF header: mapped, no symbol
  EXPECT_EQ(render(*state), "# 0: " + hex(base + 1) + " " + BT_CALLERS_PATH + "+0x1  \n");
}

TEST(Render, AddressOutsideEveryLibraryUsesAPlaceholder) {
  auto state = stateOf({0x10});
  EXPECT_EQ(render(*state), "# 0: 0x10 <unknown>+0x10  \n");
}

TEST(Render, IndexIsPaddedToTwoColumns) {
  uintptr_t pc = insideCallThrough();
  auto state = stateOf({pc, pc, pc, pc, pc, pc, pc, pc, pc, pc, pc, pc, pc, pc, pc, pc});
  std::string rest = render(*stateOf({pc})).substr(5);
  rest.pop_back();
  std::istringstream lines(render(*state));
  std::string line;
  int index = 0;
  const char* prefixes[] = {"# 0: ", "# 1: ", "# 2: ", "# 3: ", "# 4: ", "# 5: ", "# 6: ", "# 7: ",
                            "# 8: ", "# 9: ", "#10: ", "#11: ", "#12: ", "#13: ", "#14: ", "#15: "};
  while (std::getline(lines, line)) {
    ASSERT_LT(index, 16);
    EXPECT_EQ(line.substr(0, 5), prefixes[index]);
    EXPECT_EQ(line.substr(5), rest);
    ++index;
  }
  EXPECT_EQ(index, 16);
}

TEST(Render, EmptyStackRendersNothing) {
  auto state = stateOf({});
  EXPECT_EQ(render(*state), "");
  std::unique_ptr<std::string> text(getBacktrace(state->pcs, 0));
  EXPECT_EQ(*text, "");
}

TEST(Render, StringFormMatchesStreamForm) {
  auto state = stateOf({insideCallThrough(), 0x10});
  std::unique_ptr<std::string> text(getBacktrace(state->pcs, state->depth));
  EXPECT_EQ(*text, render(*state));
  EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 2);
}

TEST(Render, AppendsToWhatTheStreamHolds) {
  auto state = stateOf({0x10});
  std::ostringstream os;
  os << "head\n";
  getBacktrace(state->pcs, state->depth, os);
  EXPECT_EQ(os.str(), "head\n# 0: 0x10 <unknown>+0x10  \n");
}

}  // namespace
