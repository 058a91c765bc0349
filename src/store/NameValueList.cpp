// Line splitting, the name=value list and the comma-list reading and writing rules.
#include "store/NameValueList.h"

#include <stdexcept>

#include "platform/Error.h"
#include "platform/FileSystem.h"

namespace orvex {
namespace {

bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

bool EndsItem(char c) {
  return static_cast<unsigned char>(c) <= 32 || c == ',';
}

}  // namespace

std::string JoinLines(const std::vector<std::string>& lines) {
  size_t size = 0;
  for (const auto& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::size_t NameValueList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& line = lines_[i];
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (EqualsIgnoreCase(std::string_view(line).substr(0, eq), name)) return i;
  }
  return npos;
}

std::string NameValueList::Value(std::string_view name) const {
  const size_t i = IndexOfName(name);
  return i == npos ? std::string() : ValueAt(i);
}

void NameValueList::SetValue(std::string_view name, std::string_view value) {
  const size_t i = IndexOfName(name);
  if (value.empty()) {
    if (i != npos) Delete(i);
    return;
  }
  std::string line;
  line.reserve(name.size() + 1 + value.size());
  line.append(name).append("=").append(value);
  if (i != npos)
    lines_[i] = std::move(line);
  else
    lines_.push_back(std::move(line));
}

std::string NameValueList::NameAt(std::size_t index) const {
  const std::string& line = lines_.at(index);
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string NameValueList::ValueAt(std::size_t index) const {
  const std::string& line = lines_.at(index);
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

void NameValueList::Delete(std::size_t index) {
  if (index >= lines_.size()) throw std::out_of_range("NameValueList::Delete");
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
}

void NameValueList::LoadFromFile(const std::string& path) {
  const auto content = ReadWholeFile(path);
  lines_ = content ? SplitLines(*content) : std::vector<std::string>{};
}

void NameValueList::LoadStoreFile(const std::string& path) {
  RegularFileRead read = ReadRegularFile(path, kMaximumStoreBytes);
  switch (read.outcome) {
    case RegularFileRead::Outcome::Read:
      lines_ = SplitLines(read.content);
      return;
    case RegularFileRead::Outcome::Missing:
      lines_.clear();
      return;
    case RegularFileRead::Outcome::NotRegular:
      throw Error("Cannot read " + path + ": not a regular file");
    case RegularFileRead::Outcome::TooLarge:
      throw Error("Cannot read " + path + ": larger than " + std::to_string(kMaximumStoreBytes) +
                  " bytes");
    case RegularFileRead::Outcome::Failed:
      break;
  }
  throw SystemError("Cannot read " + path, read.error);
}

void NameValueList::LoadFromText(std::string_view text) {
  lines_ = SplitLines(text);
}

std::vector<std::string> ReadCommaList(std::string_view text) {
  std::vector<std::string> items;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      while (i < n && !EndsItem(text[i])) item += text[i++];
    }
    items.push_back(std::move(item));
    while (i < n && IsBlank(text[i])) ++i;
    if (i < n && text[i] == ',') {
      ++i;
      while (i < n && IsBlank(text[i])) ++i;
    } else if (i < n && static_cast<unsigned char>(text[i]) == 0) {
      ++i;  // a NUL byte ends nothing and starts nothing; step over it so reading ends
    }
  }
  return items;
}

std::string WriteCommaList(const std::vector<std::string>& items) {
  if (items.size() == 1 && items[0].empty()) return "\"\"";
  std::string text;
  for (size_t k = 0; k < items.size(); ++k) {
    if (k > 0) text += ',';
    const std::string& item = items[k];
    bool quote = false;
    for (char c : item)
      if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') quote = true;
    if (!quote) {
      text += item;
      continue;
    }
    text += '"';
    for (char c : item) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

std::string CommaItem(std::string_view text, std::size_t index) {
  const auto items = ReadCommaList(text);
  return index < items.size() ? items[index] : std::string();
}

}  // namespace orvex
