// Inbox processing: each retrieved message is handled as a command or a post, all or nothing.
#pragma once

#include <string_view>

#include "platform/DnsResolver.h"
#include "platform/Error.h"
#include "processing/Context.h"
#include "store/Account.h"
#include "store/Environment.h"

namespace orvex {

// Step of the list cycle after retrieval: recovers an interrupted commit, purges expired store
// entries, handles every Inbox message and builds the digest when it is due. Handles and logs
// its own errors: a message that can never be handled (not a regular file, too large, refused,
// or an error of its own) is moved to "Failed" and the pass goes on; a fault of the machine (a
// full disk, a read-only or unreadable folder) ends the pass with one red line and leaves every
// message of the open group in Inbox for the next cycle, with nothing of it sent.
void ProcessInbox(TAccount& list, const Environment& env);
// The same with the resolver that answers the sender domains' DMARC policies.
void ProcessInbox(TAccount& list, const Environment& env, TxtResolver& resolver);

// Raised for a message that must not be handled at all (automatic mail, a delivery report that
// names no subscriber): it goes to "Failed" with the reason in one log line.
class EMessageRefused : public Error {
 public:
  using Error::Error;
};

// A queue file name: ends with ".msg" (any letter case) and holds no CR, LF or TAB (the commit
// record lists names one per line).
bool IsMessageFileName(std::string_view name);

// Handles the text of one message file; afterwards the file is to be removed. Errors propagate
// to the caller, which undoes what the message did. A message whose sender address
// is missing or not usable is refused: no notice may go to an empty recipient.
void ProcessMessage(ProcessingContext& context, std::string_view text);

// A message group is committed after this many messages or this much output.
inline constexpr std::size_t kMessagesPerCommit = 256;
inline constexpr std::size_t kBytesPerCommit = 16 * 1024 * 1024;
// Larger Inbox files are not read; they are moved to "Failed".
inline constexpr std::size_t kMaximumMessageBytes = 64 * 1024 * 1024;

}  // namespace orvex
