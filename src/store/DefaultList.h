// The built-in configuration of a new list, as INI text: what the editor's "New" starts from
// and what `orvex-admin list create` writes.
#pragma once

#include <string_view>

namespace orvex {

std::string_view DefaultListText();

}  // namespace orvex
