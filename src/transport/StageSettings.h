// What the two protocol stages share when they read a list's settings.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace orvex {

// Turns a stored (enciphered) password into plain text; any failure gives an empty password.
using PasswordDecipher = std::function<std::string(const std::string& stored)>;

// The access token of an account (its user name) that signs in with OAuth 2.0, or nothing when
// none can be had this cycle; the source has then said why in the log, and the account is passed
// over until the next cycle.
using AccessTokenSource = std::function<std::optional<std::string>(const std::string& account)>;

// Thrown for an account that is passed over this cycle after its reason was logged: the stage
// goes on with the next account without another line.
class AccountPassedOver : public Error {
 public:
  using Error::Error;
};

// The built-in key pair's deciphering of the settings files' passwords.
std::string DecipherStoredPassword(const std::string& stored);

// A port setting as the socket layer takes it: a value outside 1..65535 becomes 0, which the
// connect refuses with a socket error instead of wrapping around to another port.
inline int PortSetting(long long value) {
  return value >= 1 && value <= 65535 ? static_cast<int>(value) : 0;
}

}  // namespace orvex
