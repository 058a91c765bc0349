// The two kinds of line the protocol stages log: progress in green, failures in red.
#pragma once

#include <string_view>

#include "platform/Logger.h"

namespace orvex {

inline void LogProgress(Logger& log, std::string_view text) {
  log.WriteLog(text, LogColour::Green);
}
inline void LogFailure(Logger& log, std::string_view text) {
  log.WriteLog(text, LogColour::Red);
}

}  // namespace orvex
