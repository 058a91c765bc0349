// The list's `Failed` directory: where a message file goes that can never be handled, so that
// it neither blocks the files behind it nor is lost.
#pragma once

#include <string>

namespace orvex {

// Moves the file `path` into `listDir` + "Failed/" (created when missing), keeping its name or,
// when that is taken, its name with "-1", "-2" ... before the extension. Never overwrites a file.
// The moved file is made readable by its owner only (0600; a directory 0700; a symbolic link is
// moved as a link, never followed). Returns the new path; throws orvex::Error when the file
// cannot be moved.
std::string MoveToFailed(const std::string& listDir, const std::string& path);

}  // namespace orvex
