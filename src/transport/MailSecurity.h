// How the protocol stages secure a connection, as the settings files hold it. The optional
// certificate pin is read with platform/CertificateFingerprint.h.
#pragma once

namespace orvex {

enum class MailSecurity {
  None,         // plain TCP, as without the settings
  StartTls,     // plain TCP upgraded by STARTTLS (SMTP) or STLS (POP3); never a plain fallback
  ImplicitTls,  // TLS from the first byte (the POP3S and SMTPS ports)
  Unknown,      // a value this program does not know: refused rather than taken as plain text
};

// `SmtpSecurity` and `Pop3Security<n>`: 0 none (the default), 1 STARTTLS/STLS, 2 implicit TLS.
MailSecurity SecuritySetting(long long value);

}  // namespace orvex
