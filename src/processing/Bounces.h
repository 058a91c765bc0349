// Delivery reports: the failed addresses they name, and the bounce counts that pause members
// whose mailboxes keep failing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "processing/Context.h"

namespace orvex {

class TMsg;

// The addresses a delivery report names as failed, in the order found, each once (compared
// without regard to case): the recipients of "Action: failed" groups of a delivery-status part
// (final and original recipient), else "X-Failed-Recipients", else the address lines of a
// plain-text notice of permanent failure. At most kMaximumReportedAddresses.
std::vector<std::string> FailedRecipients(const TMsg& msg);
inline constexpr std::size_t kMaximumReportedAddresses = 50;

struct BounceCount {
  long long count = 0;
  long long day = 0;  // day number of the last report
};
// The stored form is "count,day"; nothing for a value that is not two whole numbers.
std::optional<BounceCount> ParseBounceCount(std::string_view value);
std::string FormatBounceCount(const BounceCount& count);
// A report on `today`: counts on from `previous` when its last report is at most `days` days
// old, else starts again at 1.
BounceCount NextBounceCount(const std::optional<BounceCount>& previous, long long today,
                            long long days);

// Counts the report against every subscriber it names; a count that reaches `BounceLimit`
// pauses the subscriber and queues the "Bounce pause" notice. False when the report names no
// subscriber (or counting is off): the caller sets it aside.
bool HandleDeliveryReport(ProcessingContext& context, const TMsg& msg);
// A subscriber who shows a working mailbox starts counting afresh.
void ResetBounceCount(ProcessingContext& context, std::string_view address);

}  // namespace orvex
