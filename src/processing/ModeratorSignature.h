// The signatures on messages forwarded to a moderator and their record in the list's signature
// store, which let an approved message that comes back be told from a forged one. The keys and
// the RSA and SHA-1 work are crypto's; the stores and the message identifier are the list's.
#pragma once

#include <string_view>

#include "store/Environment.h"
#include "store/NameValueList.h"

namespace orvex {

enum class Consume { No, Yes };

// Gives the message (its header list) a new "Message-Id" made from `bareFromAddress` and an
// "X-Moderator-Signature" over the SHA-1 of that identifier, and records the identifier with the
// day number and the session public key in the signature store. Raises the TRSA errors (there
// are none once the session keys exist).
void IssueModeratorSignature(NameValueList& signatures, NameValueList& headers,
                             std::string_view bareFromAddress, const Environment& env);

// True when the message carries a valid signature for an identifier in the store; with
// Consume::Yes a success also deletes the entry and the header. Never raises: a failure is a log
// line and false.
bool CheckModeratorSignature(NameValueList& signatures, NameValueList& headers, Consume consume,
                             const Environment& env);

}  // namespace orvex
