// The table of settings keys and the checks `list set` applies before anything is written.
#include "admin/SettingKeys.h"

#include <cctype>
#include <charconv>

#include "admin/AdminError.h"
#include "crypto/Passwords.h"
#include "platform/CertificateFingerprint.h"
#include "platform/Text.h"
#include "processing/Address.h"

namespace orvex::admin {
namespace {

constexpr long long kMaximumMailboxes = 1000;

KeyInfo General(std::string key, KeyType type, std::string def = {}, long long minimum = 0,
                long long maximum = 0) {
  return {"General", std::move(key), type, minimum, maximum, std::move(def)};
}

KeyInfo Choice(std::string key, std::vector<std::string> choices, std::string def) {
  return {"General", std::move(key), KeyType::Choice, 0, 0, std::move(def), std::move(choices)};
}

// How a server account signs in (SmtpAuthMethod, Pop3AuthMethod<n>).
KeyInfo AuthMethodKey(std::string key) {
  return Choice(std::move(key), {"password", "oauth2"}, "password");
}

std::optional<long long> ParseInteger(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

}  // namespace

const std::vector<KeyInfo>& GeneralKeys() {
  static const std::vector<KeyInfo> keys = {
      General("Name", KeyType::Text),
      General("Address", KeyType::Address),
      General("ControlAddress", KeyType::Address),
      General("Moderator", KeyType::Address),
      General("From", KeyType::Address),
      General("SMTPHOST", KeyType::Text),
      General("SMTPPort", KeyType::Integer, "25", 1, 65535),
      General("SMTPUser", KeyType::Text),
      General("SMTPPassword", KeyType::Password),
      General("SmtpSecurity", KeyType::Integer, "0", 0, 2),
      General("SmtpTlsFingerprint", KeyType::Fingerprint),
      AuthMethodKey("SmtpAuthMethod"),
      Choice("OAuthProvider", {"google", "microsoft", "custom"}, "custom"),
      General("OAuthClientId", KeyType::Text),
      General("OAuthClientSecret", KeyType::Password),
      General("OAuthTenant", KeyType::Text, "common"),
      General("OAuthAuthorizeUrl", KeyType::HttpsUrl),
      General("OAuthTokenUrl", KeyType::HttpsUrl),
      General("OAuthDeviceUrl", KeyType::HttpsUrl),
      General("OAuthScope", KeyType::Text),
      General("CheckInterval", KeyType::Integer, "10", 0, 527040),
      General("LastChecked", KeyType::LastChecked),
      General("Pop3Count", KeyType::Integer, "1", 0, kMaximumMailboxes),
      General("Confirm subscription", KeyType::Boolean, "1"),
      General("Moderate Subscription", KeyType::Boolean, "0"),
      General("Moderated", KeyType::Boolean, "0"),
      General("Nonsubscribers", KeyType::Integer, "0", 0, 2),
      General("Digest mode", KeyType::Integer, "1", 1, 3),
      General("DigestCount", KeyType::Integer, "20", 1, 100000),
      General("Days", KeyType::Integer, "7", 1, 3650),
      General("MaxRecipients", KeyType::Integer, "0", 0, 1000000),
      General("MaxRecipientsPerDay", KeyType::Integer, "0", 0, 100000000),
      General("ListHeaders", KeyType::Boolean, "0"),
      General("BounceLimit", KeyType::Integer, "0", 0, 100000),
      General("FromRewrite", KeyType::Integer, "0", 0, 2),
      General("Send to originator", KeyType::Boolean, "0"),
      General("KeepDays", KeyType::Integer, "10", 0, 36500),
      General("Keep", KeyType::Boolean, "0"),
  };
  return keys;
}

std::vector<KeyInfo> MailboxKeys(long long number) {
  const std::string n = std::to_string(number);
  return {
      General("Pop3Host" + n, KeyType::Text),
      General("Pop3Port" + n, KeyType::Integer, "110", 1, 65535),
      General("Name" + n, KeyType::Text),
      General("Password" + n, KeyType::Password),
      General("Pop3Security" + n, KeyType::Integer, "0", 0, 2),
      General("Pop3TlsFingerprint" + n, KeyType::Fingerprint),
      AuthMethodKey("Pop3AuthMethod" + n),
  };
}

const std::vector<NoticeSection>& NoticeSections() {
  static const std::vector<NoticeSection> sections = {
      {"Signature", false},
      {"Subscribe confirmation", true},
      {"Subscribe successfull", true},
      {"unSubscribe successfull", true},
      {"Unsubscribe confirmation", true},
      {"Digest on", true},
      {"Digest off", true},
      {"Paused", true},
      {"Resumed", true},
      {"Bounce pause", true},
      {"Nonsubscriber", true},
      {"Moderate", true},
      {"NS-Moderate", true},
      {"Subscription request", true},
      {"Post rejected", true},
      {"Digest", true},
      {"Digest message", false},
  };
  return sections;
}

std::optional<KeyInfo> FindKey(std::string_view name) {
  const auto slash = name.rfind('/');
  if (slash != std::string_view::npos) {
    const std::string_view section = name.substr(0, slash);
    const std::string_view key = name.substr(slash + 1);
    for (const NoticeSection& notice : NoticeSections()) {
      if (!EqualsIgnoreCase(notice.name, section)) continue;
      if (EqualsIgnoreCase(key, "Text"))
        return KeyInfo{notice.name, "Text", KeyType::NoticeText, 0, 0, {}};
      if (notice.hasSubject && EqualsIgnoreCase(key, "Subject"))
        return KeyInfo{notice.name, "Subject", KeyType::Text, 0, 0, {}};
    }
    return {};
  }
  for (const KeyInfo& key : GeneralKeys())
    if (EqualsIgnoreCase(key.key, name)) return key;
  // Mailbox keys: a known stem, then 1 to 1000 without leading zeros.
  std::size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  if (digits == name.size() || name[digits] == '0') return {};
  const auto number = ParseInteger(name.substr(digits));
  if (!number || *number < 1 || *number > kMaximumMailboxes) return {};
  for (const KeyInfo& key : MailboxKeys(*number))
    if (EqualsIgnoreCase(key.key, name)) return key;
  return {};
}

std::string DisplayName(const KeyInfo& key) {
  return key.section == "General" ? key.key : key.section + "/" + key.key;
}

std::string CheckedValue(const KeyInfo& key, std::string_view value) {
  const std::string name = DisplayName(key);
  auto refuse = [&](const std::string& what) -> AdminError {
    // The value as typed, its line breaks shown as \n, so that the message stays one line.
    std::string shown;
    for (const char c : value.substr(0, 200)) {
      if (c == '\n' || c == '\r')
        shown += c == '\n' ? "\\n" : "\\r";
      else
        shown += c;
    }
    return AdminError("The value \"" + shown + "\" does not fit " + name + ": " + what + ".");
  };
  const bool lineBreak = value.find_first_of("\r\n") != std::string_view::npos;
  if (value.find('\0') != std::string_view::npos) throw refuse("it holds a NUL character");
  switch (key.type) {
    case KeyType::Text:
      if (lineBreak) throw refuse("give it on one line");
      return std::string(value);
    case KeyType::Address: {
      if (TrimBlanks(value).empty()) return {};
      if (!StorableAddress(ExtractAddress(value)))
        throw refuse("give one address without blanks or \"=\"");
      return std::string(TrimBlanks(value));
    }
    case KeyType::Integer: {
      const auto number = ParseInteger(value);
      if (!number)
        throw refuse("give a whole number from " + std::to_string(key.minimum) + " to " +
                     std::to_string(key.maximum));
      if (*number < key.minimum || *number > key.maximum)
        throw refuse("it must lie from " + std::to_string(key.minimum) + " to " +
                     std::to_string(key.maximum));
      return std::to_string(*number);
    }
    case KeyType::Boolean: {
      const std::string_view v = TrimBlanks(value);
      for (const char* yes : {"1", "on", "yes", "true"})
        if (EqualsIgnoreCase(v, yes)) return "1";
      for (const char* no : {"0", "off", "no", "false"})
        if (EqualsIgnoreCase(v, no)) return "0";
      throw refuse("give on or off (1 or 0)");
    }
    case KeyType::Password: {
      if (lineBreak) throw refuse("give it on one line");
      if (value.empty()) return {};
      std::string text = EncipherPassword(value);
      if (text.empty()) throw AdminError("The password could not be enciphered.");
      return text;
    }
    case KeyType::Fingerprint: {
      const std::string_view v = TrimBlanks(value);
      if (!ParseFingerprint(v))
        throw refuse("give the 64 hexadecimal digits of a SHA-256 fingerprint, or nothing");
      return std::string(v);
    }
    case KeyType::LastChecked:
      if (!value.empty())
        throw refuse("the service writes it; only an empty value (due at once) can be set");
      return {};
    case KeyType::NoticeText:
      return std::string(value);  // the line breaks are written as "\13\10"
    case KeyType::Choice: {
      const std::string_view v = TrimBlanks(value);
      if (v.empty()) return {};
      std::string listed;
      for (const std::string& choice : key.choices) {
        if (EqualsIgnoreCase(v, choice)) return choice;
        listed += (listed.empty() ? "" : ", ") + choice;
      }
      throw refuse("give one of " + listed);
    }
    case KeyType::HttpsUrl: {
      const std::string_view v = TrimBlanks(value);
      if (v.empty()) return {};
      const bool blank = v.find_first_of(" \t\r\n") != std::string_view::npos;
      if (blank || v.size() <= 8 || !EqualsIgnoreCase(v.substr(0, 8), "https://"))
        throw refuse("give an https:// address without blanks, or nothing");
      return std::string(v);
    }
  }
  return std::string(value);
}

}  // namespace orvex::admin
