// Security choices, their ports and the fingerprint check.
#include "editor/SecurityChoices.h"

#include <algorithm>
#include <array>

#include "platform/CertificateFingerprint.h"

namespace orvex {
namespace {

constexpr std::array<int, 3> kSmtpPorts = {25, 587, 465};
constexpr std::array<int, 3> kPop3Ports = {110, 110, 995};

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
  return ParseFingerprint(text).has_value();
}

QString FingerprintRefusal(const QString& server) {
  return QStringLiteral(
             "The certificate fingerprint of %1 is not valid.\r\n"
             "Enter its SHA-256 fingerprint: 64 hexadecimal digits, with or without "
             "\":\" between byte pairs, or leave the field empty.")
      .arg(server);
}

}  // namespace orvex
