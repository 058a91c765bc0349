// The transfer codecs on known texts and on the edges of their groups and line lengths.
#include "message/Codecs.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex {
namespace {

struct CodecCase {
  const char* name;
  std::string input;
  std::string expected;
};

class Base64EncodeTest : public testing::TestWithParam<CodecCase> {};
TEST_P(Base64EncodeTest, EncodesWithPadding) {
  EXPECT_EQ(Base64Encode(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Lengths, Base64EncodeTest,
    testing::Values(CodecCase{"Empty", "", ""}, CodecCase{"OneByte", "a", "YQ=="},
                    CodecCase{"TwoBytes", "ab", "YWI="}, CodecCase{"ThreeBytes", "abc", "YWJj"},
                    CodecCase{"FourBytes", "abcd", "YWJjZA=="},
                    CodecCase{"HighAndZeroBytes", std::string("\x00\xff\xfe", 3), "AP/+"},
                    CodecCase{"LineBreaks", "Hello\r\nWorld\r\n", "SGVsbG8NCldvcmxkDQo="}),
    [](const auto& info) { return info.param.name; });

class Base64DecodeLineTest : public testing::TestWithParam<CodecCase> {};
TEST_P(Base64DecodeLineTest, Decodes) {
  EXPECT_EQ(Base64DecodeLine(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Lines, Base64DecodeLineTest,
    testing::Values(
        CodecCase{"TwoPads", "YQ==", "a"}, CodecCase{"OnePad", "YWI=", "ab"},
        CodecCase{"FullGroups", "YWJjZGVm", "abcdef"}, CodecCase{"LeadingBlanks", "   YWJj", "abc"},
        CodecCase{"TrailingBlanksAndCR", "YWJj \t\r", "abc"},
        // Characters outside the alphabet are skipped, so nothing after them is lost.
        CodecCase{"InnerBlank", "YWJj YWJj", "abcabc"}, CodecCase{"Garbage", "!!@@**", ""},
        CodecCase{"PaddedGroupThenMore", "YQ==YWI=", "aab"},
        CodecCase{"UnpaddedShortGroup", "YWJjZA", "abcd"},
        CodecCase{"SingleLeftover", "YWJjZ", "abc"},
        CodecCase{"Binary", "AP/+", std::string("\x00\xff\xfe", 3)}, CodecCase{"Empty", "", ""}),
    [](const auto& info) { return info.param.name; });

class QPEncodeTest : public testing::TestWithParam<CodecCase> {};
TEST_P(QPEncodeTest, Encodes) {
  EXPECT_EQ(QPEncode(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Texts, QPEncodeTest,
    testing::Values(
        CodecCase{"EqualsAndTrailingSpace", "a=b\r\nx ", "a=3Db\r\nx=20"},
        CodecCase{"InnerSpaceKept", "a b \r\n", "a b=20"}, CodecCase{"TrailingTab", "a\t", "a=09"},
        CodecCase{"EightBitAndControl", std::string("caf\xe9\x01\x00\x7f", 7), "caf=E9=01=00=7F"},
        CodecCase{"EmptyLinesKept", "a\r\n\r\nb\r\n", "a\r\n\r\nb"},
        CodecCase{"LoneLineEnds", "a\nb\rc", "a\r\nb\r\nc"},
        // 72 characters, then a soft break.
        CodecCase{"SoftBreakAt72", std::string(100, 'a'),
                  std::string(72, 'a') + "=\r\n" + std::string(28, 'a')},
        CodecCase{"Exactly72", std::string(72, 'a'), std::string(72, 'a')},
        // An escape that starts at column 71 ends at 74: the line reaches 75 before the "=".
        CodecCase{"EscapeAtTheLimit",
                  std::string(71, 'a') + "==", std::string(71, 'a') + "=3D=\r\n=3D"}),
    [](const auto& info) { return info.param.name; });

class QPDecodeTest : public testing::TestWithParam<CodecCase> {};
TEST_P(QPDecodeTest, Decodes) {
  EXPECT_EQ(QPDecode(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Texts, QPDecodeTest,
                         testing::Values(CodecCase{"SoftBreakJoins", "caf=E9 au =\r\nlait",
                                                   "caf\xe9 au lait\r\n"},
                                         CodecCase{"Escapes", "=41=42", "AB\r\n"},
                                         CodecCase{"LowerCaseHex", "=e9", "\xe9\r\n"},
                                         CodecCase{"EqualsWithOneCharDropped", "ab=4", "ab\r\n"},
                                         CodecCase{"NotHexKept", "=XY z", "=XY z\r\n"},
                                         CodecCase{"EncodedSpaceAtEnd", "x=20", "x \r\n"},
                                         CodecCase{"EmptyLine", "a\r\n\r\nb", "a\r\n\r\nb\r\n"},
                                         CodecCase{"LastLineSoftBreak", "end=", "end"}),
                         [](const auto& info) { return info.param.name; });

class QPDecodeLineTest : public testing::TestWithParam<CodecCase> {};
TEST_P(QPDecodeLineTest, Decodes) {
  EXPECT_EQ(QPDecodeLine(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Lines, QPDecodeLineTest,
                         testing::Values(CodecCase{"EmptyGivesNothing", "", ""},
                                         CodecCase{"Plain", "abc", "abc\r\n"},
                                         CodecCase{"SoftBreakStillEndsLine", "a=", "a\r\n"},
                                         CodecCase{"Escape", "=41", "A\r\n"},
                                         CodecCase{"LowerHex", "=e9", "\xe9\r\n"},
                                         // Non-digits count as (code mod 16) + 9: G = 16, H = 17.
                                         CodecCase{"OddDigits", "=GH", "\x11\r\n"},
                                         // "=" with one character gives that character's value.
                                         CodecCase{"OneDigit", "=4", "\x04\r\n"},
                                         CodecCase{"OneLetter", "=J", "\x13\r\n"}),
                         [](const auto& info) { return info.param.name; });

class UUDecodeLineTest : public testing::TestWithParam<CodecCase> {};
TEST_P(UUDecodeLineTest, Decodes) {
  EXPECT_EQ(UUDecodeLine(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Lines, UUDecodeLineTest,
                         testing::Values(CodecCase{"OneGroup", "#0V%T", "Cat"},
                                         CodecCase{"CountCutsTheGroup", "!0V%T", "C"},
                                         CodecCase{"TwoGroups", "&0V%T0V%T", "CatCat"},
                                         // A count larger than the line: only what the line holds.
                                         CodecCase{"CountPastTheLine", "M0V%T", "Cat"},
                                         CodecCase{"ZeroCountBackquote", "`", ""},
                                         CodecCase{"ZeroCountSpace", " ", ""},
                                         CodecCase{"Empty", "", ""}),
                         [](const auto& info) { return info.param.name; });

TEST(QPCodec, DecodingWhatWasEncodedGivesTheTextBack) {
  const std::string text = std::string(
                               "Gr\xfc\xdf"
                               "e = 1 \t\r\n\r\n",
                               13) +
                           std::string(200, 'x') + " y \r\n";
  EXPECT_EQ(QPDecode(QPEncode(text)), text);
}

}  // namespace
}  // namespace orvex
