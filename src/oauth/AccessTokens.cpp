// Refresh with grant_type=refresh_token; invalid_grant and an unreachable endpoint pass the
// account over for this cycle.
#include "oauth/AccessTokens.h"

#include <chrono>

#include "oauth/OAuthSettings.h"
#include "oauth/TokenReply.h"
#include "oauth/TokenStore.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

// A server that says nothing of the lifetime: an hour, the usual one.
constexpr long long kDefaultLifetime = 3600;

std::string ListName(const std::string& listDirectory) {
  std::string name = listDirectory;
  while (!name.empty() && name.back() == '/') name.pop_back();
  const auto slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string Key(const std::string& listDirectory, const std::string& account) {
  return listDirectory + '\n' + account;
}

std::string LoginHint(const std::string& list, const std::string& account) {
  return "run `orvex-admin oauth login " + list + " --account " + account + "`";
}

}  // namespace

long long UnixSecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void AccessTokens::NewCycle(const std::string& listDirectory) {
  const std::string prefix = listDirectory + '\n';
  std::erase_if(failed_, [&](const std::string& key) { return key.rfind(prefix, 0) == 0; });
  std::erase_if(valid_, [&](const auto& entry) { return entry.first.rfind(prefix, 0) == 0; });
}

void AccessTokens::Fail(const std::string& key, const std::string& line) {
  failed_.insert(key);
  log_.WriteLog(line, LogColour::Red);
}

std::optional<std::string> AccessTokens::Get(const std::string& listDirectory,
                                             const IniFile& config, const std::string& account) {
  const std::string key = Key(listDirectory, account);
  if (failed_.count(key) != 0) return std::nullopt;
  if (const auto known = valid_.find(key); known != valid_.end()) return known->second;
  try {
    return Fetch(listDirectory, config, account, key);
  } catch (const std::exception& e) {
    Fail(key, "OAuth 2.0 token of " + account + " (list " + ListName(listDirectory) +
                  "): " + e.what() + "; the account is passed over this cycle");
    return std::nullopt;
  }
}

std::optional<std::string> AccessTokens::Fetch(const std::string& listDirectory,
                                               const IniFile& config, const std::string& account,
                                               const std::string& key) {
  const std::string list = ListName(listDirectory);
  const std::string passedOver = "; the account is passed over this cycle";
  TokenStore store(listDirectory);
  const std::optional<StoredTokens> stored = store.Find(account);
  const long long now = now_();
  if (stored && !stored->accessToken.empty() && stored->accessTokenExpires - now > kRefreshMargin) {
    valid_[key] = stored->accessToken;
    return stored->accessToken;
  }
  if (!stored || stored->refreshToken.empty()) {
    Fail(key, "No OAuth 2.0 sign-in for " + account + " of list " + list + ": " +
                  LoginHint(list, account) + passedOver);
    return std::nullopt;
  }
  if (const auto refused = refused_.find(key);
      refused != refused_.end() && refused->second == stored->refreshToken) {
    // Asking again with a refresh token the server refused cannot help; a new login can.
    Fail(key, "OAuth 2.0 sign-in of " + account + " (list " + list +
                  ") was revoked or has expired (invalid_grant): " + LoginHint(list, account) +
                  passedOver);
    return std::nullopt;
  }
  const OAuthClient client = ReadOAuthClient(config, decipher_);
  if (client.tokenUrl.empty() || client.clientId.empty()) {
    Fail(key, "List " + list +
                  " has no OAuth 2.0 client: set OAuthProvider (or OAuthTokenUrl) and "
                  "OAuthClientId" +
                  passedOver);
    return std::nullopt;
  }
  FormFields fields = {{"grant_type", "refresh_token"},
                       {"refresh_token", stored->refreshToken},
                       {"client_id", client.clientId}};
  if (!client.clientSecret.empty()) fields.emplace_back("client_secret", client.clientSecret);
  if (!client.scope.empty()) fields.emplace_back("scope", client.scope);
  HttpResponse response;
  try {
    response = http_.PostForm(client.tokenUrl, fields);
  } catch (const HttpError& e) {
    Fail(key, "Cannot refresh the OAuth 2.0 token of " + account + " (list " + list +
                  "): " + e.what() + "; the next cycle tries again");
    return std::nullopt;
  }
  const TokenReply reply = ParseTokenReply(response);
  if (!reply.ok) {
    if (reply.error == "invalid_grant") {
      refused_[key] = stored->refreshToken;
      Fail(key, "OAuth 2.0 sign-in of " + account + " (list " + list +
                    ") was revoked or has expired (invalid_grant): " + LoginHint(list, account) +
                    passedOver);
    } else {
      Fail(key, "The token endpoint refused to refresh the OAuth 2.0 token of " + account +
                    " (list " + list + "): " + reply.error +
                    (reply.description.empty() ? "" : " (" + reply.description + ")") +
                    "; the next cycle tries again");
    }
    return std::nullopt;
  }
  StoredTokens renewed = *stored;
  renewed.accessToken = reply.accessToken;
  renewed.accessTokenExpires = now + (reply.expiresIn > 0 ? reply.expiresIn : kDefaultLifetime);
  // A rotated refresh token replaces the old one at once: the old one may be dead already.
  if (!reply.refreshToken.empty()) renewed.refreshToken = reply.refreshToken;
  try {
    store.Put(account, renewed);
    store.Save();
  } catch (const std::exception& e) {
    log_.WriteLog(std::string(e.what()) + " (the refreshed OAuth 2.0 token of " + account +
                      " is used this cycle only)",
                  LogColour::Red);
  }
  valid_[key] = renewed.accessToken;
  return renewed.accessToken;
}

}  // namespace orvex
