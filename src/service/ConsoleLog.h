// The service's console log: time stamps, colours, 79-column word wrap, the spinner.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Logger.h"
#include "platform/Terminal.h"

namespace orvex {

// Breaks one row for an 80-column console: after the last space within the first 79 characters
// that lies outside a quoted stretch; the spaces after the break are dropped and every
// continuation row starts with one space. A piece without a usable space stays whole.
std::vector<std::string> WrapLogRow(std::string_view row);

class ConsoleLog final : public Logger {
 public:
  ConsoleLog(Terminal& terminal, const Clock& clock) : terminal_(terminal), clock_(clock) {}

  void WriteLog(std::string_view text, LogColour colour) override;
  void WriteAtCursor(std::string_view text) override { terminal_.WriteAtCursor(text); }
  // One turn of the spinner, at most ten changes a second.
  void SpinnerStep();
  void SetTitle(std::string_view title) { terminal_.SetTitle(title); }
  // The text of the last red entry since the last call, then empty again: the list cycle keeps
  // it as its last error.
  std::string TakeLastFailure() { return std::exchange(lastFailure_, {}); }

 private:
  Terminal& terminal_;
  const Clock& clock_;
  char spinner_ = '|';
  double lastSpin_ = 0;
  std::string lastFailure_;
};

}  // namespace orvex
