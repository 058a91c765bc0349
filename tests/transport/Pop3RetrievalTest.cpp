// POP3 retrieval against scripted servers: the exact exchange, the files it leaves in Inbox, and
// what stays on the server when something goes wrong.
#include "transport/Pop3Retrieval.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/StopSignal.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
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

// The steps up to a successful login.
Script LoggedIn() {
  return {Say("+OK ready"), Hear(), Say("+OK"), Hear(), Say("+OK logged in")};
}

Script Then(Script script, const Script& more) {
  script.insert(script.end(), more.begin(), more.end());
  return script;
}

class Pop3RetrievalTest : public test::StageFixture {
 protected:
  Pop3RetrievalTest() : StageFixture({"Inbox"}) {}
  // Names in order A.msg, B.msg, ... as a namer would give them.
  std::string NextName(const std::string&) { return std::string(1, char('A' + named_++)) + ".msg"; }

  void Retrieve(const std::vector<const ScriptedServer*>& servers,
                MailTimeLimits limits = kLimits) {
    MailClient pop3(110, limits);
    auto mailbox = [&](int n) {
      return Pop3Mailbox{{"127.0.0.1", servers[n - 1]->Port(), "user" + std::to_string(n),
                          "secret" + std::to_string(n)}};
    };
    RetrieveMailboxes(
        static_cast<int>(servers.size()), mailbox, pop3, list_ + "Inbox/",
        [this](const std::string& dir) { return NextName(dir); }, log_, work_);
  }

  Lines InboxFiles() const { return test::FileNamesIn(list_ + "Inbox"); }

  Pop3WorkItems work_;
  int named_ = 0;
};

TEST_F(Pop3RetrievalTest, FetchesSavesAndDeletesEveryMessage) {
  ScriptedServer server({Then(
      LoggedIn(),
      {Hear(), Say("+OK 2 320"), Hear(), Say("-ERR"), Hear(), Say("-ERR"), Hear(),
       Say("+OK message follows"), SayRaw("Subject: one\r\n\r\n..\r\n..leading dot\r\n. \r\n.\r\n"),
       Hear(), Say("+OK deleted"), Hear(), SayRaw("+OK\r\nSubject: two\nbare lf\r\n.\r\n"), Hear(),
       Say("+OK deleted"), Hear()})});
  Retrieve({&server});
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "USER user1", "PASS secret1", "STAT", "UIDL 1",
                                        "LIST 1", "RETR 1", "DELE 1", "RETR 2", "DELE 2", "Quit"}));
  EXPECT_EQ(InboxFiles(), (Lines{"A.msg", "B.msg"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/A.msg"),
            "Subject: one\r\n\r\n.\r\n.leading dot\r\n. \r\n");
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/B.msg"), "Subject: two\r\nbare lf\r\n");
  EXPECT_EQ(work_.currentFile, "B.msg");
  EXPECT_EQ(log_.Texts(), (Lines{"Connecting to 127.0.0.1 on port " +
                                     std::to_string(server.Port()) + "\r\n(username=user1) ...",
                                 "Connected", "2 messages in mailbox", "Retrieving message #1",
                                 "Deleting message #1", "Retrieving message #2",
                                 "Deleting message #2", "Disconnecting"}));
  for (const auto& e : log_.entries) EXPECT_EQ(e.colour, LogColour::Green) << e.text;
}

TEST_F(Pop3RetrievalTest, EmptyMailboxWritesNothing) {
  ScriptedServer server({Then(LoggedIn(), {Hear(), Say("+OK 0 0"), Hear()})});
  Retrieve({&server});
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "USER user1", "PASS secret1", "STAT", "Quit"}));
  EXPECT_EQ(log_.Texts().back(), "Disconnecting");
  EXPECT_TRUE(log_.Contains("0 messages in mailbox"));
  EXPECT_TRUE(InboxFiles().empty());
}

TEST_F(Pop3RetrievalTest, RefusedLoginIsLoggedAndTheNextMailboxIsVisited) {
  ScriptedServer refusing(
      {{Say("+OK ready"), Hear(), Say("+OK"), Hear(), Say("-ERR invalid password"), Hear()}});
  ScriptedServer second({Then(LoggedIn(), {Hear(), Say("+OK 0 0"), Hear()})});
  Retrieve({&refusing, &second});
  EXPECT_EQ(refusing.Transcript(), (Lines{"<connect>", "USER user1", "PASS secret1", "Quit"}));
  EXPECT_EQ(second.Transcript(),
            (Lines{"<connect>", "USER user2", "PASS secret2", "STAT", "Quit"}));
  EXPECT_EQ(RedEntries(),
            (Lines{"-ERR invalid password", test::FetchFailedLine(1, "Sales", refusing.Port())}));
  // The refused mailbox was already closed: only the second one logs its disconnect.
  const Lines texts = log_.Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Disconnecting"), 1);
}

// Each row: what goes wrong after message 1 was saved and deleted; message 2 must stay on the
// server (no DELE 2) and leave no file.
struct FaultCase {
  const char* name;
  Script afterRetr2;    // from the server's answer to "RETR 2" on
  Lines clientTail;     // what the client sends after "RETR 2"
  const char* failure;  // the red log line
  bool endsTheVisit;    // and then the line naming the mailbox, the list and the server
};

class Pop3FaultTest : public Pop3RetrievalTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(Pop3FaultTest, WhatWasNotSavedStaysOnTheServer) {
  const FaultCase& c = GetParam();
  ScriptedServer server(
      {Then(Then(LoggedIn(), {Hear(), Say("+OK 2 99"), Hear(), Say("-ERR"), Hear(), Say("-ERR"),
                              Hear(), SayRaw("+OK\r\nfirst\r\n.\r\n"), Hear(), Say("+OK"), Hear()}),
            c.afterRetr2)});
  Retrieve({&server}, {.connect = 5s, .reply = 400ms, .dataEnd = 5s});
  Lines expected{"<connect>", "USER user1", "PASS secret1", "STAT",  "UIDL 1",
                 "LIST 1",    "RETR 1",     "DELE 1",       "RETR 2"};
  expected.insert(expected.end(), c.clientTail.begin(), c.clientTail.end());
  EXPECT_EQ(server.Transcript(), expected);
  EXPECT_EQ(InboxFiles(), (Lines{"A.msg"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/A.msg"), "first\r\n");
  Lines red{c.failure};
  if (c.endsTheVisit) red.push_back(test::FetchFailedLine(1, "Sales", server.Port()));
  EXPECT_EQ(RedEntries(), red);
}

INSTANTIATE_TEST_SUITE_P(Faults, Pop3FaultTest,
                         testing::Values(FaultCase{"RetrRefused",
                                                   {Say("-ERR no such message"), Hear()},
                                                   {"Quit"},
                                                   "Cannot retrieve message # 2",
                                                   false},
                                         FaultCase{"ClosedMidTransfer",
                                                   {SayRaw("+OK\r\nhalf a mess"), Hangup()},
                                                   {},
                                                   "Connection Closed Gracefully.",
                                                   true},
                                         FaultCase{"StalledMidTransfer",
                                                   {SayRaw("+OK\r\nsome lines\r\n"), Hear()},
                                                   {"Quit"},
                                                   "Socket Error # 110\r\nConnection timed out.",
                                                   true}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Pop3RetrievalTest, DeleteRefusedLeavesTheMailbox) {
  ScriptedServer server(
      {Then(LoggedIn(), {Hear(), Say("+OK 1 9"), Hear(), Say("-ERR"), Hear(), Say("-ERR"), Hear(),
                         SayRaw("+OK\r\nx\r\n.\r\n"), Hear(), Say("-ERR cannot delete"), Hear()})});
  Retrieve({&server});
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "USER user1", "PASS secret1", "STAT", "UIDL 1",
                                        "LIST 1", "RETR 1", "DELE 1", "Quit"}));
  EXPECT_EQ(InboxFiles(), (Lines{"A.msg"}));  // fetched again next cycle: duplicated, never lost
  EXPECT_EQ(RedEntries(), (Lines{"-ERR cannot delete"}));
}

TEST_F(Pop3RetrievalTest, UnsavableFileIsNotDeletedOnTheServer) {
  std::filesystem::remove(list_ + "Inbox");
  ScriptedServer server(
      {Then(LoggedIn(), {Hear(), Say("+OK 1 9"), Hear(), Say("-ERR"), Hear(), Say("-ERR"), Hear(),
                         SayRaw("+OK\r\nx\r\n.\r\n"), Hear()})});
  Retrieve({&server});
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "USER user1", "PASS secret1", "STAT", "UIDL 1",
                                        "LIST 1", "RETR 1", "Quit"}));
  ASSERT_EQ(RedEntries().size(), 2u);
  EXPECT_EQ(RedEntries()[0].rfind("Cannot create file ", 0), 0u) << RedEntries()[0];
  EXPECT_EQ(RedEntries()[1], test::FetchFailedLine(1, "Sales", server.Port()));
}

TEST_F(Pop3RetrievalTest, ANameThatIsTakenIsNeverOverwritten) {
  temp_.Write("Data/Sales/Inbox/A.msg", "earlier message\r\n");
  ScriptedServer server(
      {Then(LoggedIn(), {Hear(), Say("+OK 1 9"), Hear(), Say("-ERR"), Hear(), Say("-ERR"), Hear(),
                         SayRaw("+OK\r\nnew\r\n.\r\n"), Hear(), Say("+OK"), Hear()})});
  Retrieve({&server});
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/A.msg"), "earlier message\r\n");
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/B.msg"), "new\r\n");
  EXPECT_EQ(InboxFiles(), (Lines{"A.msg", "B.msg"}));  // and no partial file is left
}

TEST_F(Pop3RetrievalTest, StatWithoutSizeFieldFetchesNothing) {
  ScriptedServer server({Then(LoggedIn(), {Hear(), Say("+OK 3"), Hear()})});
  Retrieve({&server});
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "USER user1", "PASS secret1", "STAT", "Quit"}));
  EXPECT_EQ(RedEntries(), (Lines{"+OK 3", test::FetchFailedLine(1, "Sales", server.Port())}));
}

TEST_F(Pop3RetrievalTest, SilentServerTimesOutAndTheNextMailboxIsVisited) {
  ScriptedServer silent({{Stall()}});
  ScriptedServer second({Then(LoggedIn(), {Hear(), Say("+OK 0 0"), Hear()})});
  Retrieve({&silent, &second}, {.connect = 5s, .reply = 300ms, .dataEnd = 5s});
  EXPECT_EQ(RedEntries(), (Lines{"Socket Error # 110\r\nConnection timed out.",
                                 test::FetchFailedLine(1, "Sales", silent.Port())}));
  EXPECT_EQ(second.Transcript(),
            (Lines{"<connect>", "USER user2", "PASS secret2", "STAT", "Quit"}));
}

TEST_F(Pop3RetrievalTest, StopRequestDuringAStallEndsTheStage) {
  ScriptedServer silent({{Stall()}});
  ScriptedServer second({LoggedIn()});
  std::thread stopper([] {
    std::this_thread::sleep_for(200ms);  // the event under test, not a wait for readiness
    RequestStop();
  });
  const auto start = std::chrono::steady_clock::now();
  Retrieve({&silent, &second}, {});  // default limits: minutes
  stopper.join();
  const bool stopped = Terminated();
  ResetStopRequest();
  EXPECT_TRUE(stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(RedEntries(), (Lines{"Program terminated"}));
  EXPECT_EQ(log_.Texts().back(), "Disconnecting");
  EXPECT_EQ(second.Connections(), 0);
}

TEST_F(Pop3RetrievalTest, NoMailboxesNoLog) {
  Retrieve({});
  EXPECT_TRUE(log_.entries.empty());
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

// The stage as the list cycle calls it: settings from maillist.ini, names from the namer.
class Pop3StageTest : public testing::Test {
 protected:
  static std::string Plain(const std::string& stored) { return "plain:" + stored; }

  void Run(const std::string& ini) {
    const std::string dir = temp_.MakeList("Sales");
    std::filesystem::create_directories(dir + "Inbox");
    temp_.Write("Data/Sales/maillist.ini", ini);
    TAccount list;
    list.Load(dir);
    MailClient pop3(110, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
    RetrieveMailboxes(list, pop3, env_, Plain);
  }

  test::TempDirectory temp_;
  test::RecordingLogger log_;
  test::FakeClock clock_;
  test::FakeRandom random_;
  MessageNamer namer_{clock_};
  Environment env_{clock_, random_, log_, namer_};
};

TEST_F(Pop3StageTest, WithoutPop3CountOneMailboxIsVisitedWithItsSettings) {
  ScriptedServer server(
      {Then(LoggedIn(), {Hear(), Say("+OK 1 5"), Hear(), Say("-ERR"), Hear(), Say("-ERR"), Hear(),
                         SayRaw("+OK\r\nhello\r\n.\r\n"), Hear(), Say("+OK"), Hear()})});
  Run("[General]\r\nPop3Host1=127.0.0.1\r\nPop3Port1=" + std::to_string(server.Port()) +
      "\r\nName1=box\r\nPassword1=stored\r\nPop3Host2=127.0.0.1\r\n");
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "USER box", "PASS plain:stored", "STAT",
                                        "UIDL 1", "LIST 1", "RETR 1", "DELE 1", "Quit"}));
  // The namer's name for the fake clock's instant, 2026-12-07 02:33:54.123.
  EXPECT_EQ(temp_.Read("Data/Sales/Inbox/47FB75DF59010B.msg"), "hello\r\n");
}

TEST_F(Pop3StageTest, Pop3CountZeroVisitsNothing) {
  Run("[General]\r\nPop3Count=0\r\nPop3Host1=127.0.0.1\r\n");
  EXPECT_TRUE(log_.entries.empty());
}

}  // namespace
}  // namespace orvex
