// What the two protocol stages share when they read a list's settings.
#pragma once

#include <functional>
#include <string>

namespace orvex {

// Turns a stored (enciphered) password into plain text; any failure gives an empty password.
using PasswordDecipher = std::function<std::string(const std::string& stored)>;

// The built-in key pair's deciphering of the settings files' passwords.
std::string DecipherStoredPassword(const std::string& stored);

// A port setting as the socket layer takes it: a value outside 1..65535 becomes 0, which the
// connect refuses with a socket error instead of wrapping around to another port.
inline int PortSetting(long long value) {
  return value >= 1 && value <= 65535 ? static_cast<int>(value) : 0;
}

}  // namespace orvex
