// The browser flow for native applications (RFC 8252): the authorization code comes back to a
// listener on 127.0.0.1, bound to this run by `state` and to this program by PKCE (S256).
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "oauth/HttpClient.h"
#include "oauth/OAuthSettings.h"

namespace orvex {

class RandomSource;

// 43 characters of the unreserved set (32 random bytes, base64url), as a verifier or a state.
std::string RandomUrlText(RandomSource& random);
// BASE64URL(SHA256(verifier)) without padding.
std::string PkceChallenge(std::string_view verifier);

class BrowserFlow {
 public:
  enum class Outcome { Code, Denied, StateMismatch, NotTheRedirect };
  struct Redirect {
    Outcome outcome = Outcome::NotTheRedirect;
    std::string code;   // with Code
    std::string error;  // with Denied: the server's error (and description), one safe line
  };

  // `redirectUri` is "http://127.0.0.1:<port>/".
  BrowserFlow(OAuthClient client, std::string redirectUri, std::string state, std::string verifier);

  // The address the user opens.
  std::string AuthorizeUrl() const;
  // What a request to the listener brings: its request target ("/?code=...&state=..."). Only the
  // root path is the redirect; an error or a code with another state is refused.
  Redirect OnRequest(std::string_view target) const;
  // The token request that exchanges `code`.
  FormFields TokenRequest(const std::string& code) const;

 private:
  OAuthClient client_;
  std::string redirectUri_;
  std::string state_;
  std::string verifier_;
};

// A listener on 127.0.0.1 for the browser's one redirect. Reads at most 8 KiB of a request,
// answers every request with a short page and closes the connection.
class LoopbackListener {
 public:
  // Port 0: one the system chooses. Throws Error when the port cannot be had.
  explicit LoopbackListener(int port);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  int Port() const { return port_; }
  // The request target of the next request ("/?code=..."), waiting at most `limit`; nothing
  // after the limit or on a stop request. The request stays open for Answer().
  std::optional<std::string> NextRequest(std::chrono::seconds limit);
  // Answers the request NextRequest() gave and closes it.
  void Answer(int status, const std::string& text);

 private:
  int listenFd_ = -1;
  int clientFd_ = -1;
  int port_ = 0;
};

}  // namespace orvex
