// Start-up and the main loop of the service.
#pragma once

#include <string>

namespace orvex {

// Runs the service from the program directory (ending with "/") until a stop is requested.
// Returns the process exit status.
int RunService(const std::string& programDirectory, const std::string& versionText);

}  // namespace orvex
