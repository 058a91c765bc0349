// The fixture of the real-server tests: the list "Sales" in a temporary program directory, with
// the fakes a stage needs around it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"

namespace orvex::test {

class RealListFixture : public testing::Test {
 protected:
  void SetUp() override { list_ = temp_.MakeList("Sales"); }

  TempDirectory temp_;
  std::string list_;
  RecordingLogger log_;
  FakeClock clock_;
  FakeRandom random_;
  MessageNamer namer_{clock_};
  Environment env_{clock_, random_, log_, namer_};
};

}  // namespace orvex::test
