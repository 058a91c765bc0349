// Expiry of pending subscriptions and moderator signatures older than the list's `Days`.
#pragma once

#include "platform/DateTime.h"
#include "store/Account.h"

namespace orvex {

// Deletes the entries of the pending store, then of the signature store, whose day stamp (the
// first comma item) lies more than `Days` days before `now`. A stamp that is no whole number
// counts as today's day number.
void PurgeExpiredEntries(TAccount& list, const LocalDateTime& now);
// The same rule for one store.
void PurgeOlderThan(NameValueList& store, const LocalDateTime& now, long long days);

}  // namespace orvex
