// TAccount: one list for one visit of the service's main loop -- its settings file and its
// subscriber, pending and signature stores, with the subscriber questions the stages ask.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "store/IniFile.h"
#include "store/NameValueList.h"

namespace orvex {

// The stores of a list folder that inbox processing keeps itself: the bounce counts, and the
// Message-IDs of the posts distributed within the last `Days` days.
inline constexpr std::string_view kBounceStoreFileName = "bounces.ini";
inline constexpr std::string_view kDistributedStoreFileName = "distributed.ini";

enum SubscriberFlag : std::uint8_t {
  sfMember = 1,
  sfPostingDisabled = 2,
  sfPaused = 4,
  sfDigest = 8
};

// The flag bits of a subscriber entry's value: sfMember, plus a bit for each of the letters
// "b", "p" and "d" in its first item.
std::uint8_t FlagsOfEntryValue(std::string_view value);

// Adds a subscriber (or replaces its entry): flags empty, then the password. A password that
// holds a blank, comma or quote is quoted so that it reads back whole.
void AddSubscriber(NameValueList& subscribers, std::string_view address, std::string_view password);

// `LastChecked` and the due test on a settings file alone, so that a list that is not due
// costs no more than reading its maillist.ini.
double LastCheckedOf(const IniFile& config);
long long CheckIntervalOf(const IniFile& config);  // minutes, default 10
bool IsListDue(const IniFile& config, const LocalDateTime& now);
// Due when the interval is not greater than the minutes since `lastChecked` (days since
// 30 December 1899); an interval of 0 or less, or a `lastChecked` in the future, is due.
bool IsDueAt(double lastChecked, long long checkInterval, const LocalDateTime& now);

class TAccount {
 public:
  TAccount();
  ~TAccount();  // never writes, never throws
  TAccount(const TAccount&) = delete;
  TAccount& operator=(const TAccount&) = delete;

  // `listDirectory` ends with "/". Opens maillist.ini and loads the three stores; a missing
  // store is empty. A store that exists but cannot be read (this one or one that inbox
  // processing loads later) raises "Cannot read <path>: <reason>": the visit must end there,
  // because an empty list saved in its place would lose every entry.
  void Load(const std::string& listDirectory);
  // Writes subscribers.ini, pending.ini and signatures.ini in this order, each replaced
  // atomically with its lines, each followed by CR LF. Raises "Cannot create file <path>" when
  // one cannot be written; the ones before it are written, the later ones not.
  void Save();

  const std::string& ListDir() const { return listDir_; }
  IniFile& Config() { return config_; }
  const IniFile& Config() const { return config_; }
  NameValueList& Subscribers() { return subscribers_; }
  const NameValueList& Subscribers() const { return subscribers_; }
  NameValueList& Pending() { return pending_; }
  const NameValueList& Pending() const { return pending_; }
  NameValueList& Signatures() { return signatures_; }
  const NameValueList& Signatures() const { return signatures_; }

  // 0 for an address without an entry (the name compares without regard to case).
  std::uint8_t SubscriberFlags(std::string_view address) const;
  // The second item of the address's entry; empty when there is none.
  std::string SubscriberPassword(std::string_view address) const;
  // Empties `target`, then appends, in the order of the store, the address of every entry whose
  // flags share a bit with `include` and none with `exclude`. An address stored twice (in any
  // letter case) is selected once, by its first entry, so nobody gets a message twice.
  void SelectSubscribers(NameValueList& target, std::uint8_t include, std::uint8_t exclude) const;
  // Adds or removes a flag letter in the first item of the address's entry, in place and with
  // the stored spelling of the address; other items are kept. An address without an entry is
  // left alone (setting a flag must not subscribe it).
  void SetSubscriberFlag(std::string_view address, char letter);
  void ClearSubscriberFlag(std::string_view address, char letter);

  // `LastChecked` of section General in the locale's date-time form, as days since 30 December
  // 1899; 0 when it is missing or unreadable.
  double LastChecked() const;
  void WriteLastChecked(const LocalDateTime& now);

 private:
  enum class FlagChange { Set, Clear };
  void ChangeSubscriberFlag(std::string_view address, char letter, FlagChange change);

  std::string listDir_;
  IniFile config_;
  NameValueList signatures_;
  NameValueList subscribers_;
  NameValueList pending_;
};

}  // namespace orvex
