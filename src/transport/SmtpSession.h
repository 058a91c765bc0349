// The SMTP connection set-up under delivery: greeting, EHLO (or HELO), STARTTLS with the EHLO
// that follows it, and authentication by LOGIN or PLAIN, or by an OAuth 2.0 token.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transport/MailClient.h"

namespace orvex {

// What a server's EHLO reply offers, as far as the set-up uses it.
struct SmtpExtensions {
  bool startTls = false;
  std::vector<std::string> authMechanisms;  // as listed, in the server's letter case
  bool pipelining = false;                  // commands may be sent in batches
  bool size = false;                        // MAIL FROM takes SIZE=
  std::uint64_t maxSize = 0;                // the announced largest message; 0: none announced

  bool OffersAuth(std::string_view mechanism) const;
};

// The extensions named in the lines of an EHLO reply (the first line is the server's name).
SmtpExtensions ParseEhloReply(const std::vector<std::string>& lines);

// After Connect: reads the greeting and says EHLO (HELO when EHLO is refused). With
// MailSecurity::StartTls, a server that does not offer STARTTLS or refuses it is a failure, and
// after the handshake EHLO is said again, since only that second reply counts. Returns the
// extensions of the EHLO reply in force and keeps that reply's lines in the client (ehloReply).
// The caller disconnects on failure.
SmtpExtensions SmtpGreet(MailClient& smtp);

// LOGIN with the client's user name and password; PLAIN (with the initial response) instead
// when the connection is secured and the server lists PLAIN but not LOGIN. Any failure raises
// "Authentication failed" and, on the next line, the server's last reply or the error.
void SmtpAuthenticate(MailClient& smtp, const SmtpExtensions& extensions);

// With the client's password field holding an OAuth 2.0 access token: XOAUTH2 when the server
// lists it, else OAUTHBEARER, with the initial response. A refusal's error challenge (a 334
// line) is answered with an empty line, as the providers require, before the final reply; the
// failure raises "Authentication failed" and, on the next line, the status and scope the server
// gave. The token never appears in an error.
void SmtpAuthenticateOAuth(MailClient& smtp, const SmtpExtensions& extensions);

}  // namespace orvex
