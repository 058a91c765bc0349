// A message is handled all or nothing: failures are set aside, interrupted commits finished.
#include <gtest/gtest.h>

#include "ListFixture.h"

namespace orvex::test {
namespace {

constexpr std::string_view kList = "birds@example.org";
constexpr std::string_view kControl = "birds-request@example.org";

class Failures : public ListFixture {
 protected:
  std::vector<std::string> RedLines() const {
    std::vector<std::string> lines;
    for (const auto& entry : log.entries)
      if (entry.colour == LogColour::Red) lines.push_back(entry.text);
    return lines;
  }
};

TEST_F(Failures, MessageWhoseOutputCannotBeWrittenIsSetAsideAndThePassGoesOn) {
  Subscribe("ann@example.net");
  tmp.Write("Data/birds/Digest", "not a directory");  // posts cannot be collected
  Deliver(Mail("ann@example.net", kList, "a post"));
  Deliver(Mail("bob@example.net", kControl, "subscribe"));
  Run();
  EXPECT_EQ(Files("Failed", ".msg"), std::vector<std::string>{"00000000000001.msg"});
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Outbox", ".msg"), 0u);  // nothing of the failed post went out
  EXPECT_EQ(Count("Outbox", ".pri"), 1u);  // the command after it was answered
  EXPECT_TRUE(account().Pending().Contains("bob@example.net"));
  const auto red = RedLines();
  ASSERT_FALSE(red.empty());
  EXPECT_TRUE(Contains(red.back(), "00000000000001.msg")) << red.back();

  Run();  // the failed message stays aside and blocks nothing
  EXPECT_EQ(Count("Failed", ".msg"), 1u);
}

TEST_F(Failures, FailedCommandLeavesTheStoresAsTheyWere) {
  Subscribe("ann@example.net", ",secret");
  EndCycle();
  tmp.Write("Data/birds/Outbox", "not a directory");  // no notice can be queued
  for (const char* subject : {"subscribe", "unsubscribe secret", "digest-on secret"}) {
    Process(Mail(subject == std::string("subscribe") ? "bob@example.net" : "ann@example.net",
                 kControl, subject));
  }
  EXPECT_TRUE(account().Pending().Empty());
  EXPECT_EQ(account().Subscribers().Lines(), std::vector<std::string>{"ann@example.net=,secret"});
  EXPECT_EQ(Count("Failed", ".msg"), 3u);
  EXPECT_EQ(*ReadWholeFile(listDir + "pending.ini"), "");
  EXPECT_EQ(*ReadWholeFile(listDir + "subscribers.ini"), "ann@example.net=,secret\r\n");
}

TEST_F(Failures, ChangedStoresAreOnDiskBeforeTheInboxFileGoes) {
  Process(Mail("bob@example.net", kControl, "subscribe"));
  // No end-of-cycle save has happened: the store file already holds the change.
  const auto pending = ReadWholeFile(listDir + "pending.ini");
  ASSERT_TRUE(pending.has_value());
  EXPECT_TRUE(pending->starts_with("bob@example.net=46363,0000")) << *pending;
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Staging", ""), 0u);
}

TEST_F(Failures, InterruptedCommitIsFinishedAndNotHandledAgain) {
  Deliver(Mail("ann@example.net", kList, "already handled"));
  tmp.Write("Data/birds/Staging/0.out", "the post\r\n");
  tmp.Write("Data/birds/Staging/pending.ini.new", "carol@example.net=46363,0000000007D0\r\n");
  tmp.Write("Data/birds/Staging/commit.lst",
            "output\t0.out\tOutbox/47FB75DF59010B.msg\r\n"
            "store\tpending.ini.new\tpending.ini\r\n"
            "remove\tInbox/00000000000001.msg\r\n"
            "end\r\n");
  Run();
  EXPECT_EQ(*ReadWholeFile(listDir + "Outbox/47FB75DF59010B.msg"), "the post\r\n");
  EXPECT_EQ(account().Pending().Lines(),
            std::vector<std::string>{"carol@example.net=46363,0000000007D0"});
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Staging", ""), 0u);
  EXPECT_FALSE(log.Contains("Processing message from <ann@example.net>"));
}

TEST_F(Failures, CommitThatNeverReachedItsRecordIsDiscarded) {
  Subscribe("ann@example.net");
  Deliver(Mail("ann@example.net", kList, "not yet handled"));
  tmp.Write("Data/birds/Staging/0.out", "half a post");
  tmp.Write("Data/birds/Staging/commit.lst", "output\t0.out\tOutbox/47FB75DF59010B.msg\r\n");
  Run();
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_TRUE(Contains(Only("Outbox", ".msg"), "Subject: not yet handled"));
  EXPECT_EQ(Count("Staging", ""), 0u);
}

// Requests a stop when the first message is logged, as a console interrupt would.
class StoppingLogger final : public Logger {
 public:
  void WriteLog(std::string_view text, int, LogColour) override {
    if (text.starts_with("Processing message from")) RequestStop();
  }
  void WriteAtCursor(std::string_view) override {}
};

TEST_F(Failures, StopRequestLeavesTheRestInInboxAndSkipsTheDigest) {
  Settings("DigestCount=0\r\n");
  Subscribe("ann@example.net");
  for (int i = 0; i < 3; ++i) Deliver(Mail("ann@example.net", kList, "post"));
  StoppingLogger stopping;
  const Environment stoppingEnv{clock, random, stopping, namer};
  ProcessInbox(account(), stoppingEnv);
  EXPECT_EQ(Count("Inbox", ".msg"), 2u);
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Outbox", ".dig"), 0u);
  ProcessInbox(account(), stoppingEnv);  // still stopped: returns at once
  EXPECT_EQ(Count("Inbox", ".msg"), 2u);
}

}  // namespace
}  // namespace orvex::test
