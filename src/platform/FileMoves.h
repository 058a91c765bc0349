// Renames that never replace an existing file (queue files must never overwrite one another).
#pragma once

#include <string>

namespace orvex {

// Whether a rename syncs its directories at once, or the caller syncs them later for a group.
enum class DirectorySync { Now, Later };

// Renames `from` to `to` within one file system unless `to` exists; with DirectorySync::Now it
// syncs the directories involved. Returns false when `to` exists; throws orvex::Error on any
// other failure.
bool RenameWithoutReplacing(const std::string& from, const std::string& to,
                            DirectorySync sync = DirectorySync::Now);

}  // namespace orvex
