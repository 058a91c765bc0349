// A temporary program directory holding a copy of the real service and the list "birds" with the
// settings given: the program tests put mail into its Inbox, run one cycle of the service and
// look at what it queued.
#pragma once

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex::test {

class BirdsListFixture : public ::testing::Test {
 protected:
  explicit BirdsListFixture(const std::string& settings) {
    std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
    list = dir.MakeList("birds");
    dir.Write("Data/birds/maillist.ini", settings);
  }

  // One run of the service: it handles the Inbox in its first cycle, then it is stopped.
  std::string Cycle() {
    using namespace std::chrono_literals;
    ChildProcess service(dir.Path() + "orvex", {}, dir.Path());
    EXPECT_TRUE(service.WaitForOutput("Idle", 20s)) << service.Stdout();
    service.Signal(SIGINT);
    EXPECT_EQ(service.WaitForExit(10s), 0);
    return service.Stdout();
  }

  // The names of the list's files in `sub` ending in `extension`, sorted.
  std::vector<std::string> Names(const std::string& sub, const std::string& extension) const {
    std::vector<std::string> names;
    if (!std::filesystem::is_directory(list + sub)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(list + sub))
      if (entry.path().extension() == extension) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Read(const std::string& relative) { return dir.Read("Data/birds/" + relative); }
  // Takes every file of that kind out of Outbox, as delivery would; returns their texts.
  std::vector<std::string> TakeOutbox(const std::string& extension) {
    std::vector<std::string> texts;
    for (const auto& name : Names("Outbox", extension)) {
      texts.push_back(Read("Outbox/" + name));
      std::filesystem::remove(list + "Outbox/" + name);
    }
    return texts;
  }
  static std::string Header(const std::string& text, const std::string& name) {
    const std::string key = "\r\n" + name + ": ";
    const auto at = text.find(key);
    if (at == std::string::npos) return {};
    const auto begin = at + key.size();
    return text.substr(begin, text.find("\r\n", begin) - begin);
  }
  // Puts a message into the Inbox under the next of the names 0001.msg, 0002.msg, ...
  void Deliver(const std::string& text) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.msg", ++delivered);
    dir.Write("Data/birds/Inbox/" + std::string(name), text);
  }

  TempDirectory dir;
  std::string list;
  int delivered = 0;
};

}  // namespace orvex::test
