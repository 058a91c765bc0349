// The security of a mail server connection as the editor offers it: the three choices, the port
// that goes with each, and the form of a certificate fingerprint.
#pragma once

#include <QStringList>
#include <optional>
#include <string_view>

namespace orvex {

// Stored as 0, 1, 2: none, STARTTLS (STLS for POP3), TLS from the first byte.
QStringList SecurityChoices();
// The choice's name for a stored value; a value without a choice shows as its number.
QString SecurityName(long long value);

enum class MailService { Smtp, Pop3 };

// The conventional port of `choice`, when the port now set is the conventional port of some
// choice; a port the operator picked for a server of their own stays.
std::optional<int> SuggestedPort(MailService service, int choice, long long currentPort);

// Empty, or a SHA-256 fingerprint: 64 hexadecimal digits in either case, either all together or
// as 32 pairs separated by ":".
bool IsCertificateFingerprint(std::string_view text);

// The message that refuses a fingerprint not of that form; `server` names the server.
QString FingerprintRefusal(const QString& server);

}  // namespace orvex
