// The keys `list show` shows and `list set` accepts, with their types, ranges and defaults.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::admin {

enum class KeyType {
  Text,
  Address,      // empty, or an address the stores could hold
  Integer,      // within [minimum, maximum]
  Boolean,      // stored as 0 or 1
  Password,     // stored enciphered; set only through standard input
  Fingerprint,  // empty, or 64 hexadecimal digits, all together or with ":" between every pair
  LastChecked,  // written by the service; may only be emptied (the list is then due at once)
  NoticeText,   // a notice text, stored with its line breaks as "\13\10"
  Choice,       // one of `choices` (any letter case, stored as listed), or empty for the default
  HttpsUrl,     // empty, or an https:// address without blanks
};

struct KeyInfo {
  std::string section;  // "General" or a notice section
  std::string key;      // the spelling written to the file
  KeyType type = KeyType::Text;
  long long minimum = 0, maximum = 0;
  std::string defaultValue;               // what the service takes when the key is absent
  std::vector<std::string> choices = {};  // with KeyType::Choice
};

// The keys of section General, in the order `list show` gives them; the numbered keys of POP3
// mailboxes (Pop3Host<n> ...) are not among them (see FindKey).
const std::vector<KeyInfo>& GeneralKeys();
// The keys of mailbox n (1-based).
std::vector<KeyInfo> MailboxKeys(long long number);
// The notice sections, in the order `list show` gives them, and whether each has a subject.
struct NoticeSection {
  std::string name;
  bool hasSubject;
};
const std::vector<NoticeSection>& NoticeSections();

// A key as the operator names it: a key of General (any letter case; "Pop3Host2" and the like
// for mailboxes 1 to 1000), or "<notice section>/Subject" or "<notice section>/Text". Nothing for
// an unknown key.
std::optional<KeyInfo> FindKey(std::string_view name);

// The value to store for `value`, or throws AdminError saying what the key accepts. Password keys
// are enciphered here.
std::string CheckedValue(const KeyInfo& key, std::string_view value);

// "Section/Key" for notice keys, the bare key for General.
std::string DisplayName(const KeyInfo& key);

}  // namespace orvex::admin
