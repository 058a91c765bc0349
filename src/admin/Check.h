// `check LIST`: every POP3 mailbox and the relay of a list, connected and logged in to, without
// sending or deleting anything.
#pragma once

#include <ostream>
#include <string>

#include "admin/Session.h"

namespace orvex::admin {

// One row per server: ok with what it said, or the step that failed and the reply or TLS error.
// Exit status 0 when every server is fine, 1 otherwise.
int Check(const Session& session, const std::string& list, std::ostream& out);

}  // namespace orvex::admin
