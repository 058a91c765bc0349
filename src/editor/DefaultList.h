// The built-in configuration of a new list, as INI text.
#pragma once

#include <string_view>

namespace orvex {

std::string_view DefaultListText();

}  // namespace orvex
