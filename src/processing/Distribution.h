// Posts to the list: distribution, moderation, forwarding to the moderator, non-subscribers.
#pragma once

#include <string_view>

#include "processing/Context.h"

namespace orvex {

class TMsg;

// A post: a moderator-approved return is distributed at once; otherwise the sender's standing
// and the list's policy decide between distribution, the moderator and the non-subscriber rule.
void DistributePost(ProcessingContext& context, TMsg& msg);
// Signs msg, strips its "Received" and "Delivered-To" fields and queues it for the moderator
// inside a multipart message with the cover note of template `section`.
void ForwardToModerator(ProcessingContext& context, TMsg& msg, std::string_view section);
// Queues msg's composed lines as a copy for the next digest.
void StoreForDigest(ProcessingContext& context, const TMsg& msg);
// A post from an address that is not subscribed (`NonSubscribers` 0 or other: warning,
// 1: moderator).
void HandleNonSubscriber(ProcessingContext& context, TMsg& msg);

}  // namespace orvex
