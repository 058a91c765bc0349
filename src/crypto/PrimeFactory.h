// The search for the next prime at or above a number: a sieve over a window of candidates, then
// Fermat and Miller-Rabin tests with bases from a random source.
#pragma once

#include <cstdint>
#include <vector>

#include "crypto/BigNumber.h"
#include "platform/SecureRandom.h"

namespace orvex {

class PrimeFactory {
 public:
  // Lists the primes below 6000 once; `random` supplies the Miller-Rabin bases.
  explicit PrimeFactory(RandomSource& random);

  BigNumber NextPrime(const BigNumber& start);
  // Fermat to the bases 2 and 3, then 10 Miller-Rabin rounds with random bases.
  bool IsProbablePrime(const BigNumber& candidate);

 private:
  bool MillerRabinRound(const BigNumber& candidate, const BigNumber& candidateMinusOne,
                        const BigNumber& oddPart, std::size_t twos);

  RandomSource& random_;
  std::vector<std::uint32_t> smallPrimes_;
};

}  // namespace orvex
