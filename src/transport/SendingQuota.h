// What a list may give its relay: recipients per transaction and per local day, with the day's
// count kept durably in the list directory so that a restart does not forget it.
#pragma once

#include <cstddef>
#include <string>

#include "platform/DateTime.h"

namespace orvex {

class IniFile;

// The list's limits; 0 means no limit.
struct DeliveryLimits {
  std::size_t maxRecipients = 0;        // recipients per SMTP transaction
  std::size_t maxRecipientsPerDay = 0;  // recipients accepted since local midnight
  int days = 7;  // a file whose waiting recipients were only deferred this long moves to Failed
};

// `MaxRecipients`, `MaxRecipientsPerDay` (default 0, a negative value counts as 0) and `Days`
// (default 7, at least 1) from section General.
DeliveryLimits ReadDeliveryLimits(const IniFile& config);

// The day's count, in "<list>/daily-count.ini": "Date=<yyyy-mm-dd>" and "Recipients=<n>". A
// count of another date (or an unreadable file) is a count of 0 for today. Without a daily
// limit nothing is read or written.
class SendingQuota {
 public:
  static constexpr const char* kFileName = "daily-count.ini";

  SendingQuota(const std::string& listDir, std::size_t perDay, const Clock& clock);

  bool Limited() const { return perDay_ != 0; }
  // How many more recipients may be given to the relay today (SIZE_MAX without a limit).
  std::size_t Remaining();
  // Adds recipients the relay accepted and saves the count before anything else is sent.
  void Count(std::size_t accepted);

 private:
  void Roll();  // starts a new count when the local date has changed

  std::string path_;
  std::size_t perDay_;
  const Clock& clock_;
  std::string date_;
  std::size_t count_ = 0;
};

}  // namespace orvex
