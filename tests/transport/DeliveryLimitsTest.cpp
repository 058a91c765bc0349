// Delivery within a relay's limits: batches per transaction, the daily count, per-recipient
// progress across cycles, deferrals, refusals and the files that are given up.
#include <gtest/gtest.h>

#include <filesystem>

#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/FakeSmtpRelay.h"
#include "support/Fakes.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "transport/DeliveryProgress.h"
#include "transport/SmtpDelivery.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::FakeSmtpRelay;
using Lines = std::vector<std::string>;
using Counts = std::map<std::string, int>;

std::string Member(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "m%03d@x.test", n);
  return text;
}

// Each of members `first`..`last` `times` times.
Counts Each(int first, int last, int times = 1) {
  Counts counts;
  for (int n = first; n <= last; ++n) counts[Member(n)] = times;
  return counts;
}

Counts Merge(std::initializer_list<Counts> parts) {
  Counts all;
  for (const auto& part : parts)
    for (const auto& [address, times] : part) all[address] += times;
  return all;
}

class DeliveryLimitsTest : public test::StageFixture {
 protected:
  DeliveryLimitsTest() : StageFixture({"Outbox"}) { clock_.Set({2026, 12, 7, 10, 0, 0, 0, 60}); }

  // maillist.ini for the relay with extra General lines such as "MaxRecipients=100".
  void Settings(int port, const std::string& extra) {
    temp_.Write("Data/Sales/maillist.ini",
                "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(port) +
                    "\r\nFrom=sales@lists.test\r\n"
                    "ControlAddress=sales-request@lists.test\r\n" +
                    extra);
  }
  void Members(int count, const std::string& more = {}) {
    std::string text;
    for (int n = 1; n <= count; ++n) text += Member(n) + "=\r\n";
    temp_.Write("Data/Sales/subscribers.ini", text + more);
  }

  // One due cycle's delivery stage.
  void Cycle() {
    TAccount list;
    list.Load(list_);
    MessageNamer namer(clock_);  // a new one each cycle, as the service makes it
    const Environment env{clock_, random_, log_, namer};
    MailClient smtp(25, kLimits);
    DeliverOutbox(list, smtp, env);
  }

  static std::vector<std::size_t> Sizes(const FakeSmtpRelay& relay) {
    std::vector<std::size_t> sizes;
    for (const auto& d : relay.Deliveries()) sizes.push_back(d.recipients.size());
    return sizes;
  }
};

TEST_F(DeliveryLimitsTest, PostGoesOutInBatchesOverOneConnection) {
  FakeSmtpRelay relay;
  Settings(relay.Port(), "MaxRecipients=100\r\n");
  Members(250);
  temp_.Write("Data/Sales/Outbox/A.msg", "Subject: post\r\n\r\n.dot\r\n");
  Cycle();
  EXPECT_EQ(Sizes(relay), (std::vector<std::size_t>{100, 100, 50}));
  EXPECT_EQ(relay.CountsByRecipient(), Each(1, 250));
  EXPECT_EQ(relay.Connections(), 1);
  EXPECT_EQ(relay.Deliveries().back().lines, (Lines{"Subject: post", "", "..dot"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_FALSE(temp_.Exists("Data/Sales/daily-count.ini"));
  EXPECT_TRUE(RedEntries().empty());
}

// The relay refuses further recipients for now after 120: the rest go next cycle, nobody twice;
// one member is refused for good and is never offered the post again.
TEST_F(DeliveryLimitsTest, DeferredRecipientsGetTheRestNextCycleNobodyTwice) {
  FakeSmtpRelay relay({.acceptedBeforeCap = 120, .refusedForGood = {Member(7)}});
  Settings(relay.Port(), "MaxRecipients=100\r\n");
  Members(250);
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  Cycle();
  EXPECT_EQ(Sizes(relay), (std::vector<std::size_t>{99, 21}));
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "A.msg.progress"}));
  EXPECT_TRUE(log_.Contains("79 recipients deferred\r\n452 4.5.3 Error: too many recipients"));
  EXPECT_TRUE(log_.Contains("50 recipients deferred\r\n452 4.5.3 Error: too many recipients"));

  relay.SetPolicy({.refusedForGood = {Member(7)}});
  Cycle();
  EXPECT_EQ(Sizes(relay), (std::vector<std::size_t>{99, 21, 100, 29}));
  EXPECT_EQ(relay.CountsByRecipient(), Merge({Each(1, 6), Each(8, 250)}));
  EXPECT_EQ(Files("Outbox"), Lines{});
  Lines refusals;
  for (const auto& line : RedEntries())
    if (line.rfind("Recipient <", 0) == 0) refusals.push_back(line);
  EXPECT_EQ(refusals, (Lines{"Recipient <m007@x.test> refused\r\n550 5.1.1 <m007@x.test>: "
                             "Recipient address rejected: User unknown"}));
}

// The exact exchange and progress file of a batch with an accepted, a deferred and a refused
// member, and of the next cycle that offers the post to the deferred one alone.
TEST_F(DeliveryLimitsTest, ProgressRecordsWhoIsDoneWithAndTheNextCycleSendsOnlyToTheRest) {
  using namespace test;
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  const Lines members{"a@x.test", "B@x.test", "c@x.test"};
  ScriptedServer first(
      {{Say("220 ready"), Hear(), Say("250 ok"), Hear(), Say("250 ok"), Hear(), Say("250 ok"),
        Hear(), Say("452 4.2.2 mailbox full"), Hear(), Say("550 5.1.1 unknown"), Hear(),
        Say("354 go"), HearData(), Say("250 queued"), Hear()}});
  SmtpSettings settings{{"127.0.0.1", first.Port()}, "sales@lists.test", "req@lists.test"};
  MailClient smtp(25, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
  DeliverOutboxFiles(list_, settings, {members, {}}, {}, clock_, smtp, log_);
  EXPECT_EQ(first.Transcript(),
            (Lines{"<connect>", "ehlo " + LocalHostName(), "MAIL FROM: <sales@lists.test>",
                   "RCPT TO: <a@x.test>", "RCPT TO: <B@x.test>", "RCPT TO: <c@x.test>", "DATA",
                   "post", ".", "Quit"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Outbox/A.msg.progress"),
            "Sent a@x.test\r\nRefused c@x.test\r\n");

  // The store now spells the member otherwise; the progress still knows who is done with.
  ScriptedServer second(
      {{Say("220 ready"), Hear(), Say("250 ok"), Hear(), Say("250 ok"), Hear(), Say("250 ok"),
        Hear(), Say("354 go"), HearData(), Say("250 queued"), Hear()}});
  settings.port = second.Port();
  DeliverOutboxFiles(list_, settings, {{"A@X.TEST", "b@x.test", "c@x.test"}, {}}, {}, clock_, smtp,
                     log_);
  EXPECT_EQ(second.Transcript(),
            (Lines{"<connect>", "ehlo " + LocalHostName(), "MAIL FROM: <sales@lists.test>",
                   "RCPT TO: <b@x.test>", "DATA", "post", ".", "Quit"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
}

TEST_F(DeliveryLimitsTest, DailyCountStopsTheListUntilTheNextDay) {
  FakeSmtpRelay relay({.refusedForGood = {Member(5)}});
  Settings(relay.Port(), "MaxRecipients=100\r\nMaxRecipientsPerDay=150\r\n");
  Members(250);
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  temp_.Write("Data/Sales/Outbox/B.pri", "joe@x.test\r\nnotice\r\n");
  const std::string stop = "Daily limit of 150 recipients reached; the rest is sent tomorrow";
  Cycle();
  // Only accepted recipients count: the refused one leaves room for one more.
  EXPECT_EQ(Sizes(relay), (std::vector<std::size_t>{99, 51}));
  EXPECT_EQ(temp_.Read("Data/Sales/daily-count.ini"), "Date=2026-12-07\r\nRecipients=150\r\n");
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "A.msg.progress", "B.pri"}));

  log_.entries.clear();
  clock_.Set({2026, 12, 7, 23, 59, 59, 999, 60});
  Cycle();
  EXPECT_EQ(relay.Connections(), 1) << "nothing more to give today";
  EXPECT_EQ(log_.Texts(), (Lines{stop}));

  clock_.Set({2026, 12, 8, 0, 0, 0, 0, 60});
  Cycle();
  EXPECT_EQ(Sizes(relay), (std::vector<std::size_t>{99, 51, 99, 1}));
  EXPECT_EQ(relay.CountsByRecipient(), Merge({Each(1, 4), Each(6, 250), {{"joe@x.test", 1}}}));
  EXPECT_EQ(temp_.Read("Data/Sales/daily-count.ini"), "Date=2026-12-08\r\nRecipients=100\r\n");
  EXPECT_EQ(Files("Outbox"), Lines{});
}

TEST_F(DeliveryLimitsTest, MemberWhoLeavesBetweenCyclesDoesNotGetTheRest) {
  FakeSmtpRelay relay;
  Settings(relay.Port(), "MaxRecipients=4\r\nMaxRecipientsPerDay=4\r\n");
  Members(10);
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  Cycle();
  EXPECT_EQ(relay.CountsByRecipient(), Each(1, 4));
  // m006 unsubscribes, m007 pauses, m008 switches to digests, m002 (done with) stays.
  std::string store;
  for (int n = 1; n <= 10; ++n)
    if (n != 6) store += Member(n) + (n == 7 ? "=p\r\n" : n == 8 ? "=d\r\n" : "=\r\n");
  temp_.Write("Data/Sales/subscribers.ini", store);
  clock_.Set({2026, 12, 8, 10, 0, 0, 0, 60});
  Cycle();
  EXPECT_EQ(relay.CountsByRecipient(), Merge({Each(1, 5), Each(9, 10)}));
  EXPECT_EQ(Files("Outbox"), Lines{});
}

// Each row: what goes wrong with the second of three batches in the first cycle.
struct BatchFaultCase {
  const char* name;
  FakeSmtpRelay::Policy policy;
  std::vector<std::size_t> firstCycle;  // batch sizes delivered in the first cycle
  std::size_t redLines;                 // logged in the first cycle
};

class BatchFaultTest : public DeliveryLimitsTest,
                       public testing::WithParamInterface<BatchFaultCase> {};

TEST_P(BatchFaultTest, BatchInTroubleWaitsForTheNextCycleNobodyTwice) {
  FakeSmtpRelay relay(GetParam().policy);
  Settings(relay.Port(), "MaxRecipients=3\r\n");
  Members(8);
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  Cycle();
  EXPECT_EQ(Sizes(relay), GetParam().firstCycle);
  EXPECT_EQ(RedEntries().size(), GetParam().redLines) << testing::PrintToString(RedEntries());
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "A.msg.progress"}));
  relay.SetPolicy({});
  Cycle();
  EXPECT_EQ(relay.CountsByRecipient(), Each(1, 8));
  EXPECT_EQ(Files("Outbox"), Lines{});
}

INSTANTIATE_TEST_SUITE_P(Faults, BatchFaultTest,
                         testing::Values(
                             // The connection drops: the stage ends, the third batch waits too.
                             BatchFaultCase{"ConnectionDropped", {.dropAtEndOfData = 2}, {3}, 2},
                             // The end of data is deferred: the batch waits, the third one goes on.
                             BatchFaultCase{"EndOfDataDeferred", {.deferEndOfData = 2}, {3, 2}, 1}),
                         [](const auto& info) { return info.param.name; });

TEST_F(DeliveryLimitsTest, FileOnlyDeferredForDaysMovesToFailedNamingWhoNeverGotIt) {
  FakeSmtpRelay relay({.deferred = {Member(2), Member(3)}});
  Settings(relay.Port(), "Days=3\r\n");
  Members(4);
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  Cycle();  // m001 and m004 get it: that is progress, no deferral run starts
  EXPECT_EQ(temp_.Read("Data/Sales/Outbox/A.msg.progress"),
            "Sent m001@x.test\r\nSent m004@x.test\r\n");
  clock_.Set({2026, 12, 8, 10, 0, 0, 0, 60});
  Cycle();  // only deferrals: the run starts now
  EXPECT_EQ(temp_.Read("Data/Sales/Outbox/A.msg.progress"),
            "RefusedSince 46364.416667\r\nSent m001@x.test\r\nSent m004@x.test\r\n");
  clock_.Set({2026, 12, 11, 9, 59, 0, 0, 60});
  Cycle();
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "A.msg.progress"}));
  EXPECT_EQ(Files("Failed"), Lines{});
  clock_.Set({2026, 12, 11, 10, 0, 0, 0, 60});
  Cycle();
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_EQ(Files("Failed"), (Lines{"A.msg"}));
  EXPECT_EQ(RedEntries().back(),
            "Message file A.msg moved to Failed/A.msg: 2 recipients never got it");
  EXPECT_EQ(relay.CountsByRecipient(), (Counts{{Member(1), 1}, {Member(4), 1}}));
}

TEST_F(DeliveryLimitsTest, AnAcceptedRecipientEndsTheRunOfDeferrals) {
  FakeSmtpRelay relay({.deferred = {Member(1), Member(2)}});
  Settings(relay.Port(), "Days=1\r\n");
  Members(2);
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  Cycle();
  EXPECT_EQ(temp_.Read("Data/Sales/Outbox/A.msg.progress"), "RefusedSince 46363.416667\r\n");
  clock_.Set({2026, 12, 8, 9, 0, 0, 0, 60});
  relay.SetPolicy({.deferred = {Member(2)}});
  Cycle();
  EXPECT_EQ(temp_.Read("Data/Sales/Outbox/A.msg.progress"), "Sent m001@x.test\r\n");
  clock_.Set({2026, 12, 8, 11, 0, 0, 0, 60});
  Cycle();  // a day after the first deferral, but the run began anew
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "A.msg.progress"}));
}

TEST_F(DeliveryLimitsTest, StaleProgressFilesAreRemovedAndNeverSent) {
  temp_.Write("Data/Sales/Outbox/Gone.msg.progress", "Sent a@x.test\r\n");
  temp_.Write("Data/Sales/Outbox/A.dig.progress.tmp4242-0", "Sent a@");
  temp_.Write("Data/Sales/Outbox/B.msg", "post\r\n");
  temp_.Write("Data/Sales/Outbox/B.msg.progress", "Sent a@x.test\r\n");
  // Everybody selected is done with B.msg: it is deleted without a connection.
  DeliverOutboxFiles(list_, {{"127.0.0.1", 1}, "s@x.test", "r@x.test"}, {{"A@x.test"}, {}}, {},
                     clock_, *std::make_unique<MailClient>(25), log_);
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_TRUE(log_.entries.empty());
}

TEST(DeliveryLimitsSettingsTest, KeysAndTheirBounds) {
  struct Row {
    const char* text;
    DeliveryLimits expected;
  };
  const Row rows[] = {
      {"", {0, 0, 7}},
      {"MaxRecipients=100\r\nMaxRecipientsPerDay=500\r\nDays=3\r\n", {100, 500, 3}},
      {"MaxRecipients=-5\r\nMaxRecipientsPerDay=many\r\nDays=0\r\n", {0, 0, 1}},
  };
  for (const auto& row : rows) {
    const IniFile config = IniFile::FromText(std::string("[General]\r\n") + row.text);
    const DeliveryLimits limits = ReadDeliveryLimits(config);
    EXPECT_EQ(limits.maxRecipients, row.expected.maxRecipients) << row.text;
    EXPECT_EQ(limits.maxRecipientsPerDay, row.expected.maxRecipientsPerDay) << row.text;
    EXPECT_EQ(limits.days, row.expected.days) << row.text;
  }
}

}  // namespace
}  // namespace orvex
