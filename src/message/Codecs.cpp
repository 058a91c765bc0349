// Base64, quoted-printable and uudecode codecs.
#include "message/Codecs.h"

#include <array>
#include <cstdint>
#include <vector>

#include "platform/Text.h"

namespace orvex {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";

constexpr std::uint8_t kSkip = 0xFF;
constexpr std::uint8_t kPad = 64;

constexpr std::array<std::uint8_t, 256> MakeBase64Values() {
  std::array<std::uint8_t, 256> values{};
  for (auto& v : values) v = kSkip;
  for (int i = 0; i < 64; ++i)
    values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  values['='] = kPad;
  return values;
}
constexpr std::array<std::uint8_t, 256> kBase64Values = MakeBase64Values();

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The line decoder's digit rule: any non-digit counts as (code mod 16) + 9.
int LooseDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (static_cast<unsigned char>(c) % 16) + 9;
}

void AppendGroup(std::string& out, const std::uint8_t (&g)[4]) {
  out.push_back(static_cast<char>((g[0] << 2) | ((g[1] >> 4) & 0x03)));
  if (g[2] == kPad) return;
  out.push_back(static_cast<char>(((g[1] & 0x0F) << 4) | ((g[2] >> 2) & 0x0F)));
  if (g[3] == kPad) return;
  out.push_back(static_cast<char>(((g[2] & 0x03) << 6) | g[3]));
}

}  // namespace

std::string Base64DecodeLine(std::string_view line) {
  std::string out;
  AppendBase64DecodeLine(out, line);
  return out;
}

void AppendBase64DecodeLine(std::string& out, std::string_view line) {
  out.reserve(out.size() + line.size() / 4 * 3 + 3);
  std::uint8_t group[4];
  int filled = 0;
  for (const char c : line) {
    const std::uint8_t v = kBase64Values[static_cast<unsigned char>(c)];
    if (v == kSkip) continue;
    // A group cannot start with padding, nor can its second value be padding.
    if (v == kPad && filled < 2) {
      filled = 0;
      continue;
    }
    group[filled++] = v;
    if (v == kPad && filled == 3) group[filled++] = kPad;
    if (filled == 4) {
      AppendGroup(out, group);
      filled = 0;
    }
  }
  // A short last group (a line cut inside a group) gives the bytes its values can carry.
  if (filled >= 2) {
    for (int i = filled; i < 4; ++i) group[i] = kPad;
    AppendGroup(out, group);
  }
}

std::string QPEncode(std::string_view text) {
  const std::vector<std::string> lines = SplitLines(text);
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 16);
  for (size_t l = 0; l < lines.size(); ++l) {
    if (l > 0) out.append("\r\n");
    const std::string& line = lines[l];
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      if (column > 71) {
        out.append("=\r\n");
        column = 0;
      }
      const auto c = static_cast<unsigned char>(line[i]);
      const bool last = i + 1 == line.size();
      if ((c >= 33 && c <= 60) || (c >= 62 && c <= 126) || ((c == ' ' || c == '\t') && !last)) {
        out.push_back(static_cast<char>(c));
        column += 1;
      } else {
        out.push_back('=');
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
        column += 3;
      }
    }
  }
  return out;
}

std::string QPDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const std::string& line : SplitLines(text)) {
    const size_t n = line.size();
    for (size_t i = 0; i < n; ++i) {
      if (line[i] != '=') {
        out.push_back(line[i]);
        continue;
      }
      if (n - i >= 3) {
        const int high = HexDigit(line[i + 1]);
        const int low = HexDigit(line[i + 2]);
        if (high >= 0 && low >= 0) {
          out.push_back(static_cast<char>(high * 16 + low));
          i += 2;
        } else {
          // Not an escape: keep the "=" as a character, so nothing of the text is lost.
          out.push_back('=');
        }
      } else {
        break;  // "=" with fewer than two characters after it is dropped with them
      }
    }
    if (n == 0 || line[n - 1] != '=') out.append("\r\n");
  }
  return out;
}

std::string QPDecodeLine(std::string_view line) {
  std::string out;
  if (line.empty()) return out;
  out.reserve(line.size() + 2);
  const size_t n = line.size();
  for (size_t i = 0; i < n; ++i) {
    if (line[i] != '=') {
      out.push_back(line[i]);
    } else if (n - i >= 3) {
      out.push_back(static_cast<char>(16 * LooseDigit(line[i + 1]) + LooseDigit(line[i + 2])));
      i += 2;
    } else if (n - i == 2) {
      out.push_back(static_cast<char>(LooseDigit(line[i + 1])));
      i += 1;
    }
  }
  out.append("\r\n");
  return out;
}

std::string UUDecodeLine(std::string_view line) {
  std::string out;
  if (line.empty()) return out;
  auto value = [](char c) { return (static_cast<unsigned char>(c) - 32) & 63; };
  size_t remaining = static_cast<size_t>(value(line[0]));
  out.reserve(remaining);
  size_t i = 1;
  while (remaining > 0 && i < line.size()) {
    int c[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; ++k)
      if (i + k < line.size()) c[k] = value(line[i + k]);
    i += 4;
    const char bytes[3] = {static_cast<char>((c[0] << 2) | (c[1] >> 4)),
                           static_cast<char>(((c[1] & 15) << 4) | (c[2] >> 2)),
                           static_cast<char>(((c[2] & 3) << 6) | c[3])};
    for (int k = 0; k < 3 && remaining > 0; ++k, --remaining) out.push_back(bytes[k]);
  }
  return out;
}

}  // namespace orvex
