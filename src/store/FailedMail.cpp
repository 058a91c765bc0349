// Moving message files aside into the list's Failed directory.
#include "store/FailedMail.h"

#include <sys/stat.h>

#include "platform/Error.h"
#include "platform/FileMoves.h"
#include "platform/FileSystem.h"

namespace orvex {
namespace {

// Mail kept for the operator holds members' addresses and sometimes passwords: whatever mode
// it came with (a fetched file may have been made by another program), it is the owner's alone.
// A link is left as it is (its own bits mean nothing, and its target is not ours to change).
void NarrowToOwner(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return;
  ::chmod(path.c_str(), S_ISDIR(info.st_mode) ? 0700 : 0600);
}

}  // namespace

std::string MoveToFailed(const std::string& listDir, const std::string& path) {
  const std::string failedDir = listDir + "Failed/";
  CreateDirectoryOnce(failedDir);
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = stem.size() == name.size() ? "" : name.substr(dot);
  for (int n = 0; n < 10000; ++n) {
    const std::string target =
        failedDir + (n == 0 ? name : stem + "-" + std::to_string(n) + extension);
    if (RenameWithoutReplacing(path, target)) {
      NarrowToOwner(target);
      return target;
    }
  }
  throw Error("Cannot move " + path + " to " + failedDir);
}

}  // namespace orvex
