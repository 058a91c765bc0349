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

// Held: the messages that wait for the moderator, each under its token's name.
enum class OutputDirectory { Outbox, Digest, Held };
// The first three live in the list object; the bounce counts, the record of distributed posts
// and the record of held messages belong to inbox processing alone.
enum class StoreKind { Subscribers, Pending, Signatures, Bounces, Distributed, Held };
inline constexpr std::size_t kStoreKinds = 6;

// Raised when a group could not be made durable; nothing of it was published and the stores in
// memory are back at the state of the group's start. Carries the errno of the failed system
// call (0 when the failure was not one), so that a full disk can be told from anything else.
class ECommitFailed : public Error {
 public:
  explicit ECommitFailed(const std::string& message, int errorNumber = 0)
      : Error(message), errorNumber_(errorNumber) {}
  int ErrorNumber() const { return errorNumber_; }

 private:
  int errorNumber_;
};

// Commit protocol, in the list directory's "Staging" directory:
//   1. every output file and every changed store is written there under a scratch name;
//   2. one file system sync makes them durable;
//   3. "commit.lst" names each scratch file's destination and the files to delete (the handled
//      Inbox files, the posts taken into a digest, the held messages decided or expired); it is
//      replaced atomically -- the commit point;
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
  // Queues a held message: "Held/<token>.msg", the name fixed by its token.
  void AddHeldFile(std::string_view token, std::string content);
  // Must be called before a store is changed, so that a failure can restore it.
  void Protect(StoreKind store);
  // A file (path relative to the list directory) to delete once the group is durable.
  void RemoveOnCommit(std::string relativePath);

  // The bounce counts of the list (bounces.ini), the Message-IDs of its distributed posts
  // (distributed.ini) and the messages held for the moderator (held.ini), loaded when the group
  // is made; a file that exists but cannot be read raises orvex::Error there.
  NameValueList& Bounces() { return bounces_; }
  NameValueList& Distributed() { return distributed_; }
  NameValueList& Held() { return held_; }
  std::size_t OutputCount() const { return outputs_.size(); }
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
    std::string fixedName;  // for Held: the token's file name
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
  // StoreList hands these out like the list's stores.
  mutable NameValueList bounces_;
  mutable NameValueList distributed_;
  mutable NameValueList held_;
  std::array<std::optional<NameValueList>, kStoreKinds> groupBackup_;
  std::array<std::optional<NameValueList>, kStoreKinds> messageBackup_;
};

// Finishes a commit that a kill interrupted after its commit point, reloads the stores it
// replaced into `list`, and discards the scratch files of commits that never reached it.
// A record that names a file outside its own list directory (or anything but the list's queue
// folders and stores) is not executed: it is renamed to "commit.lst.refused" (or
// "commit.lst.refused-N") in the same directory with a red log line.
void RecoverInterruptedCommit(TAccount& list, const Environment& env);

// The bounce store's file in the list directory: address=count,day of the last report.
inline constexpr std::string_view kBounceStoreFile = kBounceStoreFileName;
// The record of distributed posts: escaped Message-ID=day of distribution.
inline constexpr std::string_view kDistributedStoreFile = kDistributedStoreFileName;
// The record of held messages: token=day held,kind,state,sender,subject,date,size,Message-ID.
inline constexpr std::string_view kHeldStoreFile = "held.ini";
// The folder of the held messages in the list directory.
inline constexpr std::string_view kHeldDirectory = "Held";

// The name of the scratch directory inside the list directory.
inline constexpr std::string_view kStagingDirectory = "Staging";

}  // namespace orvex
