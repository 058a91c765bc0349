// Reading and writing the progress file of one Outbox file.
#include "transport/DeliveryProgress.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "store/NameValueList.h"

namespace orvex {
namespace {

constexpr std::string_view kSent = "Sent ";
constexpr std::string_view kRefused = "Refused ";
constexpr std::string_view kRefusedSince = "RefusedSince ";
constexpr std::string_view kComplete = "Complete";

// Records that could not be written, by progress file path (see the header).
std::map<std::string, DeliveryProgress>& Unsaved() {
  static std::map<std::string, DeliveryProgress> records;
  return records;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
  });
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

DeliveryProgress DeliveryProgress::Load(const std::string& messagePath) {
  DeliveryProgress progress(PathFor(messagePath));
  const RegularFileRead read = ReadRegularFile(progress.path_, kMaximumFileSize);
  using Outcome = RegularFileRead::Outcome;
  if (read.outcome != Outcome::Read && read.outcome != Outcome::Missing)
    throw Error("Cannot read file " + progress.path_ + ": " +
                (read.outcome == Outcome::NotRegular ? std::string("not a regular file")
                 : read.outcome == Outcome::TooLarge ? std::string("too large")
                                                     : std::string(std::strerror(read.error))));
  for (const std::string& line : SplitLines(read.content)) {
    if (StartsWith(line, kSent) && line.size() > kSent.size()) {
      progress.MarkSent(line.substr(kSent.size()));
    } else if (StartsWith(line, kRefused) && line.size() > kRefused.size()) {
      progress.MarkRefused(line.substr(kRefused.size()));
    } else if (StartsWith(line, kRefusedSince)) {
      double days = 0;
      const char* first = line.data() + kRefusedSince.size();
      const char* last = line.data() + line.size();
      const auto [end, error] = std::from_chars(first, last, days);
      if (error == std::errc() && end == last) progress.refusedSince_ = days;
    } else if (line == kComplete) {
      progress.complete_ = true;
    }
  }
  const auto unsaved = Unsaved().find(progress.path_);
  if (unsaved != Unsaved().end()) {
    const DeliveryProgress& memory = unsaved->second;
    for (const std::string& line : memory.lines_) {
      if (StartsWith(line, kSent)) progress.MarkSent(line.substr(kSent.size()));
      if (StartsWith(line, kRefused)) progress.MarkRefused(line.substr(kRefused.size()));
    }
    if (memory.refusedSince_) progress.refusedSince_ = memory.refusedSince_;
    progress.complete_ = progress.complete_ || memory.complete_;
  }
  return progress;
}

bool DeliveryProgress::IsDone(std::string_view address) const {
  return done_.count(Lower(address)) != 0;
}

std::vector<std::string> DeliveryProgress::Waiting(
    const std::vector<std::string>& selection) const {
  if (done_.empty()) return selection;
  std::vector<std::string> waiting;
  for (const auto& address : selection)
    if (!IsDone(address)) waiting.push_back(address);
  return waiting;
}

void DeliveryProgress::MarkSent(const std::string& address) {
  if (!done_.insert(Lower(address)).second) return;
  lines_.push_back(std::string(kSent) + address);
  ++sentCount_;
}

void DeliveryProgress::MarkRefused(const std::string& address) {
  if (!done_.insert(Lower(address)).second) return;
  lines_.push_back(std::string(kRefused) + address);
}

void DeliveryProgress::Save() const {
  std::string text;
  if (refusedSince_) {
    char number[64];
    std::snprintf(number, sizeof number, "%.6f", *refusedSince_);
    text += std::string(kRefusedSince) + number + "\r\n";
  }
  text += JoinLines(lines_);
  if (complete_) text += std::string(kComplete) + "\r\n";
  try {
    ReplaceFileAtomically(path_, text);
  } catch (...) {
    Unsaved().insert_or_assign(path_, *this);
    throw;
  }
  Unsaved().erase(path_);
}

void DeliveryProgress::Remove() const {
  Unsaved().erase(path_);
  RemoveFile(path_);
}

}  // namespace orvex
