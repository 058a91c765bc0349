// The name=value line list: the in-memory form of the stores and of a message's header fields.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace orvex {

// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// An ordered list of lines. A line's name is its text before the first "=", its value the text
// after it; a line without "=" has no name (and is kept as it is).
class NameValueList {
 public:
  NameValueList() = default;
  explicit NameValueList(std::vector<std::string> lines) : lines_(std::move(lines)) {}

  // Position of the first line whose name equals `name` (ignoring case), or npos.
  std::size_t IndexOfName(std::string_view name) const;
  bool Contains(std::string_view name) const { return IndexOfName(name) != npos; }
  // The value of that line; empty when there is none.
  std::string Value(std::string_view name) const;
  // Non-empty: replaces the line found in place, or appends one. Empty: deletes the line found.
  void SetValue(std::string_view name, std::string_view value);

  std::string NameAt(std::size_t index) const;
  std::string ValueAt(std::size_t index) const;
  void Delete(std::size_t index);
  void Append(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  std::size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }

  const std::vector<std::string>& Lines() const { return lines_; }
  std::vector<std::string>& Lines() { return lines_; }

  // Missing or unreadable file: the list is empty (no error).
  void LoadFromFile(const std::string& path);
  // For a store: a missing file is an empty list, but a file that exists and cannot be read (or
  // something else in its place: a directory, a link, a FIFO) throws orvex::Error naming the
  // file and the reason -- taking it for an empty store would lose what it holds.
  void LoadStoreFile(const std::string& path);
  void LoadFromText(std::string_view text);
  std::string Text() const { return JoinLines(lines_); }

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  std::vector<std::string> lines_;
};

// Comma lists: the form of every value in the stores.
std::vector<std::string> ReadCommaList(std::string_view text);
std::string WriteCommaList(const std::vector<std::string>& items);
// The n-th item (0-based); empty when the list has fewer items.
std::string CommaItem(std::string_view text, std::size_t index);

// The largest store file that is read.
inline constexpr std::size_t kMaximumStoreBytes = std::size_t{1} << 30;

}  // namespace orvex
