// Moderation by answer: every message forwarded to the moderator waits in "Held/" under a token,
// and a mail to the control address ("approve <token>" / "reject <token>") or orvex-admin
// decides it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SecureRandom.h"
#include "processing/Context.h"

namespace orvex {

class TMsg;

// 128 bits from `random`, written as 26 characters of the base32 alphabet (RFC 4648) in lower
// case. Tokens are compared without regard to case.
inline constexpr std::size_t kTokenLength = 26;
std::string MakeModerationToken(RandomSource& random);
// Exactly 26 characters of the base32 alphabet, in any letter case.
bool IsModerationToken(std::string_view text);

enum class Verdict { Approve, Reject };
struct ModerationAnswer {
  Verdict verdict = Verdict::Approve;
  std::string token;  // in lower case
};
// The first "approve <token>" or "reject <token>" in a subject: the word in any letter case, not
// part of a longer word, one or more blanks, then a token that is not followed by a letter or a
// digit. Encoded words ("=?charset?Q|B?...?=") are decoded first. Text around it (the "Re:",
// "AW:", "Fwd:" of mail programs, the original subject) does not matter. Only the first 4096
// bytes of the subject are read.
std::optional<ModerationAnswer> RecognizeModerationAnswer(std::string_view subject);

// The reason a moderator gave with a rejection: the first line of the reply's text that is
// not blank, not quoted (">"), not the attribution line above a quotation ("On ... wrote:", also
// wrapped over two lines) and not a mail program's own footer ("Sent from my ..."); nothing is
// taken from below a signature separator or an "Original Message" divider. At most 1000 bytes,
// without control characters; empty when there is no such line.
std::string RejectionReason(const std::vector<std::string>& body);
// The text of an HTML part as lines for RejectionReason: tags dropped, the common entities
// decoded, a line ended at <br>, <p>, <div> and the like, the content of <style>, <script> and
// <head> left out, the lines inside <blockquote> and inside quoting divs ("gmail_quote",
// "moz-cite-prefix") marked as quoted ("> "), and <hr> written as a divider line. Only the first
// 64 KiB are read.
std::vector<std::string> HtmlTextLines(std::string_view html);
// The reason of a rejection reply: from its text/plain part, or from its first text/html part
// when it has no plain-text part (some phone and web mail programs send HTML alone).
std::string ReplyRejectionReason(const TMsg& reply);

enum class HeldKind { Post, Subscription };
enum class HeldState { Held, Approved, Rejected };
// One line of held.ini: "<token>=<day held>,<kind>,<state>,<sender>,<subject>,<date>,<size>,
// <Message-ID>". A decided entry stays (without its file) until it expires, so that a second
// answer can be told what happened to the first.
struct HeldEntry {
  std::string token;
  long long day = 0;
  HeldKind kind = HeldKind::Post;
  HeldState state = HeldState::Held;
  std::string sender, subject, date;
  std::size_t size = 0;
  std::string messageId;
};
std::vector<HeldEntry> ReadHeldEntries(const NameValueList& store);
std::optional<HeldEntry> FindHeldEntry(const NameValueList& store, std::string_view token);
std::string HeldFileName(std::string_view token);  // "Held/<token>.msg", relative

// Keeps `text` (the message as forwarded, signature included) under a fresh token: the file and
// its record go out with the open commit group. Returns the token.
std::string HoldForModeration(ProcessingContext& context, HeldKind kind, const TMsg& msg,
                              std::string_view text, std::string_view sender);
// An approved return (the old way: the forwarded message sent back unchanged) decides the held
// entry of the same Message-ID, so that a later answer with its token distributes nothing.
void SettleReturnedMessage(ProcessingContext& context, std::string_view messageId);
// Removes the entries (and the files of the undecided ones) older than the list's `Days`.
void ForgetExpiredHolds(ProcessingContext& context);

enum class DecisionOutcome { Done, AlreadyApproved, AlreadyRejected, Unknown };
struct HeldDecision {
  DecisionOutcome outcome = DecisionOutcome::Unknown;
  HeldEntry entry;           // the entry as it was before the decision (when there is one)
  bool distributed = false;  // an approved post went to the members (not a repeat)
  bool told = false;         // a rejected poster gets the "Post rejected" notice
};
// Decides a held message: approve distributes the post as an approved return is distributed
// (or subscribes the address of a subscription request); reject drops it and, when `reason`
// holds text and the "Post rejected" template has text, tells the poster. Decision, outputs and
// store changes go into the open commit group together. `by` names who decided, for the log.
// Throws orvex::Error when the held file of an undecided entry cannot be read.
HeldDecision DecideHeld(ProcessingContext& context, std::string_view token, Verdict verdict,
                        std::string_view reason, std::string_view by);

// A mail at the control address whose subject answers a moderation: true when it was one (it is
// then handled completely: decided, answered, or ignored with a log line).
bool HandleModerationAnswer(ProcessingContext& context, const TMsg& msg);

}  // namespace orvex
