// The command line of orvex-admin.
#pragma once

#include <istream>
#include <ostream>

namespace orvex::admin {

// Parses the arguments, runs the command and returns the exit status. `programFileDirectory`
// (ending with "/") is where the program file lies: the default program directory when it
// holds "Data/".
int RunAdmin(int argc, const char* const* argv, const std::string& programFileDirectory,
             std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace orvex::admin
