// What the tests against the private Dovecot and Postfix share: the harness's settings and the
// Maildirs the servers write.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace orvex::test {

// A variable set by tests/support/mailservers.py; throws when the test was not started by it.
std::string HarnessSetting(const char* name);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// The regular files of a directory, sorted; none when it does not exist.
std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir);
// Waits until `dir` holds `count` files (delivery is asynchronous), up to 30 seconds.
std::vector<std::filesystem::path> AwaitFiles(const std::filesystem::path& dir, std::size_t count);
// Waits until `dir` is empty (a server expunges after the client has gone), up to 30 seconds.
bool AwaitEmpty(const std::filesystem::path& dir);

}  // namespace orvex::test
