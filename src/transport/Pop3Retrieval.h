// POP3 retrieval: every message of the list's mailboxes becomes a new file in its Inbox and is
// deleted on the server only after that file is safely in place.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Logger.h"
#include "transport/MailClient.h"
#include "transport/StageSettings.h"

namespace orvex {

class TAccount;
struct Environment;

struct Pop3Mailbox {
  std::string host;
  int port = 110;
  std::string userName;
  std::string password;  // deciphered
  MailSecurity security = MailSecurity::None;
  std::string tlsFingerprint = {};  // as configured
};

// Gives a new, unused message file name (no directory) in the directory passed.
using MessageNameSource = std::function<std::string(const std::string& directory)>;

// What one visit of one mailbox leaves behind for the caller.
struct Pop3WorkItems {
  std::vector<std::string> messageLines;  // the message being fetched
  std::string currentFile;                // the name of the last file written
};

// The stage of the list cycle: visits the mailboxes `Pop3Count` (default 1) of section General
// names, with `Pop3Host<n>`, `Pop3Port<n>` (default 110), `Name<n>`, `Password<n>`,
// `Pop3Security<n>` (default 0) and `Pop3TlsFingerprint<n>`, saving into the list's Inbox.
void RetrieveMailboxes(TAccount& list, MailClient& pop3, const Environment& env);
// The same with another way of deciphering the stored passwords (tests).
void RetrieveMailboxes(TAccount& list, MailClient& pop3, const Environment& env,
                       const PasswordDecipher& decipher);

// Visits mailboxes 1 to `count`, reading each one's settings just before it is visited; stops
// early on a stop request. Catches and logs its own failures.
void RetrieveMailboxes(int count, const std::function<Pop3Mailbox(int number)>& mailbox,
                       MailClient& pop3, const std::string& inboxDir,
                       const MessageNameSource& names, Logger& log, Pop3WorkItems& work);

// Writes `content` into `inboxDir` under a new name from `names`, by writing a partial file and
// renaming it without replacing anything, so that no reader ever sees half a message and no
// earlier file is overwritten. Returns the name.
std::string SaveInboxFile(const std::string& inboxDir, const std::string& content,
                          const MessageNameSource& names);

}  // namespace orvex
