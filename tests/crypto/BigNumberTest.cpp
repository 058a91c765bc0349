// Big-number edge cases written out by hand: carries across words, the rare correction step of
// long division, and the capacity limits. Random inputs are checked against Python separately.
#include <gtest/gtest.h>

#include "crypto/BigNumber.h"
#include "platform/Error.h"

namespace orvex {
namespace {

BigNumber N(const char* hex) {
  return BigNumber::FromHex(hex);
}

TEST(BigNumberTest, CarriesAndBorrowsRunAcrossWords) {
  EXPECT_EQ(Add(N("ffffffffffffffffffffffff"), N("1")).ToHex(), "1000000000000000000000000");
  EXPECT_EQ(Subtract(N("1000000000000000000000000"), N("1")).ToHex(), "ffffffffffffffffffffffff");
  EXPECT_EQ(Multiply(N("ffffffffffffffff"), N("ffffffffffffffff")).ToHex(),
            "fffffffffffffffe0000000000000001");
  EXPECT_EQ(Subtract(N("123456789abcdef0"), N("123456789abcdef0")).ToHex(), "0");
  EXPECT_THROW(Subtract(N("1"), N("2")), Error);
}

TEST(BigNumberTest, DivisionTakesTheAddBackStep) {
  struct Case {
    const char* name;
    const char* a;
    const char* b;
    const char* quotient;
    const char* remainder;
  };
  const Case cases[] = {
      // The first trial quotient digit is one too large only after the multiply-subtract.
      {"add_back", "7fffffff800000000000000000000000", "800000000000000000000001", "fffffffe",
       "7fffffffffffffff00000002"},
      {"single_word_divisor", "ffffffffffffffffffffffff", "10", "fffffffffffffffffffffff", "f"},
      {"dividend_smaller", "1234", "123456789", "0", "1234"},
      {"exact", "fffffffe00000001", "ffffffff", "ffffffff", "0"},
      {"unnormalised_divisor", "1000000000000000000000000", "3ffffffff", "4000000010000000",
       "10000000"},
  };
  for (const auto& c : cases) {
    BigNumber q;
    BigNumber r;
    DivideWithRemainder(N(c.a), N(c.b), q, r);
    EXPECT_EQ(q.ToHex(), c.quotient) << c.name;
    EXPECT_EQ(r.ToHex(), c.remainder) << c.name;
  }
  BigNumber q;
  BigNumber r;
  EXPECT_THROW(DivideWithRemainder(N("5"), BigNumber(), q, r), Error);
}

TEST(BigNumberTest, ModularOperations) {
  EXPECT_EQ(PowerModulo(N("4"), N("d"), N("1f1")).ToHex(), "1bd");  // 4^13 mod 497 = 445
  EXPECT_EQ(PowerModulo(N("4"), N("d"), N("1f0")).ToHex(), "40");   // even modulus: 4^13 mod 496
  EXPECT_EQ(PowerModulo(N("7"), N("0"), N("d")).ToHex(), "1");
  EXPECT_EQ(PowerModulo(N("7"), N("5"), N("1")).ToHex(), "0");
  EXPECT_EQ(InverseModulo(N("3"), N("b")).ToHex(), "4");            // 3 * 4 = 12 = 1 mod 11
  EXPECT_EQ(GreatestCommonDivisor(N("2a"), N("38")).ToHex(), "e");  // gcd(42, 56) = 14
  EXPECT_THROW(InverseModulo(N("6"), N("9")), Error);
  EXPECT_THROW(PowerModulo(N("2"), N("3"), BigNumber()), Error);
}

TEST(BigNumberTest, CapacityIsEnforcedNotWrapped) {
  BigNumber big;
  big.SetBit(32 * 100);
  EXPECT_THROW(Multiply(big, big), Error);
  BigNumber top;
  top.SetBit(32 * BigNumber::kWords - 1);
  EXPECT_THROW(Add(top, top), Error);
  BigNumber wideModulus;
  wideModulus.SetBit(32 * 70);
  EXPECT_THROW(PowerModulo(N("2"), N("3"), Add(wideModulus, N("1"))), Error);
}

TEST(BigNumberTest, ShiftAndBits) {
  BigNumber x = N("100000001");
  x.ShiftRightOne();
  EXPECT_EQ(x.ToHex(), "80000000");
  EXPECT_EQ(x.BitLength(), 32u);
  EXPECT_EQ(x.WordCount(), 1u);
  EXPECT_EQ(N("123456789").ModuloWord(1000), 0x123456789ull % 1000);
}

}  // namespace
}  // namespace orvex
