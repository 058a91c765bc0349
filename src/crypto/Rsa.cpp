// TRSA: key texts, padding, encipherment, signatures and key generation over BigNumber.
#include "crypto/Rsa.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <utility>

#include "crypto/PrimeFactory.h"

namespace orvex {

namespace {

constexpr char kAlphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

void WipeString(std::string& text) {
  text.resize(text.capacity());
  explicit_bzero(text.data(), text.size());
  text.clear();
}

// A byte buffer that is wiped when it goes: decoded keys and plain texts pass through these.
struct ScrubbedBytes {
  std::string bytes;
  ~ScrubbedBytes() { WipeString(bytes); }
};

// The words up to the most significant non-zero one, each as 4 bytes, most significant first.
std::string ByteString(const BigNumber& x) {
  std::string bytes;
  for (std::size_t i = 0; i < x.WordCount(); ++i)
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes += static_cast<char>((x.Word(i) >> shift) & 0xFFu);
  return bytes;
}

// Bytes 4k..4k+3, most significant first, form word k.
BigNumber FromByteString(std::string_view bytes) {
  BigNumber::Words words{};
  for (std::size_t i = 0; i < bytes.size(); ++i)
    words[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]))
                    << (8 * (3 - i % 4));
  BigNumber x = BigNumber::FromWords(words);
  explicit_bzero(words.data(), sizeof words);
  return x;
}

}  // namespace

std::string Radix64Encode(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() * 4 + 2) / 3);
  std::size_t i = 0;
  auto byte = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]));
  };
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(group >> shift) & 63u];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    text += kAlphabet[byte(i) >> 2];
    text += kAlphabet[(byte(i) & 3u) << 4];
  } else if (rest == 2) {
    text += kAlphabet[byte(i) >> 2];
    text += kAlphabet[((byte(i) & 3u) << 4) | (byte(i + 1) >> 4)];
    text += kAlphabet[(byte(i + 1) & 15u) << 2];
  }
  return text;
}

std::string Radix64Decode(std::string_view text) {
  static const auto kValues = [] {
    std::array<int, 256> values{};
    values.fill(-1);
    for (int v = 0; v < 64; ++v) values[static_cast<unsigned char>(kAlphabet[v])] = v;
    return values;
  }();
  std::string bytes;
  bytes.reserve(text.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const int value = kValues[static_cast<unsigned char>(c)];
    if (value < 0) throw EConvertError("Error converting from Base64 - invalid character");
    bits = (bits << 6 | static_cast<std::uint32_t>(value)) & 0xFFFFFFu;
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFFu);
    }
  }
  return bytes;
}

TRSA::~TRSA() {
  Clear();
}

void TRSA::SetStatus(std::string text) {
  status_ = std::move(text);
  if (statusChanged_) statusChanged_(status_);
}

template <typename Kind>
void TRSA::Fail(const std::string& message) {
  SetStatus(message);
  throw Kind(message);
}

void TRSA::SetKeyBits(KeyBits bits) {
  keyBits_ = bits;
  switch (bits) {
    case KeyBits::kb0512:
      words_ = 16;
      break;
    case KeyBits::kb1024:
      words_ = 32;
      break;
    case KeyBits::kb2048:
      words_ = 64;
      break;
  }
  SetStatus("TRSA using " + std::to_string(32 * words_) + " bit key");
}

void TRSA::Clear() {
  e_.Clear();
  n_.Clear();
  d_.Clear();
  s_.Clear();
  WipeString(publicKeyText_);
  WipeString(privateKeyText_);
  WipeString(signatureText_);
  publicLoaded_ = false;
  privateLoaded_ = false;
  signatureLoaded_ = false;
}

BigNumber TRSA::FromMemoryOrder(std::string_view bytes) const {
  BigNumber::Words words{};
  for (std::size_t i = 0; i < bytes.size() && i < BlockSize(); ++i)
    words[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]))
                    << (8 * (i % 4));
  BigNumber x = BigNumber::FromWords(words);
  explicit_bzero(words.data(), sizeof words);
  return x;
}

std::string TRSA::ToMemoryOrder(const BigNumber& x) const {
  std::string bytes(BlockSize(), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((x.Word(i / 4) >> (8 * (i % 4))) & 0xFFu);
  return bytes;
}

TRSA::KeyParts TRSA::ParseKeyText(std::string_view text, const std::string& what) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) Fail<EInvalidKey>(what + " key not valid");
  ScrubbedBytes first;
  try {
    first.bytes = Radix64Decode(text.substr(0, colon));
  } catch (const EConvertError&) {
    Fail<EConvertError>(what + " key not valid");
  }
  if (first.bytes.size() > BlockSize()) Fail<EInvalidKey>(what + " key has incorrect length");
  ScrubbedBytes second;
  try {
    second.bytes = Radix64Decode(text.substr(colon + 1));
  } catch (const EConvertError&) {
    Fail<EConvertError>(what + " key not valid");
  }
  if (second.bytes.size() != BlockSize()) Fail<EInvalidKey>(what + " key has incorrect length");
  return {FromByteString(first.bytes), FromByteString(second.bytes)};
}

void TRSA::SetPublicKey(std::string_view text) {
  e_.Clear();
  n_.Clear();
  publicLoaded_ = false;
  WipeString(publicKeyText_);
  // The exponent, then the modulus.
  KeyParts parts = ParseKeyText(text, "Public");
  // Nothing can be reduced modulo zero.
  if (parts.second.IsZero()) Fail<EInvalidKey>("Public key not valid");
  e_ = std::move(parts.first);
  n_ = std::move(parts.second);
  publicLoaded_ = true;
  publicKeyText_ = text;
  SetStatus("Public key loaded OK");
}

void TRSA::SetPrivateKey(std::string_view text) {
  n_.Clear();
  d_.Clear();
  privateLoaded_ = false;
  WipeString(privateKeyText_);
  // The modulus, then the exponent.
  KeyParts parts = ParseKeyText(text, "Private");
  if (parts.first.IsZero()) Fail<EInvalidKey>("Private key not valid");
  n_ = std::move(parts.first);
  d_ = std::move(parts.second);
  privateLoaded_ = true;
  privateKeyText_ = text;
  SetStatus("Private key loaded OK");
}

void TRSA::SetSignature(std::string_view text) {
  s_.Clear();
  signatureLoaded_ = false;
  WipeString(signatureText_);
  std::string bytes;
  try {
    bytes = Radix64Decode(text);
  } catch (const EConvertError&) {
    Fail<EConvertError>("Signature not valid");
  }
  if (bytes.size() != BlockSize()) Fail<EConvertError>("Signature has incorrect length");
  s_ = FromMemoryOrder(bytes);
  signatureText_ = text;
  signatureLoaded_ = true;
}

void TRSA::LoadPublicKey(const Words& e, const Words& n) {
  e_ = BigNumber::FromWords(e);
  n_ = BigNumber::FromWords(n);
  publicLoaded_ = true;
}

void TRSA::LoadPrivateKey(const Words& n, const Words& d) {
  n_ = BigNumber::FromWords(n);
  d_ = BigNumber::FromWords(d);
  privateLoaded_ = true;
}

std::string TRSA::Encipher(std::string_view text) {
  if (!publicLoaded_) Fail<ENoKeyLoaded>("Public key not loaded");
  const std::size_t payload = BlockSize() - 1;
  const std::size_t pad = payload - text.size() % payload;  // 1 to payload: always some padding
  ScrubbedBytes padded;
  padded.bytes.reserve(text.size() + pad);
  padded.bytes.append(text);
  padded.bytes.append(pad, static_cast<char>(pad));
  std::string cipher;
  for (std::size_t at = 0; at < padded.bytes.size(); at += payload) {
    const BigNumber m = FromMemoryOrder(std::string_view(padded.bytes).substr(at, payload));
    cipher += ToMemoryOrder(PowerModulo(m, e_, n_));
  }
  return Radix64Encode(cipher);
}

std::string TRSA::Decipher(std::string_view text) {
  if (!privateLoaded_) Fail<ENoKeyLoaded>("Private key not loaded");
  std::string cipher;
  try {
    cipher = Radix64Decode(text);
  } catch (const EConvertError&) {
    Fail<EConvertError>("String not valid");
  }
  const std::size_t block = BlockSize();
  if (cipher.size() < block || cipher.size() % block != 0)
    Fail<EConvertError>("String has incorrect length");
  const std::size_t payload = block - 1;
  ScrubbedBytes plain;
  for (std::size_t at = 0; at < cipher.size(); at += block) {
    const BigNumber c = FromMemoryOrder(std::string_view(cipher).substr(at, block));
    ScrubbedBytes m{ToMemoryOrder(PowerModulo(c, d_, n_))};
    // A block enciphered here has a zero top byte; anything else was made under another key.
    if (m.bytes[payload] != '\0') Fail<EConvertError>("Error in padding");
    plain.bytes.append(m.bytes, 0, payload);
  }
  if (plain.bytes.empty()) Fail<EConvertError>("Error in padding");
  // Every enciphered text ends in 1 to `payload` bytes that each hold their count; checking
  // them all keeps a text made under another key from reading as a garbled password.
  const std::size_t pad = static_cast<unsigned char>(plain.bytes.back());
  if (pad == 0 || pad > payload ||
      std::any_of(plain.bytes.end() - static_cast<std::ptrdiff_t>(pad), plain.bytes.end(),
                  [pad](char c) { return static_cast<unsigned char>(c) != pad; }))
    Fail<EConvertError>("Error in padding");
  return plain.bytes.substr(0, plain.bytes.size() - pad);
}

void TRSA::Sign(std::span<const std::uint8_t> data, RandomSource& random) {
  if (!privateLoaded_) Fail<ENoKeyLoaded>("Private key not loaded");
  const std::size_t size = BlockSize() - 4;  // the top word stays zero, so m < n
  if (data.size() > size) Fail<Error>("Data too long to sign");
  ScrubbedBytes block{std::string(size, '\0')};
  random.Fill(block.bytes.data(), size);
  std::copy(data.begin(), data.end(), block.bytes.begin());
  s_ = PowerModulo(FromMemoryOrder(block.bytes), d_, n_);
  signatureLoaded_ = true;
  signatureText_ = Radix64Encode(ToMemoryOrder(s_));
}

bool TRSA::Verify(std::span<const std::uint8_t> data) {
  if (!publicLoaded_) Fail<ENoKeyLoaded>("Public key not loaded");
  if (!signatureLoaded_) Fail<ENoKeyLoaded>("Signature not loaded");
  if (data.size() > BlockSize()) return false;
  const std::string m = ToMemoryOrder(PowerModulo(s_, e_, n_));
  return std::equal(data.begin(), data.end(), m.begin(),
                    [](std::uint8_t a, char b) { return a == static_cast<unsigned char>(b); });
}

void TRSA::GenerateKeys(const SeedArray& seedA, const SeedArray& seedB, RandomSource& random) {
  PrimeFactory factory(random);
  const std::size_t half = words_ / 2;
  auto randomPrime = [&](const SeedArray& seed) {
    for (;;) {
      Words words{};
      random.Fill(words.data(), half * sizeof(std::uint32_t));
      for (std::size_t i = 0; i < half; ++i) words[i] ^= seed[i];
      words[half - 1] |= 0x80000000u;
      words[0] |= 1u;
      BigNumber prime = factory.NextPrime(BigNumber::FromWords(words));
      explicit_bzero(words.data(), sizeof words);
      // A search that ran past the top of the half size would make the modulus too long.
      if (prime.WordCount() == half) return prime;
    }
  };
  SetStatus("Finding first random prime");
  BigNumber p = randomPrime(seedA);
  SetStatus("Finding second random prime");
  BigNumber q = randomPrime(seedB);
  while (q == p) q = randomPrime(seedB);
  SetStatus("Calculating keys");
  if (Compare(p, q) < 0) std::swap(p, q);
  const BigNumber one(1);
  const BigNumber n = Multiply(p, q);
  const BigNumber pMinusOne = Subtract(p, one);
  const BigNumber qMinusOne = Subtract(q, one);
  const BigNumber phi = Multiply(pMinusOne, qMinusOne);
  BigNumber e(50001);
  BigNumber d;
  for (;; e = Add(e, BigNumber(2))) {
    if (!(GreatestCommonDivisor(pMinusOne, e) == one) ||
        !(GreatestCommonDivisor(qMinusOne, e) == one))
      continue;
    d = InverseModulo(e, phi);
    // The private key text must carry d in exactly one block.
    if (d.WordCount() == words_) break;
  }
  Clear();
  e_ = e;
  n_ = n;
  d_ = d;
  publicLoaded_ = true;
  privateLoaded_ = true;
  publicKeyText_ = Radix64Encode(ByteString(e_)) + ":" + Radix64Encode(ByteString(n_));
  ScrubbedBytes dBytes{ByteString(d_)};
  privateKeyText_ = Radix64Encode(ByteString(n_)) + ":" + Radix64Encode(dBytes.bytes);
  SetStatus("Idle");
}

}  // namespace orvex
