// Provider presets and the OAuth keys of maillist.ini.
#include "oauth/OAuthSettings.h"

#include <algorithm>

#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

constexpr const char* kGeneral = "General";

std::string_view TrimBlanks(std::string_view text) {
  return Trim(text, Blanks::Spaces);
}

bool IsOAuth2(std::string_view method) {
  return EqualsIgnoreCase(TrimBlanks(method), "oauth2");
}

}  // namespace

OAuthProvider ParseOAuthProvider(std::string_view text) {
  text = TrimBlanks(text);
  if (EqualsIgnoreCase(text, "google")) return OAuthProvider::Google;
  if (EqualsIgnoreCase(text, "microsoft")) return OAuthProvider::Microsoft;
  return OAuthProvider::Custom;
}

const char* ProviderName(OAuthProvider provider) {
  switch (provider) {
    case OAuthProvider::Google:
      return "google";
    case OAuthProvider::Microsoft:
      return "microsoft";
    case OAuthProvider::Custom:
      break;
  }
  return "custom";
}

OAuthClient ProviderPreset(OAuthProvider provider, const std::string& tenant) {
  OAuthClient client;
  client.provider = provider;
  switch (provider) {
    case OAuthProvider::Google:
      // Google's installed-application endpoints; its mail scope covers POP3 and SMTP. Its
      // device flow does not grant that scope, so the browser flow is the way in.
      client.authorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth";
      client.tokenUrl = "https://oauth2.googleapis.com/token";
      client.deviceUrl = "https://oauth2.googleapis.com/device/code";
      client.scope = "https://mail.google.com/";
      break;
    case OAuthProvider::Microsoft: {
      // The identity platform's v2.0 endpoints; offline_access brings the refresh token.
      const std::string base =
          "https://login.microsoftonline.com/" +
          (TrimBlanks(tenant).empty() ? std::string("common") : std::string(TrimBlanks(tenant))) +
          "/oauth2/v2.0/";
      client.authorizeUrl = base + "authorize";
      client.tokenUrl = base + "token";
      client.deviceUrl = base + "devicecode";
      client.scope =
          "offline_access https://outlook.office.com/POP.AccessAsUser.All "
          "https://outlook.office.com/SMTP.Send";
      break;
    }
    case OAuthProvider::Custom:
      break;
  }
  return client;
}

OAuthClient ReadOAuthClient(const IniFile& config,
                            const std::function<std::string(const std::string&)>& decipher) {
  OAuthClient client =
      ProviderPreset(ParseOAuthProvider(config.ReadString(kGeneral, "OAuthProvider", "")),
                     config.ReadString(kGeneral, "OAuthTenant", "common"));
  const auto override = [&](const char* key, std::string& field) {
    const std::string value(TrimBlanks(config.ReadString(kGeneral, key, "")));
    if (!value.empty()) field = value;
  };
  override("OAuthAuthorizeUrl", client.authorizeUrl);
  override("OAuthTokenUrl", client.tokenUrl);
  override("OAuthDeviceUrl", client.deviceUrl);
  override("OAuthScope", client.scope);
  client.clientId = std::string(TrimBlanks(config.ReadString(kGeneral, "OAuthClientId", "")));
  const std::string secret = config.ReadString(kGeneral, "OAuthClientSecret", "");
  if (!secret.empty() && decipher) client.clientSecret = decipher(secret);
  return client;
}

std::vector<std::string> OAuthAccounts(const IniFile& config) {
  std::vector<std::string> accounts;
  const auto add = [&](const std::string& name) {
    if (!TrimBlanks(name).empty() &&
        std::find(accounts.begin(), accounts.end(), name) == accounts.end())
      accounts.push_back(name);
  };
  if (IsOAuth2(config.ReadString(kGeneral, "SmtpAuthMethod", "")))
    add(config.ReadString(kGeneral, "SMTPUser", ""));
  const long long count = std::min<long long>(config.ReadInteger(kGeneral, "Pop3Count", 1), 1000);
  for (long long n = 1; n <= count; ++n) {
    const std::string number = std::to_string(n);
    if (IsOAuth2(config.ReadString(kGeneral, "Pop3AuthMethod" + number, "")))
      add(config.ReadString(kGeneral, "Name" + number, ""));
  }
  return accounts;
}

}  // namespace orvex
