// The list header fields of outgoing mail and the loop rules that keep automatic mail out of
// the list.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/Account.h"

namespace orvex {

class TMsg;

enum class ListHeaders { Off, On };
// `ListHeaders` of section General: 1 is on, anything else (or no key) off.
ListHeaders ListHeadersSetting(const TAccount& list);

// The list identifier formed from the list address: local part, ".", domain, in lower case;
// characters that cannot stand in an identifier become "-". Empty for an address without "@".
std::string ListIdentifier(std::string_view address);
// The "List-Id" value: the name as a quoted string (when there is one) and the identifier in
// angle brackets.
std::string ListIdValue(std::string_view name, std::string_view address);
// "<mailto:address>" or "<mailto:address?subject=word>", with URI specials percent-encoded.
std::string MailtoUri(std::string_view address, std::string_view subject = {});

// Notice: an answer to a person's mail; Moderation: what the list sends its moderator of its own
// accord (the forwards that wait for a decision and the answers about tokens).
enum class ListMessageKind { Post, Digest, Notice, Moderation };
using HeaderFields = std::vector<std::pair<std::string, std::string>>;
// The fields a message of `kind` gets while `ListHeaders` is on; none while it is off, or when
// the list has no address.
HeaderFields ListHeaderFields(const TAccount& list, ListMessageKind kind);

// Every value of header field `name` in the header of the raw message `lines`, unfolded, in
// order; at most a bounded number of header lines is read.
std::vector<std::string> RawHeaderValues(const std::vector<std::string>& lines,
                                         std::string_view name);

enum class LoopVerdict { Pass, DeliveryReport, OwnListId, OwnXLoop, AutoSubmitted };
struct LoopCheck {
  LoopVerdict verdict = LoopVerdict::Pass;
  std::string reason;  // for the log line; empty for Pass
};
// Automatic mail that must never reach the members: delivery reports, messages that came back
// from this list, and automatic replies. Only the header is looked at.
LoopCheck CheckLoop(const TAccount& list, const TMsg& msg);

// A delivery report: "multipart/report" with report-type "delivery-status", or a null
// "Return-Path".
bool IsDeliveryReport(const TMsg& msg);

}  // namespace orvex
