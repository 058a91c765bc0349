// All-or-nothing handling of inbox messages: their output files and store changes are kept
// aside until a group of messages is committed, then published together.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "store/Account.h"
#include "store/Environment.h"

namespace orvex {

enum class OutputDirectory { Outbox, Digest };
enum class StoreKind { Subscribers, Pending, Signatures };

// Raised when a group could not be made durable; nothing of it was published and the stores in
// memory are back at the state of the group's start.
class ECommitFailed : public Error {
 public:
  using Error::Error;
};

// Commit protocol, in the list directory's "Staging" directory:
//   1. every output file and every changed store is written there under a scratch name;
//   2. one file system sync makes them durable;
//   3. "commit.lst" names each scratch file's destination and the files to delete (the handled
//      Inbox files, the posts taken into a digest); it is replaced atomically -- the commit point;
//   4. the scratch files are renamed into place (outputs never over an existing file), the
//      directories synced, the listed files deleted, and "commit.lst" removed.
// A kill before step 3 leaves the messages in Inbox with nothing published; a kill after it is
// finished by `RecoverInterruptedCommit` on the next pass. No message is lost or handled twice.
class CommitGroup {
 public:
  CommitGroup(TAccount& list, const Environment& env);
  CommitGroup(const CommitGroup&) = delete;
  CommitGroup& operator=(const CommitGroup&) = delete;

  // The handling of one message: outputs and store changes made between BeginMessage and
  // EndMessage join the group; AbandonMessage drops the outputs and restores the stores.
  void BeginMessage();
  void EndMessage();
  void AbandonMessage();

  // Queues a file for `directory`; its name is made at commit time with `extension` (".msg",
  // ".pri" or ".dig").
  void AddOutput(OutputDirectory directory, std::string_view extension, std::string content);
  // Must be called before a store is changed, so that a failure can restore it.
  void Protect(StoreKind store);
  // A file (path relative to the list directory) to delete once the group is durable.
  void RemoveOnCommit(std::string relativePath);

  std::size_t MessageCount() const { return messages_; }
  std::size_t PendingBytes() const { return pendingBytes_; }
  bool Empty() const;

  // Publishes the group. Throws ECommitFailed when nothing was published (the group is then
  // abandoned); throws Error when the commit point was passed but finishing it failed (it is then
  // finished by the next recovery).
  void Commit();
  // Drops the whole group: outputs discarded, stores back at the group's start.
  void Abandon();

 private:
  struct Output {
    OutputDirectory directory;
    std::string extension;
    std::string content;
  };
  NameValueList& StoreList(StoreKind store) const;
  void Clear();

  TAccount& list_;
  const Environment& env_;
  std::vector<Output> outputs_;
  std::vector<std::string> removals_;
  std::size_t messageOutputsStart_ = 0;
  std::size_t messageRemovalsStart_ = 0;
  std::size_t messages_ = 0;
  std::size_t pendingBytes_ = 0;
  bool inMessage_ = false;
  std::array<std::optional<NameValueList>, 3> groupBackup_;
  std::array<std::optional<NameValueList>, 3> messageBackup_;
};

// Finishes a commit that a kill interrupted after its commit point, reloads the stores it
// replaced into `list`, and discards the scratch files of commits that never reached it.
void RecoverInterruptedCommit(TAccount& list, const Environment& env);

// The name of the scratch directory inside the list directory.
inline constexpr std::string_view kStagingDirectory = "Staging";

}  // namespace orvex
