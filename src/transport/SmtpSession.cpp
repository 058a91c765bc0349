// The SMTP set-up: SmtpOpen and its greeting and authentication steps.
#include "transport/SmtpSession.h"

#include <algorithm>
#include <optional>

#include "platform/Error.h"
#include "platform/Socket.h"
#include "platform/Text.h"
#include "transport/OAuthSasl.h"
#include "transport/SmtpDelivery.h"
#include "transport/StageLog.h"

namespace orvex {
namespace {

// The words of a text separated by spaces.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

// The number of a SIZE line; 0 (no limit) for anything but digits, or more than 19 of them.
std::uint64_t SizeLimit(std::string_view text) {
  if (text.empty() || text.size() > 19) return 0;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

bool SmtpExtensions::OffersAuth(std::string_view mechanism) const {
  for (const auto& offered : authMechanisms)
    if (EqualsIgnoreCase(offered, mechanism)) return true;
  return false;
}

SmtpExtensions ParseEhloReply(const std::vector<std::string>& lines) {
  SmtpExtensions extensions;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].size() < 5) continue;
    std::vector<std::string> words = Words(std::string_view(lines[i]).substr(4));
    if (words.empty()) continue;
    std::string keyword = words.front();
    // Older servers also write "AUTH=LOGIN PLAIN".
    if (keyword.size() > 5 && EqualsIgnoreCase(std::string_view(keyword).substr(0, 5), "AUTH=")) {
      words.front() = keyword.substr(5);
      keyword = "AUTH";
    } else {
      words.erase(words.begin());
    }
    if (EqualsIgnoreCase(keyword, "STARTTLS")) extensions.startTls = true;
    if (EqualsIgnoreCase(keyword, "PIPELINING")) extensions.pipelining = true;
    if (EqualsIgnoreCase(keyword, "SIZE")) {
      extensions.size = true;
      // A limit that is not a plain number is no limit the client can hold a message to.
      if (!words.empty()) extensions.maxSize = SizeLimit(words.front());
    }
    if (EqualsIgnoreCase(keyword, "AUTH"))
      extensions.authMechanisms.insert(extensions.authMechanisms.end(), words.begin(), words.end());
  }
  return extensions;
}

SmtpExtensions SmtpGreet(MailClient& smtp) {
  smtp.ReadReply({220});
  const std::string me = LocalHostName();
  if (smtp.SendCommand("ehlo " + me, {}) != 250) {
    // HELO offers no STARTTLS.
    if (smtp.security == MailSecurity::StartTls)
      throw Error("TLS failure: " + smtp.host + " does not offer STARTTLS\r\n" +
                  smtp.LastReplyLine());
    smtp.SendCommand("Helo " + me, {250});
    return {};
  }
  SmtpExtensions extensions = ParseEhloReply(smtp.ReplyLines());
  if (smtp.security != MailSecurity::StartTls) {
    smtp.ehloReply = smtp.ReplyLines();
    return extensions;
  }
  if (!extensions.startTls) throw Error("TLS failure: " + smtp.host + " does not offer STARTTLS");
  if (smtp.SendCommand("STARTTLS", {}) != 220)
    throw Error("TLS failure: " + smtp.host + " refused STARTTLS\r\n" + smtp.LastReplyLine());
  smtp.StartTls();
  // What the server said before the handshake may have been altered on the way; only the
  // extensions it lists now are taken.
  smtp.SendCommand("ehlo " + me, {250});
  smtp.ehloReply = smtp.ReplyLines();
  return ParseEhloReply(smtp.ReplyLines());
}

void SmtpAuthenticate(MailClient& smtp, const SmtpExtensions& extensions) {
  const bool plain = smtp.security != MailSecurity::None && extensions.OffersAuth("PLAIN") &&
                     !extensions.OffersAuth("LOGIN");
  try {
    if (plain) {
      std::string credentials;
      credentials.append(1, '\0').append(smtp.userName).append(1, '\0').append(smtp.password);
      smtp.SendCommand("AUTH PLAIN " + Base64(credentials), {235});
    } else {
      // Each line is written even when empty: an empty user name or password is still an
      // answer the server waits for.
      smtp.SendCommand("auth LOGIN", {334});
      smtp.WriteLine(Base64(smtp.userName));
      smtp.ReadReply({334});
      smtp.WriteLine(Base64(smtp.password));
      smtp.ReadReply({235});
    }
  } catch (const ProtocolReplyError&) {
    throw Error("Authentication failed\r\n" + smtp.LastReplyLine());
  } catch (const StopRequestedError&) {
    throw;
  } catch (const std::exception& error) {
    throw Error(std::string("Authentication failed\r\n") + error.what());
  }
}

void SmtpAuthenticateOAuth(MailClient& smtp, const SmtpExtensions& extensions) {
  const std::optional<OAuthMechanism> mechanism = ChooseOAuthMechanism(extensions.authMechanisms);
  if (!mechanism)
    throw Error("Authentication failed\r\n" + smtp.host +
                " offers neither XOAUTH2 nor OAUTHBEARER (SmtpAuthMethod is oauth2)");
  const std::string response =
      OAuthClientResponse(*mechanism, smtp.userName, smtp.password, smtp.host, smtp.port);
  try {
    const int code = smtp.SendCommand(
        std::string("AUTH ") + MechanismName(*mechanism) + " " + Base64(response), {235, 334});
    if (code == 235) return;
    const std::string challenge = smtp.LastReplyLine();
    const OAuthErrorChallenge error = ParseOAuthErrorChallenge(
        std::string_view(challenge).substr(std::min<std::size_t>(4, challenge.size())));
    // The server waits for an answer to its challenge before it gives the final reply.
    smtp.WriteLine("");
    smtp.ReadReply({});
    throw Error("Authentication failed\r\n" +
                DescribeOAuthRefusal(smtp.userName, smtp.host, *mechanism, error));
  } catch (const ProtocolReplyError&) {
    throw Error("Authentication failed\r\n" + smtp.LastReplyLine());
  }
}

void SmtpOpen(MailClient& smtp, SmtpAuth auth, Logger& log) {
  if (smtp.Connected()) return;
  LogProgress(log, "Connecting to " + smtp.host + " on port " + std::to_string(smtp.port) + " ...");
  smtp.Connect();
  SmtpExtensions extensions;
  try {
    extensions = SmtpGreet(smtp);
  } catch (...) {
    try {
      smtp.Quit();
    } catch (const std::exception&) {
    }
    throw;
  }
  LogProgress(log, "Connected");
  if (auth == SmtpAuth::None) return;
  LogProgress(log, "Authenticating ...");
  if (auth == SmtpAuth::OAuth2) {
    SmtpAuthenticateOAuth(smtp, extensions);
  } else {
    SmtpAuthenticate(smtp, extensions);
  }
  LogProgress(log, "Authentication successful");
}

}  // namespace orvex
