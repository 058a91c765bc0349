// Failed/: a file moved there never replaces one that is there already.
#include "store/FailedMail.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Error.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

TEST(FailedMailTest, MoveToFailedNeverOverwrites) {
  test::TempDirectory temp;
  const std::string list = temp.MakeList("L");
  temp.Write("Data/L/Failed/A.msg", "older\r\n");
  temp.Write("Data/L/Failed/A-1.msg", "older too\r\n");
  temp.Write("Data/L/Outbox/A.msg", "newer\r\n");
  EXPECT_EQ(MoveToFailed(list, list + "Outbox/A.msg"), list + "Failed/A-2.msg");
  EXPECT_EQ(temp.Read("Data/L/Failed/A.msg"), "older\r\n");
  EXPECT_EQ(temp.Read("Data/L/Failed/A-2.msg"), "newer\r\n");
  EXPECT_FALSE(temp.Exists("Data/L/Outbox/A.msg"));
  EXPECT_THROW(MoveToFailed(list, list + "Outbox/missing.msg"), Error);
}

}  // namespace
}  // namespace orvex
