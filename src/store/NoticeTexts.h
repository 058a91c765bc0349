// Notice texts and subjects as the settings files hold them, read and written by the service, the
// editor and orvex-admin alike.
#pragma once

#include <string>
#include <string_view>

#include "store/IniFile.h"

namespace orvex {

// A notice text as the service uses it: every "\13\10" becomes CR LF, and one final CR LF is
// removed.
std::string ReadNoticeText(const IniFile& file, std::string_view section);
// The notice's subject as it stands.
std::string ReadNoticeSubject(const IniFile& file, std::string_view section);
// A notice text as the editor shows it: every "\13\10" becomes CR LF; no line end is removed.
std::string ReadNoticeTextForEditor(const IniFile& file, std::string_view section);
// Writes the text in double quotes (so that blanks at either end survive) with every line break
// as "\13\10". A lone CR or LF counts as a line break too: written raw it would end the line in
// the file and lose the rest of the text.
void WriteNoticeTextForEditor(IniFile& file, std::string_view section, std::string_view text);

}  // namespace orvex
