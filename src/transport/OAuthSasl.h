// The SASL mechanisms that carry an OAuth 2.0 bearer token: XOAUTH2 (the providers' own) and
// OAUTHBEARER (RFC 7628), for SMTP AUTH and POP3 AUTH.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// How a server account signs in: with its password, or with an OAuth 2.0 access token
// (SmtpAuthMethod, Pop3AuthMethod<n>).
enum class AuthMethod { Password, OAuth2 };

// "oauth2" (any letter case) is OAuth2; anything else, the empty text included, is Password.
AuthMethod ParseAuthMethod(std::string_view text);

enum class OAuthMechanism { XOAuth2, OAuthBearer };

// The name said in the AUTH command.
const char* MechanismName(OAuthMechanism mechanism);

// XOAUTH2 when the server lists it, else OAUTHBEARER; nothing when it lists neither.
std::optional<OAuthMechanism> ChooseOAuthMechanism(const std::vector<std::string>& offered);

// The client's first message before base64: for XOAUTH2
// "user=<user>^Aauth=Bearer <token>^A^A"; for OAUTHBEARER the GS2 header "n,a=<user>," (with ","
// and "=" in the user name escaped), then host, port and auth, each ended by ^A, and a final ^A.
std::string OAuthClientResponse(OAuthMechanism mechanism, std::string_view user,
                                std::string_view token, std::string_view host, int port);

// What a server's error challenge says: the base64 text after "334 " or "+ " holds a JSON
// object with "status", "scope" and "schemes". Fields that are missing stay empty; a challenge
// that is not base64 JSON gives all empty.
struct OAuthErrorChallenge {
  std::string status;
  std::string scope;
};
OAuthErrorChallenge ParseOAuthErrorChallenge(std::string_view base64Text);

// One readable line about a refused token, e.g. "OAuth 2.0 sign-in refused for USER at HOST
// (XOAUTH2): status 401, scope https://mail.google.com/". Never contains the token; control
// characters of the server's text become "?".
std::string DescribeOAuthRefusal(std::string_view user, std::string_view host,
                                 OAuthMechanism mechanism, const OAuthErrorChallenge& challenge);

}  // namespace orvex
