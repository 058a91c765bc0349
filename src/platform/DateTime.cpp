// Calendar arithmetic for the day-number form and the locale's date-time text.
#include "platform/DateTime.h"

#include <langinfo.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <ctime>

#include "platform/StopSignal.h"

namespace orvex {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0));
}

constexpr std::int64_t kEpochOffset = 25569;  // days from 1899-12-30 to 1970-01-01

std::tm ToTm(const LocalDateTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
  tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  tm.tm_yday = static_cast<int>(days - DaysFromCivil(t.year, 1, 1));
  return tm;
}

LocalDateTime FromTm(const std::tm& tm) {
  LocalDateTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  return t;
}

}  // namespace

double ToDays(const LocalDateTime& t) {
  const double whole = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) + kEpochOffset);
  const double fraction =
      ((t.hour * 60.0 + t.minute) * 60.0 + t.second + t.millisecond / 1000.0) / 86400.0;
  return whole + fraction;
}

LocalDateTime FromDays(double days) {
  LocalDateTime t;
  double whole = std::floor(days);
  std::int64_t ms = std::llround((days - whole) * 86400000.0);
  if (ms >= 86400000) {
    whole += 1;
    ms -= 86400000;
  }
  CivilFromDays(static_cast<std::int64_t>(whole) - kEpochOffset, t.year, t.month, t.day);
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

std::int64_t DayNumber(const LocalDateTime& time) {
  return static_cast<std::int64_t>(std::floor(ToDays(time) + 0.5));
}

std::chrono::steady_clock::time_point Clock::SteadyNow() const {
  return std::chrono::steady_clock::now();
}

bool Clock::WaitForStop(std::chrono::milliseconds timeout) const {
  return orvex::WaitForStop(timeout);
}

LocalDateTime SystemClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  LocalDateTime t = FromTm(tm);
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  t.utcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
  return t;
}

std::string FormatLocaleDateTime(const LocalDateTime& time) {
  const std::tm tm = ToTm(time);
  const std::string format = std::string(nl_langinfo(D_FMT)) + " " + nl_langinfo(T_FMT);
  char buffer[256];
  const size_t n = std::strftime(buffer, sizeof buffer, format.c_str(), &tm);
  return std::string(buffer, n);
}

std::optional<LocalDateTime> ParseLocaleDateTime(std::string_view text) {
  const std::string format = std::string(nl_langinfo(D_FMT)) + " " + nl_langinfo(T_FMT);
  const std::string input(text);
  std::tm tm{};
  tm.tm_mday = 0;
  const char* end = strptime(input.c_str(), format.c_str(), &tm);
  if (end == nullptr) return std::nullopt;
  while (*end == ' ') ++end;
  if (*end != '\0') return std::nullopt;
  const LocalDateTime t = FromTm(tm);
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return std::nullopt;
  return t;
}

void UseUserLocaleForDatesAndCharacters() {
  std::setlocale(LC_TIME, "");
  std::setlocale(LC_CTYPE, "");
}

}  // namespace orvex
