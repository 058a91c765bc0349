// Which recipients of one list post or digest in Outbox are done with, kept durably in a small
// file beside it, so that a file sent in parts (or refused half-way) never reaches anyone twice.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace orvex {

// The progress file of an Outbox file "<name>.msg" is "<name>.msg.progress". It never ends in
// ".msg", ".dig" or ".pri", so the outbox walk never takes it for mail. Its lines (CR LF):
//   Sent <address>          the relay accepted the file for this recipient
//   Refused <address>       the relay refused this recipient for good
//   RefusedSince <days>     first cycle of an unbroken run in which the relay only deferred
//                           the recipients still waiting (days since 30 December 1899)
//   Complete                every recipient is done with: the file is never sent again, only
//                           its removal is tried (at each cycle, until it succeeds)
// Unknown lines are passed over.
//
// A record that could not be written (a full disk) is kept in the process's memory and merged
// into the next Load of the same file, so that a local fault never makes the service send a
// batch again while it runs; only a restart during such a fault can lose it.
class DeliveryProgress {
 public:
  static constexpr std::string_view kSuffix = ".progress";
  // A progress file larger than this is not ours to read; the file it belongs to is not sent.
  static constexpr std::size_t kMaximumFileSize = 64 * 1024 * 1024;

  static std::string PathFor(const std::string& messagePath) {
    return messagePath + std::string(kSuffix);
  }
  // Reads the progress of `messagePath`; none recorded when the file is missing. Throws
  // orvex::Error when it exists but cannot be read.
  static DeliveryProgress Load(const std::string& messagePath);

  // Whether `address` (in any letter case) is done with: sent or refused for good.
  bool IsDone(std::string_view address) const;
  // The addresses of `selection` that still wait for the file, in their order.
  std::vector<std::string> Waiting(const std::vector<std::string>& selection) const;

  void MarkSent(const std::string& address);
  void MarkRefused(const std::string& address);
  std::size_t SentCount() const { return sentCount_; }
  void MarkComplete() { complete_ = true; }
  // Nothing recorded yet.
  bool IsEmpty() const { return lines_.empty() && !refusedSince_ && !complete_; }
  bool IsComplete() const { return complete_; }

  std::optional<double> RefusedSince() const { return refusedSince_; }
  void SetRefusedSince(std::optional<double> days) { refusedSince_ = days; }

  // Replaces the progress file atomically. Throws orvex::Error with the system's reason when it
  // cannot; the record is then kept in memory (see above).
  void Save() const;
  // Removes the progress file (after its message file is gone).
  void Remove() const;

 private:
  explicit DeliveryProgress(std::string path) : path_(std::move(path)) {}

  std::string path_;
  std::vector<std::string> lines_;        // "Sent ..." and "Refused ..." in the order marked
  std::unordered_set<std::string> done_;  // their addresses in lower case
  std::size_t sentCount_ = 0;
  std::optional<double> refusedSince_;
  bool complete_ = false;
};

}  // namespace orvex
