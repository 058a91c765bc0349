// Profile (INI) files: sectioned key=value settings with the read and write rules that the
// service and the editor both rely on. Writes gather in memory; one Save() replaces the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/FileSystem.h"

namespace orvex {

// Reading rules: section and key names compare without regard to ASCII case; keys and values are
// trimmed of blanks; a value in a pair of double quotes comes without them; a value ends at a NUL
// byte and at most kMaximumValueLength characters of it arrive. Lines before the first section,
// lines without "=" and lines starting with ";" belong to no key. Of two keys of one name the
// first counts; two sections of one name read as one (keys looked up in file order).
//
// Writing rules: an existing key is rewritten where it stands (its text up to "=" and its line
// end stay), a new key goes after the last non-blank line of its section's first occurrence, a
// new section at the end of the file. No other byte of the file changes, except that a last line
// without a line end gets CR LF when a line is added after it. New lines end with CR LF.
class IniFile {
 public:
  // Values longer than this are cut on reading.
  static constexpr std::size_t kMaximumValueLength = 2047;
  // Only this much of a file is read; a file that is larger (or exists but cannot be read) is
  // never written, so that its unread part cannot be lost.
  static constexpr std::size_t kMaximumFileSize = 16 * 1024 * 1024;

  // Reads the file if it exists (missing: every key gives its default). The file is opened
  // without blocking and only when it is a regular file (or a link to one). Files created by
  // Save() get mode 0600 with FileMode::Private (the settings files can hold passwords).
  explicit IniFile(std::string path, FileMode mode = FileMode::Private);
  // In memory only; Save() does nothing.
  static IniFile FromText(std::string_view text);

  // The file exists but could not be read (no permission, a directory or FIFO in its place, an
  // I/O error): every key reads as its default, which says nothing about the real settings.
  bool Unreadable() const { return unreadable_; }
  // Why the file could not be read whole (unreadable, or larger than kMaximumFileSize); empty
  // when it was read whole or is missing.
  const std::string& ReadFailure() const { return readFailure_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Decimal, or hexadecimal after "$", "0x" or "0X", with an optional sign; anything else
  // (also a value out of range) gives the default.
  long long ReadInteger(std::string_view section, std::string_view key, long long def) const;
  // Read as an integer: any value other than 0 is true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // A write changes the object at once and the file only at the next Save(). Names that the file
  // could not hold (empty, blanks at either end, line breaks, NUL, "=" in a key, "]" in a
  // section) and values with line breaks or NUL raise orvex::Error "Unable to write to <path>"
  // and leave the object as it was, since they would change other settings when read back.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, long long value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Removes every line of the key in every occurrence of the section (at the next Save()).
  void DeleteKey(std::string_view section, std::string_view key);

  // Writes this object's own changes -- the keys written and deleted since it was read or last
  // saved, and nothing else -- into the file as it is on disk now, and replaces the file once,
  // atomically: a key someone else changed meanwhile keeps their value. Afterwards the object
  // holds the file as written. Refuses (orvex::Error "Unable to write to <path>: <reason>",
  // the changes kept for another try) when the file could not be read whole when this object
  // read it (its values may rest on defaults), cannot be read whole now, or cannot be replaced.
  // Does nothing when there is nothing to save or the object has no file.
  void Save();
  bool HasUnsavedChanges() const { return !changes_.empty(); }

  // Each name once, in the spelling and order of its first occurrence.
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(std::string_view section) const;

  // The file's path; empty for an object made from text.
  const std::string& Path() const { return path_; }
  // The whole text as it would be written were the file on disk unchanged.
  std::string Text() const;

 private:
  IniFile() = default;

  struct Line {
    std::string text;
    std::string end;  // "\r\n", "\n", "\r" or "" (a last line without a line end)
  };
  struct Section {
    std::string name;                                   // spelling of the first occurrence
    std::vector<std::size_t> headers;                   // line index of each occurrence's header
    std::vector<std::string> keyOrder;                  // first spellings, in file order
    std::unordered_map<std::string, std::size_t> keys;  // lower-case key -> first line
  };

  // One key written (a value) or deleted (none), in the spelling of its first change.
  struct Change {
    std::string section;
    std::string key;
    bool deleted = false;
    std::string value;
  };

  void Parse(std::string_view text, bool truncated);
  void Reindex();
  const Section* FindSection(std::string_view section) const;
  const std::string* FindValueLine(std::string_view section, std::string_view key) const;
  std::size_t InsertPosition(std::size_t header) const;
  void Apply(const Change& change);
  void Record(Change change);
  [[noreturn]] void FailWrite() const;

  std::string path_;
  FileMode mode_ = FileMode::Private;
  bool unreadable_ = false;
  std::string readFailure_;
  std::vector<Change> changes_;                               // in the order first made
  std::unordered_map<std::string, std::size_t> changeIndex_;  // "section\0key" lower -> changes_
  std::vector<Line> lines_;
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> sectionIndex_;  // lower-case name -> sections_
};

}  // namespace orvex
