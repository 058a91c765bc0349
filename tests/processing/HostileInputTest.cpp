// What lies in a list folder or arrives in a message is not trusted: odd queue entries, commit
// records that point elsewhere, senders without a usable address or with "=" in it, and the
// same post fetched twice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ListFixture.h"
#include "crypto/SessionKeys.h"
#include "platform/SecureRandom.h"
#include "processing/Distribution.h"

namespace orvex::test {
namespace {

constexpr std::string_view kList = "birds@example.org";
constexpr std::string_view kControl = "birds-request@example.org";

class HostileInput : public ListFixture {
 protected:
  static void SetUpTestSuite() {
    RecordingLogger quiet;
    SystemRandom secure;
    MakeSessionKeys(quiet, secure);
  }
  std::size_t RedLines() const {
    std::size_t red = 0;
    for (const auto& entry : log.entries)
      if (entry.colour == LogColour::Red) ++red;
    return red;
  }
  static std::string ForwardedPart(const std::string& forward) {
    const std::string start = "content-type: message/rfc822\r\n\r\n";
    const auto begin = forward.find(start);
    const auto end = forward.rfind("\r\n\r\n---=-=-=-=---\r\n");
    if (begin == std::string::npos || end == std::string::npos) return {};
    return forward.substr(begin + start.size(), end + 2 - begin - start.size());
  }
};

TEST_F(HostileInput, InboxEntriesThatAreNoRegularFilesGoToFailedAndBlockNothing) {
  Subscribe("ann@example.net");
  tmp.Write("Data/birds/secret.txt",
            "From: ann@example.net\r\nTo: birds@example.org\r\n\r\nkey\r\n");
  CreateDirectoryOnce(listDir + "Inbox");
  ASSERT_EQ(::mkfifo((listDir + "Inbox/00000000000001.msg").c_str(), 0644), 0);  // would hang
  ASSERT_EQ(::symlink("../secret.txt", (listDir + "Inbox/00000000000002.msg").c_str()), 0);
  ASSERT_TRUE(CreateDirectoryOnce(listDir + "Inbox/00000000000003.msg"));
  tmp.Write("Data/birds/Inbox/00000000000004.msg", Mail("ann@example.net", kList, "a post"));
  Run();
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);  // the post, and not the link's target
  EXPECT_TRUE(Contains(Only("Outbox", ".msg"), "Subject: a post"));
  EXPECT_EQ(Count("Inbox", ""), 0u);
  EXPECT_EQ(Files("Failed", ".msg"),
            (std::vector<std::string>{"00000000000001.msg", "00000000000002.msg"}));
  EXPECT_TRUE(DirectoryExists(listDir + "Failed/00000000000003.msg"));
  struct stat info {};
  ASSERT_EQ(::lstat((listDir + "Failed/00000000000002.msg").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));  // moved as a link; its target stays where it was
  EXPECT_TRUE(FileExists(listDir + "secret.txt"));
  ASSERT_EQ(::lstat((listDir + "Failed/00000000000001.msg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(RedLines(), 3u);
  Run();  // nothing is left to handle twice
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
}

// A commit record is the one file whose lines the service executes: renames, replacements and
// deletions. One that names anything but this list's queue files and stores is refused whole.
TEST_F(HostileInput, CommitRecordNamingFilesOutsideItsListIsSetAsideNotExecuted) {
  const std::string victim = "../../victim.txt";  // from the list folder: the program folder
  const std::string lines[] = {
      "output\t0.out\t" + victim,
      "output\t0.out\tOutbox/../" + victim,
      "output\t../" + victim + "\tOutbox/stolen.msg",
      "store\t0.out\t../other/subscribers.ini",
      "store\t0.out\tmaillist.ini",
      "remove\t" + victim,
      "remove\tInbox/../" + victim,
      "remove\t" + tmp.Path() + "/victim.txt",
      "delete\tInbox/00000000000001.msg",
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    log.entries.clear();
    tmp.Write("victim.txt", "precious");
    tmp.Write("Data/birds/Staging/0.out", "planted");
    tmp.Write("Data/birds/Staging/commit.lst",
              "output\t0.out\tOutbox/47FB75DF59010B.msg\r\n" + line + "\r\nend\r\n");
    Run();
    EXPECT_EQ(tmp.Read("victim.txt"), "precious");
    EXPECT_EQ(Count("Outbox", ""), 0u);  // not even the harmless line ran
    EXPECT_FALSE(FileExists(listDir + "Staging/commit.lst"));
    EXPECT_FALSE(FileExists(listDir + "Staging/0.out"));
    EXPECT_EQ(RedLines(), 1u);
    EXPECT_TRUE(log.Contains("Commit record " + listDir + "Staging/commit.lst refused (\"" + line +
                             "\" is not a file of this list); not executed, set aside as " +
                             listDir + "Staging/commit.lst.refused" +
                             (&line == &lines[0] ? "" : "-" + std::to_string(&line - lines))))
        << log.Texts().back();
  }
  EXPECT_EQ(Count("Staging", ""), std::size(lines));  // every refused record kept for a look
}

TEST_F(HostileInput, MessageWithoutAUsableSenderGoesToFailedUnanswered) {
  const struct {
    const char* from;  // nullptr: no From field at all
    const char* reason;
  } cases[] = {
      {nullptr, "it has no sender address"},
      {"<>", "it has no sender address"},
      {"Ann", "its sender address \"Ann\" is not usable"},
      {"Ann <ann>", "its sender address \"ann\" is not usable"},
      {"<@example.net>", "its sender address \"@example.net\" is not usable"},
  };
  for (const auto& c : cases) {
    for (const std::string_view to : {kList, kControl}) {
      SCOPED_TRACE(std::string(c.from ? c.from : "(none)") + " to " + std::string(to));
      log.entries.clear();
      std::string mail = Mail(c.from ? c.from : "x", to, "subscribe");
      if (c.from == nullptr) mail.erase(0, mail.find("\r\n") + 2);
      Process(mail);
      EXPECT_EQ(Count("Outbox", ""), 0u);  // no notice to an empty or broken recipient
      EXPECT_EQ(Count("Inbox", ".msg"), 0u);
      EXPECT_TRUE(log.Contains("Message " + Files("Failed", ".msg").back() +
                               " refused: " + c.reason + "; moved to Failed"))
          << log.Texts().back();
    }
  }
  EXPECT_EQ(Count("Failed", ".msg"), 2 * std::size(cases));
  EXPECT_TRUE(account().Pending().Empty());
}

TEST_F(HostileInput, SenderWithAnEqualsSignIsModeratedOnceAndRefusedAsAMember) {
  Settings("NonSubscribers=1\r\n");
  const std::string sender = "srs0=ab12=cd=example.net=ann@forwarder.example";
  Process(Mail(sender, kList, "Hello birds"));
  const std::string returned = ForwardedPart(Only("Outbox", ".pri"));
  ASSERT_FALSE(returned.empty());
  RemoveFile(listDir + "Outbox/" + Files("Outbox", ".pri")[0]);
  EndCycle();  // the signature record goes through its file

  Process(returned);  // the moderator approves
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);  // not forwarded to the moderator again
  EXPECT_TRUE(account().Signatures().Empty());
  Process(returned);  // approved twice: still one post, and no loop to the moderator
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);

  // The subscriber list cannot hold such an address: the command is refused at the door.
  log.entries.clear();
  Process(Mail(sender, kControl, "subscribe"));
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);
  EXPECT_TRUE(account().Pending().Empty());
  EXPECT_TRUE(log.Contains("Command from <" + sender +
                           "> ignored: the address holds \"=\" or a blank, which the subscriber "
                           "list cannot hold"));
}

TEST_F(HostileInput, PostFetchedAgainIsDistributedOnceUntilItsRecordExpires) {
  Settings("Days=3\r\n");
  Subscribe("ann@example.net");
  const std::string id = "<a=b%c d@example.net>";
  const std::string post =
      Mail("ann@example.net", kList, "once", "Hello\r\n", "Message-ID: " + id + "\r\n");
  Deliver(post);
  Deliver(post);  // in the same pass
  Run();
  Process(post);  // in a later pass, after the record went to its file
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Failed", ""), 0u);
  const std::string line =
      "Post " + id + " was distributed by this list before; not distributed again";
  std::size_t dropped = 0;
  for (const std::string& text : log.Texts()) dropped += text == line ? 1 : 0;
  EXPECT_EQ(dropped, 2u);
  EXPECT_EQ(*ReadWholeFile(listDir + "distributed.ini"), "<a%3Db%25c%20d@example.net>=46363\r\n");
  EXPECT_EQ(DistributedKey(id), "<a%3Db%25c%20d@example.net>");

  // A different identifier, if only in letter case, is another post.
  Process(Mail("ann@example.net", kList, "other", "Hello\r\n",
               "Message-ID: <A=b%c d@example.net>\r\n"));
  EXPECT_EQ(Count("Outbox", ".msg"), 2u);

  clock.AdvanceMilliseconds(4LL * 24 * 3600 * 1000);  // past Days: the record is forgotten
  Run();
  EXPECT_EQ(*ReadWholeFile(listDir + "distributed.ini"), "");
}

}  // namespace
}  // namespace orvex::test
