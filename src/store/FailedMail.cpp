// Moving message files aside into the list's Failed directory.
#include "store/FailedMail.h"

#include <sys/stat.h>

#include "platform/Error.h"
#include "platform/FileMoves.h"
#include "platform/FileSystem.h"
#include "store/CycleRecord.h"
#include "store/IniFile.h"

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

namespace {

constexpr std::size_t kMaximumRecord = 4 * 1024 * 1024;
const char* const kKeys[] = {"Origin", "When", "Reason"};

// The name of the folder a queue file lies in: "Inbox" for ".../Inbox/x.msg".
std::string FolderOf(const std::string& path) {
  std::string directory = DirectoryOf(path);
  if (!directory.empty()) directory.pop_back();
  const std::size_t slash = directory.rfind('/');
  return slash == std::string::npos ? directory : directory.substr(slash + 1);
}

IniFile LoadRecord(const std::string& listDir) {
  const RegularFileRead read = ReadRegularFile(listDir + kFailedRecordName, kMaximumRecord);
  return IniFile::FromText(read.outcome == RegularFileRead::Outcome::Read ? read.content : "");
}

// One line, quoted so that blanks at either end survive the read.
std::string Quoted(std::string_view text) {
  std::string value(text.substr(0, 1000));
  for (char& c : value)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return "\"" + value + "\"";
}

// Rewrites the record with the entries of files still in Failed/ other than `drop`, plus `add`.
void RewriteRecord(const std::string& listDir, const std::string& drop, const std::string& addName,
                   const FailedReason* add) {
  const IniFile old = LoadRecord(listDir);
  IniFile record = IniFile::FromText({});
  for (const std::string& name : old.SectionNames()) {
    if (name == drop || name == addName || !FileExists(listDir + "Failed/" + name)) continue;
    for (const char* key : kKeys)
      record.WriteString(name, key, Quoted(old.ReadString(name, key, "")));
  }
  if (add != nullptr) {
    record.WriteString(addName, "Origin", Quoted(add->origin));
    record.WriteString(addName, "When", Quoted(add->when));
    record.WriteString(addName, "Reason", Quoted(add->reason));
  }
  ReplaceFileAtomically(listDir + kFailedRecordName, record.Text(), FileMode::Private);
}

}  // namespace

std::optional<FailedReason> ReadFailedReason(const std::string& listDir, const std::string& name) {
  const IniFile record = LoadRecord(listDir);
  for (const std::string& section : record.SectionNames())
    if (section == name)
      return FailedReason{record.ReadString(name, "Origin", ""),
                          record.ReadString(name, "When", ""),
                          record.ReadString(name, "Reason", "")};
  return std::nullopt;
}

void ForgetFailedReason(const std::string& listDir, const std::string& name) {
  if (!FileExists(listDir + kFailedRecordName)) return;
  RewriteRecord(listDir, name, {}, nullptr);
}

std::string MoveToFailed(const std::string& listDir, const std::string& path,
                         std::string_view reason) {
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
      try {
        const FailedReason entry{FolderOf(path), RecordTimeNow(), std::string(reason)};
        RewriteRecord(listDir, {}, target.substr(failedDir.size()), &entry);
      } catch (const std::exception&) {
        // The file is in Failed/ already; only the note of why is missing.
      }
      return target;
    }
  }
  throw Error("Cannot move " + path + " to " + failedDir);
}

}  // namespace orvex
