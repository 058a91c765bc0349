// The transfer-encoding codecs: Base64, quoted-printable and uudecode, on 8-bit text.
#pragma once

#include <string>
#include <string_view>

#include "platform/Text.h"  // Base64Encode

namespace orvex {

// The bytes one line of a Base64 body stands for. Characters outside the alphabet (blanks,
// line-end debris, garbage) are skipped; "=" ends a group of four.
std::string Base64DecodeLine(std::string_view line);
// The same, appended to `out` (so that a caller can reuse one buffer for many lines).
void AppendBase64DecodeLine(std::string& out, std::string_view line);

// Quoted-printable text of a text of lines: soft breaks keep output lines at most 76 characters,
// blanks at a line end and every byte outside "!".."~" (and "=") are written as "=XX".
std::string QPEncode(std::string_view text);
// The decoded text of quoted-printable lines; a line ending in "=" joins the next one.
std::string QPDecode(std::string_view text);
// One line of a quoted-printable body, decoded and followed by CR LF; an empty line gives nothing.
std::string QPDecodeLine(std::string_view line);

// The bytes one line of a uuencoded block stands for (at most the count its first character gives).
std::string UUDecodeLine(std::string_view line);

}  // namespace orvex
