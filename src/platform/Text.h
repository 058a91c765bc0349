// Small text helpers every layer shares: blanks by named character set, ASCII case, line
// splitting and base64. Byte-oriented and locale-free: a message or a profile file is bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Which bytes count as blank. Each reader has its own notion and must keep it: a profile line's
// key may hold a CR, a header value must not end in one, and a protocol reply treats every
// control byte as padding.
enum class Blanks {
  Spaces,           // space, TAB, VT, FF: blanks inside one line of a profile file
  SpacesAndBreaks,  // space, TAB, CR, LF: around header fields and their parameters
  Controls,         // every byte 0..32: around an address
  ControlsButNul,   // every byte 1..32: around what the editor takes from a field or a file
  ControlsAndDel,   // every byte 0..32 and DEL (127): around a server's reply line
};

bool IsBlank(char c, Blanks set);
std::string_view Trim(std::string_view text, Blanks set);

// ASCII letters only; every other byte stays as it is.
char LowerChar(char c);
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
bool ContainsIgnoreCase(std::string_view text, std::string_view word);

enum class EmptyLines { Keep, Drop };
// Splits a text into lines at CR LF, a lone LF or a lone CR; a text ending in a line end has no
// empty last line. With EmptyLines::Drop no line is empty (a CR LF then counts as two breaks).
std::vector<std::string> SplitLines(std::string_view text, EmptyLines empty = EmptyLines::Keep);

// Base64 with padding and without line breaks.
std::string Base64Encode(std::string_view data);

}  // namespace orvex
