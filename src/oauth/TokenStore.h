// The tokens of a list's OAuth 2.0 accounts: Data/<list>/oauth.ini, one section per account
// (its user name) with RefreshToken, AccessToken and AccessTokenExpires (Unix seconds).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

inline constexpr const char* kTokenFile = "oauth.ini";

struct StoredTokens {
  std::string refreshToken;
  std::string accessToken;
  long long accessTokenExpires = 0;  // Unix seconds; 0 unknown
};

// The whole file in memory. Its own reader, not the settings files' one: a provider's token can
// be longer than a settings value may be, and a token cut short is a broken token. Writers hold
// the list's lock, so Save() writes the whole file.
class TokenStore {
 public:
  // The file is read as a regular file only (no link followed), bounded in size.
  static constexpr std::size_t kMaximumFileSize = 1024 * 1024;

  // Reads `listDirectory` + "oauth.ini"; a missing file holds no account. Throws orvex::Error
  // when it exists but cannot be read whole (it is then never written over).
  explicit TokenStore(const std::string& listDirectory);

  // Nothing when the account has no section or neither token.
  std::optional<StoredTokens> Find(const std::string& account) const;
  void Put(const std::string& account, const StoredTokens& tokens);
  // The accounts, in file order.
  std::vector<std::string> Accounts() const;
  // Replaces the file atomically, mode 0600 from its creation. Throws orvex::Error.
  void Save() const;

  const std::string& Path() const { return path_; }

 private:
  struct Entry {
    std::string account;
    StoredTokens tokens;
  };
  std::string path_;
  std::vector<Entry> entries_;
};

}  // namespace orvex
