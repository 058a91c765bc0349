// SHA-1 (FIPS 180-1): the 20-byte digest that moderator signatures sign.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvex {

using Sha1Digest = std::array<std::uint8_t, 20>;

class Sha1 {
 public:
  Sha1();
  void Update(std::string_view data);
  // The digest of everything given so far; the object starts over afterwards.
  Sha1Digest Final();

 private:
  void Reset();
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 5> state_{};
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes
};

Sha1Digest Sha1Of(std::string_view data);

}  // namespace orvex
