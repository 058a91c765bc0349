// Blanks by named set, ASCII case, line splitting and the base64 encoder.
#include "platform/Text.h"

#include <cstdint>

namespace orvex {

bool IsBlank(char c, Blanks set) {
  const auto byte = static_cast<unsigned char>(c);
  switch (set) {
    case Blanks::Spaces:
      return c == ' ' || c == '\t' || c == '\v' || c == '\f';
    case Blanks::SpacesAndBreaks:
      return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    case Blanks::Controls:
      return byte <= 32;
    case Blanks::ControlsButNul:
      return byte >= 1 && byte <= 32;
    case Blanks::ControlsAndDel:
      return byte <= 32 || byte == 127;
  }
  return false;
}

std::string_view Trim(std::string_view text, Blanks set) {
  while (!text.empty() && IsBlank(text.front(), set)) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back(), set)) text.remove_suffix(1);
  return text;
}

char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoreCase(a, b);
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LowerChar(text[i]) != LowerChar(prefix[i])) return false;
  return true;
}

bool ContainsIgnoreCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i)
    if (StartsWithIgnoreCase(text.substr(i), word)) return true;
  return false;
}

std::vector<std::string> SplitLines(std::string_view text, EmptyLines empty) {
  std::vector<std::string> lines;
  size_t start = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (empty == EmptyLines::Keep || i > start) lines.emplace_back(text.substr(start, i - start));
      if (empty == EmptyLines::Keep && c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) lines.emplace_back(text.substr(start));
  return lines;
}

std::string Base64Encode(std::string_view data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const size_t n = data.size();
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  if (n - i == 1) {
    const std::uint32_t v = p[i] << 16;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.append("==");
  } else if (n - i == 2) {
    const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back('=');
  }
  return out;
}

}  // namespace orvex
