// Harness settings and Maildir reading for the real-server tests.
#include "support/MailServerFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orvex::test {

namespace fs = std::filesystem;

std::string HarnessSetting(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr)
    throw std::runtime_error(std::string(name) + " is not set: run me through mailservers.py");
  return value;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  if (fs::exists(dir))
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<fs::path> AwaitFiles(const fs::path& dir, std::size_t count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::vector<fs::path> files = FilesIn(dir);
  while (files.size() < count && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the condition
    files = FilesIn(dir);
  }
  return files;
}

bool AwaitEmpty(const fs::path& dir) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!FilesIn(dir).empty() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the condition
  return FilesIn(dir).empty();
}

}  // namespace orvex::test
