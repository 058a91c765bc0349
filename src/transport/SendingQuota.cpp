// The list's delivery limits and its count of recipients per local day.
#include "transport/SendingQuota.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

std::size_t LimitSetting(long long value) {
  return value > 0 ? static_cast<std::size_t>(value) : 0;
}

std::string DateOf(const LocalDateTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", time.year, time.month, time.day);
  return text;
}

}  // namespace

DeliveryLimits ReadDeliveryLimits(const IniFile& config) {
  DeliveryLimits limits;
  limits.maxRecipients = LimitSetting(config.ReadInteger("General", "MaxRecipients", 0));
  limits.maxRecipientsPerDay =
      LimitSetting(config.ReadInteger("General", "MaxRecipientsPerDay", 0));
  const long long days = config.ReadInteger("General", "Days", 7);
  // One deferral (greylisting, a full mailbox for an hour) must never fail a file at once.
  limits.days = days < 1 ? 1 : days > 36500 ? 36500 : static_cast<int>(days);
  return limits;
}

SendingQuota::SendingQuota(const std::string& listDir, std::size_t perDay, const Clock& clock)
    : path_(listDir + kFileName), perDay_(perDay), clock_(clock) {
  if (!Limited()) return;
  const auto content = ReadWholeFile(path_);
  if (!content || content->size() > 4096) return;
  for (const std::string& line : SplitLines(*content)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string_view name(line.data(), equals);
    const std::string_view value(line.data() + equals + 1, line.size() - equals - 1);
    if (EqualsIgnoreCase(name, "Date")) {
      date_ = value;
    } else if (EqualsIgnoreCase(name, "Recipients")) {
      std::size_t n = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (error == std::errc() && end == value.data() + value.size()) count_ = n;
    }
  }
}

void SendingQuota::Roll() {
  const std::string today = DateOf(clock_.Now());
  if (today == date_) return;
  date_ = today;
  count_ = 0;
}

std::size_t SendingQuota::Remaining() {
  if (!Limited()) return std::numeric_limits<std::size_t>::max();
  Roll();
  return count_ >= perDay_ ? 0 : perDay_ - count_;
}

void SendingQuota::Count(std::size_t accepted) {
  if (!Limited() || accepted == 0) return;
  Roll();
  count_ += accepted;
  ReplaceFileAtomically(path_,
                        "Date=" + date_ + "\r\nRecipients=" + std::to_string(count_) + "\r\n");
}

}  // namespace orvex
