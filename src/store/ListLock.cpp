// flock on a file in the list directory; the kernel releases it when the process ends in any way.
#include "store/ListLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/Error.h"

namespace orvex {

std::optional<ListLock> ListLock::TryAcquire(const std::string& listDirectory) {
  const std::string path = listDirectory + kListLockName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) throw Error("Cannot open the list lock " + path + ": " + std::strerror(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return std::nullopt;
    throw Error("Cannot lock " + path + ": " + std::strerror(error));
  }
  return ListLock(fd);
}

ListLock::ListLock(ListLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ListLock& ListLock::operator=(ListLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

ListLock::~ListLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace orvex
