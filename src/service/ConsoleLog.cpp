// The console log of the service.
#include "service/ConsoleLog.h"

#include "platform/Text.h"

namespace orvex {
namespace {

constexpr size_t kWrapWidth = 79;
constexpr size_t kMaxLogText = 1999;
const std::string kContinuationIndent(9, ' ');
const std::string kBlankLine(79, ' ');

int AttributeOf(LogColour colour) {
  switch (colour) {
    case LogColour::White:
      return 15;
    case LogColour::Green:
      return 10;
    case LogColour::Red:
      return 12;
  }
  return -1;
}

}  // namespace

std::vector<std::string> WrapLogRow(std::string_view row) {
  std::vector<std::string> rows;
  std::string_view piece = row;
  bool first = true;
  for (;;) {
    size_t breakAt = std::string_view::npos;
    if (piece.size() > kWrapWidth) {
      char quote = 0;
      bool text = false;  // a break before any text would only make an empty row
      for (size_t i = 0; i < kWrapWidth; ++i) {
        const char c = piece[i];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == ' ') {
          if (text) breakAt = i;
          continue;
        }
        text = true;
      }
    }
    if (breakAt == std::string_view::npos) {
      rows.push_back((first ? "" : " ") + std::string(piece));
      return rows;
    }
    // Spaces on either side of the break would only trail invisibly at the end of the row.
    size_t end = breakAt;
    while (end > 0 && piece[end - 1] == ' ') --end;
    rows.push_back((first ? "" : " ") + std::string(piece.substr(0, end)));
    size_t next = breakAt;
    while (next < piece.size() && piece[next] == ' ') ++next;
    piece.remove_prefix(next);
    first = false;
    if (piece.empty()) return rows;
  }
}

void ConsoleLog::WriteLog(std::string_view text, LogColour colour) {
  if (text.size() > kMaxLogText) text = text.substr(0, kMaxLogText);
  if (colour == LogColour::Red) lastFailure_ = text;
  terminal_.ShowCursor(true);
  terminal_.WriteAtCursor(kBlankLine);
  terminal_.SetAttribute(AttributeOf(colour));
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.empty()) return;
  std::string output;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string row = i == 0 ? FormatLocaleDateTime(clock_.Now()) + " " + lines[0]
                                   : kContinuationIndent + lines[i];
    for (const std::string& wrapped : WrapLogRow(row)) output += wrapped + "\n";
  }
  terminal_.Write(output);
}

void ConsoleLog::SpinnerStep() {
  const double now = ToDays(clock_.Now());
  if ((now - lastSpin_) * 24 * 60 * 60 * 10 < 1) return;
  lastSpin_ = now;
  switch (spinner_) {
    case '-':
      spinner_ = '\\';
      break;
    case '\\':
      spinner_ = '|';
      break;
    case '|':
      spinner_ = '/';
      break;
    default:
      spinner_ = '-';
      break;
  }
  terminal_.SetAttribute(15);
  terminal_.ShowCursor(false);
  terminal_.WriteAtCursor(std::string(1, spinner_));
}

}  // namespace orvex
