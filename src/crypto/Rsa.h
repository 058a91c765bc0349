// RSA as both programs use it: key texts, block encipherment of short texts, signatures over a
// few bytes, and key generation; with the radix-64 text form of binary strings.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/BigNumber.h"
#include "platform/Error.h"
#include "platform/SecureRandom.h"

namespace orvex {

class ENoKeyLoaded : public Error {
 public:
  using Error::Error;
};
class EInvalidKey : public Error {
 public:
  using Error::Error;
};
class EConvertError : public Error {
 public:
  using Error::Error;
};

// Radix-64 with the alphabet "+-0-9A-Za-z", no padding characters. Decoding throws
// EConvertError "Error converting from Base64 - invalid character".
std::string Radix64Encode(std::string_view bytes);
std::string Radix64Decode(std::string_view text);

enum class KeyBits { kb0512, kb1024, kb2048 };

class TRSA {
 public:
  using Words = BigNumber::Words;
  using SeedArray = std::array<std::uint32_t, BigNumber::kWords>;

  TRSA() = default;
  ~TRSA();
  TRSA(const TRSA&) = delete;
  TRSA& operator=(const TRSA&) = delete;

  void SetKeyBits(KeyBits bits);
  KeyBits GetKeyBits() const { return keyBits_; }
  // Block size in bytes: 64 at 512 bits.
  std::size_t BlockSize() const { return 4 * words_; }

  // Wipes the numbers and the key and signature texts and clears the flags.
  void Clear();

  void SetPublicKey(std::string_view text);
  const std::string& PublicKey() const { return publicKeyText_; }
  void SetPrivateKey(std::string_view text);
  const std::string& PrivateKey() const { return privateKeyText_; }
  void SetSignature(std::string_view text);
  const std::string& Signature() const { return signatureText_; }

  bool PublicKeyLoaded() const { return publicLoaded_; }
  bool PrivateKeyLoaded() const { return privateLoaded_; }
  bool SignatureLoaded() const { return signatureLoaded_; }

  // Built-in key parts, without texts.
  void LoadPublicKey(const Words& e, const Words& n);
  void LoadPrivateKey(const Words& n, const Words& d);

  std::string Encipher(std::string_view text);
  std::string Decipher(std::string_view text);

  // The data (at most BlockSize() - 4 bytes) is signed in a block whose other bytes come from
  // `random`.
  void Sign(std::span<const std::uint8_t> data, RandomSource& random);
  bool Verify(std::span<const std::uint8_t> data);

  // A new pair from two primes whose candidates mix `random` with the seed arrays.
  void GenerateKeys(const SeedArray& seedA, const SeedArray& seedB, RandomSource& random);

  const std::string& Status() const { return status_; }
  void SetStatusChanged(std::function<void(const std::string&)> notify) {
    statusChanged_ = std::move(notify);
  }

 private:
  void SetStatus(std::string text);
  template <typename Kind>
  [[noreturn]] void Fail(const std::string& message);
  // A key text "<first>:<second>", both radix-64: the first at most one block long, the second
  // exactly one. Raises "<what> key not valid" or "<what> key has incorrect length".
  struct KeyParts {
    BigNumber first;
    BigNumber second;
  };
  KeyParts ParseKeyText(std::string_view text, const std::string& what);
  BigNumber FromMemoryOrder(std::string_view bytes) const;
  std::string ToMemoryOrder(const BigNumber& x) const;

  KeyBits keyBits_ = KeyBits::kb0512;
  std::size_t words_ = 16;
  BigNumber e_;
  BigNumber n_;
  BigNumber d_;
  BigNumber s_;
  bool publicLoaded_ = false;
  bool privateLoaded_ = false;
  bool signatureLoaded_ = false;
  std::string publicKeyText_;
  std::string privateKeyText_;
  std::string signatureText_;
  std::string status_;
  std::function<void(const std::string&)> statusChanged_;
};

}  // namespace orvex
