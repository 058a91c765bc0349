// ANSI terminal control for the service's console.
#include "platform/Terminal.h"

#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvex {
namespace {

// Windows-1252 code points of bytes 0x80..0x9F (0 where the code page defines nothing).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of a valid UTF-8 sequence starting at s[i], or 0.
size_t ValidSequence(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  size_t len = 0;
  char32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

}  // namespace

std::string ToUtf8ShowingWindows1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (const size_t len = ValidSequence(bytes, i); len > 0) {
      out.append(bytes.substr(i, len));
      i += len;
      continue;
    }
    char32_t cp = c;
    if (c < 0xA0) cp = kCp1252High[c - 0x80] != 0 ? kCp1252High[c - 0x80] : 0xFFFD;
    AppendUtf8(out, cp);
    ++i;
  }
  return out;
}

ConsoleTerminal::ConsoleTerminal() {
  interactive_ = ::isatty(STDOUT_FILENO) == 1;
  const char* codeset = nl_langinfo(CODESET);
  utf8_ = codeset != nullptr &&
          (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

void ConsoleTerminal::Raw(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a console that cannot be written to is not reported
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string ConsoleTerminal::ForDisplay(std::string_view text) const {
  if (interactive_ && utf8_) return ToUtf8ShowingWindows1252(text);
  return std::string(text);
}

void ConsoleTerminal::Write(std::string_view text) {
  Raw(ForDisplay(text));
}

void ConsoleTerminal::SetTitle(std::string_view title) {
  if (!interactive_) return;
  std::string sequence = "\x1b]0;";
  for (char c : ForDisplay(title))
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) sequence += c;
  sequence += '\a';
  Raw(sequence);
}

void ConsoleTerminal::SetAttribute(int attribute) {
  if (!interactive_) return;
  switch (attribute) {
    case 15:
      Raw("\x1b[0;97m");
      break;
    case 10:
      Raw("\x1b[0;92m");
      break;
    case 12:
      Raw("\x1b[0;91m");
      break;
    default:
      break;
  }
}

void ConsoleTerminal::ShowCursor(bool visible) {
  if (!interactive_) return;
  Raw(visible ? "\x1b[?25h" : "\x1b[?25l");
}

void ConsoleTerminal::WriteAtCursor(std::string_view text) {
  if (!interactive_) return;
  Raw("\x1b"
      "7");
  Raw(ForDisplay(text));
  Raw("\x1b"
      "8");
}

}  // namespace orvex
