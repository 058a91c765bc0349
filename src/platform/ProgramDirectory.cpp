// Finds the program directory the way a shell found the program.
#include "platform/ProgramDirectory.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "platform/FileSystem.h"

namespace orvex {
namespace {

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (buffer.size() > (1u << 20)) return "/";
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

std::string ProgramDirectory(const char* argv0) {
  const std::string program = argv0 != nullptr ? argv0 : "";
  if (program.find('/') != std::string::npos) {
    std::string path = program[0] == '/' ? program : WithSlash(CurrentDirectory()) + program;
    return WithSlash(DirectoryOf(path));
  }
  // Found through PATH: this is how the program was located, not a setting of the program.
  const char* pathVariable = std::getenv("PATH");
  std::string_view paths = pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
  while (!paths.empty()) {
    const size_t colon = paths.find(':');
    const std::string_view entry = paths.substr(0, colon);
    paths = colon == std::string_view::npos ? std::string_view{} : paths.substr(colon + 1);
    const std::string dir = entry.empty() ? std::string(1, '.') : std::string(entry);
    const std::string candidate = WithSlash(dir) + program;
    if (::access(candidate.c_str(), X_OK) == 0 && FileExists(candidate)) {
      return WithSlash(dir[0] == '/' ? dir : WithSlash(CurrentDirectory()) + dir);
    }
  }
  return WithSlash(CurrentDirectory());
}

}  // namespace orvex
