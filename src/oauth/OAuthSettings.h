// A list's OAuth 2.0 client: the provider's endpoints and scope (a built-in preset, or the
// operator's own), the registered client id and secret, and which accounts sign in with it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orvex {

class IniFile;

enum class OAuthProvider { Google, Microsoft, Custom };

struct OAuthClient {
  OAuthProvider provider = OAuthProvider::Custom;
  std::string clientId;
  std::string clientSecret;  // deciphered; many public clients have none
  std::string authorizeUrl;  // the browser flow's
  std::string tokenUrl;
  std::string deviceUrl;  // the device flow's; empty where the provider has none
  std::string scope;      // blank-separated
};

// "google", "microsoft" (any letter case); anything else is Custom.
OAuthProvider ParseOAuthProvider(std::string_view text);
const char* ProviderName(OAuthProvider provider);

// The published endpoints and mail scopes of a provider; Microsoft's with `tenant` in the path
// ("common" when empty). Custom has none.
OAuthClient ProviderPreset(OAuthProvider provider, const std::string& tenant);

// The client of a list from section General: OAuthProvider's preset, with any of
// OAuthAuthorizeUrl, OAuthTokenUrl, OAuthDeviceUrl and OAuthScope that is set in its place;
// OAuthClientId, and OAuthClientSecret deciphered by `decipher`.
OAuthClient ReadOAuthClient(const IniFile& config,
                            const std::function<std::string(const std::string&)>& decipher);

// The user names that sign in with OAuth 2.0: SMTPUser with SmtpAuthMethod oauth2 and Name<n>
// with Pop3AuthMethod<n> oauth2 (n up to Pop3Count), each once, in that order.
std::vector<std::string> OAuthAccounts(const IniFile& config);

}  // namespace orvex
