// The session key pair.
#include "crypto/SessionKeys.h"

#include <string.h>  // explicit_bzero

#include <cmath>

#include "crypto/Rsa.h"

namespace orvex {

namespace {

void Wipe(std::string& text) {
  text.resize(text.capacity());
  explicit_bzero(text.data(), text.size());
  text.clear();
}

SessionKeyPair& SessionKeyStore() {
  static SessionKeyPair keys;
  return keys;
}

}  // namespace

SessionKeyPair::~SessionKeyPair() {
  Wipe(publicKey);
  Wipe(privateKey);
}

const SessionKeyPair& SessionKeys() {
  return SessionKeyStore();
}

void MakeSessionKeys(Logger& log, RandomSource& random) {
  log.WriteLog("Generating session keys ...", LogColour::White);
  TRSA::SeedArray seedA{};
  TRSA::SeedArray seedB{};
  for (auto* seed : {&seedA, &seedB})
    for (auto& value : *seed)
      value =
          static_cast<std::uint32_t>(std::lround(random.NextUInt32() / 4294967296.0 * 2000000.0));
  TRSA rsa;
  rsa.SetKeyBits(KeyBits::kb0512);
  rsa.Clear();
  rsa.GenerateKeys(seedA, seedB, random);
  SessionKeyPair& keys = SessionKeyStore();
  Wipe(keys.publicKey);
  Wipe(keys.privateKey);
  keys.publicKey = rsa.PublicKey();
  keys.privateKey = rsa.PrivateKey();
  log.WriteLog("Done.", LogColour::White);
}

}  // namespace orvex
