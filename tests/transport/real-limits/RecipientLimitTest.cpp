// Delivery through a real Postfix that accepts only 20 recipients per message and messages of at
// most 100,000 bytes (started by tests/support/mailservers.py with smtpd_recipient_limit=20 and
// message_size_limit=100000): the rest of a post goes out in later cycles, or in batches of the
// list's MaxRecipients, and nobody gets it twice; a larger post is given up before it is sent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/MailServerFiles.h"
#include "support/TempDirectory.h"
#include "transport/SmtpDelivery.h"

namespace orvex {
namespace {

using test::HarnessSetting;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Counts = std::map<std::string, std::size_t>;

// Messages in each of the 50 subscriber mailboxes sub1..sub50.
Counts Mailboxes() {
  const fs::path vmail = HarnessSetting("ORVEX_SMTP_MAILDIRS");
  Counts counts;
  for (int n = 1; n <= 50; ++n) {
    const fs::path dir = vmail / ("sub" + std::to_string(n)) / "new";
    std::size_t files = 0;
    if (fs::exists(dir))
      for (const auto& entry : fs::directory_iterator(dir)) files += entry.is_regular_file();
    counts["sub" + std::to_string(n)] = files;
  }
  return counts;
}

// Waits (up to 60 seconds) until every mailbox holds `expected` (delivery is asynchronous).
Counts AwaitMailboxes(const Counts& expected) {
  const auto until = std::chrono::steady_clock::now() + 60s;
  Counts counts = Mailboxes();
  while (counts != expected && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(50ms);  // polling the condition
    counts = Mailboxes();
  }
  return counts;
}

class RecipientLimitTest : public testing::Test {
 protected:
  void SetUp() override {
    list_ = temp_.MakeList("Sales");
    domain_ = HarnessSetting("ORVEX_SMTP_DOMAIN");
  }
  void Prepare(const std::string& extra) {
    temp_.Write("Data/Sales/maillist.ini",
                "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + HarnessSetting("ORVEX_SMTP_PORT") +
                    "\r\nFrom=sales@" + domain_ + "\r\n" + extra);
    // An address the relay does not know stands among the members.
    std::string store;
    for (int n = 1; n <= 50; ++n) {
      store += "sub" + std::to_string(n) + "@" + domain_ + "=\r\n";
      if (n == 10) store += "nobody-here@" + domain_ + "=\r\n";
    }
    temp_.Write("Data/Sales/subscribers.ini", store);
    temp_.Write("Data/Sales/Outbox/A.msg", "Subject: post\r\n\r\nbody\r\n");
  }
  void Cycle() {
    TAccount list;
    list.Load(list_);
    MailClient smtp(25);
    DeliverOutbox(list, smtp, env_);
  }
  std::size_t Refusals() const {
    std::size_t n = 0;
    for (const auto& e : log_.entries) n += e.text.rfind("Recipient <nobody-here@", 0) == 0;
    return n;
  }
  static Counts Plus(Counts counts, std::size_t more) {
    for (auto& [box, n] : counts) n += more;
    return counts;
  }

  test::TempDirectory temp_;
  std::string list_;
  std::string domain_;
  test::RecordingLogger log_;
  test::FakeClock clock_;
  test::FakeRandom random_;
  MessageNamer namer_{clock_};
  Environment env_{clock_, random_, log_, namer_};
};

TEST_F(RecipientLimitTest, RelayThatDefersPastItsLimitGetsTheRestInLaterCycles) {
  const Counts before = Mailboxes();
  Prepare("");
  Cycle();
  EXPECT_TRUE(temp_.Exists("Data/Sales/Outbox/A.msg.progress"));
  EXPECT_TRUE(log_.Contains("30 recipients deferred\r\n452 4.5.3 Error: too many recipients"));
  Cycle();
  Cycle();
  EXPECT_FALSE(temp_.Exists("Data/Sales/Outbox/A.msg"));
  EXPECT_FALSE(temp_.Exists("Data/Sales/Outbox/A.msg.progress"));
  EXPECT_EQ(AwaitMailboxes(Plus(before, 1)), Plus(before, 1));
  EXPECT_EQ(Refusals(), 1u) << "a member refused for good is not offered the post again";
}

TEST_F(RecipientLimitTest, BatchesWithinTheRelaysLimitGoOutInOneCycle) {
  const Counts before = Mailboxes();
  Prepare("MaxRecipients=20\r\n");
  Cycle();
  EXPECT_FALSE(temp_.Exists("Data/Sales/Outbox/A.msg"));
  EXPECT_EQ(AwaitMailboxes(Plus(before, 1)), Plus(before, 1));
  EXPECT_EQ(Refusals(), 1u);
  std::size_t batches = 0;
  for (const auto& e : log_.entries) batches += e.text.starts_with("Sending message to list: ");
  EXPECT_EQ(batches, 3u);
}

// Postfix announces its limit (SIZE 100000): a larger post moves to Failed without going out.
TEST_F(RecipientLimitTest, PostOverTheRelaysSizeLimitFailsBeforeItIsSent) {
  const Counts before = Mailboxes();
  Prepare("");
  temp_.Write("Data/Sales/Outbox/A.msg",
              "Subject: large\r\n\r\n" + std::string(120000, 'x') + "\r\n");
  Cycle();
  EXPECT_FALSE(temp_.Exists("Data/Sales/Outbox/A.msg"));
  EXPECT_TRUE(temp_.Exists("Data/Sales/Failed/A.msg"));
  EXPECT_FALSE(temp_.Exists("Data/Sales/Outbox/A.msg.progress"));
  EXPECT_EQ(log_.Texts(LogColour::Red),
            (std::vector<std::string>{
                "Message file A.msg moved to Failed/A.msg: the server refused it\r\n"
                "The message has 120020 bytes; 127.0.0.1 takes at most 100000 (SIZE)"}));
  EXPECT_EQ(Refusals(), 0u) << "no recipient was offered the post";
  // A post within the limit still goes out on the same relay.
  temp_.Write("Data/Sales/Outbox/B.msg", "Subject: small\r\n\r\nbody\r\n");
  temp_.Write("Data/Sales/maillist.ini",
              temp_.Read("Data/Sales/maillist.ini") + "MaxRecipients=20\r\n");
  Cycle();
  EXPECT_FALSE(temp_.Exists("Data/Sales/Outbox/B.msg"));
  EXPECT_EQ(AwaitMailboxes(Plus(before, 1)), Plus(before, 1));
}

}  // namespace
}  // namespace orvex
