// Prime search for key generation.
#include "crypto/PrimeFactory.h"

#include <algorithm>
#include <array>

namespace orvex {

namespace {

constexpr std::uint32_t kSieveLimit = 6000;
constexpr std::uint32_t kWindow = 2000;
constexpr int kMillerRabinRounds = 10;

}  // namespace

PrimeFactory::PrimeFactory(RandomSource& random) : random_(random) {
  std::vector<bool> composite(kSieveLimit, false);
  for (std::uint32_t i = 2; i < kSieveLimit; ++i) {
    if (composite[i]) continue;
    smallPrimes_.push_back(i);
    for (std::uint32_t j = i * i; j < kSieveLimit; j += i) composite[j] = true;
  }
}

BigNumber PrimeFactory::NextPrime(const BigNumber& start) {
  BigNumber base = start;
  for (;;) {
    std::array<bool, kWindow> struck{};
    const bool smallBase = base.WordCount() <= 1;
    for (const std::uint32_t c : smallPrimes_) {
      std::uint32_t offset = (c - base.ModuloWord(c)) % c;
      // A listed prime inside the window is prime itself, not a multiple to strike.
      while (smallBase && std::uint64_t{base.Word(0)} + offset <= c) offset += c;
      for (; offset < kWindow; offset += c) struck[offset] = true;
    }
    for (std::uint32_t offset = 0; offset < kWindow; ++offset) {
      if (struck[offset]) continue;
      BigNumber candidate = Add(base, BigNumber(offset));
      if (IsProbablePrime(candidate)) return candidate;
    }
    base = Add(base, BigNumber(kWindow));
  }
}

bool PrimeFactory::IsProbablePrime(const BigNumber& candidate) {
  if (candidate.WordCount() <= 1 && candidate.Word(0) < kSieveLimit)
    return std::binary_search(smallPrimes_.begin(), smallPrimes_.end(), candidate.Word(0));
  if (!candidate.IsOdd()) return false;
  const BigNumber one(1);
  const BigNumber minusOne = Subtract(candidate, one);
  for (const std::uint32_t base : {2u, 3u})
    if (!(PowerModulo(BigNumber(base), minusOne, candidate) == one)) return false;

  BigNumber oddPart = minusOne;
  std::size_t twos = 0;
  while (!oddPart.IsOdd()) {
    oddPart.ShiftRightOne();
    ++twos;
  }
  for (int round = 0; round < kMillerRabinRounds; ++round)
    if (!MillerRabinRound(candidate, minusOne, oddPart, twos)) return false;
  return true;
}

// One round with a uniformly random base in [2, candidate - 2].
bool PrimeFactory::MillerRabinRound(const BigNumber& candidate, const BigNumber& candidateMinusOne,
                                    const BigNumber& oddPart, std::size_t twos) {
  const std::size_t bits = candidate.BitLength();
  const BigNumber two(2);
  BigNumber witness;
  for (;;) {
    BigNumber::Words words{};
    const std::size_t count = (bits + 31) / 32;
    random_.Fill(words.data(), count * sizeof(std::uint32_t));
    if (bits % 32 != 0) words[count - 1] &= (1u << (bits % 32)) - 1;
    witness = BigNumber::FromWords(std::span<const std::uint32_t>(words.data(), count));
    if (Compare(witness, two) >= 0 &&
        Compare(witness, Subtract(candidateMinusOne, BigNumber(1))) <= 0)
      break;
  }
  BigNumber x = PowerModulo(witness, oddPart, candidate);
  const BigNumber one(1);
  if (x == one || x == candidateMinusOne) return true;
  for (std::size_t i = 1; i < twos; ++i) {
    x = MultiplyModulo(x, x, candidate);
    if (x == candidateMinusOne) return true;
    if (x == one) return false;
  }
  return false;
}

}  // namespace orvex
