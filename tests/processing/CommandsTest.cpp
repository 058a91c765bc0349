// Mail commands at the control address, run through whole inbox passes.
#include <gtest/gtest.h>

#include "ListFixture.h"

namespace orvex::test {
namespace {

constexpr std::string_view kControl = "birds-request@example.org";
constexpr std::string_view kAnn = "Ann <Ann@Example.net>";

class Commands : public ListFixture {
 protected:
  void Command(std::string_view subject, std::string_view from = kAnn) {
    Process(Mail(from, kControl, subject));
  }
  // The notices queued so far, and forgets them.
  std::vector<std::string> TakeNotices() {
    auto notices = Contents("Outbox", ".pri");
    for (const auto& name : Files("Outbox", ".pri")) RemoveFile(listDir + "Outbox/" + name);
    return notices;
  }
  std::string PendingCode() { return CommaItem(account().Pending().Value("ann@example.net"), 1); }
};

TEST_F(Commands, SubscribeAsksForConfirmationAndTheExactCodeConfirms) {
  random.Queue({0x34, 0x12, 0xCD, 0xAB});
  Command("subscribe");
  // Pending entry under the lower-case address: day number of 7 December 2026 (morning), code.
  EXPECT_EQ(account().Pending().Lines(),
            std::vector<std::string>{"ann@example.net=46363,0000ABCD1A04"});
  EXPECT_TRUE(account().Subscribers().Empty());
  EXPECT_TRUE(log.Contains("<Ann@Example.net> subscribed to the list"));
  auto notices = TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].starts_with("Ann@Example.net\r\n"));
  EXPECT_EQ(HeaderOf(SplitLines(notices[0])[1] + "\r\n", "From"),
            "\"Birds\" <birds-request@example.org>");
  EXPECT_TRUE(Contains(notices[0], "code=0000ABCD1A04 sender=Ann@Example.net subject=subscribe"));

  Command("Re: confirm subscribe-confirm-0000abcd1a04");  // letters in the wrong case
  Command("Re: confirm subscribe-confirm-0000ABCD1A04", "Bob <bob@example.net>");  // other sender
  EXPECT_TRUE(TakeNotices().empty());
  EXPECT_TRUE(account().Subscribers().Empty());

  random.Queue({25, 0, 0, 0, 49, 0, 0, 0});  // the password begins "ay"
  Command("Re: confirm subscribe-confirm-0000ABCD1A04", "ANN@EXAMPLE.NET");
  EXPECT_TRUE(account().Pending().Empty());
  const std::string password = account().SubscriberPassword("ann@example.net");
  ASSERT_EQ(password.size(), 10u);
  EXPECT_TRUE(password.starts_with("ay"));
  EXPECT_EQ(password.find_first_not_of("abcdefghijklmnopqrstuvwxy"), std::string::npos);
  EXPECT_EQ(account().Subscribers().Lines(),
            std::vector<std::string>{"ANN@EXAMPLE.NET=," + password});
  notices = TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(
      Contains(notices[0], "pw=" + password + " address=ANN@EXAMPLE.NET sender=ANN@EXAMPLE.NET"));
}

TEST_F(Commands, RepeatedSubscribeIssuesANewCodeAndTheOldOneStopsWorking) {
  random.Queue({1, 0, 0, 0});
  Command("subscribe");
  const std::string first = PendingCode();
  random.Queue({2, 0, 0, 0});
  Command("SUBSCRIBE");
  const std::string second = PendingCode();
  EXPECT_EQ(first, "0000000007D1");
  EXPECT_EQ(second, "0000000007D2");
  EXPECT_EQ(account().Pending().Count(), 1u);
  Command("subscribe-confirm-" + first);
  EXPECT_TRUE(account().Subscribers().Empty());
  Command("subscribe-confirm-" + second);
  EXPECT_EQ(account().SubscriberFlags("ann@example.net"), sfMember);
}

TEST_F(Commands, SubscribeOfASubscriberIsSilent) {
  Subscribe("ann@example.net");
  Command("subscribe");
  EXPECT_TRUE(account().Pending().Empty());
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);
}

struct PasswordCase {
  const char* name;
  const char* entry;  // the subscriber's value before the command
  const char* subject;
  const char* flagsAfter;  // nullptr: unsubscribed
  const char* notice;      // text the notice must contain; nullptr: no notice
};

TEST_F(Commands, PasswordCommandsNeedTheExactPassword) {
  const PasswordCase cases[] = {
      {"unsubscribe", ",secret", "unsubscribe secret", nullptr, "pw= sender=Ann@Example.net"},
      {"unsubscribe wrong", ",secret", "unsubscribe Secret", "", nullptr},
      {"unsubscribe without password", ",secret", "unsubscribe", "", nullptr},
      {"digest-on", ",secret", "DIGEST-ON secret", "d", "on Ann@Example.net"},
      {"digest-on two spaces", ",secret", "digest-on  secret", "", nullptr},
      {"digest-off", "d,secret", "digest-off secret", "", "off Ann@Example.net"},
      {"digest-off two spaces", "d,secret", "digest-off  secret", "d", nullptr},
      {"pause two spaces", ",secret", "pause  secret", "p", "paused Ann@Example.net"},
      {"pause wrong", ",secret", "pause secre", "", nullptr},
      {"resume", "pd,secret", "Resume secret", "d", "resumed Ann@Example.net"},
  };
  for (const auto& c : cases) {
    account().Subscribers().Clear();
    Subscribe("ann@example.net", c.entry);
    const std::string before = account().Subscribers().Value("ann@example.net");
    Command(c.subject);
    const auto notices = TakeNotices();
    if (c.flagsAfter == nullptr) {
      EXPECT_TRUE(account().Subscribers().Empty()) << c.name;
    } else if (c.notice == nullptr) {
      EXPECT_EQ(account().Subscribers().Value("ann@example.net"), before) << c.name;
    } else {
      EXPECT_EQ(CommaItem(account().Subscribers().Value("ann@example.net"), 0), c.flagsAfter)
          << c.name;
    }
    if (c.notice == nullptr) {
      EXPECT_TRUE(notices.empty()) << c.name;
    } else {
      ASSERT_EQ(notices.size(), 1u) << c.name;
      EXPECT_TRUE(Contains(notices[0], c.notice)) << c.name << "\n" << notices[0];
    }
  }
}

TEST_F(Commands, DigestOnTwiceKeepsOneFlagAndAnswersTwice) {
  Subscribe("ann@example.net", "p,secret,extra");
  Command("digest-on secret");
  Command("digest-on secret");
  EXPECT_EQ(account().Subscribers().Value("ann@example.net"), "pd,secret,extra");
  EXPECT_EQ(TakeNotices().size(), 2u);
}

TEST_F(Commands, WithoutConfirmationSubscribeIsImmediateAndCarriesNoMessageVariables) {
  for (const char* moderate : {"0", "1"}) {
    Settings(std::string("Confirm subscription=0\r\nModerate subscription=") + moderate + "\r\n");
    account().Subscribers().Clear();
    Command("subscribe");
    EXPECT_EQ(account().SubscriberFlags("ann@example.net"), sfMember) << moderate;
    const auto notices = TakeNotices();
    ASSERT_EQ(notices.size(), 1u) << moderate;
    EXPECT_EQ(notices[0].substr(0, 16), "Ann@Example.net\r");
    EXPECT_TRUE(Contains(notices[0], " address=Ann@Example.net sender=\r\n")) << notices[0];
    EXPECT_TRUE(account().Pending().Empty());
  }
}

TEST_F(Commands, CommandsFromAddressesTheStoresCannotHoldAreIgnored) {
  Settings("Confirm subscription=0\r\n");
  for (const char* from : {"", "<>", "<a=b@example.net>", "<a b@example.net>"}) {
    Command("subscribe", from);
    EXPECT_TRUE(account().Subscribers().Empty()) << from;
  }
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);
  EXPECT_EQ(Count("Outbox", ".msg"), 0u);  // a command is never distributed
}

}  // namespace
}  // namespace orvex::test
