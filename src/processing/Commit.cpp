// The commit protocol of inbox processing: scratch files, one sync, a commit record, renames.
#include "processing/Commit.h"

#include <cerrno>
#include <initializer_list>
#include <set>

#include "platform/FileMoves.h"
#include "platform/FileSystem.h"
#include "store/MessageNames.h"

namespace orvex {
namespace {

constexpr std::string_view kRecordName = "commit.lst";
constexpr std::string_view kRecordEnd = "end";
constexpr int kNameAttempts = 10000;
// A record names every file of one group: a few hundred lines.
constexpr std::size_t kMaximumRecordBytes = 16 * 1024 * 1024;

struct StoreFile {
  StoreKind kind;
  const char* fileName;
};
constexpr std::array<StoreFile, kStoreKinds> kStoreFiles = {
    {{StoreKind::Subscribers, "subscribers.ini"},
     {StoreKind::Pending, "pending.ini"},
     {StoreKind::Signatures, "signatures.ini"},
     {StoreKind::Bounces, kBounceStoreFile.data()},
     {StoreKind::Distributed, kDistributedStoreFile.data()},
     {StoreKind::Held, kHeldStoreFile.data()}}};
constexpr std::string_view kRefusedRecordName = "commit.lst.refused";

std::string DirectoryName(OutputDirectory directory) {
  switch (directory) {
    case OutputDirectory::Outbox:
      return "Outbox";
    case OutputDirectory::Digest:
      return "Digest";
    case OutputDirectory::Held:
      break;
  }
  return std::string(kHeldDirectory);
}

void MakeDirectory(const std::string& directory) {
  if (CreateDirectoryOnce(directory)) return;
  const int error = errno;
  if (!DirectoryExists(directory)) throw SystemError("Cannot create directory " + directory, error);
}

std::string StagingPath(const TAccount& list) {
  return list.ListDir() + std::string(kStagingDirectory) + "/";
}

std::string WithExtension(std::string name, std::string_view extension) {
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + std::string(extension);
}

std::string FreshName(const Environment& env, const std::string& directory,
                      std::string_view extension, std::set<std::string>& taken) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = WithExtension(env.namer.NewMessageFileName(directory), extension);
    // The namer never repeats a name nor hands out one that the directory holds; a name that is
    // taken after all is caught by the rename, which never replaces a file.
    if (!taken.contains(name)) {
      taken.insert(name);
      return name;
    }
  }
  throw Error("No free message file name in " + directory);
}

struct RecordEntry {
  enum Kind { Output, Store, Remove } kind;
  std::string scratch;  // name inside Staging (not for Remove)
  std::string target;   // relative to the list directory
};

std::string SplitField(std::string_view& rest) {
  const auto tab = rest.find('\t');
  std::string field(rest.substr(0, tab));
  rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
  return field;
}

// A plain file name: no directory part, and neither "." nor "..".
bool PlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string_view::npos;
}

// "<folder>/<plain name>" with the folder one of `folders`.
bool InFolder(std::string_view target, std::initializer_list<std::string_view> folders) {
  const auto slash = target.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view folder = target.substr(0, slash);
  for (const std::string_view allowed : folders)
    if (folder == allowed) return PlainName(target.substr(slash + 1));
  return false;
}

// What a commit of this list can name: its outputs in Outbox, Digest and Held, its own stores,
// and the Inbox, Digest and Held files it handled. Anything else -- "../", an absolute path,
// another folder -- did not come from a commit and must not be acted on.
bool EntryAllowed(const RecordEntry& entry) {
  switch (entry.kind) {
    case RecordEntry::Output:
      return PlainName(entry.scratch) &&
             InFolder(entry.target, {"Outbox", "Digest", kHeldDirectory});
    case RecordEntry::Store:
      if (!PlainName(entry.scratch)) return false;
      for (const StoreFile& store : kStoreFiles)
        if (entry.target == store.fileName) return true;
      return false;
    case RecordEntry::Remove:
      return InFolder(entry.target, {"Inbox", "Digest", kHeldDirectory});
  }
  return false;
}

struct ParsedRecord {
  std::vector<RecordEntry> entries;  // empty for a record without its end line
  std::string refusal;               // the first line that is not allowed, if any
};

ParsedRecord ParseRecord(std::string_view text) {
  ParsedRecord record;
  bool complete = false;
  for (const std::string& line : SplitLines(text)) {
    if (line == kRecordEnd) {
      complete = true;
      break;
    }
    std::string_view rest = line;
    const std::string kind = SplitField(rest);
    RecordEntry entry{RecordEntry::Remove, {}, {}};
    if (kind == "output" || kind == "store") {
      entry.kind = kind == "output" ? RecordEntry::Output : RecordEntry::Store;
      entry.scratch = SplitField(rest);
    } else if (kind != "remove") {
      if (record.refusal.empty()) record.refusal = line;
      continue;
    }
    entry.target = std::string(rest);
    if (!EntryAllowed(entry)) {
      if (record.refusal.empty()) record.refusal = line;
      continue;
    }
    record.entries.push_back(std::move(entry));
  }
  if (!complete) {
    record.entries.clear();
    record.refusal.clear();  // never reached its commit point: discarded like any scratch file
  }
  return record;
}

// Everything after the commit point; safe to run again after an interruption at any step.
void FinishCommit(const TAccount& list, const Environment& env,
                  const std::vector<RecordEntry>& entries) {
  const std::string staging = StagingPath(list);
  std::set<std::string> outputDirectories;
  std::set<std::string> removalDirectories;
  bool storesReplaced = false;
  for (const RecordEntry& entry : entries) {
    const std::string scratch = staging + entry.scratch;
    const std::string target = list.ListDir() + entry.target;
    if (entry.kind == RecordEntry::Output) {
      if (!FileExists(scratch)) continue;  // renamed before the interruption
      const std::string directory = DirectoryOf(target);
      outputDirectories.insert(directory);
      // A held message's name is its token, which nothing else can hold.
      if (InFolder(entry.target, {kHeldDirectory})) {
        RenameFile(scratch, target);
        continue;
      }
      std::set<std::string> taken;
      std::string destination = target;
      const auto dot = target.rfind('.');
      const std::string extension = dot == std::string::npos ? ".msg" : target.substr(dot);
      while (!RenameWithoutReplacing(scratch, destination, DirectorySync::Later))
        destination = directory + FreshName(env, directory, extension, taken);
    } else if (entry.kind == RecordEntry::Store) {
      if (!FileExists(scratch)) continue;
      RenameFile(scratch, target);
      storesReplaced = true;
    }
  }
  for (const std::string& directory : outputDirectories) SyncDirectory(directory);
  if (storesReplaced) SyncDirectory(list.ListDir());
  for (const RecordEntry& entry : entries) {
    if (entry.kind != RecordEntry::Remove) continue;
    const std::string target = list.ListDir() + entry.target;
    if (!RemoveFile(target)) {
      const int error = errno;
      // A handled message that stays would be handled again once the record is gone: the
      // record stays instead, and the next pass finishes it (its outputs are in place by then).
      if (error != ENOENT) throw SystemError("Cannot remove " + target, error);
    }
    removalDirectories.insert(DirectoryOf(target));
  }
  // The deletions must be durable before the record goes, or a kill could bring a handled
  // message back.
  for (const std::string& directory : removalDirectories) SyncDirectory(directory);
  RemoveFile(staging + std::string(kRecordName));
  SyncDirectory(staging);
}

void ClearStaging(const std::string& staging) {
  for (const DirectoryEntry& entry : ListDirectory(staging))
    if (!entry.isDirectory && !entry.name.starts_with(kRefusedRecordName))
      RemoveFile(staging + entry.name);
}

// Renames a refused record out of the way (never over an earlier one); the new path.
std::string SetRecordAside(const std::string& staging) {
  const std::string record = staging + std::string(kRecordName);
  for (int n = 0; n < kNameAttempts; ++n) {
    const std::string target =
        staging + std::string(kRefusedRecordName) + (n == 0 ? "" : "-" + std::to_string(n));
    if (RenameWithoutReplacing(record, target)) return target;
  }
  throw Error("Cannot set aside " + record + ": no free name");
}

}  // namespace

CommitGroup::CommitGroup(TAccount& list, const Environment& env) : list_(list), env_(env) {
  bounces_.LoadStoreFile(list.ListDir() + std::string(kBounceStoreFile));
  distributed_.LoadStoreFile(list.ListDir() + std::string(kDistributedStoreFile));
  held_.LoadStoreFile(list.ListDir() + std::string(kHeldStoreFile));
}

NameValueList& CommitGroup::StoreList(StoreKind store) const {
  switch (store) {
    case StoreKind::Subscribers:
      return list_.Subscribers();
    case StoreKind::Pending:
      return list_.Pending();
    case StoreKind::Bounces:
      return bounces_;
    case StoreKind::Distributed:
      return distributed_;
    case StoreKind::Held:
      return held_;
    case StoreKind::Signatures:
      break;
  }
  return list_.Signatures();
}

void CommitGroup::BeginMessage() {
  inMessage_ = true;
  messageOutputsStart_ = outputs_.size();
  messageRemovalsStart_ = removals_.size();
  for (auto& backup : messageBackup_) backup.reset();
}

void CommitGroup::EndMessage() {
  inMessage_ = false;
  ++messages_;
  for (auto& backup : messageBackup_) backup.reset();
}

void CommitGroup::AbandonMessage() {
  for (std::size_t i = messageOutputsStart_; i < outputs_.size(); ++i)
    pendingBytes_ -= outputs_[i].content.size();
  outputs_.resize(messageOutputsStart_);
  removals_.resize(messageRemovalsStart_);
  for (const StoreFile& store : kStoreFiles) {
    auto& backup = messageBackup_[static_cast<std::size_t>(store.kind)];
    if (backup) StoreList(store.kind) = std::move(*backup);
    backup.reset();
  }
  inMessage_ = false;
}

void CommitGroup::AddOutput(OutputDirectory directory, std::string_view extension,
                            std::string content) {
  pendingBytes_ += content.size();
  outputs_.push_back({directory, std::string(extension), std::move(content), {}});
}

void CommitGroup::AddHeldFile(std::string_view token, std::string content) {
  pendingBytes_ += content.size();
  outputs_.push_back(
      {OutputDirectory::Held, ".msg", std::move(content), std::string(token) + ".msg"});
}

void CommitGroup::Protect(StoreKind store) {
  const auto index = static_cast<std::size_t>(store);
  if (!groupBackup_[index]) groupBackup_[index] = StoreList(store);
  if (inMessage_ && !messageBackup_[index]) messageBackup_[index] = StoreList(store);
}

void CommitGroup::RemoveOnCommit(std::string relativePath) {
  removals_.push_back(std::move(relativePath));
}

bool CommitGroup::Empty() const {
  if (!outputs_.empty() || !removals_.empty()) return false;
  for (const StoreFile& store : kStoreFiles) {
    const auto& backup = groupBackup_[static_cast<std::size_t>(store.kind)];
    if (backup && backup->Lines() != StoreList(store.kind).Lines()) return false;
  }
  return true;
}

void CommitGroup::Clear() {
  outputs_.clear();
  removals_.clear();
  messages_ = 0;
  pendingBytes_ = 0;
  inMessage_ = false;
  for (auto& backup : groupBackup_) backup.reset();
  for (auto& backup : messageBackup_) backup.reset();
}

void CommitGroup::Abandon() {
  for (const StoreFile& store : kStoreFiles) {
    auto& backup = groupBackup_[static_cast<std::size_t>(store.kind)];
    if (backup) StoreList(store.kind) = std::move(*backup);
  }
  Clear();
}

void CommitGroup::Commit() {
  if (Empty()) {
    Clear();
    return;
  }
  const std::string staging = StagingPath(list_);
  std::vector<std::string> scratchFiles;
  std::vector<RecordEntry> entries;
  try {
    MakeDirectory(staging);
    std::set<std::string> taken[2];
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const Output& output = outputs_[i];
      const std::string directoryName = DirectoryName(output.directory);
      const std::string directory = list_.ListDir() + directoryName + "/";
      MakeDirectory(directory);
      const std::string name =
          !output.fixedName.empty()
              ? output.fixedName
              : FreshName(env_, directory, output.extension,
                          taken[output.directory == OutputDirectory::Outbox ? 0 : 1]);
      const std::string scratch = std::to_string(i) + ".out";
      scratchFiles.push_back(staging + scratch);
      WriteFileUnsynced(staging + scratch, output.content);
      entries.push_back({RecordEntry::Output, scratch, directoryName + "/" + name});
    }
    for (const StoreFile& store : kStoreFiles) {
      const auto& backup = groupBackup_[static_cast<std::size_t>(store.kind)];
      const NameValueList& current = StoreList(store.kind);
      if (!backup || backup->Lines() == current.Lines()) continue;
      const std::string scratch = std::string(store.fileName) + ".new";
      scratchFiles.push_back(staging + scratch);
      WriteFileUnsynced(staging + scratch, current.Text());
      entries.push_back({RecordEntry::Store, scratch, store.fileName});
    }
    for (const std::string& removal : removals_)
      entries.push_back({RecordEntry::Remove, {}, removal});
    SyncFileSystem(staging);
    std::string record;
    for (const RecordEntry& entry : entries) {
      switch (entry.kind) {
        case RecordEntry::Output:
          record += "output\t" + entry.scratch + "\t";
          break;
        case RecordEntry::Store:
          record += "store\t" + entry.scratch + "\t";
          break;
        case RecordEntry::Remove:
          record += "remove\t";
          break;
      }
      record += entry.target + "\r\n";
    }
    record += std::string(kRecordEnd) + "\r\n";
    ReplaceFileAtomically(staging + std::string(kRecordName), record, FileMode::Private);
  } catch (const std::exception& error) {
    for (const std::string& scratch : scratchFiles) RemoveFile(scratch);
    RemoveFile(staging + std::string(kRecordName));
    Abandon();
    const auto* system = dynamic_cast<const SystemError*>(&error);
    throw ECommitFailed(error.what(), system != nullptr ? system->ErrorNumber() : 0);
  }
  Clear();
  FinishCommit(list_, env_, entries);
}

void RecoverInterruptedCommit(TAccount& list, const Environment& env) {
  const std::string staging = StagingPath(list);
  const std::string recordPath = staging + std::string(kRecordName);
  const RegularFileRead read = ReadRegularFile(recordPath, kMaximumRecordBytes);
  if (read.outcome == RegularFileRead::Outcome::Failed)
    throw SystemError("Cannot read " + recordPath, read.error);
  if (read.outcome != RegularFileRead::Outcome::Missing) {
    const ParsedRecord parsed = read.outcome == RegularFileRead::Outcome::Read
                                    ? ParseRecord(read.content)
                                    : ParsedRecord{{}, "(not a regular file of a usable size)"};
    if (!parsed.refusal.empty()) {
      const std::string aside = SetRecordAside(staging);
      env.log.WriteLog("Commit record " + recordPath + " refused (\"" + parsed.refusal +
                           "\" is not a file of this list); not executed, set aside as " + aside,
                       1, LogColour::Red);
      ClearStaging(staging);
      return;
    }
    const std::vector<RecordEntry>& entries = parsed.entries;
    FinishCommit(list, env, entries);
    for (const RecordEntry& entry : entries) {
      if (entry.kind != RecordEntry::Store) continue;
      for (const StoreFile& store : kStoreFiles) {
        // The bounce, distribution and held stores are read by each new group, after this
        // recovery.
        if (entry.target != store.fileName || store.kind == StoreKind::Bounces ||
            store.kind == StoreKind::Distributed || store.kind == StoreKind::Held)
          continue;
        NameValueList& target = store.kind == StoreKind::Subscribers ? list.Subscribers()
                                : store.kind == StoreKind::Pending   ? list.Pending()
                                                                     : list.Signatures();
        target.LoadStoreFile(list.ListDir() + store.fileName);
      }
    }
  }
  ClearStaging(staging);
}

}  // namespace orvex
