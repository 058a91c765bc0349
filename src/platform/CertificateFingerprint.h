// SHA-256 certificate fingerprints as people write them: read from a setting, written into a log
// line. The service, the editor and orvex-admin all read a pin with the one parser here, so a
// fingerprint one of them accepts is never refused by another.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// A SHA-256 fingerprint: 64 hexadecimal digits in either case, either all together or as 32 pairs
// with ":" between every two (the form certificate tools print). A separator between some pairs
// only, at either end, doubled or inside a pair is refused: such a text is more likely a
// mistyped or cut-off pin than a deliberate one. Spaces and tabs around the text are ignored.
// Gives the 32 digest bytes, an empty text for an empty (or blank) setting, which means "no pin",
// and nothing for anything malformed.
std::optional<std::string> ParseFingerprint(std::string_view text);

// "AB:CD:..." for a digest, the form certificate tools print.
std::string FormatFingerprint(const std::string& digest);

}  // namespace orvex
