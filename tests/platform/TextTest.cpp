#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

// Each named set against the bytes on which the readers that use it disagree.
TEST(TextTest, TrimKeepsExactlyWhatEachBlankSetCallsBlank) {
  const std::string text = std::string("\r\x7f\t\v x \f\n\x01", 10);
  struct Case {
    const char* name;
    Blanks set;
    std::string expected;
  };
  const Case cases[] = {
      {"spaces keep line ends and controls", Blanks::Spaces, text},
      {"spaces and breaks stop at DEL and VT", Blanks::SpacesAndBreaks,
       std::string("\x7f\t\v x \f\n\x01", 9)},
      {"controls stop at DEL", Blanks::Controls, std::string("\x7f\t\v x", 5)},
      {"controls but NUL stop at DEL", Blanks::ControlsButNul, std::string("\x7f\t\v x", 5)},
      {"controls and DEL leave the word", Blanks::ControlsAndDel, "x"},
  };
  for (const Case& c : cases) EXPECT_EQ(Trim(text, c.set), c.expected) << c.name;
  EXPECT_EQ(Trim(" \v\tkey\f ", Blanks::Spaces), "key");
  EXPECT_EQ(Trim(std::string("\0a\0", 3), Blanks::Controls), "a");
  EXPECT_EQ(Trim(std::string("\0 a\x01\0", 5), Blanks::ControlsButNul),
            std::string("\0 a\x01\0", 5));
  EXPECT_EQ(Trim(" \x01"
                 "a\x20",
                 Blanks::ControlsButNul),
            "a");
  EXPECT_EQ(Trim("   ", Blanks::ControlsAndDel), "");
}

TEST(TextTest, CaseFoldsAsciiLettersOnly) {
  EXPECT_EQ(LowerCase("Re: \xC4"
                      "Ber-Z@"),
            "re: \xC4"
            "ber-z@");
  EXPECT_EQ(UpperCase("a-z\xE4"), "A-Z\xE4");
  EXPECT_TRUE(EqualsIgnoreCase("Content-TYPE", "content-type"));
  EXPECT_FALSE(EqualsIgnoreCase("Content-Type", "Content-Types"));
  EXPECT_FALSE(EqualsIgnoreCase("[", "{"));  // 0x5B and 0x7B differ by 32 but are no letters
  EXPECT_TRUE(StartsWithIgnoreCase("BEGIN 644 x", "begin "));
  EXPECT_FALSE(StartsWithIgnoreCase("beg", "begin"));
  EXPECT_TRUE(ContainsIgnoreCase("-- Cut Here --", "cut here"));
  EXPECT_FALSE(ContainsIgnoreCase("cut", "cut here"));
}

TEST(TextTest, SplitLinesAtEveryLineEnd) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitLines("\n\r"), (Lines{"", ""}));
  EXPECT_EQ(SplitLines(""), Lines{});
  EXPECT_EQ(SplitLines("a\r\n\r\nb\n\nc", EmptyLines::Drop), (Lines{"a", "b", "c"}));
  EXPECT_EQ(SplitLines("\r\n\n", EmptyLines::Drop), Lines{});
}

TEST(TextTest, Base64EncodesEveryPaddingLength) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode(std::string("\0user\0p\xFF", 8)), "AHVzZXIAcP8=");
}

}  // namespace
}  // namespace orvex
