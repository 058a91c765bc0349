// Digests: collected copies of distributed posts become one message for digest-mode subscribers.
#pragma once

#include <cstddef>

#include "processing/Context.h"

namespace orvex {

// True when `Digest` holds at least `DigestCount` posts (always with a count of 0 or less).
bool DigestDue(const TAccount& list);
// Builds the digest of the collected posts in the format of `Digest mode`, queues it in Outbox
// as a ".dig" file and commits; the collected posts are deleted by that commit only, so a
// failure leaves them for the next digest.
void BuildDigest(ProcessingContext& context);

// Posts beyond this much collected text wait for the next digest.
inline constexpr std::size_t kMaximumDigestBytes = 32 * 1024 * 1024;

}  // namespace orvex
