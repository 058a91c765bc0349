// The operating system's secure random generator.
#include "platform/SecureRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/Error.h"

namespace orvex {

std::uint32_t RandomSource::NextUInt32() {
  std::uint32_t value = 0;
  Fill(&value, sizeof value);
  return value;
}

std::uint32_t RandomSource::Below(std::uint32_t bound) {
  const std::uint32_t limit = static_cast<std::uint32_t>(-bound) % bound;  // 2^32 mod bound
  for (;;) {
    const std::uint32_t value = NextUInt32();
    if (value >= limit) return value % bound;
  }
}

void SystemRandom::Fill(void* data, std::size_t size) {
  auto* out = static_cast<unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = getrandom(out, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(std::string("Cannot read random bytes: ") + std::strerror(errno));
    }
    out += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace orvex
