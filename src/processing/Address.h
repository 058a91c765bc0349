// The bare address of a "From" value: comments and display names removed.
#pragma once

#include <string>
#include <string_view>

#include "platform/Text.h"

namespace orvex {

enum class AddressForm { Bare, Wrapped };

// Removes "(...)" comments (as long as the first ")" follows the first "("), trims blanks and
// control characters, keeps what stands between the first "<" and the first ">", and with
// AddressForm::Wrapped encloses the result in "<" and ">". Letter case is kept.
std::string ExtractAddress(std::string_view text, AddressForm form = AddressForm::Bare);

// An address a notice can be sent to: a local part and a domain around the last "@", and no
// blank, control character, "<", ">" or ",".
bool UsableAddress(std::string_view address);

// Trims characters with codes 0 to 32 from both ends.
std::string_view TrimBlanks(std::string_view text);

// Whether an address can be a store entry's name: the stores are name=value lines, so an address
// with "=" or a blank or control character in it would be stored under another name (or break
// the line) and could never be found again. Mail commands and orvex-admin both apply it.
bool StorableAddress(std::string_view address);

}  // namespace orvex
