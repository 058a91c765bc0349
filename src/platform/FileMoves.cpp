// renameat2(RENAME_NOREPLACE), with link-and-unlink for file systems that lack it.
#include "platform/FileMoves.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace orvex {

bool RenameWithoutReplacing(const std::string& from, const std::string& to, DirectorySync sync) {
  if (const int fault = TakeFileFault(FileOperation::Rename, to))
    throw SystemError("Cannot rename " + from + " to " + to, fault);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) {
      const int error = errno;
      throw SystemError("Cannot rename " + from + " to " + to, error);
    }
    // link() fails with EEXIST rather than replace, so the old name goes only after the new one
    // is in place.
    if (::link(from.c_str(), to.c_str()) != 0) {
      const int error = errno;
      if (error == EEXIST) return false;
      throw SystemError("Cannot rename " + from + " to " + to, error);
    }
    ::unlink(from.c_str());
  }
  if (sync == DirectorySync::Later) return true;
  SyncDirectory(DirectoryOf(to));
  if (DirectoryOf(from) != DirectoryOf(to)) SyncDirectory(DirectoryOf(from));
  return true;
}

}  // namespace orvex
