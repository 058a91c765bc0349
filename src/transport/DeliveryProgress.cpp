// Reading and writing the progress file of one Outbox file.
#include "transport/DeliveryProgress.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "store/NameValueList.h"

namespace orvex {
namespace {

constexpr std::string_view kSent = "Sent ";
constexpr std::string_view kRefused = "Refused ";
constexpr std::string_view kRefusedSince = "RefusedSince ";

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
  if (!FileExists(progress.path_)) return progress;
  const auto content = ReadWholeFile(progress.path_);
  if (!content || content->size() > kMaximumFileSize)
    throw Error("Cannot read file " + progress.path_);
  for (const std::string& line : SplitLines(*content)) {
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
    }
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
  ReplaceFileAtomically(path_, text);
}

void DeliveryProgress::Remove() const {
  RemoveFile(path_);
}

}  // namespace orvex
