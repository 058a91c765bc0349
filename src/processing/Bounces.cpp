// Reading delivery reports and keeping the bounce store.
#include "processing/Bounces.h"

#include <charconv>

#include "message/Msg.h"
#include "processing/Address.h"
#include "processing/ListHeaders.h"
#include "processing/Notices.h"

namespace orvex {
namespace {

constexpr std::string_view kGeneral = "General";
constexpr std::size_t kMaximumScannedLines = 20000;

class AddressSet {
 public:
  void Add(std::string_view address) {
    if (address.empty() || addresses_.size() >= kMaximumReportedAddresses) return;
    for (const std::string& known : addresses_)
      if (EqualsIgnoreCase(known, address)) return;
    addresses_.emplace_back(address);
  }
  bool Empty() const { return addresses_.empty(); }
  std::vector<std::string> Take() { return std::move(addresses_); }

 private:
  std::vector<std::string> addresses_;
};

// "user@domain" with nothing around it that an address cannot hold.
bool LooksLikeAddress(std::string_view text) {
  const auto at = text.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 >= text.size()) return false;
  if (text.find('@', at + 1) != std::string_view::npos) return false;
  if (text.substr(at + 1).find('.') == std::string_view::npos) return false;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u >= 127 || std::string_view("<>()[],;:\"\\").find(c) != std::string_view::npos)
      return false;
  }
  return true;
}

// The address of a recipient field value: "rfc822; user@domain" or a bare address.
std::string RecipientOf(std::string_view value) {
  const auto semicolon = value.find(';');
  if (semicolon != std::string_view::npos) value = value.substr(semicolon + 1);
  const std::string address = ExtractAddress(value);
  return LooksLikeAddress(address) ? address : std::string();
}

// The field of a delivery-status line; false for a line that is no such field.
bool Field(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() <= name.size() || line[name.size()] != ':' ||
      !EqualsIgnoreCase(line.substr(0, name.size()), name))
    return false;
  value = TrimBlanks(line.substr(name.size() + 1));
  return true;
}

// Per-recipient groups of a delivery-status part: fields up to an empty line.
bool ReadStatusGroups(const std::vector<std::string>& lines, AddressSet& failed) {
  bool seenRecipient = false;
  std::string finalRecipient;
  std::string originalRecipient;
  bool failedAction = false;
  auto endGroup = [&] {
    if (failedAction) {
      failed.Add(finalRecipient);
      failed.Add(originalRecipient);
    }
    finalRecipient.clear();
    originalRecipient.clear();
    failedAction = false;
  };
  const std::size_t end = std::min(lines.size(), kMaximumScannedLines);
  for (std::size_t i = 0; i < end; ++i) {
    const std::string_view line = lines[i];
    std::string_view value;
    if (TrimBlanks(line).empty() || line.starts_with("--")) {
      endGroup();
    } else if (Field(line, "Final-Recipient", value)) {
      seenRecipient = true;
      finalRecipient = RecipientOf(value);
    } else if (Field(line, "Original-Recipient", value)) {
      originalRecipient = RecipientOf(value);
    } else if (Field(line, "Action", value)) {
      failedAction =
          EqualsIgnoreCase(TrimBlanks(value.substr(0, value.find_first_of(" ;("))), "failed");
    }
  }
  endGroup();
  return seenRecipient;
}

// Notices of permanent failure written for people: the address lines below the explanation
// ("  user@domain", "<user@domain>:", "<user@domain>: host ... said: 550 ...").
void ReadPlainText(const std::vector<std::string>& body, AddressSet& failed) {
  std::string text;
  const std::size_t end = std::min(body.size(), kMaximumScannedLines);
  for (std::size_t i = 0; i < end; ++i) text += LowerCase(body[i]) + "\n";
  const bool permanent = text.find("fail") != std::string::npos ||
                         text.find("permanent") != std::string::npos ||
                         text.find("could not be delivered") != std::string::npos ||
                         text.find("undeliverable") != std::string::npos;
  const bool delayed = text.find("delayed") != std::string::npos ||
                       text.find("will retry") != std::string::npos ||
                       text.find("not yet been delivered") != std::string::npos ||
                       text.find("will continue") != std::string::npos;
  if (!permanent || delayed) return;
  for (std::size_t i = 0; i < end; ++i) {
    std::string_view line = TrimBlanks(body[i]);
    // The returned message follows; addresses in it were not reported.
    const std::string lower = LowerCase(line);
    if (lower.find("copy of the message") != std::string::npos ||
        lower.find("below this line") != std::string::npos ||
        lower.find("original message") != std::string::npos)
      break;
    if (line.starts_with('<')) {
      const auto close = line.find('>');
      if (close == std::string_view::npos) continue;
      const std::string_view after = line.substr(close + 1);
      if (!after.empty() && after.front() != ':') continue;
      line = line.substr(1, close - 1);
    } else if (line.ends_with(':')) {
      line.remove_suffix(1);
    }
    if (LooksLikeAddress(line)) failed.Add(line);
  }
}

}  // namespace

std::vector<std::string> FailedRecipients(const TMsg& msg) {
  AddressSet failed;
  if (ReadStatusGroups(msg.Lines, failed)) return failed.Take();
  for (const std::string& value : RawHeaderValues(msg.Lines, "X-Failed-Recipients")) {
    std::string_view rest = value;
    while (!rest.empty()) {
      const auto comma = rest.find(',');
      const std::string address = ExtractAddress(rest.substr(0, comma));
      if (LooksLikeAddress(address)) failed.Add(address);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  }
  if (!failed.Empty()) return failed.Take();
  ReadPlainText(msg.Body, failed);
  return failed.Take();
}

std::optional<BounceCount> ParseBounceCount(std::string_view value) {
  const std::string countText = CommaItem(value, 0);
  const std::string dayText = CommaItem(value, 1);
  BounceCount result;
  auto whole = [](const std::string& text, long long& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
  };
  if (!whole(countText, result.count) || !whole(dayText, result.day) || result.count < 0)
    return std::nullopt;
  return result;
}

std::string FormatBounceCount(const BounceCount& count) {
  return std::to_string(count.count) + "," + std::to_string(count.day);
}

BounceCount NextBounceCount(const std::optional<BounceCount>& previous, long long today,
                            long long days) {
  if (previous && today - previous->day <= days && previous->count < (1LL << 40))
    return {previous->count + 1, today};
  return {1, today};
}

bool HandleDeliveryReport(ProcessingContext& context, const TMsg& msg) {
  TAccount& list = context.list;
  const long long limit = list.Config().ReadInteger(kGeneral, "BounceLimit", 0);
  if (limit <= 0) return false;
  const long long days = list.Config().ReadInteger(kGeneral, "Days", 7);
  const long long today = DayNumber(context.env.clock.Now());
  NameValueList& bounces = context.commit.Bounces();
  bool counted = false;
  std::vector<std::string> members;
  for (const std::string& address : FailedRecipients(msg)) {
    const auto index = list.Subscribers().IndexOfName(address);
    if (index == NameValueList::npos) continue;
    // The original and the final recipient may both name the member: one report, one count.
    const std::string member = list.Subscribers().NameAt(index);
    bool seen = false;
    for (const std::string& known : members) seen = seen || EqualsIgnoreCase(known, member);
    if (seen) continue;
    members.push_back(member);
    counted = true;

    const std::string key = LowerCase(member);
    context.commit.Protect(StoreKind::Bounces);
    const BounceCount next = NextBounceCount(ParseBounceCount(bounces.Value(key)), today, days);
    const bool paused = (list.SubscriberFlags(member) & sfPaused) != 0;
    if (next.count < limit || paused) {
      bounces.SetValue(key, FormatBounceCount(next));
      context.env.log.WriteLog("Delivery report for <" + member + "> counted (" +
                                   std::to_string(next.count) + " of " + std::to_string(limit) +
                                   ")",
                               LogColour::White);
      continue;
    }
    bounces.SetValue(key, "");
    context.commit.Protect(StoreKind::Subscribers);
    list.SetSubscriberFlag(member, 'p');
    NoticeVariables variables;
    variables.AddSubscriber(list, member);
    variables.AddMessage(msg);
    QueuePrivateNotice(context, "Bounce pause", variables, member);
    context.env.log.WriteLog(
        "<" + member + "> paused after " + std::to_string(next.count) + " delivery reports",
        LogColour::White);
  }
  return counted;
}

void ResetBounceCount(ProcessingContext& context, std::string_view address) {
  NameValueList& bounces = context.commit.Bounces();
  const std::string key = LowerCase(address);
  if (!bounces.Contains(key)) return;
  context.commit.Protect(StoreKind::Bounces);
  bounces.SetValue(key, "");
}

}  // namespace orvex
