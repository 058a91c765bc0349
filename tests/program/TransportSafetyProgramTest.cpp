// The real service against local faults and hostile mail servers: a sent file that cannot be
// removed, a progress record that cannot be written, odd Outbox files, scratch files, endless
// POP3 messages and SMTP replies, and a kill during retrieval. Each case answers where the mail
// is and whether it can go out twice.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/ChildProcess.h"
#include "support/FakeSmtpRelay.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Hear;
using test::Say;
using test::SayRaw;
using test::ScriptedServer;
using test::ServerStep;
using test::Stall;
using Counts = std::map<std::string, int>;
using Lines = std::vector<std::string>;
using Script = std::vector<ServerStep>;

std::string Member(int n) {
  return "m" + std::to_string(n) + "@x.test";
}

Counts Each(int first, int last) {
  Counts counts;
  for (int n = first; n <= last; ++n) counts[Member(n)] = 1;
  return counts;
}

using test::Flat;
bool Has(const std::string& output, const std::string& text) {
  return Flat(output).find(Flat(text)) != std::string::npos;
}
int Occurrences(const std::string& output, const std::string& text) {
  const std::string flat = Flat(output);
  int n = 0;
  for (std::size_t at = flat.find(text); at != std::string::npos; at = flat.find(text, at + 1)) ++n;
  return n;
}

class TransportSafetyProgramTest : public testing::Test {
 protected:
  TransportSafetyProgramTest() {
    std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir_.Path() + "orvex");
    list_ = dir_.MakeList("sales");
  }
  ~TransportSafetyProgramTest() override { ::unsetenv("ORVEX_FILE_FAULTS"); }

  // maillist.ini afresh (so that the list is due) with the relay and extra General lines.
  void Settings(int smtpPort, const std::string& extra = {}) {
    dir_.Write(
        "Data/sales/maillist.ini",
        "[General]\r\nName=Sales\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(smtpPort) +
            "\r\nFrom=sales@x.test\r\nControlAddress=sales-request@x.test\r\n" + extra);
  }
  void Members(int count) {
    std::string store;
    for (int n = 1; n <= count; ++n) store += Member(n) + "=\r\n";
    dir_.Write("Data/sales/subscribers.ini", store);
  }
  // One run of the service with `faults` (ORVEX_FILE_FAULTS) until its log shows `awaited`, then
  // `signal`; returns its output.
  std::string Run(const std::string& faults, const std::string& awaited = "Idle",
                  int signal = SIGTERM) {
    if (faults.empty())
      ::unsetenv("ORVEX_FILE_FAULTS");
    else
      ::setenv("ORVEX_FILE_FAULTS", faults.c_str(), 1);
    test::ChildProcess service(dir_.Path() + "orvex", {}, dir_.Path());
    ::unsetenv("ORVEX_FILE_FAULTS");
    EXPECT_TRUE(service.WaitForOutput(awaited, 30s)) << service.Stdout();
    service.Signal(signal);
    EXPECT_TRUE(service.WaitForExit(10s).has_value());
    return service.Stdout();
  }
  Lines Files(const std::string& sub) const { return test::FileNamesIn(list_ + sub); }

  test::TempDirectory dir_;
  std::string list_;
};

// The Outbox is not writable: the post went out, the file stays. It is never sent again, and
// each cycle says why it stays.
TEST_F(TransportSafetyProgramTest, SentFileThatCannotBeRemovedIsNeverSentAgain) {
  test::FakeSmtpRelay relay;
  Members(3);
  dir_.Write("Data/sales/Outbox/A.msg", "Subject: post\r\n\r\nbody\r\n");
  for (int run = 1; run <= 2; ++run) {
    Settings(relay.Port(), "Pop3Count=0\r\n");
    const std::string out = Run("remove:1:0:EACCES:/Outbox/A.msg");
    EXPECT_TRUE(Has(out, "Cannot remove sent message file A.msg: Permission denied")) << out;
    EXPECT_EQ(Files("Outbox"), (Lines{"A.msg", "A.msg.progress"}));
  }
  Settings(relay.Port(), "Pop3Count=0\r\n");
  Run("");
  EXPECT_TRUE(Files("Outbox").empty());
  EXPECT_EQ(relay.CountsByRecipient(), Each(1, 3));
}

// A full disk: the record of who has the post cannot be written, so nothing goes out; the post
// waits in the Outbox and goes to everybody once when the disk has room again.
TEST_F(TransportSafetyProgramTest, ProgressThatCannotBeWrittenStopsDelivery) {
  test::FakeSmtpRelay relay;
  Members(250);
  dir_.Write("Data/sales/Outbox/A.msg", "Subject: post\r\n\r\nbody\r\n");
  Settings(relay.Port(), "Pop3Count=0\r\nMaxRecipients=100\r\n");
  const std::string out = Run("write:1:0:ENOSPC:.progress");
  EXPECT_TRUE(Has(out, "Delivery of A.msg stopped: its progress cannot be recorded")) << out;
  EXPECT_TRUE(Has(out, "No space left on device")) << out;
  EXPECT_TRUE(relay.Deliveries().empty());
  EXPECT_EQ(Files("Outbox"), Lines{"A.msg"});
  Settings(relay.Port(), "Pop3Count=0\r\nMaxRecipients=100\r\n");
  Run("");
  EXPECT_EQ(relay.CountsByRecipient(), Each(1, 250));
  EXPECT_TRUE(Files("Outbox").empty());
}

// A FIFO, a link and a directory named like mail: the service neither hangs nor sends them; they
// go to Failed/ and the real post goes out.
TEST_F(TransportSafetyProgramTest, OutboxEntriesThatAreNoRegularFilesAreSetAside) {
  test::FakeSmtpRelay relay;
  Members(1);
  Settings(relay.Port(), "Pop3Count=0\r\n");
  dir_.Write("secret.txt", "Subject: not for the list\r\n\r\nsecret\r\n");
  std::filesystem::create_directories(list_ + "Outbox");
  ASSERT_EQ(::mkfifo((list_ + "Outbox/F.msg").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir_.Path() + "secret.txt", list_ + "Outbox/L.msg");
  std::filesystem::create_directory(list_ + "Outbox/D.msg");
  dir_.Write("Data/sales/Outbox/R.msg", "Subject: real\r\n\r\nbody\r\n");
  const std::string out = Run("");
  for (const char* name : {"D.msg", "F.msg", "L.msg"})
    EXPECT_TRUE(Has(out, std::string("Message file ") + name + " moved to Failed/")) << out;
  EXPECT_EQ(Files("Failed"), (Lines{"D.msg", "F.msg", "L.msg"}));
  EXPECT_TRUE(Files("Outbox").empty());
  ASSERT_EQ(relay.Deliveries().size(), 1u);
  EXPECT_EQ(relay.Deliveries()[0].lines, (Lines{"Subject: real", "", "body"}));
}

// A delivery that fails half-way leaves no scratch copy of a private message (which may hold a
// password) in the list's folder; an old one is removed; what the service writes is 0600.
TEST_F(TransportSafetyProgramTest, FailedDeliveryLeavesNoScratchFile) {
  test::FakeSmtpRelay relay({.dropAtEndOfData = 1});
  Members(1);
  Settings(relay.Port(), "Pop3Count=0\r\n");
  dir_.Write("Data/sales/tmp.tmp", "Your password is old\r\n");
  dir_.Write("Data/sales/Outbox/P.pri", "m1@x.test\r\nSubject: password\r\n\r\nsecret\r\n");
  Run("");
  EXPECT_FALSE(dir_.Exists("Data/sales/tmp.tmp"));
  EXPECT_EQ(Files("Outbox"), Lines{"P.pri"});  // waits for the next cycle
  for (const auto& entry : std::filesystem::recursive_directory_iterator(list_)) {
    if (!entry.is_regular_file() || entry.path().filename() == "P.pri" ||
        entry.path().filename() == "subscribers.ini")
      continue;
    EXPECT_EQ(entry.status().permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << entry.path();
  }
  Settings(relay.Port(), "Pop3Count=0\r\n");
  Run("");
  EXPECT_TRUE(Files("Outbox").empty());
  EXPECT_EQ(relay.CountsByRecipient(), (Counts{{"m1@x.test", 1}}));
}

// POP3 settings of one mailbox on `port`.
std::string Pop3(int port, const std::string& extra = {}) {
  return "Pop3Count=1\r\nPop3Host1=127.0.0.1\r\nPop3Port1=" + std::to_string(port) +
         "\r\nName1=box\r\n" + extra;
}

Script LoggedIn(int count) {
  return {Say("+OK ready"),
          Hear(),
          Say("+OK"),
          Hear(),
          Say("+OK in"),
          Hear(),
          Say("+OK " + std::to_string(count) + " 100")};
}

Script Then(Script script, const Script& more) {
  script.insert(script.end(), more.begin(), more.end());
  return script;
}

// A message over the bound by LIST stays on the server with a red line; one whose LIST lied and
// that never ends is abandoned at the bound; a stop request ends an endless transfer at once.
TEST_F(TransportSafetyProgramTest, EndlessPop3MessageIsBoundedAndStopped) {
  ScriptedServer server(
      {Then(LoggedIn(2), {Hear(), Say("-ERR"), Hear(), Say("+OK 1 900000"), Hear(), Say("+OK 2 10"),
                          Hear(), Say("+OK"), test::Flood("line\r\n")}),
       Then(LoggedIn(1), {Hear(), Say("-ERR"), Hear(), Say("-ERR"), Hear(), Say("+OK"),
                          test::Flood(std::string(1000, 'x') + "\r\n")})});
  Settings(0, Pop3(server.Port(), "Pop3MaxMessageSize=100000\r\n"));
  const std::string out = Run("");
  EXPECT_TRUE(Has(out,
                  "Message #1 in mailbox box@127.0.0.1 (900000 bytes) is over "
                  "Pop3MaxMessageSize (100000 bytes): left on the server"))
      << out;
  EXPECT_TRUE(Has(out,
                  "Message #2 in mailbox box@127.0.0.1 is longer than Pop3MaxMessageSize "
                  "(100000 bytes): left on the server"))
      << out;
  EXPECT_TRUE(Files("Inbox").empty());

  // Without a useful bound, SIGTERM ends the transfer within about a second.
  Settings(0, Pop3(server.Port(), "Pop3MaxMessageSize=1073741824\r\n"));
  ::unsetenv("ORVEX_FILE_FAULTS");
  test::ChildProcess service(dir_.Path() + "orvex", {}, dir_.Path());
  ASSERT_TRUE(service.WaitForOutput("Retrieving message #1", 30s)) << service.Stdout();
  const auto signalled = std::chrono::steady_clock::now();
  service.Signal(SIGTERM);
  ASSERT_TRUE(service.WaitForExit(10s).has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
  EXPECT_TRUE(Files("Inbox").empty()) << "no partial file stays";
}

// A relay that sends 1 MB continuation lines without end: the reply is cut at its bound in
// bytes (not after some number of lines), the post stays in the Outbox, and nothing is sent.
TEST_F(TransportSafetyProgramTest, EndlessSmtpReplyIsBounded) {
  ScriptedServer relay(
      {{Say("220 relay"), Hear(), test::Flood("250-" + std::string(1 << 20, 'x') + "\r\n")}});
  Members(1);
  Settings(relay.Port(), "Pop3Count=0\r\n");
  dir_.Write("Data/sales/Outbox/A.msg", "Subject: post\r\n\r\nbody\r\n");
  const std::string out = Run("");
  EXPECT_TRUE(Has(out, "Reply too long from server.")) << out;
  EXPECT_EQ(Files("Outbox"), Lines{"A.msg"});
}

// Killed after a message was saved but before the server deleted it: the next run deletes it
// without fetching it again (the server answers UIDL).
TEST_F(TransportSafetyProgramTest, KillDuringRetrievalFetchesNothingTwice) {
  ScriptedServer server(
      {Then(LoggedIn(1),
            {Hear(), Say("+OK 1 id-1"), Hear(), Say("+OK 1 30"), Hear(),
             SayRaw("+OK\r\nFrom: a@x.test\r\nSubject: hi\r\n\r\nbody\r\n.\r\n"), Hear(), Stall()}),
       Then(LoggedIn(1), {Hear(), Say("+OK 1 id-1"), Hear(), Say("+OK"), Hear()})});
  Settings(0, Pop3(server.Port()));
  Run("", "Deleting message #1", SIGKILL);
  EXPECT_TRUE(dir_.Exists("Data/sales/Pop3Saved1.lst"));
  Settings(0, Pop3(server.Port()));
  const std::string out = Run("");
  const Lines transcript = server.Transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "RETR 1"), 1);
  // The kill may land before or after the first session's DELE reached the server; either way
  // the second session deletes the message without fetching it.
  const auto second = std::find(std::find(transcript.begin(), transcript.end(), "<connect>") + 1,
                                transcript.end(), "<connect>");
  ASSERT_NE(second, transcript.end()) << testing::PrintToString(transcript);
  EXPECT_EQ(std::count(second, transcript.end(), "DELE 1"), 1);
  EXPECT_EQ(std::count(second, transcript.end(), "RETR 1"), 0);
  EXPECT_EQ(Occurrences(out, "Retrieving message"), 0) << out;
}

}  // namespace
}  // namespace orvex
