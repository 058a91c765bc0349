// The device authorization grant (RFC 8628): the user signs in elsewhere with a short code
// while this program polls the token endpoint at the pace the server asks.
#pragma once

#include <functional>
#include <string>

#include "oauth/HttpClient.h"
#include "oauth/OAuthSettings.h"
#include "oauth/TokenReply.h"

namespace orvex {

struct DeviceAuthorization {
  std::string deviceCode;
  std::string userCode;
  std::string verificationUri;
  long long interval = 5;   // seconds between polls
  long long expiresAt = 0;  // Unix seconds
};

// The device endpoint's reply; throws Error saying what is wrong with it.
DeviceAuthorization ParseDeviceAuthorization(const HttpResponse& response, long long now);

// The polling as a state machine, fed with the token endpoint's replies and the time.
class DeviceFlow {
 public:
  enum class State { Waiting, Done, Denied, Expired, Failed };

  DeviceFlow(DeviceAuthorization authorization, long long now);

  State Current() const { return state_; }
  // When the next poll may be sent (Unix seconds).
  long long NextPoll() const { return nextPoll_; }
  const DeviceAuthorization& Authorization() const { return authorization_; }
  // With Done: the tokens. With Failed: the server's error in `tokens.error`.
  const TokenReply& Tokens() const { return tokens_; }

  // The token request of a poll.
  FormFields PollRequest(const OAuthClient& client) const;
  // The reply to a poll sent at `now`: authorization_pending waits the interval, slow_down adds
  // five seconds to it, access_denied ends Denied, expired_token (or the code's lifetime passed)
  // Expired, any other error Failed, tokens Done.
  State OnReply(const TokenReply& reply, long long now);
  // Ends the flow Expired once the code's lifetime is over.
  State CheckExpiry(long long now);

 private:
  DeviceAuthorization authorization_;
  State state_ = State::Waiting;
  long long nextPoll_ = 0;
  TokenReply tokens_;
};

// The whole flow against a server: asks for a code, calls `show` with it, polls until it ends.
// Waits end early on a stop request. Returns the final flow; throws HttpError when a server
// cannot be reached and Error when the device endpoint refuses.
DeviceFlow RunDeviceFlow(HttpClient& http, const OAuthClient& client,
                         const std::function<void(const DeviceAuthorization&)>& show,
                         const std::function<long long()>& now);

}  // namespace orvex
