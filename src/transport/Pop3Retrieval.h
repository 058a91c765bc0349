// POP3 retrieval: every message of the list's mailboxes becomes a new file in its Inbox and is
// deleted on the server only after that file is safely in place.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/Logger.h"
#include "transport/MailClient.h"
#include "transport/OAuthSasl.h"
#include "transport/StageSettings.h"

namespace orvex {

class IniFile;
class TAccount;
struct Environment;

// With AuthMethod::OAuth2 the password field holds the account's access token.
struct Pop3Mailbox : MailServer {
  AuthMethod authMethod = AuthMethod::Password;
};

// Gives a new, unused message file name (no directory) in the directory passed.
using MessageNameSource = std::function<std::string(const std::string& directory)>;

// What one visit of one mailbox leaves behind for the caller.
struct Pop3WorkItems {
  std::string currentFile;  // the name of the last file written
};

// What one cycle takes from a mailbox. A message over `maxMessageSize` bytes stays on the server
// (with one red line per cycle); at most `maxPerCycle` messages are fetched, so that a mailbox
// that never empties still leaves time for processing.
struct Pop3Limits {
  std::size_t maxMessageSize = 64 * 1024 * 1024;  // Pop3MaxMessageSize
  long long maxPerCycle = 500;                    // Pop3MaxPerCycle
};
// The keys of section General, bounded to sane values.
Pop3Limits ReadPop3Limits(const IniFile& config);

// The stage of the list cycle: visits the mailboxes `Pop3Count` (default 1) of section General
// names, with `Pop3Host<n>`, `Pop3Port<n>` (default 110), `Name<n>`, `Password<n>`,
// `Pop3Security<n>` (default 0), `Pop3TlsFingerprint<n>` and `Pop3AuthMethod<n>`, saving into the
// list's Inbox, under the limits `Pop3MaxMessageSize` and `Pop3MaxPerCycle` (ReadPop3Limits).
// A mailbox with Pop3AuthMethod<n> oauth2 signs in with the token `tokens` gives for Name<n>;
// without one it is passed over.
void RetrieveMailboxes(TAccount& list, MailClient& pop3, const Environment& env);
// The same with another way of deciphering the stored passwords (tests), and the tokens.
void RetrieveMailboxes(TAccount& list, MailClient& pop3, const Environment& env,
                       const PasswordDecipher& decipher, const AccessTokenSource& tokens = {});

// Visits mailboxes 1 to `count`, reading each one's settings just before it is visited; stops
// early on a stop request. Catches and logs its own failures.
//
// Where a server answers UIDL, the unique ids of messages saved in Inbox but not yet known to be
// deleted on the server are kept in the list's folder (the parent of `inboxDir`), in
// "Pop3Saved<n>.lst" for mailbox n. They are written before the message gets its Inbox name and
// before its DELE, so that after a kill or a refused DELE the next session deletes those messages
// without fetching them again. An id leaves the file once a session finds the server without it.
void RetrieveMailboxes(int count, const std::function<Pop3Mailbox(int number)>& mailbox,
                       MailClient& pop3, const std::string& inboxDir,
                       const MessageNameSource& names, Logger& log, Pop3WorkItems& work,
                       const Pop3Limits& limits = {});

// AUTH XOAUTH2 (or OAUTHBEARER) with the access token in the client's password field, as a
// mailbox with Pop3AuthMethod<n> oauth2 signs in; after the greeting (and STLS). A refusal raises
// ProtocolReplyError with one readable line that never holds the token.
void Pop3SignInWithToken(MailClient& pop3);

// Writes `content` into `inboxDir` under a new name from `names`, by writing a partial file and
// renaming it without replacing anything, so that no reader ever sees half a message and no
// earlier file is overwritten. Returns the name.
std::string SaveInboxFile(const std::string& inboxDir, const std::string& content,
                          const MessageNameSource& names);

}  // namespace orvex
