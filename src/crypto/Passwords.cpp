// Encipher and decipher stored passwords with a TRSA that holds the built-in pair.
#include "crypto/Passwords.h"

#include "crypto/PasswordKey.h"
#include "crypto/Rsa.h"

namespace orvex {

namespace {

void LoadPasswordKey(TRSA& rsa) {
  rsa.SetKeyBits(KeyBits::kb0512);
  rsa.Clear();
  rsa.LoadPublicKey(kPasswordKeyE, kPasswordKeyN);
  rsa.LoadPrivateKey(kPasswordKeyN, kPasswordKeyD);
}

}  // namespace

std::string EncipherPassword(std::string_view password) {
  try {
    TRSA rsa;
    LoadPasswordKey(rsa);
    return rsa.Encipher(password);
  } catch (const std::exception&) {
    return {};
  }
}

std::string DecipherPassword(std::string_view text) {
  try {
    TRSA rsa;
    LoadPasswordKey(rsa);
    return rsa.Decipher(text);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace orvex
