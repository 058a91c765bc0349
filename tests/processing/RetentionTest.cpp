// Expiry of pending and signature entries at the day boundaries.
#include <gtest/gtest.h>

#include "ListFixture.h"
#include "processing/Retention.h"

namespace orvex::test {
namespace {

class Retention : public ListFixture {};

constexpr double kDay = 46363;  // 7 December 2026

TEST_F(Retention, EntriesLiveDaysWholeDaysFromTheirStamp) {
  struct Case {
    const char* name;
    const char* days;   // the Days line, or none for the default 7
    const char* stamp;  // first item of the entry
    double now;         // days since 30 December 1899
    bool deleted;
  } cases[] = {
      {"morning entry, last minute of day N+6", "", "46363", kDay + 6.9993, false},
      {"morning entry, just after midnight of N+7", "", "46363", kDay + 7.0001, true},
      {"afternoon entry, last minute of day N+7", "", "46364", kDay + 7.9993, false},
      {"afternoon entry, just after midnight of N+8", "", "46364", kDay + 8.0001, true},
      {"Days 0, morning entry at the next pass", "Days=0\r\n", "46363", kDay + 0.31, true},
      {"Days 0, afternoon entry the same evening", "Days=0\r\n", "46364", kDay + 0.9, false},
      {"Days 0, afternoon entry after midnight", "Days=0\r\n", "46364", kDay + 1.0001, true},
      {"no number with Days 1, late evening", "Days=1\r\n", "hand", kDay + 0.99, false},
      {"no number with Days 1, early morning", "Days=1\r\n", "", kDay + 0.01, false},
      {"negative Days deletes a fresh entry", "Days=-1\r\n", "46364", kDay + 0.6, true},
      {"trailing junk is no number", "Days=1\r\n", "46000x", kDay + 0.2, false},
  };
  for (const auto& c : cases) {
    Settings(c.days);
    account().Pending().SetValue("ann@example.net", std::string(c.stamp) + ",0000ABCDEF01");
    account().Signatures().SetValue("<1.2.ann@example.net>", std::string(c.stamp) + ",key");
    PurgeExpiredEntries(account(), FromDays(c.now));
    EXPECT_EQ(account().Pending().Empty(), c.deleted) << c.name;
    EXPECT_EQ(account().Signatures().Empty(), c.deleted) << c.name;
    account().Pending().Clear();
    account().Signatures().Clear();
  }
}

TEST_F(Retention, TheWalkGoesOnAfterADeletion) {
  for (const char* line : {"a=46000,1", "b=46000,2", "c=46363,3", "d=46000,4", "e=46363,5"})
    account().Pending().Append(line);
  clock.Set(FromDays(kDay + 0.4));
  Run();  // the inbox pass purges, also with an empty Inbox
  EXPECT_EQ(account().Pending().Lines(), (std::vector<std::string>{"c=46363,3", "e=46363,5"}));
}

}  // namespace
}  // namespace orvex::test
