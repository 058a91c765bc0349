// The real service meeting a maillist.ini it cannot write (full disk) or cannot read (no
// permission): the list is visited no more often than its CheckInterval, or passed over with
// one line, and the other lists go on.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The log as one row per line: the console wraps long rows at 79 columns, continuing them on a
// row that starts with a blank.
std::string Unwrapped(std::string text) {
  for (std::size_t at = text.find("\n "); at != std::string::npos; at = text.find("\n ", at))
    text.replace(at, 2, " ");
  return text;
}

class SettingsFaultProgramTest : public testing::Test {
 protected:
  SettingsFaultProgramTest() {
    std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
    // Due at every pass (about once a second): its visits count the passes.
    dir.MakeList("every");
    dir.Write("Data/every/maillist.ini", "[General]\r\nName=Every\r\nCheckInterval=0\r\n");
  }
  // Runs the service with the fault, until the list "Every" has been visited `passes` times.
  std::string RunWithFaults(const std::string& faults, int passes) {
    ::setenv("ORVEX_FILE_FAULTS", faults.c_str(), 1);
    test::ChildProcess service(dir.Path() + "orvex", {}, dir.Path());
    ::unsetenv("ORVEX_FILE_FAULTS");
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (Count(service.Stdout(), "Processing \"Every\"") < static_cast<std::size_t>(passes) &&
           std::chrono::steady_clock::now() < deadline)
      service.WaitForOutput("no such line", 100ms);
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(10s), 0);
    return Unwrapped(service.Stdout());
  }
  test::TempDirectory dir;
};

TEST_F(SettingsFaultProgramTest, AListWhoseSettingsCannotBeWrittenWaitsItsInterval) {
  const std::string list = dir.MakeList("full");
  const std::string settings = "[General]\r\nName=Full\r\nCheckInterval=5\r\n";
  dir.Write("Data/full/maillist.ini", settings);
  const std::string out = RunWithFaults("write:1:0:ENOSPC:/full/maillist.ini", 4);
  ASSERT_GE(Count(out, "Processing \"Every\""), 4u) << out;
  EXPECT_EQ(Count(out, "Processing \"Full\""), 1u) << out;
  EXPECT_EQ(Count(out, "Unable to write to " + list + "maillist.ini: " + std::strerror(ENOSPC)), 1u)
      << out;
  EXPECT_EQ(dir.Read("Data/full/maillist.ini"), settings);
}

TEST_F(SettingsFaultProgramTest, AListWhoseSettingsCannotBeReadIsPassedOverWithOneLine) {
  const std::string list = dir.MakeList("locked");
  dir.Write("Data/locked/maillist.ini", "[General]\r\nName=Locked\r\n");
  const std::string out = RunWithFaults("read:1:0:EACCES:/locked/maillist.ini", 3);
  ASSERT_GE(Count(out, "Processing \"Every\""), 3u) << out;
  EXPECT_EQ(Count(out, "Cannot read " + list + "maillist.ini: " + std::strerror(EACCES) +
                           "; the list is passed over"),
            1u)
      << out;
  EXPECT_EQ(out.find("Processing \"Unnamed\""), std::string::npos) << out;
  EXPECT_EQ(out.find("Processing \"Locked\""), std::string::npos) << out;
  EXPECT_EQ(test::FileNamesIn(list), std::vector<std::string>{"maillist.ini"});
}

}  // namespace
}  // namespace orvex
