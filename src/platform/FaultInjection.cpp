// The fault table behind the test seam; empty (and so free) in normal runs.
#include "platform/FaultInjection.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <vector>

namespace orvex {
namespace {

struct ActiveFault {
  FileFault fault;
  int matchingCalls = 0;
};

std::mutex faultsMutex;
std::vector<ActiveFault> faults;
std::atomic<bool> anyFault{false};

bool ParseOperation(const std::string& text, FileOperation& operation) {
  if (text == "write")
    operation = FileOperation::Write;
  else if (text == "rename")
    operation = FileOperation::Rename;
  else if (text == "remove")
    operation = FileOperation::Remove;
  else if (text == "read")
    operation = FileOperation::Read;
  else
    return false;
  return true;
}

int ErrorNumberNamed(const std::string& name) {
  static const struct {
    const char* name;
    int number;
  } known[] = {{"ENOSPC", ENOSPC}, {"EDQUOT", EDQUOT}, {"EIO", EIO},       {"EROFS", EROFS},
               {"EACCES", EACCES}, {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EMFILE", EMFILE}};
  for (const auto& k : known)
    if (name == k.name) return k.number;
  return 0;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

}  // namespace

void InjectFileFault(const FileFault& fault) {
  const std::lock_guard lock(faultsMutex);
  faults.push_back({fault, 0});
  anyFault = true;
}

void ClearFileFaults() {
  const std::lock_guard lock(faultsMutex);
  faults.clear();
  anyFault = false;
}

bool LoadFileFaultsFromEnvironment() {
  const char* text = std::getenv("ORVEX_FILE_FAULTS");
  if (text == nullptr || *text == '\0') return true;
  std::vector<FileFault> parsed;
  for (const std::string& entry : Split(text, ';')) {
    if (entry.empty()) continue;
    const std::vector<std::string> fields = Split(entry, ':');
    if (fields.size() < 4 || fields.size() > 5) return false;
    FileFault fault;
    if (!ParseOperation(fields[0], fault.operation)) return false;
    try {
      fault.firstCall = std::stoi(fields[1]);
      fault.failingCalls = std::stoi(fields[2]);
    } catch (const std::exception&) {
      return false;
    }
    fault.errorNumber = ErrorNumberNamed(fields[3]);
    if (fault.errorNumber == 0 || fault.firstCall < 1 || fault.failingCalls < 0) return false;
    if (fields.size() == 5) fault.pathContains = fields[4];
    parsed.push_back(fault);
  }
  for (const FileFault& fault : parsed) InjectFileFault(fault);
  return true;
}

int TakeFileFault(FileOperation operation, std::string_view path) {
  if (!anyFault) return 0;
  const std::lock_guard lock(faultsMutex);
  int result = 0;
  for (ActiveFault& active : faults) {
    const FileFault& f = active.fault;
    if (f.operation != operation) continue;
    if (!f.pathContains.empty() && path.find(f.pathContains) == std::string_view::npos) continue;
    const int call = ++active.matchingCalls;
    const bool failing =
        call >= f.firstCall && (f.failingCalls == 0 || call < f.firstCall + f.failingCalls);
    if (failing && result == 0) result = f.errorNumber;
  }
  return result;
}

}  // namespace orvex
