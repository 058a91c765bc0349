// Moving message files aside into the list's Failed directory.
#include "store/FailedMail.h"

#include "platform/Error.h"
#include "platform/FileMoves.h"
#include "platform/FileSystem.h"
#include "store/CycleRecord.h"
#include "store/IniFile.h"

namespace orvex {

namespace {

// The name of the folder a queue file lies in: "Inbox" for ".../Inbox/x.msg".
std::string FolderOf(const std::string& path) {
  const std::string directory = DirectoryOf(path);
  if (directory.size() < 2) return {};
  const std::size_t slash = directory.rfind('/', directory.size() - 2);
  return directory.substr(slash == std::string::npos ? 0 : slash + 1,
                          directory.size() - 1 - (slash == std::string::npos ? 0 : slash + 1));
}

void RecordReason(const std::string& target, const std::string& origin, std::string_view reason) {
  try {
    std::string why(reason);
    for (char& c : why)
      if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    IniFile record = IniFile::FromText({});
    record.WriteString("Failed", "Origin", origin);
    record.WriteString("Failed", "When", RecordTimeNow());
    record.WriteString("Failed", "Reason", "\"" + why + "\"");
    ReplaceFileAtomically(target + std::string(kFailedReasonExtension), record.Text(),
                          FileMode::Private);
  } catch (const std::exception&) {
    // The file is in Failed/ already; only the note of why is missing.
  }
}

}  // namespace

std::optional<FailedReason> ReadFailedReason(const std::string& failedPath) {
  const RegularFileRead read =
      ReadRegularFile(failedPath + std::string(kFailedReasonExtension), 64 * 1024);
  if (read.outcome != RegularFileRead::Outcome::Read) return std::nullopt;
  const IniFile record = IniFile::FromText(read.content);
  return FailedReason{record.ReadString("Failed", "Origin", ""),
                      record.ReadString("Failed", "When", ""),
                      record.ReadString("Failed", "Reason", "")};
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
      RecordReason(target, FolderOf(path), reason);
      return target;
    }
  }
  throw Error("Cannot move " + path + " to " + failedDir);
}

}  // namespace orvex
