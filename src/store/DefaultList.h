// The built-in configuration of a new list, as INI text: what the editor's "New" starts from
// and what `orvex-admin list create` writes.
#pragma once

#include <string_view>

namespace orvex {

class IniFile;

std::string_view DefaultListText();

// Where a notice section is read from. A notice section that maillist.ini lacks takes the text of
// a new list, so that a hand-made (or older) list still sends, for example, a confirmation that
// carries its code; a section the operator wrote stays theirs, even when empty. The signature is
// the exception: it is appended to every post, and a list made without one must not start growing
// a footer of example text. The service and the editor both read through this, so that what the
// editor shows (and saves) is what the service sends.
const IniFile& NoticeSource(const IniFile& config, std::string_view section);

}  // namespace orvex
