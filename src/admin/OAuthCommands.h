// `orvex-admin oauth login` and `oauth status`: signing a list's accounts in with OAuth 2.0 and
// showing what the token store holds, never a token itself.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "admin/Session.h"

namespace orvex::admin {

struct OAuthLoginOptions {
  std::string list;
  std::optional<std::string> account;
  std::string flow;  // "device", "browser" or empty for the provider's default
  int port = 0;      // the browser flow's listener; 0 lets the system choose
};

// Prompts go to `out` (to `err` with --json, so that `out` holds the JSON alone).
int OAuthLogin(const Session& session, const OAuthLoginOptions& options, std::ostream& out,
               std::ostream& err);
int OAuthStatus(const Session& session, const std::string& list, std::ostream& out);

}  // namespace orvex::admin
