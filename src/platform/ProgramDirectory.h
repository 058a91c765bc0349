// The program directory: where the running program file was started from, links unresolved.
#pragma once

#include <string>

namespace orvex {

// argv[0] made absolute without resolving symbolic links; when it holds no "/", the first
// directory of PATH that has an executable of that name. The result ends with "/".
std::string ProgramDirectory(const char* argv0);

}  // namespace orvex
