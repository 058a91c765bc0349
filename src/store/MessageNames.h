// Names of new message files and new message identifiers, both made from the local time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace orvex {

// The time as the 17 digits yyyymmddhhnnsszzz, read as one decimal number.
std::uint64_t MessageStamp(const LocalDateTime& time);

// The stamp in upper-case hexadecimal (at least 12 digits; 14 for the years 1000 to 7205) and
// ".msg": "47FB75DF59010B.msg" for 2026-12-07 02:33:54.123.
std::string MessageFileNameAt(const LocalDateTime& time);
// "<20261207.023354123.a@b>" for the same instant and the address "a@b". Characters of the
// address that a store key or a header cannot hold ("=", "<", ">", blanks and controls) become
// "_".
std::string MessageIdAt(const LocalDateTime& time, std::string_view address);

// One per process. Two names asked for within one millisecond would be equal, and the second
// file would replace the first; the namer counts the stamp on instead, past the last one it
// issued and, for file names, past every stamp that a file of the directory already carries
// with one of the extensions .msg, .pri and .dig. The names keep their form.
class MessageNamer {
 public:
  explicit MessageNamer(const Clock& clock) : clock_(clock) {}

  // A ".msg" name; none of `directory`'s files is called by it with any of the three extensions.
  std::string NewMessageFileName(const std::string& directory);
  std::string NewMessageId(std::string_view address);

 private:
  const Clock& clock_;
  std::uint64_t lastFileStamp_ = 0;
  std::uint64_t lastIdStamp_ = 0;
};

}  // namespace orvex
