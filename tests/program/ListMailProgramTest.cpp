// The real service over prepared Inbox files: unsubscribe buttons confirmed by a code, vacation
// responders kept out of the list, and members whose mail bounces paused.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "BirdsListFixture.h"
#include "platform/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSettings =
    "[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n"
    "ControlAddress=birds-request@example.org\r\nPop3Count=0\r\nCheckInterval=0\r\n"
    "ListHeaders=1\r\nBounceLimit=5\r\nFromRewrite=0\r\n"
    "[Signature]\r\nText=\"-- {Listname}\"\r\n"
    "[Unsubscribe confirmation]\r\nSubject=Confirm: unsubscribe-confirm-{ConfirmCode}\r\n"
    "Text=\"Reply to leave {Listname}\"\r\n"
    "[Unsubscribe successfull]\r\nSubject=Goodbye\r\nText=\"You left {Listname}\"\r\n"
    "[Bounce pause]\r\nSubject=Paused\r\nText=\"Mail to {Address} bounces; you are paused\"\r\n";

class ListMailProgram : public test::BirdsListFixture {
 protected:
  ListMailProgram() : BirdsListFixture(kSettings) {}
};

TEST_F(ListMailProgram, UnsubscribeButtonIsConfirmedByTheCodeSentToTheMember) {
  dir.Write("Data/birds/subscribers.ini", "ann@example.net=,annpw\r\nbob@example.net=,bobpw\r\n");
  Deliver(
      "From: Bob <bob@example.net>\r\nTo: birds-request@example.org\r\n"
      "Subject: unsubscribe\r\n\r\n");
  Cycle();
  const auto notices = TakeOutbox(".pri");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].substr(0, notices[0].find("\r\n")), "bob@example.net");
  const std::string subject = Header(notices[0], "Subject");
  ASSERT_EQ(subject.rfind("Confirm: unsubscribe-confirm-0000", 0), 0u) << subject;
  EXPECT_EQ(Header(notices[0], "Auto-Submitted"), "auto-replied");
  EXPECT_EQ(Read("subscribers.ini"), "ann@example.net=,annpw\r\nbob@example.net=,bobpw\r\n");

  // Ann sends Bob's code from her own address: nobody leaves.
  Deliver("From: ann@example.net\r\nTo: birds-request@example.org\r\nSubject: Re: " + subject +
          "\r\n\r\n");
  Cycle();
  EXPECT_TRUE(TakeOutbox(".pri").empty());
  EXPECT_EQ(Read("subscribers.ini"), "ann@example.net=,annpw\r\nbob@example.net=,bobpw\r\n");

  Deliver("From: Bob <bob@example.net>\r\nTo: birds-request@example.org\r\nSubject: Re: " +
          subject + "\r\n\r\n");
  Cycle();
  const auto goodbye = TakeOutbox(".pri");
  ASSERT_EQ(goodbye.size(), 1u);
  EXPECT_EQ(Header(goodbye[0], "Subject"), "Goodbye");
  EXPECT_EQ(Read("subscribers.ini"), "ann@example.net=,annpw\r\n");
  EXPECT_TRUE(Names("Failed", ".msg").empty());
}

TEST_F(ListMailProgram, VacationRespondersOfTwoMembersAreNeverDistributed) {
  const std::vector<std::string> members = {"ann@example.net", "bob@example.net"};
  dir.Write("Data/birds/subscribers.ini", "ann@example.net=,annpw\r\nbob@example.net=,bobpw\r\n");
  Deliver(
      "From: Ann <ann@example.net>\r\nTo: birds@example.org\r\nSubject: Spring\r\n"
      "Message-ID: <spring@example.net>\r\n\r\nThe swallows are back.\r\n");
  std::size_t distributed = 0;
  std::size_t replies = 0;
  for (int cycle = 0; cycle < 3; ++cycle) {
    Cycle();
    // Each member's responder answers every post it receives, to its Reply-To (the list).
    for (const std::string& post : TakeOutbox(".msg")) {
      ++distributed;
      ASSERT_EQ(Header(post, "Reply-To"), "birds@example.org");
      for (const std::string& member : members) {
        ++replies;
        Deliver("From: " + member + "\r\nTo: " + Header(post, "Reply-To") +
                "\r\nSubject: Out of office: " + Header(post, "Subject") +
                "\r\nAuto-Submitted: auto-replied\r\nIn-Reply-To: " + Header(post, "Message-ID") +
                "\r\n\r\nI am away until Monday.\r\n");
      }
    }
    EXPECT_TRUE(TakeOutbox(".pri").empty()) << "cycle " << cycle;
  }
  EXPECT_EQ(distributed, 1u);  // Ann's post, nothing of the replies
  EXPECT_EQ(replies, 2u);
  EXPECT_EQ(Names("Failed", ".msg").size(), 2u);
  EXPECT_TRUE(Names("Inbox", ".msg").empty());
}

TEST_F(ListMailProgram, FiveDeliveryReportsPauseTheMember) {
  dir.Write("Data/birds/subscribers.ini",
            "ann@example.net=,annpw\r\nDan.Gone@example.net=d,danpw\r\n");
  const std::string report =
      ReadWholeFile(std::string(ORVEX_SOURCE_DIR) + "/tests/data/bounces/postfix-user-unknown.eml")
          .value_or("");
  ASSERT_FALSE(report.empty());
  for (int i = 0; i < 4; ++i) Deliver(report);
  const std::string first = Cycle();
  EXPECT_NE(first.find("Delivery report for <Dan.Gone@example.net> counted (4 of 5)"),
            std::string::npos)
      << first;
  EXPECT_EQ(Read("bounces.ini").rfind("dan.gone@example.net=4,", 0), 0u) << Read("bounces.ini");
  EXPECT_EQ(Read("subscribers.ini"), "ann@example.net=,annpw\r\nDan.Gone@example.net=d,danpw\r\n");

  Deliver(report);
  const std::string out = Cycle();
  EXPECT_NE(out.find("<Dan.Gone@example.net> paused after 5 delivery reports"), std::string::npos)
      << out;
  EXPECT_EQ(Read("subscribers.ini"), "ann@example.net=,annpw\r\nDan.Gone@example.net=dp,danpw\r\n");
  EXPECT_EQ(Read("bounces.ini"), "");
  const auto notices = TakeOutbox(".pri");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].substr(0, notices[0].find("\r\n")), "Dan.Gone@example.net");
  EXPECT_NE(notices[0].find("Mail to Dan.Gone@example.net bounces; you are paused"),
            std::string::npos);
  EXPECT_TRUE(Names("Inbox", ".msg").empty());
  EXPECT_TRUE(Names("Failed", ".msg").empty());
  EXPECT_TRUE(Names("Outbox", ".msg").empty());
}

}  // namespace
}  // namespace orvex
