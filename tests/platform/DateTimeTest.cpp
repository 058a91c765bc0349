// Day numbers and the date-time value of the settings files.
#include "platform/DateTime.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(DateTime, DaysCountFromThirtiethOfDecember1899) {
  EXPECT_DOUBLE_EQ(ToDays({1899, 12, 30, 0, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(ToDays({1900, 1, 1, 12, 0, 0, 0, 0}), 2.5);
  EXPECT_DOUBLE_EQ(ToDays({2026, 12, 7, 0, 0, 0, 0, 0}), 46363.0);
}

TEST(DateTime, DayNumberRoundsToTheNearestDay) {
  EXPECT_EQ(DayNumber({2026, 12, 7, 11, 59, 59, 999, 0}), 46363);
  EXPECT_EQ(DayNumber({2026, 12, 7, 12, 0, 0, 0, 0}), 46364);
}

TEST(DateTime, FromDaysInvertsToDays) {
  const LocalDateTime t{2026, 12, 7, 2, 33, 54, 123, 0};
  EXPECT_EQ(FromDays(ToDays(t)), t);
}

TEST(DateTime, LocaleTextReadsBackWhatItWrote) {
  const LocalDateTime t{2026, 12, 7, 2, 33, 54, 0, 0};
  const auto back = ParseLocaleDateTime(FormatLocaleDateTime(t));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, t);
  EXPECT_FALSE(ParseLocaleDateTime("yesterday").has_value());
}

}  // namespace
}  // namespace orvex
