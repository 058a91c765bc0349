// The pure rules under processing: address extraction, command recognition, mail dates, codes.
#include <gtest/gtest.h>

#include "processing/Address.h"
#include "processing/Commands.h"
#include "processing/Notices.h"
#include "support/Fakes.h"

namespace orvex {
namespace {

struct AddressCase {
  const char* name;
  const char* text;
  const char* bare;
  const char* wrapped;
};

TEST(ExtractAddress, TakesTheBareAddressOfAFromValue) {
  const AddressCase cases[] = {
      {"display name in quotes", "\"Ann Example\" <ann@example.org>", "ann@example.org",
       "<ann@example.org>"},
      {"trailing comment", "ann@example.org (Ann Example)", "ann@example.org", "<ann@example.org>"},
      {"two comments", "(x) ann@example.org (y)", "ann@example.org", "<ann@example.org>"},
      {"empty", "", "", "<>"},
      {"blanks and tabs around", " \t ann@example.org\t ", "ann@example.org", "<ann@example.org>"},
      {"case is kept", "Ann <Ann@Example.ORG>", "Ann@Example.ORG", "<Ann@Example.ORG>"},
      {"close before open keeps all parentheses", "a) b (c <x@y>", "x@y", "<x@y>"},
      {"close before open without brackets", "x@y) (c", "x@y) (c", "<x@y) (c>"},
      {"> before < gives nothing", "x> <y", "", "<>"},
      {"only <", "<x@y", "<x@y", "<<x@y>"},
      {"comment inside brackets", "<x(c)@y>", "x@y", "<x@y>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractAddress(c.text, AddressForm::Bare), c.bare) << c.name;
    EXPECT_EQ(ExtractAddress(c.text, AddressForm::Wrapped), c.wrapped) << c.name;
  }
}

struct CommandCase {
  const char* name;
  const char* subject;
  CommandKind kind;
  const char* argument;
};

TEST(RecognizeCommand, AppliesTheSevenTestsInOrder) {
  const CommandCase cases[] = {
      {"subscribe", "SUBSCRIBE", CommandKind::Subscribe, ""},
      {"subscribe in any case", "subScribe", CommandKind::Subscribe, ""},
      {"subscribe with more words is none", "subscribe me please", CommandKind::None, ""},
      {"unsubscribe with password", "unsubscribe abcDEF", CommandKind::Unsubscribe, "abcDEF"},
      {"unsubscribe two spaces trims", "UNSUBSCRIBE  pw ", CommandKind::Unsubscribe, "pw"},
      {"unsubscribe without password", "unsubscribe", CommandKind::Unsubscribe, ""},
      {"digest-on", "digest-on pw", CommandKind::DigestOn, "pw"},
      {"digest-on two spaces keeps the space", "DIGEST-ON  pw", CommandKind::DigestOn, " pw"},
      {"digest-off", "Digest-Off pw", CommandKind::DigestOff, "pw"},
      {"digest-off two spaces keeps the space", "digest-off  pw", CommandKind::DigestOff, " pw"},
      {"pause two spaces trims", "PAUSE  pw", CommandKind::Pause, "pw"},
      {"resume", "resume pw", CommandKind::Resume, "pw"},
      {"confirm in a reply", "Re: Birds  subscribe-confirm-0000ABCD1234 thanks",
       CommandKind::Confirm, "0000ABCD1234"},
      {"confirm keeps the code's case", "SUBSCRIBE-CONFIRM-0000abcd1234", CommandKind::Confirm,
       "0000abcd1234"},
      {"unsubscribe wins over confirm", "unsubscribe-confirm-1", CommandKind::Unsubscribe,
       "confirm-1"},
      {"no command", "Hello birds", CommandKind::None, ""},
      {"empty subject", "", CommandKind::None, ""},
  };
  for (const auto& c : cases) {
    const Command command = RecognizeCommand(c.subject);
    EXPECT_EQ(command.kind, c.kind) << c.name;
    EXPECT_EQ(command.argument, c.argument) << c.name;
  }
}

TEST(FormatMailDate, WritesWeekdayMonthAndZone) {
  struct Case {
    LocalDateTime time;
    const char* expected;
  } cases[] = {
      {{2026, 12, 7, 3, 33, 54, 0, 60}, "Mon, 07 Dec 2026 03:33:54 +0100"},
      {{2026, 1, 1, 0, 0, 0, 0, 0}, "Thu, 01 Jan 2026 00:00:00 GMT"},
      {{2024, 2, 29, 23, 59, 59, 999, -330}, "Thu, 29 Feb 2024 23:59:59 -0530"},
      {{2000, 3, 5, 12, 0, 0, 0, 345}, "Sun, 05 Mar 2000 12:00:00 +0545"},
      {{1899, 12, 30, 0, 0, 0, 0, 0}, "Sat, 30 Dec 1899 00:00:00 GMT"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatMailDate(c.time), c.expected);
}

TEST(ConfirmationCode, IsTwelveHexDigitsOfTheRandomNumberPlus2000) {
  test::FakeRandom random;
  random.Queue({0x00, 0x00, 0x00, 0x00});  // 0 + 2000
  random.Queue({0xFF, 0xFF, 0xFF, 0xFF});  // wraps to 1999
  random.Queue({0x30, 0xF8, 0xFF, 0xFF});  // wraps to 0
  random.Queue({0x00, 0x00, 0x00, 0xAB});
  EXPECT_EQ(MakeConfirmationCode(random), "0000000007D0");
  EXPECT_EQ(MakeConfirmationCode(random), "0000000007CF");
  EXPECT_EQ(MakeConfirmationCode(random), "000000000000");
  EXPECT_EQ(MakeConfirmationCode(random), "0000AB0007D0");
}

TEST(RandomLetters, DrawsTenLettersFromAToYWithoutBias) {
  test::FakeRandom random;
  auto queue = [&](std::uint32_t v) {
    random.Queue({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                  static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
  };
  // 2^32 mod 25 is 21: draws below 21 are thrown away so that every letter is equally likely.
  for (std::uint32_t v : {25u, 49u, 0u, 20u, 30u, 21u, 22u, 47u, 4294967295u, 100u, 101u, 124u})
    queue(v);
  EXPECT_EQ(RandomLetters(random), "ayfvwwuaby");
}

}  // namespace
}  // namespace orvex
