// Security choices, their ports and the fingerprint check.
#include "editor/SecurityChoices.h"

#include <algorithm>
#include <array>

namespace orvex {
namespace {

constexpr std::array<int, 3> kSmtpPorts = {25, 587, 465};
constexpr std::array<int, 3> kPop3Ports = {110, 110, 995};

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

QStringList SecurityChoices() {
  return {QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")};
}

QString SecurityName(long long value) {
  const QStringList choices = SecurityChoices();
  if (value >= 0 && value < choices.size()) return choices[static_cast<int>(value)];
  return QString::number(value);
}

std::optional<int> SuggestedPort(MailService service, int choice, long long currentPort) {
  const auto& ports = service == MailService::Smtp ? kSmtpPorts : kPop3Ports;
  if (choice < 0 || choice >= static_cast<int>(ports.size())) return std::nullopt;
  if (std::find(ports.begin(), ports.end(), currentPort) == ports.end()) return std::nullopt;
  return ports[static_cast<std::size_t>(choice)];
}

bool IsCertificateFingerprint(std::string_view text) {
  if (text.empty()) return true;
  if (text.size() == 64) return std::all_of(text.begin(), text.end(), IsHexDigit);
  if (text.size() != 32 * 3 - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool separator = i % 3 == 2;
    if (separator ? text[i] != ':' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

QString FingerprintRefusal(const QString& server) {
  return QStringLiteral(
             "The certificate fingerprint of %1 is not valid.\r\n"
             "Enter its SHA-256 fingerprint: 64 hexadecimal digits, with or without "
             "\":\" between byte pairs, or leave the field empty.")
      .arg(server);
}

}  // namespace orvex
