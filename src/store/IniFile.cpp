// Profile files kept as their lines (with each line's own line end), indexed by section and key;
// the changes made are kept apart so that Save() can apply them to the file as it is then.
#include "store/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "platform/Text.h"

namespace orvex {
namespace {

// Blanks within a line: a CR or LF is no blank here (a key may not hold one).
bool IsSpace(char c) {
  return IsBlank(c, Blanks::Spaces);
}

std::string_view Trim(std::string_view s) {
  return Trim(s, Blanks::Spaces);
}

std::string Lower(std::string_view s) {
  return LowerCase(s);
}

enum class LineKind { Other, Section, Key };

struct Classified {
  LineKind kind = LineKind::Other;
  std::string_view name;  // section name or key, trimmed
};

Classified Classify(std::string_view text) {
  std::size_t p = 0;
  while (p < text.size() && IsSpace(text[p])) ++p;
  if (p == text.size() || text[p] == ';') return {};
  if (text[p] == '[') {
    const std::size_t close = text.rfind(']');
    if (close != std::string_view::npos && close > p)
      return {LineKind::Section, Trim(text.substr(p + 1, close - p - 1))};
  }
  const std::size_t eq = text.find('=', p);
  if (eq == std::string_view::npos) return {};
  const std::string_view key = Trim(text.substr(p, eq - p));
  if (key.empty()) return {};
  return {LineKind::Key, key};
}

bool HasAny(std::string_view s, std::string_view characters) {
  return s.find_first_of(characters) != std::string_view::npos;
}

constexpr std::string_view kLineBreakOrNul("\r\n\0", 3);

// Sign, then decimal digits or "$"/"0x"/"0X" and hexadecimal digits; nothing else.
bool ParseInteger(std::string_view s, long long& out) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  unsigned base = 10;
  if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;
  const unsigned long long limit =
      static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + (negative ? 1 : 0);
  unsigned long long value = 0;
  for (char c : s) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (value > (limit - digit) / base) return false;
    value = value * base + digit;
  }
  out = negative ? static_cast<long long>(0ULL - value) : static_cast<long long>(value);
  return true;
}

struct SettingsRead {
  enum class Outcome { Missing, Whole, Truncated, Unreadable };
  Outcome outcome = Outcome::Whole;
  std::string content;  // at most IniFile::kMaximumFileSize bytes
  std::string failure;  // why it was not read whole
};

std::string TooLargeText() {
  return "larger than " + std::to_string(IniFile::kMaximumFileSize) + " bytes";
}

// Reads up to one byte past the limit: enough to tell a file that is too large. A FIFO in the
// file's place must not block the reader, and a directory or device is no settings file.
SettingsRead ReadSettingsFile(const std::string& path) {
  SettingsRead result;
  const auto fail = [&](std::string why) {
    result.outcome = SettingsRead::Outcome::Unreadable;
    result.failure = std::move(why);
    result.content.clear();
    return result;
  };
  if (const int fault = TakeFileFault(FileOperation::Read, path)) return fail(std::strerror(fault));
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      result.outcome = SettingsRead::Outcome::Missing;
      return result;
    }
    return fail(std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    return fail(std::strerror(error));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file");
  }
  char buffer[65536];
  while (result.content.size() <= IniFile::kMaximumFileSize) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return fail(std::strerror(error));
    }
    if (n == 0) break;
    result.content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (result.content.size() > IniFile::kMaximumFileSize) {
    result.content.resize(IniFile::kMaximumFileSize);
    result.outcome = SettingsRead::Outcome::Truncated;
    result.failure = TooLargeText();
  }
  return result;
}

std::string ChangeKey(std::string_view section, std::string_view key) {
  std::string text = Lower(section);
  text.push_back('\0');
  text.append(Lower(key));
  return text;
}

}  // namespace

IniFile::IniFile(std::string path, FileMode mode) : path_(std::move(path)), mode_(mode) {
  // Present but unreadable (or read in part) must not be overwritten by what little we know:
  // Save() reads the file again and refuses then.
  SettingsRead read = ReadSettingsFile(path_);
  unreadable_ = read.outcome == SettingsRead::Outcome::Unreadable;
  readFailure_ = std::move(read.failure);
  Parse(read.content, read.outcome == SettingsRead::Outcome::Truncated);
}

IniFile IniFile::FromText(std::string_view text) {
  IniFile file;
  file.Parse(text, false);
  return file;
}

void IniFile::Parse(std::string_view text, bool truncated) {
  lines_.clear();
  std::size_t start = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    const std::size_t endLength = (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
    lines_.push_back(
        {std::string(text.substr(start, i - start)), std::string(text.substr(i, endLength))});
    i += endLength - 1;
    start = i + 1;
  }
  // A cut-off last line would give a cut-off value; leave it out.
  if (start < n && !truncated) lines_.push_back({std::string(text.substr(start)), std::string()});
  Reindex();
}

void IniFile::Reindex() {
  sections_.clear();
  sectionIndex_.clear();
  Section* current = nullptr;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Classified line = Classify(lines_[i].text);
    if (line.kind == LineKind::Section) {
      auto [it, added] = sectionIndex_.try_emplace(Lower(line.name), sections_.size());
      if (added) sections_.push_back({std::string(line.name), {}, {}, {}});
      current = &sections_[it->second];
      current->headers.push_back(i);
    } else if (line.kind == LineKind::Key && current != nullptr) {
      if (current->keys.try_emplace(Lower(line.name), i).second)
        current->keyOrder.emplace_back(line.name);
    }
  }
}

const IniFile::Section* IniFile::FindSection(std::string_view section) const {
  const auto it = sectionIndex_.find(Lower(section));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const std::string* IniFile::FindValueLine(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return nullptr;
  const auto it = s->keys.find(Lower(key));
  return it == s->keys.end() ? nullptr : &lines_[it->second].text;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  const std::string* line = FindValueLine(section, key);
  if (line == nullptr) return std::string(def);
  std::string_view value(*line);
  value.remove_prefix(value.find('=') + 1);
  value = value.substr(0, value.find('\0'));
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, kMaximumValueLength));
}

long long IniFile::ReadInteger(std::string_view section, std::string_view key,
                               long long def) const {
  if (FindValueLine(section, key) == nullptr) return def;
  long long value = 0;
  return ParseInteger(ReadString(section, key, {}), value) ? value : def;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::size_t IniFile::InsertPosition(std::size_t header) const {
  std::size_t last = header;
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    if (Classify(lines_[i].text).kind == LineKind::Section) break;
    if (!Trim(lines_[i].text).empty()) last = i;
  }
  return last + 1;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const bool badSection = section.empty() || Trim(section) != section ||
                          HasAny(section, kLineBreakOrNul) || HasAny(section, "]") ||
                          section.front() == ';';
  const bool badKey = key.empty() || Trim(key) != key || HasAny(key, kLineBreakOrNul) ||
                      HasAny(key, "=") || key.front() == '[' || key.front() == ';';
  if (badSection || badKey || HasAny(value, kLineBreakOrNul)) FailWrite();
  Change change{std::string(section), std::string(key), false, std::string(value)};
  Apply(change);
  Record(std::move(change));
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  Change change{std::string(section), std::string(key), true, {}};
  Apply(change);
  Record(std::move(change));
}

void IniFile::Record(Change change) {
  const auto [it, added] =
      changeIndex_.try_emplace(ChangeKey(change.section, change.key), changes_.size());
  if (added) {
    changes_.push_back(std::move(change));
  } else {
    changes_[it->second].deleted = change.deleted;
    changes_[it->second].value = std::move(change.value);
  }
}

void IniFile::Apply(const Change& change) {
  const Section* s = FindSection(change.section);
  if (change.deleted) {
    if (s == nullptr) return;
    const std::string lowerKey = Lower(change.key);
    // Every occurrence: a later line of the same key would otherwise count in its place.
    std::vector<Line> kept;
    kept.reserve(lines_.size());
    bool inSection = false;
    for (Line& line : lines_) {
      const Classified c = Classify(line.text);
      if (c.kind == LineKind::Section) inSection = Lower(c.name) == Lower(s->name);
      if (inSection && c.kind == LineKind::Key && Lower(c.name) == lowerKey) continue;
      kept.push_back(std::move(line));
    }
    lines_ = std::move(kept);
    Reindex();
    return;
  }
  std::size_t existing = lines_.size();
  if (s != nullptr) {
    const auto it = s->keys.find(Lower(change.key));
    if (it != s->keys.end()) existing = it->second;
  }
  if (existing < lines_.size()) {
    std::string& text = lines_[existing].text;
    text.resize(text.find('=') + 1);
    text.append(change.value);
  } else {
    std::vector<Line> added;
    if (s == nullptr) {
      std::string header;
      header.append("[").append(change.section).append("]");
      added.push_back({std::move(header), "\r\n"});
    }
    std::string pair;
    pair.append(change.key).append("=").append(change.value);
    added.push_back({std::move(pair), "\r\n"});
    const std::size_t at = s == nullptr ? lines_.size() : InsertPosition(s->headers.front());
    if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = "\r\n";
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
  }
  Reindex();
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, long long value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::Save() {
  if (changes_.empty()) return;
  if (path_.empty()) {
    changes_.clear();
    changeIndex_.clear();
    return;
  }
  // What was written after a read that was not whole may rest on defaults that are not the
  // file's values: it must not replace them, even once the file can be read again.
  if (!readFailure_.empty()) throw Error("Unable to write to " + path_ + ": " + readFailure_);
  // Read, apply, replace: whatever else changed in the file since it was read stays as it is.
  const SettingsRead read = ReadSettingsFile(path_);
  if (read.outcome == SettingsRead::Outcome::Unreadable ||
      read.outcome == SettingsRead::Outcome::Truncated)
    throw Error("Unable to write to " + path_ + ": " + read.failure);
  IniFile merged;
  merged.Parse(read.content, false);
  for (const Change& change : changes_) merged.Apply(change);
  ReplaceFileAtomically(path_, merged.Text(), mode_, "Unable to write to " + path_);
  lines_ = std::move(merged.lines_);
  sections_ = std::move(merged.sections_);
  sectionIndex_ = std::move(merged.sectionIndex_);
  changes_.clear();
  changeIndex_.clear();
}

void IniFile::FailWrite() const {
  throw Error("Unable to write to " + path_ + ": a name or value the file cannot hold");
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  const Section* s = FindSection(section);
  return s == nullptr ? std::vector<std::string>{} : s->keyOrder;
}

std::string IniFile::Text() const {
  std::size_t size = 0;
  for (const Line& line : lines_) size += line.text.size() + line.end.size();
  std::string text;
  text.reserve(size);
  for (const Line& line : lines_) text.append(line.text).append(line.end);
  return text;
}

}  // namespace orvex
