// Random numbers that protect something (keys, codes, passwords) come from the operating system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex {

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual void Fill(void* data, std::size_t size) = 0;
  std::uint32_t NextUInt32();
  // A uniformly distributed number in [0, bound), without modulo bias. bound must be > 0.
  std::uint32_t Below(std::uint32_t bound);
};

// The kernel's secure generator (getrandom). Throws orvex::Error if it fails.
class SystemRandom final : public RandomSource {
 public:
  void Fill(void* data, std::size_t size) override;
};

}  // namespace orvex
