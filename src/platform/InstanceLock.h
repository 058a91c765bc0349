// The interlock between the service and the editor: each holds an exclusive flock on its own
// lock file in the program directory for its whole run.
#pragma once

#include <optional>
#include <string>

namespace orvex {

inline constexpr const char* kServiceLockName = "orvex-manager.lock";
inline constexpr const char* kEditorLockName = "orvex-editor.lock";

class InstanceLock {
 public:
  // Takes the lock, creating the file if needed; nothing when another process holds it.
  static std::optional<InstanceLock> TryAcquire(const std::string& path);
  // Whether some process holds the lock now (does not create the file).
  static bool IsHeld(const std::string& path);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace orvex
