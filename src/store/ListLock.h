// The lock of one list directory: the service holds it for the whole of a list's cycle, and
// orvex-admin for every read and change, so neither ever sees the other's half-done work.
#pragma once

#include <optional>
#include <string>

namespace orvex {

inline constexpr const char* kListLockName = "orvex-list.lock";

class ListLock {
 public:
  // An exclusive flock on `listDirectory` + kListLockName (created 0600 when missing, never
  // through a link); nothing when another process holds it. Throws orvex::Error when the file
  // cannot be opened, so that a permission problem is not mistaken for a busy list.
  static std::optional<ListLock> TryAcquire(const std::string& listDirectory);

  ListLock(ListLock&& other) noexcept;
  ListLock& operator=(ListLock&& other) noexcept;
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;
  ~ListLock();

 private:
  explicit ListLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace orvex
