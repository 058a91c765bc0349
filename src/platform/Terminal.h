// The console as the service uses it: colours, title, cursor, and text conversion for display.
// When standard output is not a terminal only the text itself is written (plain log rows).
#pragma once

#include <string>
#include <string_view>

namespace orvex {

class Terminal {
 public:
  virtual ~Terminal() = default;
  // Whether this is an interactive terminal; if not, every control operation does nothing.
  virtual bool Interactive() const = 0;
  virtual void Write(std::string_view text) = 0;
  virtual void SetTitle(std::string_view title) = 0;
  // Console text attributes: 15 bright white, 10 bright green, 12 bright red.
  virtual void SetAttribute(int attribute) = 0;
  virtual void ShowCursor(bool visible) = 0;
  // Writes the text and puts the cursor back where it was, so the next output overwrites it.
  virtual void WriteAtCursor(std::string_view text) = 0;
};

// Standard output. Colours, title and cursor use the ANSI/xterm sequences; on a UTF-8 terminal,
// bytes that are not valid UTF-8 are shown as the Windows-1252 characters they stand for.
class ConsoleTerminal final : public Terminal {
 public:
  ConsoleTerminal();
  bool Interactive() const override { return interactive_; }
  void Write(std::string_view text) override;
  void SetTitle(std::string_view title) override;
  void SetAttribute(int attribute) override;
  void ShowCursor(bool visible) override;
  void WriteAtCursor(std::string_view text) override;

 private:
  void Raw(std::string_view bytes);
  std::string ForDisplay(std::string_view text) const;
  bool interactive_ = false;
  bool utf8_ = false;
};

// Valid UTF-8 sequences stay as they are; every other byte becomes the UTF-8 form of the
// Windows-1252 character with that code (undefined codes map to U+FFFD).
std::string ToUtf8ShowingWindows1252(std::string_view bytes);

}  // namespace orvex
