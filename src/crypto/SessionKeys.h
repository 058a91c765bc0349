// The service's session key pair, made at start-up: moderator forwards are signed with it, so an
// approved message that comes back can be told from a forged one.
#pragma once

#include <string>

#include "platform/Logger.h"
#include "platform/SecureRandom.h"

namespace orvex {

// The key texts made at start-up; the one process-wide pair lives until exit and is wiped then.
struct SessionKeyPair {
  std::string publicKey;
  std::string privateKey;
  ~SessionKeyPair();
};
const SessionKeyPair& SessionKeys();

// A fresh 512-bit pair, between the log lines "Generating session keys ..." and "Done.".
void MakeSessionKeys(Logger& log, RandomSource& random);

}  // namespace orvex
