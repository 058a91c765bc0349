// The one reader of certificate pins that the service, the editor and orvex-admin share.
#include "platform/CertificateFingerprint.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace orvex {
namespace {

struct FingerprintCase {
  const char* name;
  std::string text;
  bool valid;
};

const std::string kPlain =
    "0123456789abcdef0123456789ABCDEF"
    "0123456789abcdef0123456789abcdef";
const std::string kPairs =
    "01:23:45:67:89:ab:cd:ef:01:23:45:67:89:AB:CD:EF:"
    "01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef";
const std::string kDigest = std::string(
    "\x01\x23\x45\x67\x89\xab\xcd\xef\x01\x23\x45\x67\x89\xab\xcd\xef"
    "\x01\x23\x45\x67\x89\xab\xcd\xef\x01\x23\x45\x67\x89\xab\xcd\xef",
    32);

class FingerprintTest : public testing::TestWithParam<FingerprintCase> {};

TEST_P(FingerprintTest, ReadsBothWholeFormsInEitherCaseAndNothingElse) {
  const FingerprintCase& c = GetParam();
  const auto parsed = ParseFingerprint(c.text);
  if (c.valid) {
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, kDigest);
  } else {
    EXPECT_FALSE(parsed.has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FingerprintTest,
    testing::Values(
        FingerprintCase{"digits_together", kPlain, true},
        FingerprintCase{"colon_between_every_pair", kPairs, true},
        FingerprintCase{"blanks_around", " \t" + kPairs + "\t ", true},
        FingerprintCase{"one_digit_short", kPlain.substr(1), false},
        FingerprintCase{"one_pair_long", kPlain + "01", false},
        FingerprintCase{"one_pair_long_with_colons", kPairs + ":01", false},
        FingerprintCase{"sha1_length", kPlain.substr(0, 40), false},
        FingerprintCase{"sha1_length_with_colons", kPairs.substr(0, 59), false},
        FingerprintCase{"not_hexadecimal", kPlain.substr(0, 63) + "g", false},
        FingerprintCase{"not_hexadecimal_with_colons", "0g" + kPairs.substr(2), false},
        // Separators between some pairs only: one missing, or groups of two bytes.
        FingerprintCase{"one_colon_missing", kPairs.substr(0, 2) + kPairs.substr(3) + "0", false},
        FingerprintCase{"one_colon_only", "01:" + kPlain.substr(2), false},
        FingerprintCase{"colon_every_two_bytes",
                        "0123:4567:89ab:cdef:0123:4567:89ab:cdef:"
                        "0123:4567:89ab:cdef:0123:4567:89ab:cdef",
                        false},
        FingerprintCase{"colon_inside_a_pair", "0:1" + kPairs.substr(2, 92), false},
        FingerprintCase{"leading_colon", ":" + kPairs.substr(0, 94), false},
        FingerprintCase{"trailing_colon", kPairs.substr(1) + ":", false},
        FingerprintCase{"doubled_colon", "01::" + kPairs.substr(3, 91), false},
        FingerprintCase{"dash_for_a_colon", std::string(kPairs).replace(2, 1, "-"), false},
        FingerprintCase{"blank_inside", std::string(kPairs).replace(2, 1, " "), false}),
    [](const testing::TestParamInfo<FingerprintCase>& info) {
      return std::string(info.param.name);
    });

TEST(FingerprintTest, EmptyOrBlankMeansNoPin) {
  EXPECT_EQ(ParseFingerprint(""), std::optional<std::string>(""));
  EXPECT_EQ(ParseFingerprint(" \t "), std::optional<std::string>(""));
}

TEST(FingerprintTest, WritesThePairsFormItReads) {
  EXPECT_EQ(FormatFingerprint("\x01\xab\xff"), "01:AB:FF");
  EXPECT_EQ(FormatFingerprint(""), "");
  EXPECT_EQ(ParseFingerprint(FormatFingerprint(kDigest)), std::optional<std::string>(kDigest));
}

}  // namespace
}  // namespace orvex
