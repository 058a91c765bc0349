// Posts to the list: distribution, moderation, forwarding to the moderator, non-subscribers.
#pragma once

#include <string>
#include <string_view>

#include "processing/Context.h"

namespace orvex {

class TMsg;

// A post: a moderator-approved return is distributed at once (and its held copy counts as
// approved); otherwise the sender's standing
// and the list's policy decide between distribution, the moderator and the non-subscriber rule.
// A post whose Message-ID the list distributed within the last `Days` days (the same post
// fetched again) is dropped with one log line; each distributed post's Message-ID is recorded.
void DistributePost(ProcessingContext& context, TMsg& msg);
// The record of distributed posts (distributed.ini, written with the group commit): one line per
// Message-ID distributed within the last `Days` days, "<escaped id>=<day number>". The id is
// kept exactly (letter case matters); bytes a line cannot hold ("=", "%", blanks, controls,
// bytes above 126) are written as "%XX".
std::string DistributedKey(std::string_view messageId);
// Forgets the entries older than `Days` days.
void ForgetOldDistributions(ProcessingContext& context);

// Publishes a post the moderator approved by answering its token (the held copy, without its
// signature header): the same list fields, signature, Outbox and Digest files and record as any
// distributed post. False (and one log line) when its Message-ID was distributed before.
bool DistributeApprovedPost(ProcessingContext& context, TMsg& msg);

// Signs msg, strips its "Received" and "Delivered-To" fields, holds it under a new token
// ("Held/<token>.msg" and held.ini) and queues it for the moderator inside a multipart message
// with the cover note of template `section`. The note's placeholders {Token}, {ApproveLink} and
// {RejectLink} carry the answer; a note that names none of them gets the two links after its
// text.
void ForwardToModerator(ProcessingContext& context, TMsg& msg, std::string_view section);
// Queues msg's composed lines as a copy for the next digest.
void StoreForDigest(ProcessingContext& context, const TMsg& msg);
// A post from an address that is not subscribed (`NonSubscribers` 0 or other: warning,
// 1: moderator).
void HandleNonSubscriber(ProcessingContext& context, TMsg& msg);

}  // namespace orvex
