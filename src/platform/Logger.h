// The one log of the service as the stages see it; the console implementation is the service's.
#pragma once

#include <string_view>

namespace orvex {

// Colour codes of log entries: 0 bright white (cycle progress), 1 bright green (protocol
// progress), 2 bright red (failures).
enum class LogColour { White = 0, Green = 1, Red = 2 };

class Logger {
 public:
  virtual ~Logger() = default;
  // One log entry in the given colour; the text may hold several lines.
  virtual void WriteLog(std::string_view text, LogColour colour) = 0;
  // Text written in place at the cursor (countdowns); not a log entry.
  virtual void WriteAtCursor(std::string_view text) = 0;
};

}  // namespace orvex
