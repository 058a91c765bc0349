// Setting aside message files that cannot be handled.
#include "store/FailedMail.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <cstring>

#include "platform/Error.h"
#include "platform/FileSystem.h"

namespace orvex {

std::string MoveToFailed(const std::string& listDir, const std::string& path) {
  const std::string directory = listDir + "Failed/";
  CreateDirectoryOnce(directory);
  const auto slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  for (int attempt = 0; attempt < 100000; ++attempt) {
    const std::string target =
        directory + (attempt == 0 ? name : stem + "-" + std::to_string(attempt) + extension);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      SyncDirectory(directory);
      return target;
    }
    if (errno != EEXIST)
      throw Error("Cannot move " + path + " to " + directory + ": " + std::strerror(errno));
  }
  throw Error("Cannot move " + path + " to " + directory + ": no free name");
}

}  // namespace orvex
