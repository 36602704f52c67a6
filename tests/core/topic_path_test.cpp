#include "core/topic_path.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct NormalizeCase {
  std::string text;
  std::string normalized;
};

void PrintTo(const NormalizeCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.text); }

class NormalizeTopicTest : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeTopicTest, TrimsWhiteSpaceThenTrailingSlashes) {
  std::string text = GetParam().text;
  std::string& result = normalizeTopic(text);
  EXPECT_EQ(&result, &text);
  EXPECT_EQ(text, GetParam().normalized);
}

INSTANTIATE_TEST_SUITE_P(
    Topics, NormalizeTopicTest,
    ::testing::Values(NormalizeCase{"/A/B", "/A/B"}, NormalizeCase{" /A/B/ ", "/A/B"},
                      NormalizeCase{"\t\n\v\f\r /A/B//\r\n", "/A/B"}, NormalizeCase{"/", "/"},
                      NormalizeCase{" / ", "/"},  // the root survives trimming
                      NormalizeCase{"//", ""},    // slashes only: nothing left
                      NormalizeCase{"///", ""},
                      NormalizeCase{" / /", "/ "},  // the inner blank is part of a segment
                      NormalizeCase{"/A //", "/A "},
                      NormalizeCase{"/A//B", "/A//B"},  // inner empty segments stay
                      NormalizeCase{"A/B/", "A/B"}, NormalizeCase{"", ""},
                      NormalizeCase{" \t ", ""},
                      // Bytes above 0x7f are not white space in the C locale.
                      NormalizeCase{"\xa0/A\x85", "\xa0/A\x85"}));

TEST(TrimTest, EachSideAlone) {
  std::string left = " \ta b\t ";
  std::string right = left;
  std::string both = left;
  ltrim(left);
  rtrim(right);
  trim(both);
  EXPECT_EQ(left, "a b\t ");
  EXPECT_EQ(right, " \ta b");
  EXPECT_EQ(both, "a b");
}

struct SplitCase {
  std::string text;
  std::string delimiter;
  std::vector<std::string> pieces;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.text) << " by " << ::testing::PrintToString(c.delimiter);
}

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, AppendsThePiecesBetweenDelimiters) {
  std::vector<std::string> out{"kept"};
  split(GetParam().text, out, GetParam().delimiter);
  std::vector<std::string> expected{"kept"};
  expected.insert(expected.end(), GetParam().pieces.begin(), GetParam().pieces.end());
  EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitTest,
    ::testing::Values(SplitCase{"/A/B", "/", {"", "A", "B"}},   // leading empty piece
                      SplitCase{"A//B/", "/", {"A", "", "B"}},  // no final empty piece
                      SplitCase{"/N//", "/", {"", "N", ""}}, SplitCase{"/", "/", {""}},
                      SplitCase{"//", "/", {"", ""}}, SplitCase{"A", "/", {"A"}},
                      SplitCase{"", "/", {}}, SplitCase{"a::b:c::", "::", {"a", "b:c"}},
                      SplitCase{"::", "::", {""}},
                      SplitCase{"ab", "", {"ab"}},  // never loops on an empty delimiter
                      SplitCase{"", "", {}}));

}  // namespace
