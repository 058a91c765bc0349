// What every orvex-admin command works in: the program directory, the lists under it, the locks
// that keep it apart from the service and the editor, and the outside world for the stores.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Logger.h"
#include "platform/SecureRandom.h"
#include "store/Environment.h"
#include "store/ListLock.h"
#include "store/MessageNames.h"

namespace orvex::admin {

// The program directory when none is given: the program file's own directory when it holds
// "Data/", else the package's directory.
inline constexpr const char* kPackageDirectory = "/var/lib/orvex/";
std::string DefaultProgramDirectory(const std::string& programFileDirectory);

// Run as root against a directory that belongs to another user, takes on that user's identity
// (group first), so that no file ends up owned by root and unwritable for the service. Throws
// AdminError when the directory cannot be examined or the switch fails.
void ActAsOwnerOf(const std::string& directory);

// Swallows the log lines of the processing code orvex-admin reuses; none of them is news to the
// operator who asked for the change.
class QuietLog final : public Logger {
 public:
  void WriteLog(std::string_view, LogColour) override {}
  void WriteAtCursor(std::string_view) override {}
};

// The system's secure random bytes, fetched 4 KiB at a time: an import of many members draws ten
// letters of password each, and one system call per letter would cost more than the rest.
class BufferedRandom final : public RandomSource {
 public:
  void Fill(void* data, std::size_t size) override;

 private:
  SystemRandom source_;
  unsigned char buffer_[4096];
  std::size_t used_ = sizeof buffer_;
};

class Session {
 public:
  // `programDirectory` ends with "/". Throws AdminError when it holds no "Data/".
  Session(std::string programDirectory, bool json, int waitSeconds);

  const std::string& ProgramDirectory() const { return programDirectory_; }
  std::string DataPath() const { return programDirectory_ + "Data/"; }
  bool Json() const { return json_; }

  // The directories of the lists, sorted by name (hidden ones passed over).
  std::vector<std::string> ListNames() const;
  // "<Data>/<name>/"; throws AdminError naming the list when there is no such list.
  std::string ListDirectory(std::string_view name) const;

  // The list's lock; while the service is in the list's cycle, waits (saying so on standard
  // error) up to the --wait time, then throws AdminError with kExitBusy.
  ListLock LockList(std::string_view name, const std::string& listDirectory) const;
  // Changes are refused while the editor is open in the program directory.
  void RefuseWhileEditorOpen() const;

  const Environment& Env() const { return env_; }

 private:
  std::string programDirectory_;
  bool json_;
  int waitSeconds_;
  SystemClock clock_;
  BufferedRandom random_;
  QuietLog log_;
  MessageNamer namer_{clock_};
  Environment env_{clock_, random_, log_, namer_};
};

// A list's directory name as `list create` accepts it: letters, digits, ".", "-" and "_", not
// starting with "." (hidden directories are not lists), at most 100 characters.
bool ValidListName(std::string_view name);

}  // namespace orvex::admin
