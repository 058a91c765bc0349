// Unsigned integers of fixed capacity (132 words of 32 bits, least significant first) and the
// arithmetic RSA needs. Every operation works on the words in use only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvex {

class BigNumber {
 public:
  static constexpr std::size_t kWords = 132;
  using Words = std::array<std::uint32_t, kWords>;

  BigNumber() = default;
  explicit BigNumber(std::uint32_t value);
  // Throws orvex::Error when the significant words do not fit the capacity.
  static BigNumber FromWords(std::span<const std::uint32_t> words);
  // Hexadecimal digits, most significant first; throws orvex::Error on anything else.
  static BigNumber FromHex(std::string_view hex);

  BigNumber(const BigNumber&) = default;
  BigNumber& operator=(const BigNumber&) = default;
  // Numbers carry key material: their words are wiped when they go.
  ~BigNumber();

  void Clear();
  bool IsZero() const { return used_ == 0; }
  bool IsOdd() const { return used_ > 0 && (words_[0] & 1u) != 0; }
  // Number of words up to the most significant non-zero one.
  std::size_t WordCount() const { return used_; }
  std::uint32_t Word(std::size_t index) const { return index < used_ ? words_[index] : 0; }
  std::size_t BitLength() const;
  bool Bit(std::size_t index) const;
  void SetBit(std::size_t index);
  std::string ToHex() const;

  void ShiftRightOne();
  // Remainder of the division by a small divisor (> 0).
  std::uint32_t ModuloWord(std::uint32_t divisor) const;

  friend int Compare(const BigNumber& a, const BigNumber& b);
  friend bool operator==(const BigNumber& a, const BigNumber& b) { return Compare(a, b) == 0; }
  friend BigNumber Add(const BigNumber& a, const BigNumber& b);
  friend BigNumber Subtract(const BigNumber& a, const BigNumber& b);
  friend BigNumber Multiply(const BigNumber& a, const BigNumber& b);
  friend void DivideWithRemainder(const BigNumber& a, const BigNumber& b, BigNumber& quotient,
                                  BigNumber& remainder);
  friend BigNumber PowerModulo(const BigNumber& base, const BigNumber& exponent,
                               const BigNumber& modulus);

 private:
  void Normalise();

  Words words_{};
  std::size_t used_ = 0;  // words at and above used_ are zero
};

// -1, 0 or 1.
int Compare(const BigNumber& a, const BigNumber& b);
// Throws orvex::Error when the sum does not fit the capacity.
BigNumber Add(const BigNumber& a, const BigNumber& b);
// a - b; throws orvex::Error when b > a.
BigNumber Subtract(const BigNumber& a, const BigNumber& b);
// Throws orvex::Error when the product does not fit the capacity.
BigNumber Multiply(const BigNumber& a, const BigNumber& b);
// Throws orvex::Error when b is zero.
void DivideWithRemainder(const BigNumber& a, const BigNumber& b, BigNumber& quotient,
                         BigNumber& remainder);
BigNumber Modulo(const BigNumber& a, const BigNumber& modulus);

// The modular operations take a modulus of at most half the capacity (66 words, 2112 bits), so
// that every intermediate product fits; a larger or zero modulus throws orvex::Error.
BigNumber MultiplyModulo(const BigNumber& a, const BigNumber& b, const BigNumber& modulus);
BigNumber PowerModulo(const BigNumber& base, const BigNumber& exponent, const BigNumber& modulus);
BigNumber GreatestCommonDivisor(const BigNumber& a, const BigNumber& b);
// The x below the modulus with a·x ≡ 1; throws orvex::Error when a and the modulus share a factor.
BigNumber InverseModulo(const BigNumber& a, const BigNumber& modulus);

}  // namespace orvex
