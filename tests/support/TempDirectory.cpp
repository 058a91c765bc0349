// Temporary program directories for tests.
#include "support/TempDirectory.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace orvex::test {

TempDirectory::TempDirectory() {
  std::string base = std::string(ORVEX_BUILD_DIR) + "/test-tmp";
  std::filesystem::create_directories(base);
  std::string pattern = base + "/dir-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempDirectory::~TempDirectory() {
  RemoveTree(path_);
}

std::string TempDirectory::MakeList(std::string_view name) const {
  const std::string dir = path_ + "Data/" + std::string(name) + "/";
  std::filesystem::create_directories(dir);
  return dir;
}

void TempDirectory::Write(std::string_view relative, std::string_view content) const {
  const std::filesystem::path file = path_ + std::string(relative);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string TempDirectory::Read(std::string_view relative) const {
  std::ifstream in(path_ + std::string(relative), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TempDirectory::Exists(std::string_view relative) const {
  return std::filesystem::exists(path_ + std::string(relative));
}

std::vector<std::string> FileNamesIn(const std::string& path) {
  std::vector<std::string> names;
  std::error_code missing;
  for (const auto& e : std::filesystem::directory_iterator(path, missing))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

}  // namespace orvex::test
