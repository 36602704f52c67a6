#include "jni/java_string.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

namespace {

struct RepairCase {
  const char* name;
  std::string input;
  std::string expected;
};

class RepairModifiedUtf8 : public testing::TestWithParam<RepairCase> {};

TEST_P(RepairModifiedUtf8, GivesValidModifiedUtf8) {
  std::string text = GetParam().input;
  repairModifiedUtf8(&text[0]);
  EXPECT_EQ(std::string(text.c_str()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RepairModifiedUtf8,
    testing::Values(
        RepairCase{"Ascii", "libfoo.so (0x1234)", "libfoo.so (0x1234)"},
        RepairCase{"TwoAndThreeByte", "\xC3\xA9t\xE2\x82\xAC", "\xC3\xA9t\xE2\x82\xAC"},
        RepairCase{"StrayContinuation", "a\x80z", "a?z"},
        RepairCase{"LeadWithoutContinuation", "a\xC3z", "a?z"},
        RepairCase{"ThreeByteCutInside", "a\xE2\x82z", "a??z"},
        RepairCase{"FourByteForm", "\xF0\x9F\x98\x80z", "????z"},
        RepairCase{"CutAtEndIsDropped", "ab\xE2\x82", "ab"},
        RepairCase{"LoneLeadAtEndIsDropped", "ab\xC3", "ab"},
        RepairCase{"InvalidByteAtEnd", "ab\xFF", "ab?"}),
    [](const testing::TestParamInfo<RepairCase>& info) { return info.param.name; });

std::string format(size_t size, const char* fmt, ...) {
  std::string buffer(size, 'x');
  va_list args;
  va_start(args, fmt);
  formatModifiedUtf8(&buffer[0], size, fmt, args);
  va_end(args);
  return buffer.c_str();
}

TEST(FormatModifiedUtf8, TruncatesToTheBufferWithoutSplittingACharacter) {
  EXPECT_EQ(format(256, "%s", std::string(300, 'a').c_str()), std::string(255, 'a'));
  // "\xE2\x82\xAC" would straddle the end of a 6-byte buffer (5 characters).
  EXPECT_EQ(format(6, "abc%s", "\xE2\x82\xAC"), "abc");
  EXPECT_EQ(format(7, "abc%s", "\xE2\x82\xAC"), "abc\xE2\x82\xAC");
}

}  // namespace
