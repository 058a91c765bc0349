// The real service's inbox processing under local faults and hostile input: each test answers
// where the mail is afterwards and whether it could go out twice.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSettings =
    "[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n"
    "ControlAddress=birds-request@example.org\r\nModerator=mod@example.org\r\nPop3Count=0\r\n"
    "CheckInterval=0\r\nDigestCount=1000\r\n"
    "[Subscribe confirmation]\r\nSubject=subscribe-confirm-{ConfirmCode}\r\n"
    "Text=\"Your code is {ConfirmCode}\"\r\n"
    "[NS-Moderate]\r\nSubject=ns-moderate {Sender}\r\nText=\"non-subscriber {Sender}\"\r\n";

std::string Mail(const std::string& from, const std::string& to, const std::string& subject,
                 const std::string& extra = "") {
  return (from.empty() ? "" : "From: " + from + "\r\n") + "To: " + to + "\r\nSubject: " + subject +
         "\r\n" + extra + "\r\nHello\r\n";
}

// Files (and other entries) of a folder whose names end with `extension`.
std::vector<std::string> Names(const std::string& directory, const std::string& extension = "") {
  std::vector<std::string> names;
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error)) return names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename();
    if (name.ends_with(extension)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class ProcessingFaultsProgram : public ::testing::Test {
 protected:
  ProcessingFaultsProgram() {
    std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
    list = dir.MakeList("birds");
    dir.Write("Data/birds/maillist.ini", kSettings);
    dir.Write("Data/birds/subscribers.ini", "ann@example.net=,secret\r\n");
    for (const char* folder : {"Inbox", "Outbox", "Digest"})
      std::filesystem::create_directories(list + folder);
  }

  // Runs the service until every list was visited once (and `until` holds, when given), then
  // stops it; ORVEX_FILE_FAULTS holds `faults` for this run only. The service's output.
  std::string RunService(const std::string& faults = "",
                         const std::function<bool()>& until = nullptr) {
    if (!faults.empty()) ::setenv("ORVEX_FILE_FAULTS", faults.c_str(), 1);
    test::ChildProcess service(dir.Path() + "orvex", {}, dir.Path());
    ::unsetenv("ORVEX_FILE_FAULTS");
    EXPECT_TRUE(service.WaitForOutput("Idle", 20s)) << service.Stdout();
    if (until) {
      const auto deadline = std::chrono::steady_clock::now() + 20s;
      while (!until() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);  // polls a condition, bounded
      EXPECT_TRUE(until()) << service.Stdout();
    }
    service.Signal(SIGINT);
    EXPECT_EQ(service.WaitForExit(10s), 0) << service.Stdout();
    // The console wraps long lines, the continuation starting with the blank it broke at.
    std::string out = service.Stdout();
    for (auto at = out.find("\n "); at != std::string::npos; at = out.find("\n ", at))
      out.erase(at, 1);
    return out;
  }

  std::size_t Count(const std::string& folder, const std::string& extension = "") const {
    return Names(list + folder, extension).size();
  }

  test::TempDirectory dir;
  std::string list;
};

TEST_F(ProcessingFaultsProgram, FullDiskKeepsTheMailInInboxAndTheNextCycleSendsItOnce) {
  dir.Write("Data/birds/Inbox/0001.msg", Mail("ann@example.net", "birds@example.org", "a post"));
  dir.Write("Data/birds/Inbox/0002.msg",
            Mail("bob@example.net", "birds-request@example.org", "subscribe"));
  const std::string out = RunService("write:1:0:ENOSPC:/Staging/");
  EXPECT_NE(out.find("Processing of this list stopped: Cannot create file"), std::string::npos)
      << out;
  EXPECT_NE(out.find("No space left on device; the messages stay in Inbox for the next cycle"),
            std::string::npos)
      << out;
  EXPECT_EQ(Count("Inbox", ".msg"), 2u);
  EXPECT_EQ(Count("Outbox"), 0u);
  EXPECT_EQ(Count("Failed"), 0u);
  EXPECT_EQ(Count("Staging"), 0u);

  RunService();  // space again
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Outbox", ".pri"), 1u);
  RunService();
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);  // never twice
  EXPECT_EQ(Count("Outbox", ".pri"), 1u);
}

TEST_F(ProcessingFaultsProgram, FifoLinkAndDirectoryInInboxGoToFailedWithoutAHang) {
  dir.Write("Data/birds/secret.txt",
            Mail("ann@example.net", "birds@example.org", "the member list"));
  ASSERT_EQ(::mkfifo((list + "Inbox/0001.msg").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("../secret.txt", (list + "Inbox/0002.msg").c_str()), 0);
  std::filesystem::create_directory(list + "Inbox/0003.msg");
  dir.Write("Data/birds/Inbox/0004.msg", Mail("ann@example.net", "birds@example.org", "a post"));
  const std::string out = RunService();
  EXPECT_EQ(Occurrences(out, "failed: it is not a regular file; moved to Failed"), 3u) << out;
  EXPECT_EQ(Names(list + "Failed"), (std::vector<std::string>{"0001.msg", "0002.msg", "0003.msg"}));
  ASSERT_EQ(Count("Outbox", ".msg"), 1u);
  const std::string post = dir.Read("Data/birds/Outbox/" + Names(list + "Outbox", ".msg")[0]);
  EXPECT_NE(post.find("Subject: a post"), std::string::npos);
  EXPECT_EQ(Count("Inbox"), 0u);
}

TEST_F(ProcessingFaultsProgram, ApprovedPostFromAnAddressWithAnEqualsSignGoesOutOnce) {
  std::string settings = kSettings;
  settings.insert(settings.find("[Subscribe confirmation]"), "NonSubscribers=1\r\n");
  dir.Write("Data/birds/maillist.ini", settings);
  const std::string sender = "srs0=ab12=cd=example.net=ann@forwarder.example";
  dir.Write("Data/birds/Inbox/0001.msg", Mail(sender, "birds@example.org", "via a forwarder"));
  // The moderator's return must come to the same run (the signing keys live as long as it).
  bool returned = false;
  const std::string out = RunService("", [&] {
    const auto forwards = Names(list + "Outbox", ".pri");
    if (!returned && !forwards.empty()) {
      const std::string forward = dir.Read("Data/birds/Outbox/" + forwards[0]);
      const std::string start = "content-type: message/rfc822\r\n\r\n";
      const auto begin = forward.find(start) + start.size();
      const std::string part = forward.substr(begin, forward.rfind("\r\n---=-=-=-=---") - begin);
      dir.Write("Data/birds/Inbox/0002.msg.tmp", part);
      std::filesystem::rename(list + "Inbox/0002.msg.tmp", list + "Inbox/0002.msg");
      returned = true;
    }
    return returned && Count("Inbox", ".msg") == 0 && Count("Outbox", ".msg") == 1;
  });
  EXPECT_EQ(Count("Outbox", ".pri"), 1u) << out;  // forwarded once, never again
  EXPECT_EQ(out.find("Public key not loaded"), std::string::npos) << out;
  EXPECT_EQ(Count("Failed"), 0u);
}

TEST_F(ProcessingFaultsProgram, FailedMailIsOwnerOnlyAndNoScratchFileOutlivesAFault) {
  dir.Write("Data/birds/Inbox/0001.msg", Mail("ann@example.net", "birds@example.org", "away",
                                              "Auto-Submitted: auto-replied\r\n"));
  ASSERT_EQ(::chmod((list + "Inbox/0001.msg").c_str(), 0644), 0);
  dir.Write("Data/birds/Inbox/0002.msg", Mail("ann@example.net", "birds@example.org", "a post"));
  dir.Write("Data/birds/Inbox/0003.msg",
            Mail("bob@example.net", "birds-request@example.org", "subscribe"));
  RunService("write:2:0:EIO:/Staging/");  // the second scratch file fails
  struct stat info {};
  ASSERT_EQ(::stat((list + "Failed/0001.msg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(Count("Staging"), 0u);  // the scratch file written before the fault is gone too
  EXPECT_EQ(Names(list + "Inbox"), (std::vector<std::string>{"0002.msg", "0003.msg"}));
  EXPECT_EQ(Count("Outbox"), 0u);
}

TEST_F(ProcessingFaultsProgram, CommitRecordThatPointsOutsideTheListIsNotExecuted) {
  dir.Write("victim.txt", "precious");
  dir.Write("Data/birds/Staging/commit.lst",
            "remove\t../../victim.txt\r\nremove\tInbox/0001.msg\r\nend\r\n");
  dir.Write("Data/birds/Inbox/0001.msg", Mail("ann@example.net", "birds@example.org", "a post"));
  const std::string out = RunService();
  EXPECT_EQ(dir.Read("victim.txt"), "precious");
  EXPECT_NE(out.find("refused (\"remove\t../../victim.txt\" is not a file of this list); not "
                     "executed, set aside as " +
                     list + "Staging/commit.lst.refused"),
            std::string::npos)
      << out;
  EXPECT_EQ(Names(list + "Staging"), std::vector<std::string>{"commit.lst.refused"});
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);  // the post was handled normally, once
  EXPECT_EQ(Count("Inbox"), 0u);
}

TEST_F(ProcessingFaultsProgram, MessageWithoutSenderIsSetAsideAndAnswersNobody) {
  dir.Write("Data/birds/Inbox/0001.msg", Mail("", "birds-request@example.org", "subscribe"));
  dir.Write("Data/birds/Inbox/0002.msg", Mail("<>", "birds@example.org", "a post"));
  const std::string out = RunService();
  EXPECT_EQ(Occurrences(out, "refused: it has no sender address; moved to Failed"), 2u) << out;
  EXPECT_EQ(Names(list + "Failed"), (std::vector<std::string>{"0001.msg", "0002.msg"}));
  EXPECT_EQ(Count("Outbox"), 0u);
}

TEST_F(ProcessingFaultsProgram, UnreadableStoreEndsThatListsVisitAndTheOthersGoOn) {
  dir.Write("Data/birds/Inbox/0001.msg", Mail("ann@example.net", "birds@example.org", "a post"));
  std::filesystem::remove(list + "subscribers.ini");
  std::filesystem::create_directory(list + "subscribers.ini");
  const std::string settingsBefore = dir.Read("Data/birds/maillist.ini");
  const std::string owls = dir.MakeList("owls");
  std::string settings = kSettings;
  settings.replace(settings.find("Name=Birds"), 10, "Name=Owls");
  dir.Write("Data/owls/maillist.ini", settings);
  dir.Write("Data/owls/subscribers.ini", "ann@example.net=,secret\r\n");
  dir.Write("Data/owls/Inbox/0001.msg", Mail("ann@example.net", "birds@example.org", "a post"));

  const std::string out =
      RunService("", [&] { return Names(owls + "Outbox", ".msg").size() == 1; });
  EXPECT_NE(out.find("Cannot read " + list + "subscribers.ini: not a regular file"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Processing \"Birds\""), std::string::npos) << out;
  EXPECT_EQ(Names(list + "Inbox"), std::vector<std::string>{"0001.msg"});  // untouched
  EXPECT_EQ(Count("Outbox"), 0u);
  EXPECT_EQ(dir.Read("Data/birds/maillist.ini"), settingsBefore);
  EXPECT_TRUE(Names(owls + "Inbox").empty());
}

TEST_F(ProcessingFaultsProgram, PostFetchedAgainIsNotDistributedAgain) {
  const std::string post =
      Mail("ann@example.net", "birds@example.org", "once", "Message-ID: <p1=x@example.net>\r\n");
  dir.Write("Data/birds/Inbox/0001.msg", post);
  dir.Write("Data/birds/Inbox/0002.msg", post);
  RunService();
  dir.Write("Data/birds/Inbox/0003.msg", post);  // fetched again after a kill
  const std::string out = RunService();
  EXPECT_NE(out.find("Post <p1=x@example.net> was distributed by this list before; not "
                     "distributed again"),
            std::string::npos)
      << out;
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Inbox"), 0u);
  EXPECT_EQ(Count("Failed"), 0u);
  EXPECT_EQ(dir.Read("Data/birds/distributed.ini").rfind("<p1%3Dx@example.net>=", 0), 0u);
}

}  // namespace
}  // namespace orvex
