// SHA-1 against the published test vectors, whole and fed in pieces across block boundaries.
#include <gtest/gtest.h>

#include <string>

#include "crypto/Sha1.h"

namespace orvex {
namespace {

std::string Hex(const Sha1Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

struct Vector {
  const char* name;
  std::string message;
  const char* digest;
};

const Vector kVectors[] = {
    {"abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"empty", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"two_blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"million_a", std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
};

TEST(Sha1Test, DigestsOfThePublishedVectors) {
  for (const auto& v : kVectors) EXPECT_EQ(Hex(Sha1Of(v.message)), v.digest) << v.name;
}

TEST(Sha1Test, PiecesOfAnySizeGiveTheSameDigest) {
  for (const auto& v : kVectors) {
    for (const std::size_t piece : {1u, 55u, 56u, 63u, 64u, 65u, 1000u}) {
      Sha1 sha;
      for (std::size_t at = 0; at < v.message.size(); at += piece)
        sha.Update(std::string_view(v.message).substr(at, piece));
      EXPECT_EQ(Hex(sha.Final()), v.digest) << v.name << " in pieces of " << piece;
    }
  }
}

TEST(Sha1Test, FinalStartsOver) {
  Sha1 sha;
  sha.Update("abc");
  sha.Final();
  sha.Update("abc");
  EXPECT_EQ(Hex(sha.Final()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
}  // namespace orvex
