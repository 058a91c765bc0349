// Big-number arithmetic: schoolbook add, subtract and multiply, long division, and modular
// exponentiation by Montgomery multiplication on 64-bit limbs for odd moduli.
#include "crypto/BigNumber.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <bit>

#include "platform/Error.h"

namespace orvex {

namespace {

__extension__ typedef unsigned __int128 UInt128;

constexpr std::size_t kModulusWords = BigNumber::kWords / 2;
constexpr std::size_t kMaxLimbs = kModulusWords / 2;

void Wipe(void* data, std::size_t size) {
  explicit_bzero(data, size);
}

void CheckModulus(const BigNumber& modulus) {
  if (modulus.IsZero()) throw Error("Division by zero");
  if (modulus.WordCount() > kModulusWords) throw Error("Modulus exceeds the number capacity");
}

// Montgomery arithmetic modulo an odd n of k 64-bit limbs, R = 2^(64k).
class Montgomery {
 public:
  explicit Montgomery(const BigNumber& modulus) : k_((modulus.WordCount() + 1) / 2) {
    ToLimbs(modulus, n_);
    // -n^-1 mod 2^64 by Newton's iteration: each step doubles the correct low bits.
    std::uint64_t inverse = n_[0];
    for (int i = 0; i < 6; ++i) inverse *= 2 - n_[0] * inverse;
    minusInverse_ = ~inverse + 1;
    BigNumber r;
    r.SetBit(64 * k_);
    const BigNumber rModN = Modulo(r, modulus);
    ToLimbs(rModN, one_);
    ToLimbs(MultiplyModulo(rModN, rModN, modulus), rSquared_);
  }
  ~Montgomery() { Wipe(this, sizeof *this); }
  Montgomery(const Montgomery&) = delete;
  Montgomery& operator=(const Montgomery&) = delete;

  std::size_t Limbs() const { return k_; }
  const std::uint64_t* One() const { return one_; }

  void ToLimbs(const BigNumber& x, std::uint64_t* limbs) const {
    for (std::size_t i = 0; i < k_; ++i)
      limbs[i] = x.Word(2 * i) | static_cast<std::uint64_t>(x.Word(2 * i + 1)) << 32;
  }

  // out = a·b·R^-1 mod n, for a, b < n; out may alias a or b.
  void Multiply(std::uint64_t* out, const std::uint64_t* a, const std::uint64_t* b) const {
    // The usual key sizes get loops of fixed length, which the compiler unrolls.
    switch (k_) {
      case 4:
        return MultiplyLimbs<4>(out, a, b);
      case 8:
        return MultiplyLimbs<8>(out, a, b);
      case 16:
        return MultiplyLimbs<16>(out, a, b);
      case 32:
        return MultiplyLimbs<32>(out, a, b);
      default:
        return MultiplyLimbs<0>(out, a, b);
    }
  }

  void ToMontgomery(std::uint64_t* out, const std::uint64_t* x) const {
    Multiply(out, x, rSquared_);
  }

 private:
  // Interleaved multiplication and reduction, one limb of b at a time; K = 0 takes k_ limbs.
  template <std::size_t K>
  void MultiplyLimbs(std::uint64_t* out, const std::uint64_t* a, const std::uint64_t* b) const {
    const std::size_t k = K != 0 ? K : k_;
    std::uint64_t t[(K != 0 ? K : kMaxLimbs) + 1] = {};
    for (std::size_t i = 0; i < k; ++i) {
      const std::uint64_t bi = b[i];
      UInt128 s = static_cast<UInt128>(a[0]) * bi + t[0];
      std::uint64_t productCarry = static_cast<std::uint64_t>(s >> 64);
      const std::uint64_t m = static_cast<std::uint64_t>(s) * minusInverse_;
      UInt128 r = static_cast<UInt128>(m) * n_[0] + static_cast<std::uint64_t>(s);
      std::uint64_t reductionCarry = static_cast<std::uint64_t>(r >> 64);
      for (std::size_t j = 1; j < k; ++j) {
        s = static_cast<UInt128>(a[j]) * bi + t[j] + productCarry;
        productCarry = static_cast<std::uint64_t>(s >> 64);
        r = static_cast<UInt128>(m) * n_[j] + static_cast<std::uint64_t>(s) + reductionCarry;
        reductionCarry = static_cast<std::uint64_t>(r >> 64);
        t[j - 1] = static_cast<std::uint64_t>(r);
      }
      s = static_cast<UInt128>(t[k]) + productCarry + reductionCarry;
      t[k - 1] = static_cast<std::uint64_t>(s);
      t[k] = static_cast<std::uint64_t>(s >> 64);
    }
    // t < 2n: one conditional subtraction brings it below n.
    bool subtract = t[k] != 0;
    if (!subtract) {
      subtract = true;
      for (std::size_t j = k; j-- > 0;) {
        if (t[j] != n_[j]) {
          subtract = t[j] > n_[j];
          break;
        }
      }
    }
    if (subtract) {
      std::uint64_t borrow = 0;
      for (std::size_t j = 0; j < k; ++j) {
        const UInt128 d = static_cast<UInt128>(t[j]) - n_[j] - borrow;
        t[j] = static_cast<std::uint64_t>(d);
        borrow = static_cast<std::uint64_t>(d >> 64) & 1;
      }
    }
    std::copy(t, t + k, out);
  }

  std::size_t k_;
  std::uint64_t n_[kMaxLimbs] = {};
  std::uint64_t minusInverse_ = 0;
  std::uint64_t one_[kMaxLimbs] = {};  // R mod n
  std::uint64_t rSquared_[kMaxLimbs] = {};
};

BigNumber PowerModuloEven(const BigNumber& base, const BigNumber& exponent,
                          const BigNumber& modulus) {
  BigNumber result = Modulo(BigNumber(1), modulus);
  const BigNumber b = Modulo(base, modulus);
  for (std::size_t bit = exponent.BitLength(); bit-- > 0;) {
    result = MultiplyModulo(result, result, modulus);
    if (exponent.Bit(bit)) result = MultiplyModulo(result, b, modulus);
  }
  return result;
}

}  // namespace

BigNumber::BigNumber(std::uint32_t value) {
  words_[0] = value;
  used_ = value != 0 ? 1 : 0;
}

BigNumber::~BigNumber() {
  Wipe(words_.data(), used_ * sizeof(std::uint32_t));
}

BigNumber BigNumber::FromWords(std::span<const std::uint32_t> words) {
  std::size_t used = words.size();
  while (used > 0 && words[used - 1] == 0) --used;
  if (used > kWords) throw Error("Number exceeds the number capacity");
  BigNumber x;
  std::copy(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(used), x.words_.begin());
  x.used_ = used;
  return x;
}

BigNumber BigNumber::FromHex(std::string_view hex) {
  BigNumber x;
  std::size_t bit = 0;
  for (std::size_t i = hex.size(); i-- > 0; bit += 4) {
    const char c = hex[i];
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      throw Error("Not a hexadecimal number");
    }
    if (digit == 0) continue;
    if (bit / 32 >= kWords) throw Error("Number exceeds the number capacity");
    x.words_[bit / 32] |= digit << (bit % 32);
  }
  x.used_ = kWords;
  x.Normalise();
  return x;
}

void BigNumber::Normalise() {
  while (used_ > 0 && words_[used_ - 1] == 0) --used_;
}

void BigNumber::Clear() {
  Wipe(words_.data(), used_ * sizeof(std::uint32_t));
  used_ = 0;
}

std::size_t BigNumber::BitLength() const {
  if (used_ == 0) return 0;
  return 32 * used_ - static_cast<std::size_t>(std::countl_zero(words_[used_ - 1]));
}

bool BigNumber::Bit(std::size_t index) const {
  return (Word(index / 32) >> (index % 32)) & 1u;
}

void BigNumber::SetBit(std::size_t index) {
  if (index / 32 >= kWords) throw Error("Number exceeds the number capacity");
  words_[index / 32] |= 1u << (index % 32);
  used_ = std::max(used_, index / 32 + 1);
}

std::string BigNumber::ToHex() const {
  if (used_ == 0) return "0";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = used_; i-- > 0;)
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(words_[i] >> shift) & 15u];
  return text.substr(text.find_first_not_of('0'));
}

void BigNumber::ShiftRightOne() {
  for (std::size_t i = 0; i < used_; ++i)
    words_[i] = (words_[i] >> 1) | (i + 1 < used_ ? words_[i + 1] << 31 : 0);
  Normalise();
}

std::uint32_t BigNumber::ModuloWord(std::uint32_t divisor) const {
  if (divisor == 0) throw Error("Division by zero");
  std::uint64_t remainder = 0;
  for (std::size_t i = used_; i-- > 0;) remainder = ((remainder << 32) | words_[i]) % divisor;
  return static_cast<std::uint32_t>(remainder);
}

int Compare(const BigNumber& a, const BigNumber& b) {
  if (a.used_ != b.used_) return a.used_ < b.used_ ? -1 : 1;
  for (std::size_t i = a.used_; i-- > 0;)
    if (a.words_[i] != b.words_[i]) return a.words_[i] < b.words_[i] ? -1 : 1;
  return 0;
}

BigNumber Add(const BigNumber& a, const BigNumber& b) {
  BigNumber sum;
  const std::size_t n = std::max(a.used_, b.used_);
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < n; ++i) {
    carry += static_cast<std::uint64_t>(a.Word(i)) + b.Word(i);
    sum.words_[i] = static_cast<std::uint32_t>(carry);
    carry >>= 32;
  }
  sum.used_ = n;
  if (carry != 0) {
    if (n == BigNumber::kWords) throw Error("Number exceeds the number capacity");
    sum.words_[n] = 1;
    sum.used_ = n + 1;
  }
  return sum;
}

BigNumber Subtract(const BigNumber& a, const BigNumber& b) {
  if (Compare(a, b) < 0) throw Error("Subtraction below zero");
  BigNumber difference;
  std::uint64_t borrow = 0;
  for (std::size_t i = 0; i < a.used_; ++i) {
    const std::uint64_t d = static_cast<std::uint64_t>(a.words_[i]) - b.Word(i) - borrow;
    difference.words_[i] = static_cast<std::uint32_t>(d);
    borrow = (d >> 32) & 1;
  }
  difference.used_ = a.used_;
  difference.Normalise();
  return difference;
}

BigNumber Multiply(const BigNumber& a, const BigNumber& b) {
  if (a.IsZero() || b.IsZero()) return BigNumber();
  const std::size_t n = a.used_ + b.used_;
  std::uint32_t product[2 * BigNumber::kWords];
  std::fill_n(product, n, 0u);
  for (std::size_t i = 0; i < a.used_; ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < b.used_; ++j) {
      carry += static_cast<std::uint64_t>(a.words_[i]) * b.words_[j] + product[i + j];
      product[i + j] = static_cast<std::uint32_t>(carry);
      carry >>= 32;
    }
    product[i + b.used_] = static_cast<std::uint32_t>(carry);
  }
  if (std::any_of(product + std::min(n, BigNumber::kWords), product + n,
                  [](std::uint32_t w) { return w != 0; })) {
    Wipe(product, sizeof product);
    throw Error("Number exceeds the number capacity");
  }
  BigNumber result =
      BigNumber::FromWords(std::span<const std::uint32_t>(product, std::min(n, BigNumber::kWords)));
  Wipe(product, n * sizeof(std::uint32_t));
  return result;
}

// Long division by Knuth's algorithm D on 32-bit digits.
void DivideWithRemainder(const BigNumber& a, const BigNumber& b, BigNumber& quotient,
                         BigNumber& remainder) {
  if (b.IsZero()) throw Error("Division by zero");
  if (Compare(a, b) < 0) {
    remainder = a;
    quotient.Clear();
    return;
  }
  const std::size_t n = b.used_;
  const std::size_t m = a.used_ - n;
  BigNumber q;
  if (n == 1) {
    std::uint64_t rest = 0;
    for (std::size_t i = a.used_; i-- > 0;) {
      rest = (rest << 32) | a.words_[i];
      q.words_[i] = static_cast<std::uint32_t>(rest / b.words_[0]);
      rest %= b.words_[0];
    }
    q.used_ = a.used_;
    q.Normalise();
    quotient = q;
    remainder = BigNumber(static_cast<std::uint32_t>(rest));
    return;
  }

  // Normalise so that the divisor's top digit has its top bit set.
  const int shift = std::countl_zero(b.words_[n - 1]);
  std::uint32_t v[BigNumber::kWords] = {};
  std::uint32_t u[BigNumber::kWords + 1] = {};
  for (std::size_t i = n; i-- > 0;)
    v[i] = (b.words_[i] << shift) |
           (shift != 0 && i > 0 ? static_cast<std::uint32_t>(b.words_[i - 1] >> (32 - shift)) : 0);
  u[a.used_] = shift != 0 ? a.words_[a.used_ - 1] >> (32 - shift) : 0;
  for (std::size_t i = a.used_; i-- > 0;)
    u[i] = (a.words_[i] << shift) |
           (shift != 0 && i > 0 ? static_cast<std::uint32_t>(a.words_[i - 1] >> (32 - shift)) : 0);

  constexpr std::uint64_t kBase = 1ull << 32;
  for (std::size_t j = m + 1; j-- > 0;) {
    const std::uint64_t top = (static_cast<std::uint64_t>(u[j + n]) << 32) | u[j + n - 1];
    std::uint64_t qhat = top / v[n - 1];
    std::uint64_t rhat = top % v[n - 1];
    while (qhat >= kBase || qhat * v[n - 2] > ((rhat << 32) | u[j + n - 2])) {
      --qhat;
      rhat += v[n - 1];
      if (rhat >= kBase) break;
    }
    // Multiply and subtract.
    std::int64_t borrow = 0;
    std::int64_t t = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t p = qhat * v[i];
      t = static_cast<std::int64_t>(u[i + j]) - borrow - static_cast<std::int64_t>(p & 0xFFFFFFFFu);
      u[i + j] = static_cast<std::uint32_t>(t);
      borrow = static_cast<std::int64_t>(p >> 32) - (t >> 32);
    }
    t = static_cast<std::int64_t>(u[j + n]) - borrow;
    u[j + n] = static_cast<std::uint32_t>(t);
    if (t < 0) {  // qhat was one too large: add the divisor back
      --qhat;
      std::uint64_t carry = 0;
      for (std::size_t i = 0; i < n; ++i) {
        carry += static_cast<std::uint64_t>(u[i + j]) + v[i];
        u[i + j] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
      }
      u[j + n] += static_cast<std::uint32_t>(carry);
    }
    q.words_[j] = static_cast<std::uint32_t>(qhat);
  }
  q.used_ = m + 1;
  q.Normalise();

  BigNumber r;
  for (std::size_t i = 0; i < n; ++i)
    r.words_[i] =
        (u[i] >> shift) | (shift != 0 ? static_cast<std::uint32_t>(u[i + 1] << (32 - shift)) : 0);
  r.used_ = n;
  r.Normalise();
  Wipe(u, sizeof u);
  Wipe(v, sizeof v);
  quotient = q;
  remainder = r;
}

BigNumber Modulo(const BigNumber& a, const BigNumber& modulus) {
  BigNumber quotient;
  BigNumber remainder;
  DivideWithRemainder(a, modulus, quotient, remainder);
  return remainder;
}

BigNumber MultiplyModulo(const BigNumber& a, const BigNumber& b, const BigNumber& modulus) {
  CheckModulus(modulus);
  return Modulo(Multiply(Modulo(a, modulus), Modulo(b, modulus)), modulus);
}

BigNumber PowerModulo(const BigNumber& base, const BigNumber& exponent, const BigNumber& modulus) {
  CheckModulus(modulus);
  if (!modulus.IsOdd()) return PowerModuloEven(base, exponent, modulus);
  if (modulus == BigNumber(1)) return BigNumber();
  if (exponent.IsZero()) return BigNumber(1);

  const Montgomery mont(modulus);
  const std::size_t k = mont.Limbs();
  // Fixed 4-bit windows: table[i] = base^i in Montgomery form.
  std::uint64_t table[16][kMaxLimbs] = {};
  std::uint64_t x[kMaxLimbs] = {};
  mont.ToLimbs(Modulo(base, modulus), x);
  std::copy(mont.One(), mont.One() + k, table[0]);
  mont.ToMontgomery(table[1], x);
  for (int i = 2; i < 16; ++i) mont.Multiply(table[i], table[i - 1], table[1]);

  const std::size_t bits = exponent.BitLength();
  const std::size_t windows = (bits + 3) / 4;
  auto nibble = [&](std::size_t w) { return (exponent.Word(w / 8) >> (4 * (w % 8))) & 15u; };
  std::copy(table[nibble(windows - 1)], table[nibble(windows - 1)] + k, x);
  for (std::size_t w = windows - 1; w-- > 0;) {
    for (int s = 0; s < 4; ++s) mont.Multiply(x, x, x);
    const std::uint32_t digit = nibble(w);
    if (digit != 0) mont.Multiply(x, x, table[digit]);
  }
  std::uint64_t plainOne[kMaxLimbs] = {1};
  mont.Multiply(x, x, plainOne);

  std::uint32_t words[kModulusWords] = {};
  for (std::size_t i = 0; i < k; ++i) {
    words[2 * i] = static_cast<std::uint32_t>(x[i]);
    words[2 * i + 1] = static_cast<std::uint32_t>(x[i] >> 32);
  }
  BigNumber result = BigNumber::FromWords(std::span<const std::uint32_t>(words, 2 * k));
  Wipe(words, sizeof words);
  Wipe(x, sizeof x);
  Wipe(table, sizeof table);
  return result;
}

BigNumber GreatestCommonDivisor(const BigNumber& a, const BigNumber& b) {
  BigNumber x = a;
  BigNumber y = b;
  while (!y.IsZero()) {
    BigNumber r = Modulo(x, y);
    x = y;
    y = r;
  }
  return x;
}

BigNumber InverseModulo(const BigNumber& a, const BigNumber& modulus) {
  CheckModulus(modulus);
  // Extended Euclid with the coefficients of a kept reduced modulo the modulus: t·a ≡ r.
  BigNumber r0 = modulus;
  BigNumber r1 = Modulo(a, modulus);
  BigNumber t0;
  BigNumber t1(1);
  while (!r1.IsZero()) {
    BigNumber q;
    BigNumber r;
    DivideWithRemainder(r0, r1, q, r);
    r0 = r1;
    r1 = r;
    BigNumber t = Modulo(Subtract(Add(t0, modulus), MultiplyModulo(q, t1, modulus)), modulus);
    t0 = t1;
    t1 = t;
  }
  if (!(r0 == BigNumber(1))) throw Error("Number has no inverse modulo the modulus");
  return Modulo(t0, modulus);
}

}  // namespace orvex
