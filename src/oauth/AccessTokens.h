// The service's access tokens: taken from the token store while they stay valid for more than
// five minutes, refreshed at the token endpoint otherwise, each failure said once per cycle.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "oauth/HttpClient.h"
#include "platform/Logger.h"

namespace orvex {

class IniFile;

// Unix seconds now; injectable in tests.
using UnixClock = std::function<long long()>;
long long UnixSecondsNow();

class AccessTokens {
 public:
  // A token that expires within this many seconds is refreshed before it is used.
  static constexpr long long kRefreshMargin = 5 * 60;

  using Decipher = std::function<std::string(const std::string&)>;
  AccessTokens(HttpClient& http, Logger& log, Decipher decipher, UnixClock now = UnixSecondsNow)
      : http_(http), log_(log), decipher_(std::move(decipher)), now_(std::move(now)) {}

  // A new cycle of the list: what was learnt in its last cycle is forgotten, so every failure
  // is said (and every refresh tried) once again.
  void NewCycle(const std::string& listDirectory);

  // The access token of `account` of the list in `listDirectory` (ending with "/") whose
  // settings are `config`; nothing after one red line that says why (once per cycle and
  // account). A refreshed token, and a new refresh token the server sent with it, are stored at
  // once. Never throws.
  std::optional<std::string> Get(const std::string& listDirectory, const IniFile& config,
                                 const std::string& account);

 private:
  std::optional<std::string> Fetch(const std::string& listDirectory, const IniFile& config,
                                   const std::string& account, const std::string& key);
  void Fail(const std::string& key, const std::string& line);

  HttpClient& http_;
  Logger& log_;
  Decipher decipher_;
  UnixClock now_;
  std::set<std::string> failed_;                // list and account, this cycle
  std::map<std::string, std::string> valid_;    // list and account -> token of this cycle
  std::map<std::string, std::string> refused_;  // list and account -> refresh token refused
};

}  // namespace orvex
