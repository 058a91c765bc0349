// The real service with a stand-in for nmcli first on its PATH: attempts, waits, a connection
// that is already up, hang-up, and stop requests while dialing or waiting.
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>
#include <filesystem>

#include "crypto/Passwords.h"
#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class DialUpProgramTest : public testing::Test {
 protected:
  DialUpProgramTest() {
    std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
    std::filesystem::create_directories(dir.Path() + "bin");
    std::filesystem::copy_file(std::string(ORVEX_SOURCE_DIR) + "/tests/program/nmcli-standin",
                               dir.Path() + "bin/nmcli");
    dir.MakeList("club");
    dir.Write("bin/entries", "office\nmodem\nbroken\nstuck\n");
    const char* path = getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    setenv("PATH", (dir.Path() + "bin:" + savedPath_).c_str(), 1);
  }
  ~DialUpProgramTest() override { setenv("PATH", savedPath_.c_str(), 1); }

  void Settings(const std::string& entry, int attempts, int pause) {
    dir.Write("orvex.ini", "[DialUp]\r\nUse dialup=1\r\nEntry=" + entry +
                               "\r\nUser=member\r\nPassword=" + EncipherPassword("s3cret") +
                               "\r\nAttempts=" + std::to_string(attempts) +
                               "\r\nPause=" + std::to_string(pause) + "\r\n");
  }
  std::unique_ptr<test::ChildProcess> Start() {
    return std::make_unique<test::ChildProcess>(dir.Path() + "orvex", std::vector<std::string>{},
                                                dir.Path());
  }
  std::string Stop(test::ChildProcess& service) {
    service.Signal(SIGINT);
    EXPECT_EQ(service.WaitForExit(10s), 0);
    return service.Stdout();
  }
  bool LastCheckedWritten() const {
    return dir.Read("Data/club/maillist.ini").find("LastChecked=") != std::string::npos;
  }

  test::TempDirectory dir;
  std::string savedPath_;
};

TEST_F(DialUpProgramTest, DialUpOffShowsNoDialUpLine) {
  dir.Write("orvex.ini", "[DialUp]\r\nUse dialup=0\r\nEntry=modem\r\n");
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Idle", 10s)) << service->Stdout();
  const std::string out = Stop(*service);
  EXPECT_EQ(out.find(". Attempt #"), std::string::npos) << out;
  EXPECT_FALSE(dir.Exists("bin/calls.log"));
}

TEST_F(DialUpProgramTest, DialsUsesTheStoredPasswordAndHangsUpAfterTheCycle) {
  Settings("modem", 1, 1);
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Idle", 10s)) << service->Stdout();
  const std::string out = Stop(*service);
  const size_t connecting = out.find("Connecting to modem. Attempt #1\n");
  const size_t hanging = out.find("Hanging up ...\n");
  ASSERT_NE(connecting, std::string::npos) << out;
  ASSERT_NE(hanging, std::string::npos) << out;
  EXPECT_LT(connecting, hanging);
  EXPECT_LT(hanging, out.find("Idle\n"));
  const std::string calls = dir.Read("bin/calls.log");
  EXPECT_NE(calls.find("connection up id modem passwd-file "), std::string::npos) << calls;
  EXPECT_NE(calls.find("connection down id modem"), std::string::npos) << calls;
  EXPECT_NE(dir.Read("bin/secrets.log").find("ppp.password:s3cret\n"), std::string::npos);
  EXPECT_TRUE(LastCheckedWritten());
}

TEST_F(DialUpProgramTest, AConnectionThatTakesTimeIsWaitedFor) {
  Settings("modem", 1, 1);
  dir.Write("bin/delay-modem", "0.3");  // a few polls of nmcli; the stage's own test times it
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Idle", 15s)) << service->Stdout();
  const std::string out = Stop(*service);
  EXPECT_NE(out.find("Hanging up ...\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Cannot establish"), std::string::npos) << out;
}

TEST_F(DialUpProgramTest, ThreeFailingAttemptsWithTwoPausesThenGivesUp) {
  Settings("broken", 3, 0);  // the length of the pause is the stage's own test's
  dir.Write("bin/fail-broken", "No carrier");
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Idle", 20s)) << service->Stdout();
  const std::string out = Stop(*service);
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(Count(out, "Connecting to broken. Attempt #" + std::to_string(i) + "\n"), 1) << out;
  EXPECT_EQ(Count(out, "Waiting 0 seconds for next retry\n"), 2) << out;
  EXPECT_EQ(Count(out, "Error: Connection activation failed: No carrier\n"), 3) << out;
  EXPECT_LT(out.find("Attempt #3"), out.find("Cannot establish dial-up connection\n"));
  EXPECT_EQ(out.find("Hanging up"), std::string::npos);
  EXPECT_TRUE(LastCheckedWritten());
}

TEST_F(DialUpProgramTest, NoAttemptsMeansNoConnection) {
  Settings("modem", 0, 1);
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Idle", 10s)) << service->Stdout();
  const std::string out = Stop(*service);
  EXPECT_EQ(out.find(". Attempt #"), std::string::npos) << out;
  EXPECT_NE(out.find("Cannot establish dial-up connection\n"), std::string::npos) << out;
}

TEST_F(DialUpProgramTest, AConnectionAlreadyUpIsUsedAndLeftUp) {
  Settings("Office", 1, 1);  // the entry's name compares without regard to case
  dir.Write("bin/active", "office\n");
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Idle", 10s)) << service->Stdout();
  const std::string out = Stop(*service);
  EXPECT_EQ(out.find("Hanging up"), std::string::npos) << out;
  const std::string calls = dir.Read("bin/calls.log");
  EXPECT_EQ(calls.find("connection up"), std::string::npos) << calls;
  EXPECT_EQ(calls.find("connection down"), std::string::npos) << calls;
}

TEST_F(DialUpProgramTest, StopDuringTheWaitEndsWithoutFurtherAttempt) {
  Settings("broken", 3, 30);
  dir.Write("bin/fail-broken", "No carrier");
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Waiting 30 seconds for next retry", 10s))
      << service->Stdout();
  const auto start = std::chrono::steady_clock::now();
  const std::string out = Stop(*service);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(out.find("Attempt #2"), std::string::npos) << out;
  EXPECT_FALSE(LastCheckedWritten());
}

TEST_F(DialUpProgramTest, StopWhileDialingBringsTheProfileDown) {
  Settings("stuck", 1, 1);
  dir.Write("bin/hang-stuck", "");
  auto service = Start();
  ASSERT_TRUE(service->WaitForOutput("Connecting to stuck. Attempt #1", 10s)) << service->Stdout();
  const std::string out = Stop(*service);
  EXPECT_NE(dir.Read("bin/calls.log").find("connection down id stuck"), std::string::npos);
  EXPECT_FALSE(LastCheckedWritten());
  // A failed dial-up ends the cycle with "Idle" even when the service is stopping.
  EXPECT_LT(out.find("Cannot establish dial-up connection\n"), out.find("Idle\n")) << out;
}

}  // namespace
}  // namespace orvex
