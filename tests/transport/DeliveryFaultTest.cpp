// Delivery meeting local faults and odd Outbox files: a file that cannot be removed, a progress
// record that cannot be written, links, FIFOs and directories named like mail, and the scratch
// files of a failed delivery. Each case answers where the mail is and whether it can go twice.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/FaultInjection.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/FakeSmtpRelay.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"
#include "transport/SmtpDelivery.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::FakeSmtpRelay;
using Lines = std::vector<std::string>;
using Counts = std::map<std::string, int>;

std::string Member(int n) {
  return "m" + std::to_string(n) + "@x.test";
}

Counts Each(int first, int last, int times = 1) {
  Counts counts;
  for (int n = first; n <= last; ++n) counts[Member(n)] = times;
  return counts;
}

bool AnyContains(const Lines& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

class DeliveryFaultTest : public test::StageFixture {
 protected:
  DeliveryFaultTest() : StageFixture({"Outbox"}) { clock_.Set({2026, 12, 7, 10, 0, 0, 0, 60}); }

  void Settings(int port, const std::string& extra = {}) {
    temp_.Write("Data/Sales/maillist.ini",
                "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(port) +
                    "\r\nFrom=sales@lists.test\r\nControlAddress=sales-request@lists.test\r\n" +
                    extra);
  }
  void Members(int first, int last) {
    std::string text;
    for (int n = first; n <= last; ++n) text += Member(n) + "=\r\n";
    temp_.Write("Data/Sales/subscribers.ini", text);
  }
  void Cycle() {
    log_.entries.clear();
    TAccount list;
    list.Load(list_);
    MessageNamer namer(clock_);  // a new one each cycle, as the service makes it
    const Environment env{clock_, random_, log_, namer};
    MailClient smtp(25, kLimits);
    DeliverOutbox(list, smtp, env);
  }
};

struct RemovalCase {
  const char* name;
  const char* file;
  const char* content;
};

class RemovalFaultTest : public DeliveryFaultTest,
                         public testing::WithParamInterface<RemovalCase> {};

// The Outbox is not writable: the sent file cannot go. It must not be sent again at each cycle
// (not even to a member who joined since); its removal is tried and reported at each cycle.
TEST_P(RemovalFaultTest, SentFileThatCannotBeRemovedIsNeverSentAgain) {
  const std::string file = GetParam().file;
  FakeSmtpRelay relay;
  Settings(relay.Port(), "MaxRecipients=2\r\n");
  Members(1, 3);
  temp_.Write("Data/Sales/Outbox/" + file, GetParam().content);
  InjectFileFault({FileOperation::Remove, 1, 2, EACCES, "/Outbox/" + file});

  for (int cycle = 1; cycle <= 2; ++cycle) {
    Cycle();
    EXPECT_EQ(RedEntries(), Lines{"Cannot remove sent message file " + file +
                                  ": Permission denied (it is not sent again)"})
        << cycle;
    EXPECT_EQ(Files("Outbox"), (Lines{file, file + ".progress"})) << cycle;
    Members(1, 4);  // a member who joins after the file went out does not get it
  }
  Cycle();  // the folder is writable again
  EXPECT_TRUE(RedEntries().empty());
  EXPECT_TRUE(Files("Outbox").empty());
  const Counts expected = file == "P.pri" ? Counts{{"someone@x.test", 1}} : Each(1, 3);
  EXPECT_EQ(relay.CountsByRecipient(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RemovalFaultTest,
    testing::Values(RemovalCase{"Post", "A.msg", "Subject: post\r\n\r\nbody\r\n"},
                    RemovalCase{"Private", "P.pri", "someone@x.test\r\nSubject: hi\r\n\r\nb\r\n"}),
    [](const auto& info) { return info.param.name; });

// A full disk: the progress record cannot be written, either from the start (then nothing goes
// out) or after the first batch. Delivery stops before the next transaction, and while the
// service runs no batch goes out twice, even while the disk stays full.
TEST_F(DeliveryFaultTest, ProgressThatCannotBeWrittenStopsDeliveryBeforeTheNextTransaction) {
  for (const int firstFailingWrite : {1, 2}) {
    SCOPED_TRACE(firstFailingWrite);
    FakeSmtpRelay relay;
    Settings(relay.Port(), "MaxRecipients=100\r\n");
    Members(1, 250);
    const std::string name = "A" + std::to_string(firstFailingWrite) + ".msg";
    temp_.Write("Data/Sales/Outbox/" + name, "Subject: post\r\n\r\nbody\r\n");
    temp_.Write("Data/Sales/Outbox/B.msg", "Subject: second\r\n\r\nbody\r\n");
    InjectFileFault({FileOperation::Write, firstFailingWrite, 0, ENOSPC, ".progress"});

    Cycle();
    const std::size_t first = firstFailingWrite == 1 ? 0 : 1;  // batches out before the stop
    EXPECT_EQ(relay.Deliveries().size(), first);               // neither the next batch nor B
    EXPECT_EQ(RedEntries(), Lines{"Delivery of " + name +
                                  " stopped: its progress cannot be recorded\r\n"
                                  "Cannot create file " +
                                  list_ + "Outbox/" + name + ".progress: No space left on device"});
    // Where the mail is: still in the Outbox, and no temporary file beside it (the record
    // written before the first batch stays, the batch itself is remembered in memory).
    EXPECT_EQ(Files("Outbox"),
              first == 0 ? (Lines{name, "B.msg"}) : (Lines{name, name + ".progress", "B.msg"}));

    Cycle();  // the disk is still full: at most the next batch, then the same stop
    EXPECT_EQ(relay.Deliveries().size(), first);
    EXPECT_EQ(relay.CountsByRecipient(), first == 0 ? Counts{} : Each(1, 100));

    ClearFileFaults();
    Cycle();
    EXPECT_EQ(relay.CountsByRecipient(), Each(1, 250, 2));  // the post and B, each once
    EXPECT_TRUE(Files("Outbox").empty());
    EXPECT_TRUE(RedEntries().empty());
  }
}

// Only regular files are sent. A link (to anything outside the list), a FIFO (which would block
// an open for ever) and a directory go to Failed/; when that move fails, they are passed over with
// a log line and stay. The regular file goes out either way.
TEST_F(DeliveryFaultTest, WhatIsNoRegularFileIsSetAsideNeverSent) {
  FakeSmtpRelay relay;
  Settings(relay.Port());
  Members(1, 1);
  temp_.Write("Outside.txt", "Subject: secret\r\n\r\nnot for the list\r\n");
  for (const bool movable : {false, true}) {
    SCOPED_TRACE(movable);
    const std::string outbox = list_ + "Outbox/";
    std::filesystem::create_symlink(temp_.Path() + "Outside.txt", outbox + "L.msg");
    ASSERT_EQ(::mkfifo((outbox + "F.msg").c_str(), 0600), 0);
    std::filesystem::create_directory(outbox + "D.dig");
    temp_.Write("Data/Sales/Outbox/R.msg", "Subject: real\r\n\r\nbody\r\n");
    if (!movable) InjectFileFault({FileOperation::Rename, 1, 0, EROFS, "/Failed/"});

    Cycle();
    const Lines red = RedEntries();
    ASSERT_EQ(red.size(), 3u);
    for (const char* name : {"D.dig", "F.msg", "L.msg"})
      EXPECT_TRUE(AnyContains(red, std::string("Message file ") + name +
                                       (movable ? " moved to Failed/" : " passed over") +
                                       (movable ? "" : ": it is not a regular file")))
          << name;
    EXPECT_EQ(Files("Outbox"), movable ? Lines{} : (Lines{"D.dig", "F.msg", "L.msg"}));
    EXPECT_EQ(relay.Deliveries().size(), movable ? 2u : 1u);
    for (const auto& delivery : relay.Deliveries())
      EXPECT_EQ(delivery.lines, (Lines{"Subject: real", "", "body"}));
    ClearFileFaults();
    if (!movable) {
      std::filesystem::remove(outbox + "L.msg");
      std::filesystem::remove(outbox + "F.msg");
      std::filesystem::remove(outbox + "D.dig");
    }
  }
  EXPECT_EQ(Files("Failed"), (Lines{"D.dig", "F.msg", "L.msg"}));
  EXPECT_EQ(temp_.Read("Outside.txt"), "Subject: secret\r\n\r\nnot for the list\r\n");
}

// A private message may hold a member's password. A delivery that fails half-way leaves no copy
// of it anywhere but the Outbox file, which goes out once the relay takes it; a scratch copy left
// by an older version is removed.
TEST_F(DeliveryFaultTest, FailedDeliveryLeavesNoScratchCopy) {
  FakeSmtpRelay relay({.dropAtEndOfData = 1});
  Settings(relay.Port());
  Members(1, 1);
  temp_.Write("Data/Sales/tmp.tmp", "Your password is old-secret\r\n");
  temp_.Write("Data/Sales/Outbox/P.pri", "m1@x.test\r\nSubject: password\r\n\r\nsecret\r\n");
  Cycle();
  EXPECT_FALSE(temp_.Exists("Data/Sales/tmp.tmp"));
  EXPECT_EQ(Files("Outbox"), Lines{"P.pri"});
  EXPECT_EQ(test::FileNamesIn(list_), (Lines{"Outbox", "maillist.ini", "subscribers.ini"}));
  ASSERT_TRUE(relay.WaitUntilIdle(5s));
  Cycle();
  EXPECT_TRUE(Files("Outbox").empty());
  EXPECT_EQ(test::FileNamesIn(list_), (Lines{"Outbox", "maillist.ini", "subscribers.ini"}));
  // The relay counts only what it answered; the dropped transaction is not among them.
  EXPECT_EQ(relay.CountsByRecipient(), (Counts{{"m1@x.test", 1}}));
}

}  // namespace
}  // namespace orvex
