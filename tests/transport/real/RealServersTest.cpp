// Retrieval from a real POP3 server (Dovecot) and delivery through a real SMTP relay (Postfix),
// both private instances started by tests/support/mailservers.py, which passes their ports and
// mailbox directories in the environment.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "crypto/Passwords.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/MailServerFiles.h"
#include "support/TempDirectory.h"
#include "transport/Pop3Retrieval.h"
#include "transport/SmtpDelivery.h"
#include "transport/SmtpSession.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using test::AwaitEmpty;
using test::AwaitFiles;
using test::FilesIn;
using test::HarnessSetting;
using test::ReadFile;
using test::WriteFile;

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// What Postfix's virtual delivery puts in front of the message as it was sent.
struct Delivered {
  std::string returnPath;
  std::string deliveredTo;
  std::string sent;  // the message after the relay's own header lines, lines ended by LF
};

Delivered Parse(const std::string& file) {
  Delivered d;
  std::istringstream in(file);
  std::string line;
  std::size_t consumed = 0;
  bool inReceived = false;
  while (std::getline(in, line)) {
    const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (line.rfind("Return-Path: ", 0) == 0) {
      d.returnPath = line.substr(13);
    } else if (line.rfind("Delivered-To: ", 0) == 0) {
      d.deliveredTo = line.substr(14);
    } else if (line.rfind("X-Original-To: ", 0) == 0) {
    } else if (line.rfind("Received: ", 0) == 0) {
      inReceived = true;
    } else if (!(inReceived && continuation)) {
      break;
    }
    consumed += line.size() + 1;
  }
  d.sent = file.substr(consumed);
  return d;
}

class RealServersTest : public test::StageFixture {};

TEST_F(RealServersTest, RetrievesTwoMailboxesOfOneListFromDovecot) {
  const fs::path maildirs = HarnessSetting("ORVEX_POP3_MAILDIRS");
  // Maildir files hold LF lines; the server sends CR LF and stuffs the dots.
  WriteFile(maildirs / "alice/Maildir/new/1.host",
            "Subject: first\n\n.\n..two dots\n. dot space\nend\n");
  WriteFile(maildirs / "alice/Maildir/new/2.host", "Subject: second\n\nbody\n");
  WriteFile(maildirs / "bob/Maildir/new/1.host", "Subject: third\n\n...\n");
  fs::create_directories(list_ + "Inbox");
  const std::string port = HarnessSetting("ORVEX_POP3_PORT");
  temp_.Write("Data/Sales/maillist.ini",
              "[General]\r\nPop3Count=4\r\n"
              "Pop3Host1=127.0.0.1\r\nPop3Port1=" +
                  port + "\r\nName1=alice\r\nPassword1=" + EncipherPassword("alice-secret") +
                  "\r\n"
                  "Pop3Host2=localhost\r\nPop3Port2=" +
                  port + "\r\nName2=empty\r\nPassword2=" + EncipherPassword("empty-secret") +
                  "\r\n"
                  "Pop3Host3=127.0.0.1\r\nPop3Port3=" +
                  port + "\r\nName3=bob\r\nPassword3=" + EncipherPassword("wrong") +
                  "\r\n"
                  "Pop3Host4=127.0.0.1\r\nPop3Port4=" +
                  port + "\r\nName4=bob\r\nPassword4=" + EncipherPassword("bob-secret") + "\r\n");
  TAccount list;
  list.Load(list_);
  MailClient pop3(110);
  RetrieveMailboxes(list, pop3, env_);

  Lines contents;
  for (const auto& f : FilesIn(list_ + "Inbox")) contents.push_back(ReadFile(f));
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (Lines{"Subject: first\r\n\r\n.\r\n..two dots\r\n. dot space\r\nend\r\n",
                             "Subject: second\r\n\r\nbody\r\n", "Subject: third\r\n\r\n...\r\n"}));
  // Fetched messages are gone from the server.
  for (const char* dir :
       {"alice/Maildir/new", "alice/Maildir/cur", "bob/Maildir/new", "bob/Maildir/cur"})
    EXPECT_TRUE(AwaitEmpty(maildirs / dir)) << dir;
  EXPECT_TRUE(log_.Contains("2 messages in mailbox"));
  EXPECT_TRUE(log_.Contains("0 messages in mailbox"));
  EXPECT_TRUE(log_.Contains("1 messages in mailbox"));
  EXPECT_EQ(log_.Texts(LogColour::Red),
            (Lines{"-ERR [AUTH] Authentication failed.",
                   test::FetchFailedLine(3, "Sales", std::stoi(port))}));
}

TEST_F(RealServersTest, DeliversPostDigestAndNoticeThroughPostfix) {
  const fs::path vmail = HarnessSetting("ORVEX_SMTP_MAILDIRS");
  const std::string domain = HarnessSetting("ORVEX_SMTP_DOMAIN");
  temp_.Write(
      "Data/Sales/Outbox/A.msg",
      "From: ann@" + domain + "\r\nSubject: post\r\n\r\n.\r\n..\r\n.leading\r\n\r\nlast\r\n");
  temp_.Write("Data/Sales/Outbox/B.dig", "Subject: digest\r\n\r\ndigest body\n");
  temp_.Write("Data/Sales/Outbox/C.pri",
              "joe@" + domain + "\r\nSubject: notice\r\n\r\n. only a dot line follows\r\n.\r\n");
  temp_.Write("Data/Sales/maillist.ini",
              "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + HarnessSetting("ORVEX_SMTP_PORT") +
                  "\r\nFrom=sales@" + domain + "\r\nControlAddress=sales-request@" + domain +
                  "\r\n");
  // Postfix offers PIPELINING: the post goes to its 50 members in one batch of commands.
  {
    MailClient probe(25);
    probe.host = "127.0.0.1";
    probe.port = std::stoi(HarnessSetting("ORVEX_SMTP_PORT"));
    probe.Connect();
    EXPECT_TRUE(SmtpGreet(probe).pipelining);
    probe.Quit();
  }
  TAccount list;
  list.Load(list_);
  for (int n = 1; n <= 50; ++n)
    AddSubscriber(list.Subscribers(), "sub" + std::to_string(n) + "@" + domain, "");
  list.SetSubscriberFlag("sub7@" + domain, 'b');  // posting disabled still receives posts
  for (const char* name : {"digest1", "digest2", "paused"})
    AddSubscriber(list.Subscribers(), name + ("@" + domain), "");
  list.SetSubscriberFlag("digest1@" + domain, 'd');
  list.SetSubscriberFlag("digest2@" + domain, 'd');
  list.SetSubscriberFlag("paused@" + domain, 'p');
  MailClient smtp(25);
  DeliverOutbox(list, smtp, env_);
  EXPECT_TRUE(FilesIn(list_ + "Outbox").empty());
  EXPECT_FALSE(temp_.Exists("Data/Sales/tmp.tmp"));

  for (int n = 1; n <= 50; ++n) {
    const std::string box = "sub" + std::to_string(n);
    const auto files = AwaitFiles(vmail / box / "new", 1);
    ASSERT_EQ(files.size(), 1u) << box;
    const Delivered d = Parse(ReadFile(files[0]));
    EXPECT_EQ(d.returnPath, "<sales@" + domain + ">");
    EXPECT_EQ(d.deliveredTo, box + "@" + domain);
    EXPECT_EQ(d.sent, "From: ann@" + domain + "\nSubject: post\n\n.\n..\n.leading\n\nlast\n");
  }
  for (const char* box : {"digest1", "digest2"}) {
    const auto files = AwaitFiles(vmail / box / "new", 1);
    ASSERT_EQ(files.size(), 1u) << box;
    const Delivered d = Parse(ReadFile(files[0]));
    EXPECT_EQ(d.returnPath, "<sales@" + domain + ">");
    EXPECT_EQ(d.sent, "Subject: digest\n\ndigest body\n");
  }
  const auto notices = AwaitFiles(vmail / "joe/new", 1);
  ASSERT_EQ(notices.size(), 1u);
  const Delivered notice = Parse(ReadFile(notices[0]));
  EXPECT_EQ(notice.returnPath, "<sales-request@" + domain + ">");
  EXPECT_EQ(notice.sent, "Subject: notice\n\n. only a dot line follows\n.\n");
  // Nobody got anything twice.
  EXPECT_EQ(FilesIn(vmail / "sub1/new").size(), 1u);
  EXPECT_EQ(FilesIn(vmail / "joe/new").size(), 1u);
  EXPECT_TRUE(FilesIn(vmail / "paused/new").empty());
}

}  // namespace
}  // namespace orvex
