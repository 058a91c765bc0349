// Local date and time, the day-number form (days since 30 December 1899) and the clock interface.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// A local calendar instant with milliseconds and the offset of local time from UTC at that instant.
struct LocalDateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int utcOffsetMinutes = 0;

  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// Fractional days since 30 December 1899 00:00 (the date-time value the settings files count in).
double ToDays(const LocalDateTime& time);
LocalDateTime FromDays(double days);

// The day number of the stores: days since 30 December 1899, rounded to the nearest whole day
// (from 12:00 on it is the following day's number).
std::int64_t DayNumber(const LocalDateTime& time);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
  // Monotonic time for pacing waits: unlike Now(), it does not jump when the machine's clock is
  // set. The machine's steady clock unless a test's clock says otherwise.
  virtual std::chrono::steady_clock::time_point SteadyNow() const;
  // Waits up to `timeout`; true at once when a stop is (or already was) requested. A test's
  // clock moves on by `timeout` instead of waiting.
  virtual bool WaitForStop(std::chrono::milliseconds timeout) const;
};

// The machine's clock in its local time zone.
class SystemClock final : public Clock {
 public:
  LocalDateTime Now() const override;
};

// The locale's short date and long time form: the date, a space, the time. It is the form of the
// log's time stamps and of the stored `LastChecked`, and the parse reads back what the format
// wrote.
std::string FormatLocaleDateTime(const LocalDateTime& time);
std::optional<LocalDateTime> ParseLocaleDateTime(std::string_view text);

// Takes the date and time forms and the character set from the user's locale (LC_TIME, LC_CTYPE);
// everything else stays in the "C" locale. Called once by each program at start-up.
void UseUserLocaleForDatesAndCharacters();

}  // namespace orvex
