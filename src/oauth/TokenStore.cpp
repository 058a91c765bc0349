// oauth.ini: read bounded from a regular file, written whole by atomic replacement.
#include "oauth/TokenStore.h"

#include <charconv>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace orvex {
namespace {

constexpr const char* kRefresh = "RefreshToken";
constexpr const char* kAccess = "AccessToken";
constexpr const char* kExpires = "AccessTokenExpires";

long long ParseSeconds(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

TokenStore::TokenStore(const std::string& listDirectory) : path_(listDirectory + kTokenFile) {
  const RegularFileRead read = ReadRegularFile(path_, kMaximumFileSize);
  switch (read.outcome) {
    case RegularFileRead::Outcome::Missing:
      return;
    case RegularFileRead::Outcome::Read:
      break;
    case RegularFileRead::Outcome::NotRegular:
      throw Error("Cannot read " + path_ + ": not a regular file");
    case RegularFileRead::Outcome::TooLarge:
      throw Error("Cannot read " + path_ + ": larger than " + std::to_string(kMaximumFileSize) +
                  " bytes");
    case RegularFileRead::Outcome::Failed:
      throw SystemError("Cannot read " + path_, read.error);
  }
  Entry* current = nullptr;
  for (const std::string& raw : SplitLines(read.content, EmptyLines::Drop)) {
    const std::string_view line = Trim(raw, Blanks::Spaces);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      const std::string account(line.substr(1, line.size() - 2));
      current = nullptr;
      for (Entry& entry : entries_)
        if (entry.account == account) current = &entry;
      if (current == nullptr) current = &entries_.emplace_back(Entry{account, {}});
      continue;
    }
    const auto equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals), Blanks::Spaces);
    const std::string_view value = Trim(line.substr(equals + 1), Blanks::Spaces);
    if (EqualsIgnoreCase(key, kRefresh))
      current->tokens.refreshToken = value;
    else if (EqualsIgnoreCase(key, kAccess))
      current->tokens.accessToken = value;
    else if (EqualsIgnoreCase(key, kExpires))
      current->tokens.accessTokenExpires = ParseSeconds(value);
  }
}

std::optional<StoredTokens> TokenStore::Find(const std::string& account) const {
  for (const Entry& entry : entries_)
    if (entry.account == account &&
        !(entry.tokens.refreshToken.empty() && entry.tokens.accessToken.empty()))
      return entry.tokens;
  return std::nullopt;
}

void TokenStore::Put(const std::string& account, const StoredTokens& tokens) {
  // A name or token with a line break or "]" would change other entries when read back.
  const auto unsafe = [](std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
  };
  if (account.empty() || unsafe(account) || account.find(']') != std::string::npos ||
      Trim(account, Blanks::Spaces) != account || unsafe(tokens.refreshToken) ||
      unsafe(tokens.accessToken))
    throw Error("Unable to write to " + path_ + ": an account name or token it cannot hold");
  for (Entry& entry : entries_)
    if (entry.account == account) {
      entry.tokens = tokens;
      return;
    }
  entries_.push_back({account, tokens});
}

std::vector<std::string> TokenStore::Accounts() const {
  std::vector<std::string> accounts;
  for (const Entry& entry : entries_) accounts.push_back(entry.account);
  return accounts;
}

void TokenStore::Save() const {
  std::string text;
  for (const Entry& entry : entries_) {
    text += "[" + entry.account + "]\r\n";
    text += std::string(kRefresh) + "=" + entry.tokens.refreshToken + "\r\n";
    text += std::string(kAccess) + "=" + entry.tokens.accessToken + "\r\n";
    text +=
        std::string(kExpires) + "=" + std::to_string(entry.tokens.accessTokenExpires) + "\r\n\r\n";
  }
  ReplaceFileAtomically(path_, text, FileMode::Private, "Unable to write to " + path_);
}

}  // namespace orvex
