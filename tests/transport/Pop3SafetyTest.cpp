// POP3 retrieval against hostile servers and interruptions: messages over the bound stay on the
// server, endless data ends at the bound or at a stop request, and where the server answers UIDL
// a message saved once is never fetched again, whatever happened to its DELE.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "platform/FaultInjection.h"
#include "platform/StopSignal.h"
#include "support/Fakes.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "transport/Pop3Retrieval.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Hangup;
using test::Hear;
using test::Say;
using test::SayRaw;
using test::ScriptedServer;
using test::ServerStep;
using test::Stall;
using Script = std::vector<ServerStep>;
using Lines = std::vector<std::string>;

Script Then(Script script, const Script& more) {
  script.insert(script.end(), more.begin(), more.end());
  return script;
}

// Up to STAT's answer of `count` messages.
Script LoggedIn(int count) {
  return {Say("+OK ready"),
          Hear(),
          Say("+OK"),
          Hear(),
          Say("+OK in"),
          Hear(),
          Say("+OK " + std::to_string(count) + " 100")};
}

// Message k with its id and size, fetched: UIDL, LIST, RETR, and DELE answered by `dele`.
Script Fetched(int k, const std::string& id, const std::string& body,
               const std::string& dele = "+OK") {
  const std::string n = std::to_string(k);
  return {Hear(), Say("+OK " + n + " " + id),
          Hear(), Say("+OK " + n + " " + std::to_string(body.size())),
          Hear(), SayRaw("+OK\r\n" + body + ".\r\n"),
          Hear(), Say(dele)};
}

class Pop3SafetyTest : public test::StageFixture {
 protected:
  Pop3SafetyTest() : StageFixture({"Inbox"}) {}
  void Retrieve(const ScriptedServer& server, Pop3Limits limits = {},
                MailTimeLimits time = kLimits) {
    log_.entries.clear();
    MailClient pop3(110, time);
    auto mailbox = [&](int) { return Pop3Mailbox{{"127.0.0.1", server.Port(), "box", "pw"}}; };
    RetrieveMailboxes(
        1, mailbox, pop3, list_ + "Inbox/",
        [this](const std::string&) { return "M" + std::to_string(++named_) + ".msg"; }, log_, work_,
        limits);
  }
  Lines Inbox() const { return test::FileNamesIn(list_ + "Inbox"); }
  std::string SavedIds() const {
    return temp_.Exists("Data/Sales/Pop3Saved1.lst") ? temp_.Read("Data/Sales/Pop3Saved1.lst")
                                                     : "<none>";
  }

  Pop3WorkItems work_;
  int named_ = 0;
};

// LIST tells the size before anything is fetched: the big one stays, the others come, and the
// red line names mailbox, number and size at each cycle.
TEST_F(Pop3SafetyTest, MessageOverTheBoundByListStaysOnTheServer) {
  ScriptedServer server(
      {Then(Then(LoggedIn(2), {Hear(), Say("+OK 1 big"), Hear(), Say("+OK 1 5000")}),
            Then(Fetched(2, "small", "Subject: s\r\n\r\nx\r\n"), {Hear()}))});
  Retrieve(server, {.maxMessageSize = 4096, .maxPerCycle = 500});
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "USER box", "PASS pw", "STAT", "UIDL 1",
                                        "LIST 1", "UIDL 2", "LIST 2", "RETR 2", "DELE 2", "Quit"}));
  EXPECT_EQ(RedEntries(), Lines{"Message #1 in mailbox box@127.0.0.1 (5000 bytes) is over "
                                "Pop3MaxMessageSize (4096 bytes): left on the server"});
  EXPECT_EQ(Inbox(), Lines{"M1.msg"});
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/M1.msg"), "Subject: s\r\n\r\nx\r\n");
}

struct EndlessCase {
  const char* name;
  Script afterRetr;  // the server's answer to RETR 2, which never ends
};

class EndlessMessageTest : public Pop3SafetyTest,
                           public testing::WithParamInterface<EndlessCase> {};

// A message that turns out longer than the bound while it arrives (no LIST, or a LIST that lied)
// is abandoned: the connection closes (nothing is deleted, as there is no Quit), no partial file
// stays, and message 1, saved before, is known by its id and never fetched again.
TEST_P(EndlessMessageTest, LongerThanTheBoundWhileReadIsAbandoned) {
  ScriptedServer server({Then(Then(LoggedIn(2), Fetched(1, "first", "one\r\n")),
                              Then({Hear(), Say("+OK 2 second"), Hear(), Say("+OK 2 10"), Hear()},
                                   GetParam().afterRetr)),
                         Then(LoggedIn(2), {Hear(), Say("+OK 1 first"), Hear(), Say("+OK"), Hear(),
                                            Say("+OK 2 second"), Hear(), Say("+OK 2 10"), Hear(),
                                            Say("-ERR no more today"), Hear()})});
  Retrieve(server, {.maxMessageSize = 64 * 1024, .maxPerCycle = 500});
  EXPECT_EQ(RedEntries(), (Lines{"Message #2 in mailbox box@127.0.0.1 is longer than "
                                 "Pop3MaxMessageSize (65536 bytes): left on the server",
                                 test::FetchFailedLine(1, "Sales", server.Port())}));
  EXPECT_EQ(Inbox(), Lines{"M1.msg"});  // and no partial file
  EXPECT_EQ(SavedIds(), "Mailbox box@127.0.0.1:" + std::to_string(server.Port()) + "\r\nfirst\r\n");
  // The next session deletes message 1 unfetched.
  Retrieve(server, {.maxMessageSize = 64 * 1024, .maxPerCycle = 500});
  const Lines transcript = server.Transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "RETR 1"), 1);
  EXPECT_EQ(Lines(transcript.end() - 7, transcript.end()),
            (Lines{"STAT", "UIDL 1", "DELE 1", "UIDL 2", "LIST 2", "RETR 2", "Quit"}));
  EXPECT_EQ(Inbox(), Lines{"M1.msg"});
}

INSTANTIATE_TEST_SUITE_P(
    Streams, EndlessMessageTest,
    testing::Values(EndlessCase{"ManyLines", {Say("+OK"), test::Flood("line of a message\r\n")}},
                    EndlessCase{"OneLine", {Say("+OK"), test::Flood(std::string(4096, 'x'))}},
                    EndlessCase{"DotStuffedLines", {Say("+OK"), test::Flood("..x\r\n")}}),
    [](const auto& info) { return info.param.name; });

// A stop request ends a transfer that would never end within a second, and leaves no file.
TEST_F(Pop3SafetyTest, StopRequestEndsAnEndlessTransferWithinASecond) {
  ScriptedServer server({Then(LoggedIn(1), {Hear(), Say("-ERR"), Hear(), Say("-ERR"), Hear(),
                                            Say("+OK"), test::Flood("more and more\r\n")})});
  std::chrono::steady_clock::time_point requested;
  std::thread stopper([&] {
    std::this_thread::sleep_for(300ms);  // the event under test, not a wait for readiness
    requested = std::chrono::steady_clock::now();
    RequestStop();
  });
  Retrieve(server, {.maxMessageSize = std::size_t(1) << 40, .maxPerCycle = 500});
  const auto ended = std::chrono::steady_clock::now();
  stopper.join();
  ResetStopRequest();
  EXPECT_LT(ended - requested, 1s);
  EXPECT_EQ(RedEntries(), Lines{"Program terminated"});
  EXPECT_TRUE(Inbox().empty());
}

// A refused DELE, or a kill before Quit, leaves the id in the list's folder: the next session
// deletes the message without fetching it, and once the server no longer has it, the id goes.
TEST_F(Pop3SafetyTest, SavedMessageIsDeletedUnfetchedAfterARefusedDelete) {
  ScriptedServer server(
      {Then(Then(LoggedIn(2), Fetched(1, "id-a", "a\r\n", "-ERR locked")),
            Then(Fetched(2, "id-b", "b\r\n"), {Hear()})),
       Then(LoggedIn(1), {Hear(), Say("+OK 1 id-a"), Hear(), Say("-ERR still locked"), Hear()}),
       Then(LoggedIn(1), {Hear(), Say("+OK 1 id-a"), Hear(), Say("+OK"), Hear()}),
       Then(LoggedIn(0), {Hear()})});
  const std::string header = "Mailbox box@127.0.0.1:" + std::to_string(server.Port()) + "\r\n";
  Retrieve(server);
  EXPECT_EQ(RedEntries(), Lines{"-ERR locked"});
  EXPECT_EQ(SavedIds(), header + "id-a\r\nid-b\r\n");
  Retrieve(server);
  EXPECT_EQ(RedEntries(), Lines{"-ERR still locked"});
  EXPECT_EQ(SavedIds(), header + "id-a\r\n");  // id-b is gone from the server
  Retrieve(server);
  EXPECT_TRUE(RedEntries().empty());
  Retrieve(server);
  EXPECT_EQ(SavedIds(), "<none>");
  const Lines transcript = server.Transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "RETR 1"), 1);
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "DELE 1"), 3);
  EXPECT_EQ(Inbox(), (Lines{"M1.msg", "M2.msg"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/M1.msg"), "a\r\n");
}

// A kill after the id was written but before the message had its Inbox name: the partial file
// is complete and becomes the message. A partial file without a recorded id is removed (the
// message is still on the server). Ids written for another mailbox are not taken for this one's.
TEST_F(Pop3SafetyTest, InterruptedSaveIsCompletedOrUndoneByItsId) {
  ScriptedServer server({Then(Then(LoggedIn(2), {Hear(), Say("+OK 1 id-a"), Hear(), Say("+OK")}),
                              Then(Fetched(2, "id-b", "b\r\n"), {Hear()}))});
  const std::string header = "Mailbox box@127.0.0.1:" + std::to_string(server.Port()) + "\r\n";
  temp_.Write("Data/Sales/Pop3Saved1.lst", header + "id-a\r\n");
  temp_.Write("Data/Sales/Inbox/retrieved-1-" + std::string("69642d61") + ".part", "a\r\n");
  temp_.Write("Data/Sales/Inbox/retrieved-1-" + std::string("69642d62") + ".part", "b, cut");
  temp_.Write("Data/Sales/Inbox/retrieved.part", "c, cut");
  Retrieve(server);
  EXPECT_EQ(Inbox(), (Lines{"M1.msg", "M2.msg"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/M1.msg"), "a\r\n");
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/M2.msg"), "b\r\n");
  EXPECT_EQ(
      std::filesystem::status(list_ + "Pop3Saved1.lst").permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // Another server under the same number: its ids mean nothing here.
  ScriptedServer other({Then(Then(LoggedIn(1), Fetched(1, "id-a", "other\r\n")), {Hear()})});
  Retrieve(other);
  EXPECT_EQ(Inbox(), (Lines{"M1.msg", "M2.msg", "M3.msg"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/M3.msg"), "other\r\n");
}

// The id cannot be written (a full disk): the message gets no Inbox name and is not deleted; it
// comes again once the disk has room, and nothing is left in between.
TEST_F(Pop3SafetyTest, IdThatCannotBeWrittenLeavesTheMessageOnTheServer) {
  ScriptedServer server({Then(LoggedIn(1), {Hear(), Say("+OK 1 id-a"), Hear(), Say("+OK 1 3"),
                                            Hear(), SayRaw("+OK\r\na\r\n.\r\n"), Hear()}),
                         Then(Then(LoggedIn(1), Fetched(1, "id-a", "a\r\n")), {Hear()})});
  InjectFileFault({FileOperation::Write, 1, 1, ENOSPC, "Pop3Saved1.lst"});
  Retrieve(server);
  ASSERT_EQ(RedEntries().size(), 2u);
  EXPECT_NE(RedEntries()[0].find("No space left on device"), std::string::npos) << RedEntries()[0];
  EXPECT_EQ(RedEntries()[1], test::FetchFailedLine(1, "Sales", server.Port()));
  EXPECT_TRUE(Inbox().empty());
  Retrieve(server);
  EXPECT_EQ(Inbox(), Lines{"M1.msg"});
  const Lines transcript = server.Transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "DELE 1"), 1);
}

// A mailbox that never empties: at most Pop3MaxPerCycle messages a cycle.
TEST_F(Pop3SafetyTest, AtMostPop3MaxPerCycleMessagesAreFetched) {
  ScriptedServer server(
      {Then(Then(Then(LoggedIn(2000000000), Fetched(1, "a", "a\r\n")), Fetched(2, "b", "b\r\n")),
            {Hear(), Say("+OK 3 c"), Hear()})});
  Retrieve(server, {.maxMessageSize = 1024, .maxPerCycle = 2});
  EXPECT_EQ(Inbox(), (Lines{"M1.msg", "M2.msg"}));
  EXPECT_EQ(server.Transcript().back(), "Quit");
  EXPECT_TRUE(
      log_.Contains("2 messages fetched, the limit of one cycle (Pop3MaxPerCycle); the "
                    "rest waits for the next cycle"));
}

}  // namespace
}  // namespace orvex
