// Inbox processing: each retrieved message is handled as a command or a post, all or nothing.
#pragma once

#include <string_view>

#include "processing/Context.h"
#include "store/Account.h"
#include "store/Environment.h"

namespace orvex {

// Step of the list cycle after retrieval: recovers an interrupted commit, purges expired store
// entries, handles every Inbox message and builds the digest when it is due. Handles and logs
// its own errors: a message that fails is moved to "Failed" and the pass goes on.
void ProcessInbox(TAccount& list, const Environment& env);

// Handles the text of one message file; always true (the file is to be removed). Errors
// propagate to the caller, which undoes what the message did.
bool ProcessMessage(ProcessingContext& context, std::string_view text);

// A message group is committed after this many messages or this much output.
inline constexpr std::size_t kMessagesPerCommit = 256;
inline constexpr std::size_t kBytesPerCommit = 16 * 1024 * 1024;
// Larger Inbox files are not read; they are moved to "Failed".
inline constexpr std::size_t kMaximumMessageBytes = 64 * 1024 * 1024;

}  // namespace orvex
