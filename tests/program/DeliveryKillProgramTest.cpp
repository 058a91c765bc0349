// The real service, killed with SIGKILL in the middle of a post sent in batches and started
// again: nobody gets the post twice except, at worst, the batch whose transaction was in flight.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "support/ChildProcess.h"
#include "support/FakeSmtpRelay.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using Counts = std::map<std::string, int>;

std::string Member(int n) {
  return "m" + std::to_string(n) + "@x.test";
}

struct KillCase {
  const char* name;
  test::RelayPolicy hold;  // where the relay keeps the service waiting when it is killed
  int secondBatchTimes;    // how often members 101..200 get the post in the end
};

class DeliveryKillTest : public testing::TestWithParam<KillCase> {
 protected:
  DeliveryKillTest() {
    std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir_.Path() + "orvex");
    dir_.MakeList("sales");
  }
  // One run of the service until the relay holds it (`awaited` empty) or until its output shows
  // `awaited`, then `signal`.
  void Run(int signal, const std::string& awaited, test::FakeSmtpRelay& relay) {
    test::ChildProcess service(dir_.Path() + "orvex", {}, dir_.Path());
    if (awaited.empty())
      ASSERT_TRUE(relay.WaitUntilHeld(30s)) << service.Stdout();
    else
      ASSERT_TRUE(service.WaitForOutput(awaited, 30s)) << service.Stdout();
    service.Signal(signal);
    ASSERT_TRUE(service.WaitForExit(10s).has_value());
  }
  test::TempDirectory dir_;
};

TEST_P(DeliveryKillTest, KilledServiceRepeatsAtMostTheTransactionInFlight) {
  test::FakeSmtpRelay relay(GetParam().hold);
  dir_.Write("Data/sales/maillist.ini",
             "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(relay.Port()) +
                 "\r\nFrom=sales@x.test\r\nMaxRecipients=100\r\n");
  std::string store;
  for (int n = 1; n <= 250; ++n) store += Member(n) + "=\r\n";
  dir_.Write("Data/sales/subscribers.ini", store);
  dir_.Write("Data/sales/Outbox/A.msg", "Subject: post\r\n\r\nbody\r\n");

  Run(SIGKILL, "", relay);
  relay.SetPolicy({});
  ASSERT_TRUE(relay.WaitUntilIdle(10s));
  Run(SIGTERM, "Disconnecting", relay);

  Counts expected;
  for (int n = 1; n <= 250; ++n)
    expected[Member(n)] = n > 100 && n <= 200 ? GetParam().secondBatchTimes : 1;
  EXPECT_EQ(relay.CountsByRecipient(), expected);
  EXPECT_FALSE(dir_.Exists("Data/sales/Outbox/A.msg"));
  EXPECT_FALSE(dir_.Exists("Data/sales/Outbox/A.msg.progress"));
}

INSTANTIATE_TEST_SUITE_P(
    Kills, DeliveryKillTest,
    testing::Values(
        // The second batch was accepted and recorded; the third had not started.
        KillCase{"BetweenTransactions", {.holdAtMailFrom = 3}, 1},
        // The relay took the second batch but the service never heard its answer.
        KillCase{"BeforeTheEndOfDataWasAnswered", {.holdAtEndOfData = 2}, 2}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orvex
