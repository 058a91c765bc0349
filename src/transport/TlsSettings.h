// The TLS settings of the protocol stages: how a connection is secured and the optional pinned
// certificate fingerprint, as the settings files hold them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

enum class MailSecurity {
  None,         // plain TCP, as without the settings
  StartTls,     // plain TCP upgraded by STARTTLS (SMTP) or STLS (POP3); never a plain fallback
  ImplicitTls,  // TLS from the first byte (the POP3S and SMTPS ports)
  Unknown,      // a value this program does not know: refused rather than taken as plain text
};

// `SmtpSecurity` and `Pop3Security<n>`: 0 none (the default), 1 STARTTLS/STLS, 2 implicit TLS.
MailSecurity SecuritySetting(long long value);

// `SmtpTlsFingerprint` and `Pop3TlsFingerprint<n>`: a SHA-256 certificate fingerprint as 64
// hexadecimal digits in either case, with or without ":" between the byte pairs. Gives the 32
// digest bytes, an empty text for an empty setting, and nothing for anything malformed.
std::optional<std::string> ParseFingerprint(std::string_view text);

}  // namespace orvex
