// SHA-1 compression and message padding.
#include "crypto/Sha1.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace orvex {

Sha1::Sha1() {
  Reset();
}

void Sha1::Reset() {
  state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  buffered_ = 0;
  length_ = 0;
}

void Sha1::Compress(const std::uint8_t* block) {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t)
    w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 |
           static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
           static_cast<std::uint32_t>(block[4 * t + 2]) << 8 | block[4 * t + 3];
  for (int t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f;
    std::uint32_t k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const std::uint32_t temp = std::rotl(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = std::rotl(b, 30);
    b = a;
    a = temp;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

void Sha1::Update(std::string_view data) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  std::size_t size = data.size();
  length_ += size;
  if (buffered_ > 0) {
    const std::size_t take = std::min(size, buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, bytes, take);
    buffered_ += take;
    bytes += take;
    size -= take;
    if (buffered_ < buffer_.size()) return;
    Compress(buffer_.data());
    buffered_ = 0;
  }
  for (; size >= 64; bytes += 64, size -= 64) Compress(bytes);
  std::memcpy(buffer_.data(), bytes, size);
  buffered_ = size;
}

Sha1Digest Sha1::Final() {
  const std::uint64_t bits = length_ * 8;
  std::uint8_t tail[72] = {0x80};
  // Pad with 0x80 and zeros to 56 bytes modulo 64, then the bit length, big-endian.
  const std::size_t padding = (buffered_ < 56 ? 56 : 120) - buffered_;
  for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  Update(std::string_view(reinterpret_cast<const char*>(tail), padding + 8));
  Sha1Digest digest;
  for (int i = 0; i < 20; ++i)
    digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
  Reset();
  return digest;
}

Sha1Digest Sha1Of(std::string_view data) {
  Sha1 sha;
  sha.Update(data);
  return sha.Final();
}

}  // namespace orvex
