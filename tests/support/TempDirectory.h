// A temporary program directory under the build tree, removed when the test ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvex::test {

class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  // The directory, ending with "/".
  const std::string& Path() const { return path_; }
  // Creates Data/<name>/ and returns its path ending with "/".
  std::string MakeList(std::string_view name) const;
  void Write(std::string_view relative, std::string_view content) const;
  std::string Read(std::string_view relative) const;
  bool Exists(std::string_view relative) const;

 private:
  std::string path_;
};

// The names of the entries of a directory, sorted; none when it does not exist.
std::vector<std::string> FileNamesIn(const std::string& path);

// Removes a directory tree (test helper only).
void RemoveTree(const std::string& path);

}  // namespace orvex::test
