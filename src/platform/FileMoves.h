// Renames that never replace an existing file (queue files must never overwrite one another).
#pragma once

#include <string>

namespace orvex {

// Renames `from` to `to` within one file system unless `to` exists; syncs the directory of `to`.
// Returns false when `to` exists; throws orvex::Error on any other failure.
bool RenameWithoutReplacing(const std::string& from, const std::string& to);

}  // namespace orvex
