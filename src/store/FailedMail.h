// The list's `Failed` directory: where a message file goes that can never be handled, so that
// it neither blocks the files behind it nor is lost.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Moves the file `path` into `listDir` + "Failed/" (created when missing), keeping its name or,
// when that is taken, its name with "-1", "-2" ... before the extension. Never overwrites a file.
// The moved file is made readable by its owner only (0600; a directory 0700; a symbolic link is
// moved as a link, never followed). Returns the new path; throws orvex::Error when the file
// cannot be moved.
// The list's `failed.ini` records, per file in Failed/, the folder it came from, when and
// `reason` (for `orvex-admin failed` and `failed retry`); a record that cannot be written is
// passed over, since the move itself has happened and must not be reported as failed.
std::string MoveToFailed(const std::string& listDir, const std::string& path,
                         std::string_view reason = {});

inline constexpr const char* kFailedRecordName = "failed.ini";

struct FailedReason {
  std::string origin;  // "Inbox" or "Outbox"; empty when unknown
  std::string when;    // local time, "YYYY-MM-DD HH:MM:SS"
  std::string reason;
};
// The record of the file `name` in Failed/; nothing when there is none.
std::optional<FailedReason> ReadFailedReason(const std::string& listDir, const std::string& name);
// Drops the record of `name` (and of files no longer in Failed/). Throws orvex::Error.
void ForgetFailedReason(const std::string& listDir, const std::string& name);

}  // namespace orvex
