// Reading and writing SHA-256 certificate fingerprints.
#include "platform/CertificateFingerprint.h"

#include "platform/Text.h"

namespace orvex {
namespace {

constexpr std::size_t kDigestBytes = 32;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> ParseFingerprint(std::string_view text) {
  text = Trim(text, Blanks::Spaces);
  if (text.empty()) return std::string();
  // Either no separator at all or one after every pair but the last: the length alone says which.
  std::size_t step = 0;
  if (text.size() == kDigestBytes * 2) {
    step = 2;
  } else if (text.size() == kDigestBytes * 3 - 1) {
    step = 3;
  } else {
    return std::nullopt;
  }
  std::string digest;
  for (std::size_t i = 0; i < text.size(); i += step) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    if (step == 3 && i + 2 < text.size() && text[i + 2] != ':') return std::nullopt;
    digest += static_cast<char>(high << 4 | low);
  }
  return digest;
}

std::string FormatFingerprint(const std::string& digest) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : digest) {
    const auto byte = static_cast<unsigned char>(c);
    if (!text.empty()) text += ':';
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

}  // namespace orvex
