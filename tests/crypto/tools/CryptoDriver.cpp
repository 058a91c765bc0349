// Test driver for checks against an independent implementation: prints big-number results for
// random inputs, a generated key pair, and the deciphered form of a stored password.
//   orvex-crypto-driver arithmetic SEED COUNT
//   orvex-crypto-driver decipher TEXT
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "crypto/BigNumber.h"
#include "crypto/Passwords.h"
#include "crypto/PrimeFactory.h"
#include "crypto/Rsa.h"

namespace orvex {
namespace {

// Words drawn from patterns that stress carries and the division's estimates.
BigNumber RandomNumber(std::mt19937_64& rng, std::size_t maxWords) {
  std::uniform_int_distribution<std::size_t> length(1, maxWords);
  std::uniform_int_distribution<int> pattern(0, 5);
  BigNumber::Words words{};
  const std::size_t n = length(rng);
  for (std::size_t i = 0; i < n; ++i) {
    switch (pattern(rng)) {
      case 0:
        words[i] = 0;
        break;
      case 1:
        words[i] = 0xFFFFFFFFu;
        break;
      case 2:
        words[i] = 0x80000000u;
        break;
      case 3:
        words[i] = 1;
        break;
      default:
        words[i] = static_cast<std::uint32_t>(rng());
    }
  }
  return BigNumber::FromWords(std::span<const std::uint32_t>(words.data(), n));
}

BigNumber NonZero(std::mt19937_64& rng, std::size_t maxWords) {
  for (;;) {
    BigNumber x = RandomNumber(rng, maxWords);
    if (!x.IsZero()) return x;
  }
}

void Print(const char* op, std::initializer_list<const BigNumber*> values) {
  std::string line = op;
  for (const BigNumber* v : values) line += " " + v->ToHex();
  std::puts(line.c_str());
}

int Arithmetic(unsigned long seed, int count) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::size_t> sizes(1, 64);
  for (int i = 0; i < count; ++i) {
    const std::size_t size = sizes(rng);
    const BigNumber a = RandomNumber(rng, size);
    const BigNumber b = NonZero(rng, size);
    const BigNumber m = NonZero(rng, std::min<std::size_t>(size, 66));
    const BigNumber e = RandomNumber(rng, std::min<std::size_t>(size, 16));
    const BigNumber sum = Add(a, b);
    Print("add", {&a, &b, &sum});
    if (Compare(a, b) >= 0) {
      const BigNumber difference = Subtract(a, b);
      Print("sub", {&a, &b, &difference});
    }
    const BigNumber product = Multiply(a, b);
    Print("mul", {&a, &b, &product});
    BigNumber q;
    BigNumber r;
    DivideWithRemainder(product, m, q, r);
    Print("divmod", {&product, &m, &q, &r});
    DivideWithRemainder(a, b, q, r);
    Print("divmod", {&a, &b, &q, &r});
    const BigNumber mulmod = MultiplyModulo(a, b, m);
    Print("mulmod", {&a, &b, &m, &mulmod});
    const BigNumber pow = PowerModulo(a, e, m);
    Print("powmod", {&a, &e, &m, &pow});
    const BigNumber g = GreatestCommonDivisor(a, b);
    Print("gcd", {&a, &b, &g});
    try {
      const BigNumber inverse = InverseModulo(a, m);
      Print("inv", {&a, &m, &inverse});
    } catch (const Error&) {
      Print("noinv", {&a, &m});
    }
    BigNumber half = a;
    half.ShiftRightOne();
    Print("shr", {&a, &half});
  }
  // The prime search from small and from 64- to 256-bit starting points.
  SystemRandom random;
  PrimeFactory factory(random);
  for (std::uint32_t start : {0u, 1u, 2u, 3u, 4u, 5990u, 5999u, 6000u, 100000u}) {
    const BigNumber x(start);
    const BigNumber p = factory.NextPrime(x);
    Print("nextprime", {&x, &p});
  }
  for (int i = 0; i < 20; ++i) {
    const BigNumber x = RandomNumber(rng, 2 + i % 7);
    const BigNumber p = factory.NextPrime(x);
    Print("nextprime", {&x, &p});
  }
  // Generated pairs, as the key texts give them.
  for (int i = 0; i < 3; ++i) {
    TRSA rsa;
    rsa.SetKeyBits(KeyBits::kb0512);
    TRSA::SeedArray seedA{};
    TRSA::SeedArray seedB{};
    for (auto& s : seedA) s = static_cast<std::uint32_t>(rng() % 2000001);
    for (auto& s : seedB) s = static_cast<std::uint32_t>(rng() % 2000001);
    rsa.GenerateKeys(seedA, seedB, random);
    std::printf("keypair %s %s\n", rsa.PublicKey().c_str(), rsa.PrivateKey().c_str());
  }
  return 0;
}

}  // namespace
}  // namespace orvex

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "arithmetic" && argc == 4)
    return orvex::Arithmetic(std::strtoul(argv[2], nullptr, 10), std::atoi(argv[3]));
  if (mode == "decipher" && argc == 3) {
    std::printf("%s\n", orvex::DecipherPassword(argv[2]).c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: orvex-crypto-driver arithmetic SEED COUNT | decipher TEXT\n");
  return 2;
}
