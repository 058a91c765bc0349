// What a token endpoint answers (RFC 6749 section 5): the tokens, or an error code.
#pragma once

#include <string>

#include "oauth/HttpClient.h"

namespace orvex {

struct TokenReply {
  bool ok = false;
  std::string accessToken;
  std::string refreshToken;  // empty when the server keeps the old one
  long long expiresIn = 0;   // seconds; 0 when not said
  std::string error;         // "invalid_grant", "authorization_pending" ...; with !ok
  std::string description;   // error_description, made one safe line
};

// A 200 reply with an access token is ok; any other reply gives its "error" (or "http <status>"
// when the body holds none). Never throws.
TokenReply ParseTokenReply(const HttpResponse& response);

// A server's text made fit for one log line: control characters become "?", at most 200 bytes.
std::string SafeLine(std::string_view text);

}  // namespace orvex
