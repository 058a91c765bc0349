// SMTP delivery against scripted servers: the exact transactions, what is deleted, what waits in
// Outbox and what moves to Failed.
#include "transport/SmtpDelivery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "crypto/Passwords.h"
#include "platform/Socket.h"
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
using test::HearData;
using test::Say;
using test::ScriptedServer;
using test::ServerStep;
using test::Stall;
using Script = std::vector<ServerStep>;
using Lines = std::vector<std::string>;

Script Join(std::initializer_list<Script> parts) {
  Script all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Script Greeted() {
  return {Say("220 relay ready"), Hear(), Say("250-relay"), Say("250 HELP")};
}
Script Accept(int commands) {
  Script s;
  for (int i = 0; i < commands; ++i) s.insert(s.end(), {Hear(), Say("250 ok")});
  return s;
}
Script Data() {
  return {Hear(), Say("354 go ahead"), HearData(), Say("250 queued")};
}
Script QuitAndEnd() {
  return {Hear()};
}

class SmtpDeliveryTest : public test::StageFixture {
 protected:
  SmtpDeliveryTest() : StageFixture({"Outbox"}) { me_ = LocalHostName(); }

  void Deliver(const ScriptedServer* server, OutboxRecipients recipients, std::string user = {},
               std::string password = {}, MailTimeLimits limits = kLimits) {
    MailClient smtp(25, limits);
    SmtpSettings settings;
    settings.host = "127.0.0.1";
    settings.port = server ? server->Port() : 1;
    settings.userName = user;
    settings.password = password;
    settings.from = "sales@lists.test";
    settings.controlAddress = "sales-request@lists.test";
    DeliverOutboxFiles(list_, settings, recipients, {}, clock_, smtp, log_);
  }

  std::string me_;
};

TEST_F(SmtpDeliveryTest, ListPostWithAuthenticationExactExchange) {
  temp_.Write("Data/Sales/Outbox/A.msg", "Subject: hi\r\n\r\n.\r\n..x\n\r\nend");
  ScriptedServer server({Join({Greeted(),
                               {Hear(), Say("334 VXNlcm5hbWU6"), Hear(), Say("334 UGFzc3dvcmQ6"),
                                Hear(), Say("235 welcome")},
                               Accept(3),
                               Data(),
                               QuitAndEnd()})});
  Deliver(&server, {{"a@x.test", "b@x.test"}, {}}, "list user", "pa:ss");
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "ehlo " + me_, "auth LOGIN", "bGlzdCB1c2Vy",
                                        "cGE6c3M=", "MAIL FROM: <sales@lists.test>",
                                        "RCPT TO: <a@x.test>", "RCPT TO: <b@x.test>", "DATA",
                                        "Subject: hi", "", "..", "...x", "", "end", ".", "Quit"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_EQ(log_.Texts(),
            (Lines{"Connecting to 127.0.0.1 on port " + std::to_string(server.Port()) + " ...",
                   "Connected", "Authenticating ...", "Authentication successful",
                   "Sending message to list: 2 recipients", "Disconnecting"}));
}

TEST_F(SmtpDeliveryTest, EveryKindGoesToItsRecipientsFromItsSender) {
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  temp_.Write("Data/Sales/Outbox/B.dig", "digest\r\n");
  temp_.Write("Data/Sales/Outbox/C.pri", "joe@x.test\r\nSubject: notice\r\n\r\nbody\r\n");
  // The server refuses ehlo: the client falls back to Helo.
  ScriptedServer server(
      {Join({{Say("220 ready"), Hear(), Say("502 no ehlo"), Hear(), Say("250 hi")},
             Accept(2),
             Data(),
             Accept(2),
             Data(),
             Accept(2),
             Data(),
             QuitAndEnd()})});
  Deliver(&server, {{"p@x.test"}, {"d@x.test"}});
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>",
                                        "ehlo " + me_,
                                        "Helo " + me_,
                                        "MAIL FROM: <sales@lists.test>",
                                        "RCPT TO: <p@x.test>",
                                        "DATA",
                                        "post",
                                        ".",
                                        "MAIL FROM: <sales@lists.test>",
                                        "RCPT TO: <d@x.test>",
                                        "DATA",
                                        "digest",
                                        ".",
                                        "MAIL FROM: <sales-request@lists.test>",
                                        "RCPT TO: <joe@x.test>",
                                        "DATA",
                                        "Subject: notice",
                                        "",
                                        "body",
                                        ".",
                                        "Quit"}));
  EXPECT_FALSE(temp_.Exists("Data/Sales/tmp.tmp"));
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_TRUE(log_.Contains("Sending message to <joe@x.test>"));
  EXPECT_TRUE(RedEntries().empty());
}

TEST_F(SmtpDeliveryTest, EmptyPasswordIsStillSentAsALine) {
  temp_.Write("Data/Sales/Outbox/C.pri", "joe@x.test\r\nbody\r\n");
  ScriptedServer server({Join({Greeted(),
                               {Hear(), Say("334 VXNlcm5hbWU6"), Hear(), Say("334 UGFzc3dvcmQ6"),
                                Hear(), Say("535 bad credentials"), Hear()}})});
  Deliver(&server, {}, "u", "");
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "ehlo " + me_, "auth LOGIN", "dQ==", "", "Quit"}));
  EXPECT_EQ(RedEntries(), (Lines{"Authentication failed\r\n535 bad credentials",
                                 test::DeliveryFailedLine("Sales", server.Port())}));
  EXPECT_EQ(Files("Outbox"), (Lines{"C.pri"}));
}

TEST_F(SmtpDeliveryTest, NoSubscribersKeepsPostsAndEmptyOutboxConnectsNowhere) {
  Deliver(nullptr, {{"p@x.test"}, {"d@x.test"}});
  EXPECT_TRUE(log_.entries.empty());

  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  temp_.Write("Data/Sales/Outbox/B.dig", "digest\r\n");
  Deliver(nullptr, {{}, {}});
  EXPECT_TRUE(log_.entries.empty());
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "B.dig"}));

  std::filesystem::remove_all(list_ + "Outbox");
  Deliver(nullptr, {{"p@x.test"}, {}});
  EXPECT_TRUE(log_.entries.empty());
}

TEST_F(SmtpDeliveryTest, PermanentlyRefusedRecipientIsLeftOutOthersGetTheMessage) {
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  ScriptedServer server({Join({Greeted(),
                               Accept(2),
                               {Hear(), Say("550 5.1.1 <b@x.test>: unknown user")},
                               Accept(1),
                               Data(),
                               QuitAndEnd()})});
  Deliver(&server, {{"a@x.test", "b@x.test", "c@x.test"}, {}});
  EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "ehlo " + me_, "MAIL FROM: <sales@lists.test>",
                                        "RCPT TO: <a@x.test>", "RCPT TO: <b@x.test>",
                                        "RCPT TO: <c@x.test>", "DATA", "post", ".", "Quit"}));
  EXPECT_EQ(RedEntries(),
            (Lines{"Recipient <b@x.test> refused\r\n550 5.1.1 <b@x.test>: unknown user"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
}

// Each row: a single post whose transaction ends in a refusal that is for good; the post moves
// to Failed and the private message behind it is still sent.
struct RefusalCase {
  const char* name;
  Script refusal;       // from the answer to the first RCPT on
  Lines clientLines;    // what the client sends from the first RCPT to the RSET (if any)
  const char* failure;  // the red line about the moved file
};

class SmtpRefusalTest : public SmtpDeliveryTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(SmtpRefusalTest, RefusedForGoodMovesToFailedAndDeliveryGoesOn) {
  const RefusalCase& c = GetParam();
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  temp_.Write("Data/Sales/Outbox/C.pri", "joe@x.test\r\nnotice\r\n");
  ScriptedServer server({Join({Greeted(), Accept(1), c.refusal, Accept(2), Data(), QuitAndEnd()})});
  Deliver(&server, {{"a@x.test"}, {}});
  Lines expected{"<connect>", "ehlo " + me_, "MAIL FROM: <sales@lists.test>"};
  expected.insert(expected.end(), c.clientLines.begin(), c.clientLines.end());
  expected.insert(expected.end(), {"MAIL FROM: <sales-request@lists.test>", "RCPT TO: <joe@x.test>",
                                   "DATA", "notice", ".", "Quit"});
  EXPECT_EQ(server.Transcript(), expected);
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_EQ(Files("Failed"), (Lines{"A.msg"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Failed/A.msg"), "post\r\n");
  EXPECT_EQ(RedEntries().back(), c.failure);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SmtpRefusalTest,
    testing::Values(
        RefusalCase{"OnlyRecipientRefused",
                    {Hear(), Say("550 no such user"), Hear(), Say("250 reset")},
                    {"RCPT TO: <a@x.test>", "RSET"},
                    "Message file A.msg moved to Failed/A.msg: no recipient was accepted"},
        RefusalCase{"DataRefused",
                    {Hear(), Say("250 ok"), Hear(), Say("554 no valid recipients"), Hear(),
                     Say("250 reset")},
                    {"RCPT TO: <a@x.test>", "DATA", "RSET"},
                    "Message file A.msg moved to Failed/A.msg: the server refused it\r\n"
                    "554 no valid recipients"},
        RefusalCase{"ContentRefused",
                    {Hear(), Say("250 ok"), Hear(), Say("354 go"), test::HearData(),
                     Say("552 message too large")},
                    {"RCPT TO: <a@x.test>", "DATA", "post", "."},
                    "Message file A.msg moved to Failed/A.msg: the server refused it\r\n"
                    "552 message too large"}),
    [](const auto& info) { return info.param.name; });

// Each row: a broken connection or a relay that stops answering ends the stage; the post waits.
struct WaitCase {
  const char* name;
  Script fault;
  const char* failure;
};

class SmtpWaitTest : public SmtpDeliveryTest, public testing::WithParamInterface<WaitCase> {};

TEST_P(SmtpWaitTest, BrokenConnectionEndsTheStageAndTheFileWaits) {
  const WaitCase& c = GetParam();
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  temp_.Write("Data/Sales/Outbox/C.pri", "joe@x.test\r\nnotice\r\n");
  ScriptedServer server({Join({Greeted(), Accept(1), c.fault})});
  Deliver(&server, {{"a@x.test", "b@x.test"}, {}}, {}, {},
          {.connect = 5s, .reply = 300ms, .dataEnd = 300ms});
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "C.pri"}));
  EXPECT_EQ(Files("Failed"), Lines{});
  EXPECT_EQ(RedEntries(), (Lines{c.failure, test::DeliveryFailedLine("Sales", server.Port())}));
}

INSTANTIATE_TEST_SUITE_P(Waits, SmtpWaitTest,
                         testing::Values(WaitCase{"ClosedMidTransaction",
                                                  {Hear(), Hangup()},
                                                  "Connection Closed Gracefully."},
                                         WaitCase{
                                             "StalledAtEndOfData",
                                             {Hear(), Say("250 ok"), Hear(), Say("250 ok"), Hear(),
                                              Say("354 go"), test::HearData(), Stall()},
                                             "Socket Error # 110\r\nConnection timed out."}),
                         [](const auto& info) { return info.param.name; });

// Each row: the relay defers the post for now; it waits with its progress, and the private
// message behind it is still sent.
struct DeferralCase {
  const char* name;
  Script deferral;     // from the answer to the first RCPT on
  Lines clientLines;   // what the client sends from the first RCPT to the end of the post
  const char* logged;  // the red line about the deferral
  const char* progress;
};

class SmtpDeferralTest : public SmtpDeliveryTest,
                         public testing::WithParamInterface<DeferralCase> {};

TEST_P(SmtpDeferralTest, DeferredPostWaitsAndDeliveryGoesOn) {
  const DeferralCase& c = GetParam();
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  temp_.Write("Data/Sales/Outbox/C.pri", "joe@x.test\r\nnotice\r\n");
  ScriptedServer server(
      {Join({Greeted(), Accept(1), c.deferral, Accept(2), Data(), QuitAndEnd()})});
  Deliver(&server, {{"a@x.test", "b@x.test"}, {}});
  Lines expected{"<connect>", "ehlo " + me_, "MAIL FROM: <sales@lists.test>"};
  expected.insert(expected.end(), c.clientLines.begin(), c.clientLines.end());
  expected.insert(expected.end(), {"MAIL FROM: <sales-request@lists.test>", "RCPT TO: <joe@x.test>",
                                   "DATA", "notice", ".", "Quit"});
  EXPECT_EQ(server.Transcript(), expected);
  EXPECT_EQ(RedEntries(), (Lines{c.logged}));
  EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "A.msg.progress"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Outbox/A.msg.progress"), c.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Deferrals, SmtpDeferralTest,
    testing::Values(
        DeferralCase{"OneRecipientDeferred",
                     {Hear(), Say("250 ok"), Hear(), Say("451 try later"), Hear(), Say("354 go"),
                      HearData(), Say("250 queued")},
                     {"RCPT TO: <a@x.test>", "RCPT TO: <b@x.test>", "DATA", "post", "."},
                     "Recipient <b@x.test> deferred\r\n451 try later",
                     "Sent a@x.test\r\n"},
        DeferralCase{"EndOfDataDeferred",
                     {Hear(), Say("250 ok"), Hear(), Say("250 ok"), Hear(), Say("354 go"),
                      HearData(), Say("452 no room")},
                     {"RCPT TO: <a@x.test>", "RCPT TO: <b@x.test>", "DATA", "post", "."},
                     "Message deferred\r\n452 no room",
                     "RefusedSince 46363.106876\r\n"},
        DeferralCase{"DataCommandDeferred",
                     {Hear(), Say("250 ok"), Hear(), Say("250 ok"), Hear(), Say("451 local error"),
                      Hear(), Say("250 reset")},
                     {"RCPT TO: <a@x.test>", "RCPT TO: <b@x.test>", "DATA", "RSET"},
                     "Message deferred\r\n451 local error",
                     "RefusedSince 46363.106876\r\n"}),
    [](const auto& info) { return info.param.name; });

TEST_F(SmtpDeliveryTest, StalledGreetingTimesOutAndNothingIsDeleted) {
  temp_.Write("Data/Sales/Outbox/C.pri", "joe@x.test\r\nnotice\r\n");
  ScriptedServer server({{Stall()}});
  Deliver(&server, {}, {}, {}, {.connect = 5s, .reply = 300ms, .dataEnd = 5s});
  EXPECT_EQ(RedEntries(), (Lines{"Socket Error # 110\r\nConnection timed out.",
                                 test::DeliveryFailedLine("Sales", server.Port())}));
  EXPECT_EQ(Files("Outbox"), (Lines{"C.pri"}));
}

TEST_F(SmtpDeliveryTest, PrivateMessageWithoutLinesMovesToFailedUnsent) {
  temp_.Write("Data/Sales/Outbox/C.pri", "");
  Deliver(nullptr, {});
  EXPECT_EQ(RedEntries(),
            (Lines{"Message file C.pri moved to Failed/C.pri: it has no recipient line"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_EQ(Files("Failed"), (Lines{"C.pri"}));
}

TEST_F(SmtpDeliveryTest, StageSelectsRecipientsByFlagsAndReadsItsSettings) {
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  ScriptedServer server({Join({Greeted(),
                               {Hear(), Say("334 VXNlcm5hbWU6"), Hear(), Say("334 UGFzc3dvcmQ6"),
                                Hear(), Say("235 welcome")},
                               Accept(3),
                               Data(),
                               QuitAndEnd()})});
  temp_.Write("Data/Sales/maillist.ini",
              "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(server.Port()) +
                  "\r\nSMTPUser=u\r\nSMTPPassword=" + EncipherPassword("pa ss") +
                  "\r\nFrom=list@x.test\r\n");
  temp_.Write("Data/Sales/subscribers.ini",
              "a@x.test=\r\nb@x.test=p\r\nc@x.test=d\r\nd@x.test=b\r\n");
  TAccount list;
  list.Load(list_);
  test::FakeClock clock;
  test::FakeRandom random;
  MessageNamer namer(clock);
  const Environment env{clock, random, log_, namer};
  MailClient smtp(25, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
  DeliverOutbox(list, smtp, env);
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "ehlo " + me_, "auth LOGIN",
                   "dQ==", "cGEgc3M=", "MAIL FROM: <list@x.test>", "RCPT TO: <a@x.test>",
                   "RCPT TO: <d@x.test>", "DATA", "post", ".", "Quit"}));
}

}  // namespace
}  // namespace orvex
