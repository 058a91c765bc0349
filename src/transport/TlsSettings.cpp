// Reading the TLS settings.
#include "transport/TlsSettings.h"

namespace orvex {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

MailSecurity SecuritySetting(long long value) {
  switch (value) {
    case 0:
      return MailSecurity::None;
    case 1:
      return MailSecurity::StartTls;
    case 2:
      return MailSecurity::ImplicitTls;
    default:
      return MailSecurity::Unknown;
  }
}

std::optional<std::string> ParseFingerprint(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::string digest;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!digest.empty() && text[i] == ':') {
      ++i;  // a separator only between two pairs, never at either end or doubled
      if (i == text.size()) return std::nullopt;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest += static_cast<char>(high << 4 | low);
    i += 2;
    if (digest.size() > 32) return std::nullopt;
  }
  if (!digest.empty() && digest.size() != 32) return std::nullopt;
  return digest;
}

}  // namespace orvex
