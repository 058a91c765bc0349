// The real service over a prepared Inbox (no mail servers): commands are answered, posts
// distributed and collected, non-members warned, and the stores written.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Names(const std::string& directory, const std::string& extension) {
  std::vector<std::string> names;
  if (!std::filesystem::is_directory(directory)) return names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.path().extension() == extension) names.push_back(entry.path().filename());
  return names;
}

TEST(ProcessingProgramTest, HandlesThePreparedInboxInOneCycle) {
  test::TempDirectory dir;
  std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
  const std::string list = dir.MakeList("birds");
  dir.Write("Data/birds/maillist.ini",
            "[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n"
            "ControlAddress=birds-request@example.org\r\nPop3Count=0\r\n"
            "[Signature]\r\nText=\"-- {Listname}\"\r\n"
            "[Subscribe confirmation]\r\nSubject=subscribe-confirm-{ConfirmCode}\r\n"
            "Text=\"Your code is {ConfirmCode}\"\r\n"
            "[Nonsubscriber]\r\nSubject=Not allowed\r\nText=\"Subscribe first, {Address}\"\r\n");
  dir.Write("Data/birds/subscribers.ini", "ann@example.net=,secret\r\n");
  dir.Write("Data/birds/Inbox/0001.msg",
            "From: Ann <ann@example.net>\r\nTo: birds@example.org\r\nSubject: Hello\r\n\r\n"
            "Hi all\r\n");
  dir.Write("Data/birds/Inbox/0002.msg",
            "From: bob@example.net\r\nTo: birds-request@example.org\r\nSubject: subscribe\r\n\r\n");
  dir.Write("Data/birds/Inbox/0003.msg",
            "From: carol@example.net\r\nTo: birds@example.org\r\nSubject: Spam\r\n\r\nBuy\r\n");

  test::ChildProcess service(dir.Path() + "orvex", {}, dir.Path());
  ASSERT_TRUE(service.WaitForOutput("Idle", 20s)) << service.Stdout();
  service.Signal(SIGINT);
  ASSERT_EQ(service.WaitForExit(10s), 0);

  const std::string out = service.Stdout();
  for (const char* line :
       {"Processing messages of \"Birds\"", "Processing message from <ann@example.net>",
        "Processing message from <bob@example.net>", "<bob@example.net> subscribed to the list"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;

  EXPECT_TRUE(Names(list + "Inbox", ".msg").empty());
  EXPECT_TRUE(Names(list + "Failed", ".msg").empty());
  const auto posts = Names(list + "Outbox", ".msg");
  ASSERT_EQ(posts.size(), 1u);
  const std::string post = dir.Read("Data/birds/Outbox/" + posts[0]);
  EXPECT_EQ(post,
            "From: Ann <ann@example.net>\r\nTo: birds@example.org\r\nSubject: Hello\r\n"
            "Reply-To: birds@example.org\r\n\r\nHi all\r\n-- Birds\r\n");
  const auto copies = Names(list + "Digest", ".msg");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(dir.Read("Data/birds/Digest/" + copies[0]), post);

  std::vector<std::string> recipients;
  for (const auto& name : Names(list + "Outbox", ".pri")) {
    const std::string notice = dir.Read("Data/birds/Outbox/" + name);
    recipients.push_back(notice.substr(0, notice.find("\r\n")));
  }
  std::sort(recipients.begin(), recipients.end());
  EXPECT_EQ(recipients, (std::vector<std::string>{"bob@example.net", "carol@example.net"}));
  const std::string pending = dir.Read("Data/birds/pending.ini");
  EXPECT_EQ(pending.rfind("bob@example.net=", 0), 0u) << pending;
  EXPECT_EQ(dir.Read("Data/birds/subscribers.ini"), "ann@example.net=,secret\r\n");
}

}  // namespace
}  // namespace orvex
