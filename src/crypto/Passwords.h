// Passwords as the settings files store them: enciphered under the built-in key pair.
#pragma once

#include <string>
#include <string_view>

namespace orvex {

// Any failure gives the empty text.
std::string EncipherPassword(std::string_view password);
// Any failure (a text made under another key pair, typed by hand, damaged) gives the empty text.
std::string DecipherPassword(std::string_view text);

}  // namespace orvex
