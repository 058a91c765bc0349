// The service's session key pair and the signatures on messages forwarded to a moderator, which
// let an approved message that comes back be told from a forged one.
#pragma once

#include <string>
#include <string_view>

#include "platform/Logger.h"
#include "platform/SecureRandom.h"
#include "store/Environment.h"
#include "store/NameValueList.h"

namespace orvex {

enum class Consume { No, Yes };

// The key texts made at start-up; the one process-wide pair lives until exit and is wiped then.
struct SessionKeyPair {
  std::string publicKey;
  std::string privateKey;
  ~SessionKeyPair();
};
const SessionKeyPair& SessionKeys();

// A fresh 512-bit pair, between the log lines "Generating session keys ..." and "Done.".
void MakeSessionKeys(Logger& log, RandomSource& random);

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
