// The commit protocol of inbox processing: scratch files, one sync, a commit record, renames.
#include "processing/Commit.h"

#include <set>

#include "platform/FileMoves.h"
#include "platform/FileSystem.h"
#include "store/MessageNames.h"

namespace orvex {
namespace {

constexpr std::string_view kRecordName = "commit.lst";
constexpr std::string_view kRecordEnd = "end";
constexpr int kNameAttempts = 10000;

struct StoreFile {
  StoreKind kind;
  const char* fileName;
};
constexpr std::array<StoreFile, 4> kStoreFiles = {{{StoreKind::Subscribers, "subscribers.ini"},
                                                   {StoreKind::Pending, "pending.ini"},
                                                   {StoreKind::Signatures, "signatures.ini"},
                                                   {StoreKind::Bounces, "bounces.ini"}}};

std::string DirectoryName(OutputDirectory directory) {
  return directory == OutputDirectory::Outbox ? "Outbox" : "Digest";
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

// Entries of a complete record; nothing for a record without its end line.
std::vector<RecordEntry> ParseRecord(std::string_view text) {
  std::vector<RecordEntry> entries;
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
      continue;
    }
    entry.target = std::string(rest);
    if (!entry.target.empty()) entries.push_back(std::move(entry));
  }
  if (!complete) entries.clear();
  return entries;
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
    if (RemoveFile(target) || !FileExists(target)) removalDirectories.insert(DirectoryOf(target));
  }
  // The deletions must be durable before the record goes, or a kill could bring a handled
  // message back.
  for (const std::string& directory : removalDirectories) SyncDirectory(directory);
  RemoveFile(staging + std::string(kRecordName));
  SyncDirectory(staging);
}

void ClearStaging(const std::string& staging) {
  for (const DirectoryEntry& entry : ListDirectory(staging))
    if (!entry.isDirectory) RemoveFile(staging + entry.name);
}

}  // namespace

CommitGroup::CommitGroup(TAccount& list, const Environment& env) : list_(list), env_(env) {
  bounces_.LoadFromFile(list.ListDir() + std::string(kBounceStoreFile));
}

NameValueList& CommitGroup::StoreList(StoreKind store) const {
  switch (store) {
    case StoreKind::Subscribers:
      return list_.Subscribers();
    case StoreKind::Pending:
      return list_.Pending();
    case StoreKind::Bounces:
      return bounces_;
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
  outputs_.push_back({directory, std::string(extension), std::move(content)});
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
    CreateDirectoryOnce(staging);
    if (!DirectoryExists(staging)) throw Error("Cannot create directory " + staging);
    std::set<std::string> taken[2];
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const Output& output = outputs_[i];
      const std::string directoryName = DirectoryName(output.directory);
      const std::string directory = list_.ListDir() + directoryName + "/";
      CreateDirectoryOnce(directory);
      if (!DirectoryExists(directory)) throw Error("Cannot create directory " + directory);
      const std::string name =
          FreshName(env_, directory, output.extension,
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
      const std::string target = list_.ListDir() + store.fileName;
      // A store that exists but could not be read was loaded empty; never write over it.
      if (FileExists(target) && !ReadWholeFile(target)) continue;
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
    throw ECommitFailed(error.what());
  }
  Clear();
  FinishCommit(list_, env_, entries);
}

void RecoverInterruptedCommit(TAccount& list, const Environment& env) {
  const std::string staging = StagingPath(list);
  if (const auto record = ReadWholeFile(staging + std::string(kRecordName))) {
    const std::vector<RecordEntry> entries = ParseRecord(*record);
    FinishCommit(list, env, entries);
    for (const RecordEntry& entry : entries) {
      if (entry.kind != RecordEntry::Store) continue;
      for (const StoreFile& store : kStoreFiles) {
        // The bounce store is read by each new group, after this recovery.
        if (entry.target != store.fileName || store.kind == StoreKind::Bounces) continue;
        NameValueList& target = store.kind == StoreKind::Subscribers ? list.Subscribers()
                                : store.kind == StoreKind::Pending   ? list.Pending()
                                                                     : list.Signatures();
        target.LoadFromFile(list.ListDir() + store.fileName);
      }
    }
  }
  ClearStaging(staging);
}

}  // namespace orvex
