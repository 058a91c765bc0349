// Message file names and identifiers: their form, and uniqueness within one millisecond.
#include "store/MessageNames.h"

#include <gtest/gtest.h>

#include <string>

#include "support/Fakes.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

TEST(MessageNames, FileNameIsTheTimeStampInHex) {
  const struct {
    LocalDateTime time;
    const char* name;
  } cases[] = {
      {{2026, 12, 7, 2, 33, 54, 123}, "47FB75DF59010B.msg"},
      {{1000, 1, 1, 0, 0, 0, 0}, "238709F3D2B200.msg"},
      {{7205, 12, 31, 23, 59, 59, 999}, "FFFA368B72ECBF.msg"},
  };
  for (const auto& c : cases) EXPECT_EQ(MessageFileNameAt(c.time), c.name);
}

TEST(MessageNames, IdentifierHoldsDateTimeAndAddress) {
  EXPECT_EQ(MessageIdAt({2026, 12, 7, 2, 33, 54, 123}, "a@b"), "<20261207.023354123.a@b>");
  EXPECT_EQ(MessageIdAt({2026, 1, 2, 3, 4, 5, 6}, "x@y.z"), "<20260102.030405006.x@y.z>");
}

class MessageNamerTest : public ::testing::Test {
 protected:
  test::FakeClock clock{{2026, 12, 7, 2, 33, 54, 123}};
  MessageNamer namer{clock};
  test::TempDirectory dir;
};

TEST_F(MessageNamerTest, NamesWithinOneMillisecondCountOn) {
  EXPECT_EQ(namer.NewMessageFileName(dir.Path()), "47FB75DF59010B.msg");
  EXPECT_EQ(namer.NewMessageFileName(dir.Path()), "47FB75DF59010C.msg");
  clock.AdvanceMilliseconds(5);
  EXPECT_EQ(namer.NewMessageFileName(dir.Path()), "47FB75DF590110.msg");
}

TEST_F(MessageNamerTest, NamesPassFilesOfAnyMessageKind) {
  dir.Write("47FB75DF59010B.pri", "x");
  dir.Write("47FB75DF59010C.dig", "x");
  dir.Write("47FB75DF59010D.msg", "x");
  dir.Write("47FB75DF59010E.txt", "x");
  const std::string withoutSlash = dir.Path().substr(0, dir.Path().size() - 1);
  EXPECT_EQ(namer.NewMessageFileName(withoutSlash), "47FB75DF59010E.msg");
}

TEST_F(MessageNamerTest, ClockGoingBackDoesNotRepeatAName) {
  EXPECT_EQ(namer.NewMessageFileName(dir.Path()), "47FB75DF59010B.msg");
  clock.AdvanceMilliseconds(-1000);
  EXPECT_EQ(namer.NewMessageFileName(dir.Path()), "47FB75DF59010C.msg");
}

TEST_F(MessageNamerTest, CountingPastTheLastMillisecondKeepsTheForm) {
  clock.Set({2026, 12, 31, 23, 59, 59, 999});
  EXPECT_EQ(namer.NewMessageFileName(dir.Path()), "47FB7B82880CBF.msg");
  EXPECT_EQ(namer.NewMessageFileName(dir.Path()), "47FB7B82880CC0.msg");
}

TEST_F(MessageNamerTest, IdentifiersWithinOneMillisecondCountOn) {
  EXPECT_EQ(namer.NewMessageId("a@b"), "<20261207.023354123.a@b>");
  EXPECT_EQ(namer.NewMessageId("c@d"), "<20261207.023354124.c@d>");
  clock.AdvanceMilliseconds(10);
  EXPECT_EQ(namer.NewMessageId("a@b"), "<20261207.023354133.a@b>");
}

}  // namespace
}  // namespace orvex
