// List mail through whole inbox passes: list header fields, unsubscribe confirmation, refused
// automatic mail, bounce counting and the DMARC "From" rewrite.
#include <gtest/gtest.h>

#include "ListFixture.h"
#include "ScriptedResolver.h"

namespace orvex::test {
namespace {

constexpr std::string_view kList = "birds@example.org";
constexpr std::string_view kControl = "birds-request@example.org";
constexpr std::string_view kListMail =
    "ListHeaders=1\r\nBounceLimit=3\r\nDays=7\r\n"
    "[Unsubscribe confirmation]\r\nSubject=unsubscribe-confirm-{ConfirmCode}\r\n"
    "Text=\"code={ConfirmCode} for {Address}\"\r\n"
    "[Bounce pause]\r\nSubject=paused {Address}\r\nText=\"mail to {Address} bounced\"\r\n"
    "[General]\r\n";

class ListMail : public ListFixture {
 protected:
  void SetUp() override {
    Settings(kListMail);
    Subscribe("ann@example.net");
    Subscribe("bob@example.net", ",bobpw");
  }
  void RunWith(TxtResolver& resolver) { ProcessInbox(account(), env, resolver); }
  std::string Subscribers() { return account().Subscribers().Text(); }
  std::string Bounces() const { return ReadWholeFile(listDir + "bounces.ini").value_or(""); }
  void DeliverReport(std::string_view failed) {
    Deliver(
        "Return-Path: <>\r\nFrom: MAILER-DAEMON@relay.example.org\r\nTo: birds@example.org\r\n"
        "Subject: Undelivered Mail\r\nContent-Type: multipart/report; "
        "report-type=delivery-status; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain\r\n\r\nSorry.\r\n--b\r\n"
        "Content-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; relay\r\n\r\n"
        "Final-Recipient: rfc822; " +
        std::string(failed) + "\r\nAction: failed\r\nStatus: 5.1.1\r\n\r\n--b--\r\n");
  }
  std::vector<std::string> Logged() const { return log.Texts(); }
};

TEST_F(ListMail, PostsCarryTheListHeaderFields) {
  Process(Mail("Ann <ann@example.net>", kList, "Hello", "Hi all\r\n"));
  const std::string expected =
      "From: Ann <ann@example.net>\r\n"
      "To: birds@example.org\r\n"
      "Subject: Hello\r\n"
      "Date: Mon, 07 Dec 2026 01:00:00 +0100\r\n"
      "Reply-To: birds@example.org\r\n"
      "List-Id: \"Birds\" <birds.example.org>\r\n"
      "List-Post: <mailto:birds@example.org>\r\n"
      "List-Help: <mailto:mod@example.org>\r\n"
      "List-Subscribe: <mailto:birds-request@example.org?subject=subscribe>\r\n"
      "List-Unsubscribe: <mailto:birds-request@example.org?subject=unsubscribe>\r\n"
      "Precedence: list\r\n"
      "X-Loop: birds@example.org\r\n"
      "\r\n"
      "Hi all\r\n"
      "--\r\n"
      "Birds\r\n";
  EXPECT_EQ(Only("Outbox", ".msg"), expected);
  EXPECT_EQ(Only("Digest", ".msg"), expected);
}

TEST_F(ListMail, NoticesAreAutoRepliesAndDigestsListMail) {
  Settings(std::string(kListMail) + "DigestCount=1\r\n");
  Subscribe("ann@example.net");
  Process(Mail("carol@example.net", kControl, "subscribe"));
  const std::string notice = Only("Outbox", ".pri");
  EXPECT_EQ(HeaderOf(notice.substr(notice.find("\r\n") + 2), "Auto-Submitted"), "auto-replied");
  EXPECT_TRUE(Contains(notice, "\r\nMessage-ID: <"));
  EXPECT_TRUE(
      Contains(notice,
               "\r\nList-Id: \"Birds\" <birds.example.org>\r\n"
               "List-Post: <mailto:birds@example.org>\r\n"
               "List-Help: <mailto:mod@example.org>\r\n"
               "List-Subscribe: <mailto:birds-request@example.org?subject=subscribe>\r\n"
               "List-Unsubscribe: <mailto:birds-request@example.org?subject=unsubscribe>\r\n"
               "Auto-Submitted: auto-replied\r\n\r\n\r\n"));
  EXPECT_FALSE(Contains(notice, "Precedence"));

  Process(Mail("ann@example.net", kList, "Hello"));
  const std::string digest = Only("Outbox", ".dig");
  EXPECT_EQ(HeaderOf(digest, "Precedence"), "list");
  EXPECT_EQ(HeaderOf(digest, "X-Loop"), "birds@example.org");
  EXPECT_EQ(HeaderOf(digest, "List-Id"), "\"Birds\" <birds.example.org>");
  EXPECT_EQ(HeaderOf(digest, "Auto-Submitted"), "");
}

TEST_F(ListMail, UnsubscribeWithoutPasswordIsConfirmedByACodeToTheMember) {
  random.Queue({0x10, 0x20, 0x30, 0x40});
  Process(Mail("bob@example.net", kControl, "unsubscribe"));
  const std::string notice = Only("Outbox", ".pri");
  EXPECT_EQ(notice.substr(0, notice.find("\r\n")), "bob@example.net");
  const std::string code = "0000403027E0";  // 0x40302010 + 2000
  EXPECT_EQ(HeaderOf(notice.substr(notice.find("\r\n") + 2), "Subject"),
            "unsubscribe-confirm-" + code);
  EXPECT_TRUE(Contains(notice, "code=" + code + " for bob@example.net"));
  EXPECT_TRUE(account().Subscribers().Contains("bob@example.net"));

  // The code does nothing from another address, nor as a subscription confirmation.
  Process(Mail("ann@example.net", kControl, "Re: unsubscribe-confirm-" + code));
  Process(Mail("bob@example.net", kControl, "Re: subscribe-confirm-" + code));
  Process(
      Mail("bob@example.net", kControl, "Re: unsubscribe-confirm-" + std::string("0000403027e0")));
  EXPECT_EQ(Subscribers(), "ann@example.net=,secret\r\nbob@example.net=,bobpw\r\n");
  EXPECT_EQ(Count("Outbox", ".pri"), 1u);

  Process(Mail("Bob <bob@example.net>", kControl, "Re: unsubscribe-confirm-" + code));
  EXPECT_EQ(Subscribers(), "ann@example.net=,secret\r\n");
  EXPECT_EQ(account().Pending().Count(), 0u);
  EXPECT_EQ(Count("Outbox", ".pri"), 2u);
  // Used once: a second reply finds nothing.
  Process(Mail("bob@example.net", kControl, "Re: unsubscribe-confirm-" + code));
  EXPECT_EQ(Count("Outbox", ".pri"), 2u);
}

TEST_F(ListMail, AListWithoutTheConfirmationTemplateStillSendsAnAnswerableSubject) {
  Settings("ListHeaders=1\r\n");  // a list made before the template existed
  Subscribe("bob@example.net", ",bobpw");
  random.Queue({0x10, 0x20, 0x30, 0x40});
  Process(Mail("bob@example.net", kControl, "unsubscribe"));
  const std::string notice = Only("Outbox", ".pri");
  EXPECT_EQ(HeaderOf(notice.substr(notice.find("\r\n") + 2), "Subject"),
            "Birds  unsubscribe-confirm-0000403027E0");
}

struct UnsubscribeCase {
  const char* name;
  std::string_view extra;
  const char* subject;
  bool removed;
  std::size_t notices;
};

// One list per row: a row that unsubscribes bob must not decide what the next row sees.
class ListMailUnsubscribe : public ListMail, public testing::WithParamInterface<UnsubscribeCase> {};

TEST_P(ListMailUnsubscribe, PasswordsStillRule) {
  const UnsubscribeCase& c = GetParam();
  Settings(std::string(c.extra) + std::string(kListMail));  // the first key counts
  Process(Mail("bob@example.net", kControl, c.subject));
  EXPECT_EQ(!account().Subscribers().Contains("bob@example.net"), c.removed);
  EXPECT_EQ(Count("Outbox", ".pri"), c.notices);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListMailUnsubscribe,
    testing::Values(UnsubscribeCase{"wrong_password", "", "unsubscribe nope", false, 0},
                    UnsubscribeCase{"right_password", "", "unsubscribe bobpw", true, 1},
                    UnsubscribeCase{"empty_password_without_list_headers", "ListHeaders=0\r\n",
                                    "unsubscribe", false, 0}),
    [](const testing::TestParamInfo<UnsubscribeCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(ListMail, AutomaticMailIsNeitherDistributedNorAnswered) {
  struct Case {
    const char* name;
    std::string message;
    const char* logged;
  } cases[] = {
      {"vacation reply to the list",
       Mail("ann@example.net", kList, "Out of office", "Away\r\n",
            "Auto-Submitted: auto-replied\r\n"),
       "refused: it is automatic mail (Auto-Submitted: auto-replied); moved to Failed"},
      {"a command from a robot",
       Mail("bot@example.net", kControl, "subscribe", "", "Auto-Submitted: auto-generated\r\n"),
       "refused: it is automatic mail (Auto-Submitted: auto-generated); moved to Failed"},
      {"the list's own post come back",
       Mail("ann@example.net", kList, "Hello", "Hi\r\n",
            "List-Id: \"Birds\" <birds.example.org>\r\n"),
       "refused: it carries this list's List-Id; moved to Failed"},
      {"a non-member's looping mail",
       Mail("x@example.net", kList, "Hello", "Hi\r\n", "X-Loop: birds@example.org\r\n"),
       "refused: its X-Loop names this list; moved to Failed"},
      {"a report naming nobody on the list",
       Mail("MAILER-DAEMON@relay", kList, "failure", "Sorry\r\n", "Return-Path: <>\r\n"),
       "refused: it is a delivery report that names no subscriber; moved to Failed"},
  };
  std::size_t failed = 0;
  for (const Case& c : cases) {
    log.entries.clear();
    Process(c.message);
    EXPECT_EQ(Count("Outbox", ".msg") + Count("Outbox", ".pri") + Count("Digest", ".msg"), 0u)
        << c.name;
    EXPECT_EQ(Count("Failed", ".msg"), ++failed) << c.name;
    const auto lines = Logged();
    ASSERT_EQ(lines.size(), 3u) << c.name;
    EXPECT_TRUE(Contains(lines[2], c.logged)) << c.name << ": " << lines[2];
  }
}

TEST_F(ListMail, ReportsCountAcrossDaysAndPauseAtTheLimit) {
  // Day 1: two reports, one of them naming the member in other letter case.
  DeliverReport("bob@example.net");
  DeliverReport("Bob@Example.NET");
  Run();
  EXPECT_EQ(Count("Inbox", ".msg") + Count("Failed", ".msg"), 0u);
  const long long day1 = DayNumber(clock.Now());
  EXPECT_EQ(Bounces(), "bob@example.net=2," + std::to_string(day1) + "\r\n");

  // Nine days later the old count has lapsed.
  clock.Set({2026, 12, 16, 10, 0, 0, 0, 60});
  const long long day2 = DayNumber(clock.Now());
  Process(Mail("x", "y", "z", "", "Return-Path: <>\r\nX-Failed-Recipients: bob@example.net\r\n"));
  EXPECT_EQ(Bounces(), "bob@example.net=1," + std::to_string(day2) + "\r\n");

  // A working command starts the count again.
  Process(Mail("bob@example.net", kControl, "pause bobpw"));
  EXPECT_EQ(Bounces(), "");
  Process(Mail("bob@example.net", kControl, "resume bobpw"));
  for (const auto& name : Files("Outbox", ".pri")) RemoveFile(listDir + "Outbox/" + name);

  for (int i = 0; i < 3; ++i) {
    clock.Set({2026, 12, 17 + i, 9, 0, 0, 0, 60});
    DeliverReport("bob@example.net");
    log.entries.clear();
    Run();
  }
  EXPECT_EQ(Subscribers(), "ann@example.net=,secret\r\nbob@example.net=p,bobpw\r\n");
  EXPECT_EQ(Bounces(), "");
  const std::string notice = Only("Outbox", ".pri");
  EXPECT_EQ(notice.substr(0, notice.find("\r\n")), "bob@example.net");
  EXPECT_TRUE(Contains(notice, "mail to bob@example.net bounced"));
  EXPECT_EQ(Logged().back(), "<bob@example.net> paused after 3 delivery reports");
}

TEST_F(ListMail, ReportsWithoutBounceLimitGoToFailed) {
  Settings("ListHeaders=1\r\n");
  Subscribe("bob@example.net", ",bobpw");
  DeliverReport("bob@example.net");
  Run();
  EXPECT_EQ(Count("Failed", ".msg"), 1u);
  EXPECT_EQ(Bounces(), "");
  EXPECT_TRUE(Contains(Logged().back(), "it is a delivery report and bounce counting is off"));
}

struct FromRewriteCase {
  const char* name;
  const char* mode;
  const char* from;
  const char* expectedFrom;
  const char* original;
  std::vector<std::string> asked;  // the policies looked up, in order
};

// One list and one resolver per row: a row's post or lookups must not decide the next row's.
class ListMailFromRewrite : public ListMail, public testing::WithParamInterface<FromRewriteCase> {};

// Policies are asked only while the setting says so, and the organisation's after the domain's.
TEST_P(ListMailFromRewrite, ForDomainsThatRejectAndOnlyThen) {
  const FromRewriteCase& c = GetParam();
  ScriptedResolver resolver;
  resolver.answers["_dmarc.strict.example"] = std::vector<std::string>{"v=DMARC1; p=reject"};
  resolver.answers["_dmarc.relaxed.example"] = std::vector<std::string>{"v=DMARC1; p=none"};
  Settings(std::string("NonSubscribers=2\r\nFromRewrite=") + c.mode + "\r\n");
  Deliver(Mail(c.from, kList, "Hello"));
  RunWith(resolver);
  const std::string post = Only("Outbox", ".msg");
  EXPECT_EQ(HeaderOf(post, "From"), c.expectedFrom);
  EXPECT_EQ(HeaderOf(post, "X-Original-From"), c.original);
  EXPECT_EQ(HeaderOf(post, "Reply-To"), "birds@example.org");
  EXPECT_EQ(resolver.asked, c.asked);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListMailFromRewrite,
    testing::Values(FromRewriteCase{"reject_domain",
                                    "1",
                                    "\"Dan, D.\" <dan@strict.example>",
                                    "\"Dan, D. via Birds\" <birds@example.org>",
                                    "\"Dan, D.\" <dan@strict.example>",
                                    {"_dmarc.strict.example"}},
                    FromRewriteCase{"subdomain_of_a_reject_domain",
                                    "1",
                                    "eve@mail.strict.example",
                                    "\"eve@mail.strict.example via Birds\" <birds@example.org>",
                                    "eve@mail.strict.example",
                                    {"_dmarc.mail.strict.example", "_dmarc.strict.example"}},
                    FromRewriteCase{"domain_with_policy_none",
                                    "1",
                                    "Fay <fay@relaxed.example>",
                                    "Fay <fay@relaxed.example>",
                                    "",
                                    {"_dmarc.relaxed.example"}},
                    FromRewriteCase{"domain_without_a_record",
                                    "1",
                                    "Gus <gus@plain.example>",
                                    "Gus <gus@plain.example>",
                                    "",
                                    {"_dmarc.plain.example"}},
                    FromRewriteCase{"always",
                                    "2",
                                    "Gus <gus@plain.example>",
                                    "\"Gus via Birds\" <birds@example.org>",
                                    "Gus <gus@plain.example>",
                                    {}},
                    FromRewriteCase{"never",
                                    "0",
                                    "\"Dan, D.\" <dan@strict.example>",
                                    "\"Dan, D.\" <dan@strict.example>",
                                    "",
                                    {}}),
    [](const testing::TestParamInfo<FromRewriteCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace orvex::test
