// SMTP delivery of a list's Outbox: posts (*.msg) and digests (*.dig) to the subscribers that
// take them, private messages (*.pri) to the address in their first line, over one connection.
#pragma once

#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Logger.h"
#include "transport/MailClient.h"
#include "transport/OAuthSasl.h"
#include "transport/SendingQuota.h"
#include "transport/StageSettings.h"

namespace orvex {

class TAccount;
struct Environment;

// Login: by password (LOGIN or PLAIN); OAuth2: the password field holds an access token, sent by
// XOAUTH2 or OAUTHBEARER.
enum class SmtpAuth { None, Login, OAuth2 };

struct SmtpSettings : MailServer {
  std::string from;            // envelope sender of posts and digests
  std::string controlAddress;  // envelope sender of private messages
  // With OAuth2 the password field holds the account's access token.
  AuthMethod authMethod = AuthMethod::Password;
};

// The recipients of the two kinds of list mail, in the order of the subscriber store.
struct OutboxRecipients {
  std::vector<std::string> posts;
  std::vector<std::string> digests;
};

enum class SendOutcome {
  Sent,                 // the server took the message for at least one recipient
  NoRecipientAccepted,  // every recipient was refused for good
  MessageRefused,       // the server refused the message itself for good
};

struct SendResult {
  SendOutcome outcome;
  std::string reply;  // the refusing reply line, when refused
};

// One transaction to a batch of recipients, with the answer for each of them.
struct TransactionResult {
  enum class Outcome {
    Sent,                 // the relay took the message for the accepted recipients
    NoRecipientAccepted,  // every recipient was refused, for good or for now
    Deferred,             // the relay refused the message for now (4xx to DATA or its end)
    MessageRefused,       // the relay refused the message itself for good
  };
  Outcome outcome = Outcome::Sent;
  std::vector<std::string> accepted;  // took the message (with Sent)
  std::vector<std::string> deferred;  // to be tried again next cycle
  std::vector<std::string> refused;   // refused for good (5xx to RCPT TO)
  int code = 0;                       // the refusing reply's code and line
  std::string reply;
};

// Makes sure the client is connected, greeted (with STARTTLS when the client's security says so)
// and, with SmtpAuth::Login or OAuth2, authenticated (SmtpSession.h).
void SmtpOpen(MailClient& smtp, SmtpAuth auth, Logger& log);

// One transaction. A recipient refused for good (5xx) is logged and left out; a message refused
// for good is reported in the result. Temporary refusals and every other failure throw.
SendResult SendOneMessage(MailClient& smtp, SmtpAuth auth, Logger& log, const std::string& sender,
                          const std::vector<std::string>& lines,
                          const std::vector<std::string>& recipients);

// One transaction to `recipients` with message data already dot-stuffed (DotStuffedData).
// 4xx and 5xx answers to RCPT TO, DATA and the end of data are results, not errors; a dropped
// connection, a 421 (the relay closes) and every other failure throw. The commands go out in one
// batch when the relay offers PIPELINING, one at a time otherwise, with the same results. When
// the relay offers SIZE, MAIL FROM declares the size, and a message over the relay's announced
// maximum is MessageRefused (code 552) before anything of it is sent.
TransactionResult SendTransaction(MailClient& smtp, SmtpAuth auth, Logger& log,
                                  const std::string& sender, const std::string& data,
                                  const std::vector<std::string>& recipients);

// The stage of the list cycle: reads `SMTPUser`, `SMTPPassword`, `SmtpHost`, `SmtpPort`
// (default 25), `From`, `ControlAddress`, `SmtpSecurity` (default 0), `SmtpTlsFingerprint` and
// the limits (ReadDeliveryLimits) from section General, selects the recipients from
// the subscriber store and delivers the list's Outbox. With `SmtpAuthMethod` oauth2 the relay is
// signed in to with the token `tokens` gives for SMTPUser; without one nothing is sent this cycle
// (the Outbox waits).
void DeliverOutbox(TAccount& list, MailClient& smtp, const Environment& env);
// The same with another way of deciphering the stored password (tests), and the tokens.
void DeliverOutbox(TAccount& list, MailClient& smtp, const Environment& env,
                   const PasswordDecipher& decipher, const AccessTokenSource& tokens = {});

// Sends the files of `listDir` + "Outbox/" and deletes each one that was sent; files that can
// never be sent move to the list's Failed directory. Posts and digests go out in transactions
// of at most `limits.maxRecipients`, within the day's count, and each one's progress is kept
// beside it (DeliveryProgress) until nobody of the selection waits for it. Catches and logs its
// own failures and closes the connection at the end.
void DeliverOutboxFiles(const std::string& listDir, const SmtpSettings& settings,
                        const OutboxRecipients& recipients, const DeliveryLimits& limits,
                        const Clock& clock, MailClient& smtp, Logger& log);
// Without limits, on the system clock.
void DeliverOutboxFiles(const std::string& listDir, const SmtpSettings& settings,
                        const OutboxRecipients& recipients, MailClient& smtp, Logger& log);

// The RFC 2045 form of a text, on one line.
std::string Base64(const std::string& text);

}  // namespace orvex
