// Program directory, identity, list locks and the editor interlock of orvex-admin.
#include "admin/Session.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "admin/AdminError.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"

namespace orvex::admin {

std::string DefaultProgramDirectory(const std::string& programFileDirectory) {
  if (!programFileDirectory.empty() && DirectoryExists(programFileDirectory + "Data"))
    return programFileDirectory;
  return kPackageDirectory;
}

void ActAsOwnerOf(const std::string& directory) {
  if (::geteuid() != 0) return;
  struct stat st {};
  if (::stat(directory.c_str(), &st) != 0)
    throw AdminError("Cannot examine the program directory " + directory + ": " +
                     std::strerror(errno) + "; give an existing one with --dir.");
  if (st.st_uid == 0) return;
  // Supplementary groups go first: they are root's and must not stay with the new identity.
  if (::setgroups(0, nullptr) != 0 || ::setgid(st.st_gid) != 0 || ::setuid(st.st_uid) != 0)
    throw AdminError("Cannot act as the owner (uid " + std::to_string(st.st_uid) + ") of " +
                     directory + ": " + std::strerror(errno) + "; run orvex-admin as that user.");
}

Session::Session(std::string programDirectory, bool json, int waitSeconds)
    : programDirectory_(std::move(programDirectory)), json_(json), waitSeconds_(waitSeconds) {
  if (!programDirectory_.empty() && programDirectory_.back() != '/') programDirectory_ += '/';
  if (!DirectoryExists(DataPath()))
    throw AdminError("The program directory " + programDirectory_ +
                     " holds no Data/ directory; give the right one with --dir (the package's is " +
                     kPackageDirectory + ").");
}

std::vector<std::string> Session::ListNames() const {
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : orvex::ListDirectory(DataPath()))
    if (entry.isDirectory && !entry.name.empty() && entry.name[0] != '.')
      names.push_back(entry.name);
  return names;
}

std::string Session::ListDirectory(std::string_view name) const {
  const std::string text(name);
  if (text.empty() || text[0] == '.' || text.find('/') != std::string::npos ||
      !DirectoryExists(DataPath() + text))
    throw AdminError("There is no list \"" + text + "\" in " + DataPath() +
                     "; `orvex-admin lists` shows the lists.");
  return DataPath() + text + "/";
}

ListLock Session::LockList(std::string_view name, const std::string& listDirectory) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(waitSeconds_);
  bool told = false;
  for (;;) {
    std::optional<ListLock> lock;
    try {
      lock = ListLock::TryAcquire(listDirectory);
    } catch (const Error& e) {
      throw AdminError(std::string(e.what()) + "; check the list directory's owner and mode.");
    }
    if (lock) return std::move(*lock);
    if (Clock::now() >= deadline)
      throw AdminError("The list \"" + std::string(name) + "\" stayed busy for " +
                           std::to_string(waitSeconds_) +
                           " seconds; try again later or give a longer --wait.",
                       kExitBusy);
    if (!told) {
      std::fprintf(stderr,
                   "The service is in the cycle of list \"%s\"; waiting up to %d seconds.\n",
                   std::string(name).c_str(), waitSeconds_);
      told = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void Session::RefuseWhileEditorOpen() const {
  if (InstanceLock::IsHeld(programDirectory_ + kEditorLockName))
    throw AdminError("The editor is open in " + programDirectory_ +
                     "; close it, then repeat the change.");
}

void BufferedRandom::Fill(void* data, std::size_t size) {
  auto* out = static_cast<unsigned char*>(data);
  while (size > 0) {
    if (used_ == sizeof buffer_) {
      source_.Fill(buffer_, sizeof buffer_);
      used_ = 0;
    }
    const std::size_t n = std::min(size, sizeof buffer_ - used_);
    std::memcpy(out, buffer_ + used_, n);
    // Each byte is handed out once.
    std::memset(buffer_ + used_, 0, n);
    used_ += n;
    out += n;
    size -= n;
  }
}

bool ValidListName(std::string_view name) {
  if (name.empty() || name.size() > 100 || name[0] == '.') return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace orvex::admin
