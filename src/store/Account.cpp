// The list object: loading and saving the stores, subscriber flags and the due test.
#include "store/Account.h"

#include <cmath>
#include <limits>
#include <unordered_set>

#include "platform/FileSystem.h"

namespace orvex {
namespace {

constexpr const char* kStoreFiles[3] = {"subscribers.ini", "pending.ini", "signatures.ini"};

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

std::uint8_t FlagsOfEntryValue(std::string_view value) {
  const std::string flags = CommaItem(value, 0);
  std::uint8_t result = sfMember;
  if (flags.find('b') != std::string::npos) result |= sfPostingDisabled;
  if (flags.find('p') != std::string::npos) result |= sfPaused;
  if (flags.find('d') != std::string::npos) result |= sfDigest;
  return result;
}

void AddSubscriber(NameValueList& subscribers, std::string_view address,
                   std::string_view password) {
  subscribers.SetValue(address, WriteCommaList({std::string(), std::string(password)}));
}

TAccount::TAccount() : config_(IniFile::FromText({})) {}

TAccount::~TAccount() = default;

void TAccount::Load(const std::string& listDirectory) {
  listDir_ = listDirectory;
  config_ = IniFile(listDir_ + "maillist.ini", FileMode::Private);
  signatures_.LoadStoreFile(listDir_ + kStoreFiles[2]);
  subscribers_.LoadStoreFile(listDir_ + kStoreFiles[0]);
  pending_.LoadStoreFile(listDir_ + kStoreFiles[1]);
  // The stores that inbox processing loads itself are checked now, so that a visit that could
  // not finish ends before retrieval has fetched anything.
  for (const std::string_view file : {kBounceStoreFileName, kDistributedStoreFileName}) {
    NameValueList check;
    check.LoadStoreFile(listDir_ + std::string(file));
  }
}

void TAccount::Save() {
  const NameValueList* lists[3] = {&subscribers_, &pending_, &signatures_};
  for (int i = 0; i < 3; ++i) {
    // Subscriber lines carry passwords.
    ReplaceFileAtomically(listDir_ + kStoreFiles[i], lists[i]->Text(), FileMode::Private);
  }
}

std::uint8_t TAccount::SubscriberFlags(std::string_view address) const {
  const std::size_t i = subscribers_.IndexOfName(address);
  return i == NameValueList::npos ? 0 : FlagsOfEntryValue(subscribers_.ValueAt(i));
}

std::string TAccount::SubscriberPassword(std::string_view address) const {
  return CommaItem(subscribers_.Value(address), 1);
}

void TAccount::SelectSubscribers(NameValueList& target, std::uint8_t include,
                                 std::uint8_t exclude) const {
  target.Clear();
  std::unordered_set<std::string> seen;
  for (std::size_t i = 0; i < subscribers_.Count(); ++i) {
    const std::string& line = subscribers_.Lines()[i];
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;  // no address on this line
    std::string address = line.substr(0, eq);
    if (!seen.insert(LowerAscii(address)).second) continue;
    const std::uint8_t flags = FlagsOfEntryValue(std::string_view(line).substr(eq + 1));
    if ((flags & exclude) == 0 && (flags & include) != 0) target.Append(std::move(address));
  }
}

void TAccount::SetSubscriberFlag(std::string_view address, char letter) {
  ChangeSubscriberFlag(address, letter, FlagChange::Set);
}

void TAccount::ClearSubscriberFlag(std::string_view address, char letter) {
  ChangeSubscriberFlag(address, letter, FlagChange::Clear);
}

void TAccount::ChangeSubscriberFlag(std::string_view address, char letter, FlagChange change) {
  const std::size_t i = subscribers_.IndexOfName(address);
  if (i == NameValueList::npos) return;
  std::vector<std::string> items = ReadCommaList(subscribers_.ValueAt(i));
  if (items.empty()) items.emplace_back();
  std::string& flags = items[0];
  if (change == FlagChange::Set) {
    if (flags.find(letter) == std::string::npos) flags += letter;
  } else {
    std::erase(flags, letter);
  }
  subscribers_.Lines()[i] = subscribers_.NameAt(i) + "=" + WriteCommaList(items);
}

double LastCheckedOf(const IniFile& config) {
  const auto time = ParseLocaleDateTime(config.ReadString("General", "LastChecked", ""));
  return time ? ToDays(*time) : 0.0;
}

bool IsDueAt(double lastChecked, long long checkInterval, const LocalDateTime& now) {
  if (checkInterval <= 0) return true;
  // Whole milliseconds, so that exactly `interval` minutes is not missed by a rounding error.
  const long long elapsed = std::llround((ToDays(now) - lastChecked) * 86400000.0);
  if (elapsed < 0) return true;
  if (checkInterval > std::numeric_limits<long long>::max() / 60000) return false;
  return checkInterval * 60000 <= elapsed;
}

long long CheckIntervalOf(const IniFile& config) {
  return config.ReadInteger("General", "CheckInterval", 10);
}

bool IsListDue(const IniFile& config, const LocalDateTime& now) {
  return IsDueAt(LastCheckedOf(config), CheckIntervalOf(config), now);
}

double TAccount::LastChecked() const {
  return LastCheckedOf(config_);
}

void TAccount::WriteLastChecked(const LocalDateTime& now) {
  config_.WriteString("General", "LastChecked", FormatLocaleDateTime(now));
}

}  // namespace orvex
