// Moderator signatures: issued on forwarding, checked (and consumed) when the approval returns.
#include "processing/ModeratorSignature.h"

#include <exception>
#include <span>

#include "crypto/Rsa.h"
#include "crypto/SessionKeys.h"
#include "crypto/Sha1.h"
#include "platform/DateTime.h"
#include "store/MessageNames.h"

namespace orvex {
namespace {

constexpr const char* kSignatureHeader = "X-Moderator-Signature";

std::span<const std::uint8_t> Bytes(const Sha1Digest& digest) {
  return digest;
}

}  // namespace

void IssueModeratorSignature(NameValueList& signatures, NameValueList& headers,
                             std::string_view bareFromAddress, const Environment& env) {
  const SessionKeyPair& keys = SessionKeys();
  TRSA rsa;
  rsa.SetKeyBits(KeyBits::kb0512);
  rsa.SetPublicKey(keys.publicKey);
  rsa.SetPrivateKey(keys.privateKey);
  const std::string id = env.namer.NewMessageId(bareFromAddress);
  // Signed before anything is changed, so that a failure leaves the message and store as they
  // were.
  rsa.Sign(Bytes(Sha1Of(id)), env.random);
  headers.SetValue("Message-Id", id);
  signatures.SetValue(id, std::to_string(DayNumber(env.clock.Now())) + "," + keys.publicKey);
  headers.SetValue(kSignatureHeader, rsa.Signature());
}

bool CheckModeratorSignature(NameValueList& signatures, NameValueList& headers, Consume consume,
                             const Environment& env) {
  bool valid = false;
  try {
    TRSA rsa;
    rsa.SetKeyBits(KeyBits::kb0512);
    const std::string id = headers.Value("Message-Id");
    // A message without an identifier matches no entry.
    if (!id.empty()) {
      const std::string key = CommaItem(signatures.Value(id), 1);
      try {
        if (!key.empty()) rsa.SetPublicKey(key);
      } catch (const Error&) {
        // The key stays unloaded; verifying reports it.
      }
    }
    // An ordinary post carries no signature: nothing to check, nothing to report.
    const std::string signature = headers.Value(kSignatureHeader);
    if (signature.empty()) return false;
    try {
      rsa.SetSignature(signature);
      valid = rsa.Verify(Bytes(Sha1Of(id)));
    } catch (const std::exception& e) {
      env.log.WriteLog(e.what(), LogColour::White);
      return false;
    }
    if (valid && consume == Consume::Yes) {
      signatures.SetValue(id, "");
      headers.SetValue(kSignatureHeader, "");
    }
  } catch (const std::exception& e) {
    env.log.WriteLog(e.what(), LogColour::White);
    return false;
  }
  return valid;
}

}  // namespace orvex
