// What the transport stage tests share: a program directory with the list "Sales" and its queue
// folders, a recording log, the fakes of an environment, short time limits, and readers of what
// a stage left behind.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/FaultInjection.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"
#include "transport/MailClient.h"

namespace orvex::test {

class StageFixture : public testing::Test {
 protected:
  using Lines = std::vector<std::string>;

  // Makes Data/Sales/ and the queue folders the stage under test works in.
  explicit StageFixture(std::initializer_list<const char*> folders = {"Inbox", "Outbox"})
      : list_(temp_.MakeList("Sales")) {
    for (const char* folder : folders) std::filesystem::create_directories(list_ + folder);
  }
  ~StageFixture() override { ClearFileFaults(); }

  // Limits short enough that a test of a silent server ends soon.
  static constexpr MailTimeLimits kLimits{.connect = std::chrono::seconds(5),
                                          .reply = std::chrono::seconds(5),
                                          .dataEnd = std::chrono::seconds(5)};

  Lines Files(const std::string& folder) const { return FileNamesIn(list_ + folder); }
  Lines RedEntries() const { return log_.Texts(LogColour::Red); }

  TempDirectory temp_;
  std::string list_;  // Data/Sales/
  RecordingLogger log_;
  FakeClock clock_;
  FakeRandom random_;
  MessageNamer namer_{clock_};
  Environment env_{clock_, random_, log_, namer_};
};

}  // namespace orvex::test
