// A message is handled all or nothing: failures are set aside, interrupted commits finished.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ListFixture.h"

namespace orvex::test {
namespace {

constexpr std::string_view kList = "birds@example.org";
constexpr std::string_view kControl = "birds-request@example.org";

class Failures : public ListFixture {
 protected:
  std::vector<std::string> RedLines() const {
    std::vector<std::string> lines;
    for (const auto& entry : log.entries)
      if (entry.colour == LogColour::Red) lines.push_back(entry.text);
    return lines;
  }
};

struct MachineFaultCase {
  const char* name;
  FileFault fault;       // every matching call fails
  bool digestIsAFile;    // the folder for digest copies cannot be made
  bool pastCommitPoint;  // the record was written: the next pass finishes it
};

// One list per row: what a row's fault leaves behind must not decide what the next row sees.
class FailuresOfTheMachine : public Failures,
                             public testing::WithParamInterface<MachineFaultCase> {};

// A full disk, a read-only folder, a failing medium: at whatever step of the pass the machine
// fails, both messages stay in Inbox (or their commit is finished later), nothing goes to
// Failed, and once the fault has passed each goes out exactly once.
TEST_P(FailuresOfTheMachine, KeepTheMessagesForTheNextCycleAndSendEachOnce) {
  const MachineFaultCase& c = GetParam();
  Subscribe("ann@example.net");
  Deliver(Mail("ann@example.net", kList, "a post"));
  Deliver(Mail("bob@example.net", kControl, "subscribe"));
  if (c.digestIsAFile) tmp.Write("Data/birds/Digest", "not a directory");
  if (c.fault.errorNumber != 0) InjectFileFault(c.fault);
  Run();
  ClearFileFaults();
  EXPECT_EQ(Count("Failed", ""), 0u);
  EXPECT_EQ(RedLines().size(), 1u);
  if (!c.pastCommitPoint) {
    EXPECT_EQ(Count("Inbox", ".msg"), 2u);
    EXPECT_EQ(Count("Outbox", ""), 0u);   // nothing of them can go out yet
    EXPECT_EQ(Count("Staging", ""), 0u);  // no scratch file left behind
    EXPECT_FALSE(account().Pending().Contains("bob@example.net"));
  }
  if (c.digestIsAFile) RemoveFile(listDir + "Digest");
  Run();  // the next cycle, the fault mended
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);  // the post, once
  EXPECT_EQ(Count("Outbox", ".pri"), 1u);  // the answer, once
  EXPECT_EQ(Count("Staging", ""), 0u);
  EXPECT_TRUE(account().Pending().Contains("bob@example.net"));
  Run();
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailuresOfTheMachine,
    testing::Values(
        MachineFaultCase{"full_disk_while_staging",
                         {FileOperation::Write, 1, 0, ENOSPC, "/Staging/"},
                         false,
                         false},
        MachineFaultCase{
            "second_scratch_file", {FileOperation::Write, 2, 0, EDQUOT, "/Staging/"}, false, false},
        MachineFaultCase{"record_cannot_be_written",
                         {FileOperation::Write, 1, 0, EROFS, "commit.lst"},
                         false,
                         false},
        MachineFaultCase{
            "inbox_unreadable", {FileOperation::Read, 1, 0, EIO, "/Inbox/"}, false, false},
        MachineFaultCase{
            "digest_folder_blocked", {FileOperation::Write, 1, 0, 0, "none"}, true, false},
        MachineFaultCase{
            "outbox_read_only", {FileOperation::Rename, 1, 0, EACCES, "/Outbox/"}, false, true},
        MachineFaultCase{
            "inbox_file_stays", {FileOperation::Remove, 1, 0, EACCES, "/Inbox/"}, false, true}),
    [](const testing::TestParamInfo<MachineFaultCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(Failures, MessageThatCanNeverBeHandledGoesToFailedOwnerOnly) {
  // Automatic mail is refused; the file was fetched 0644 by another program.
  Deliver(Mail("ann@example.net", kList, "away", "Hello\r\n", "Auto-Submitted: auto-replied\r\n"));
  ASSERT_EQ(::chmod((listDir + "Inbox/00000000000001.msg").c_str(), 0644), 0);
  Run();
  ASSERT_EQ(Files("Failed", ".msg"), std::vector<std::string>{"00000000000001.msg"});
  struct stat info {};
  ASSERT_EQ(::stat((listDir + "Failed/00000000000001.msg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(Count("Outbox", ""), 0u);
}

TEST_F(Failures, ChangedStoresAreOnDiskBeforeTheInboxFileGoes) {
  Process(Mail("bob@example.net", kControl, "subscribe"));
  // No end-of-cycle save has happened: the store file already holds the change.
  const auto pending = ReadWholeFile(listDir + "pending.ini");
  ASSERT_TRUE(pending.has_value());
  EXPECT_TRUE(pending->starts_with("bob@example.net=46363,0000")) << *pending;
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Staging", ""), 0u);
}

TEST_F(Failures, InterruptedCommitIsFinishedAndNotHandledAgain) {
  Deliver(Mail("ann@example.net", kList, "already handled"));
  tmp.Write("Data/birds/Staging/0.out", "the post\r\n");
  tmp.Write("Data/birds/Staging/pending.ini.new", "carol@example.net=46363,0000000007D0\r\n");
  tmp.Write("Data/birds/Staging/commit.lst",
            "output\t0.out\tOutbox/47FB75DF59010B.msg\r\n"
            "store\tpending.ini.new\tpending.ini\r\n"
            "remove\tInbox/00000000000001.msg\r\n"
            "end\r\n");
  Run();
  EXPECT_EQ(*ReadWholeFile(listDir + "Outbox/47FB75DF59010B.msg"), "the post\r\n");
  EXPECT_EQ(account().Pending().Lines(),
            std::vector<std::string>{"carol@example.net=46363,0000000007D0"});
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Staging", ""), 0u);
  EXPECT_FALSE(log.Contains("Processing message from <ann@example.net>"));
}

TEST_F(Failures, CommitThatNeverReachedItsRecordIsDiscarded) {
  Subscribe("ann@example.net");
  Deliver(Mail("ann@example.net", kList, "not yet handled"));
  tmp.Write("Data/birds/Staging/0.out", "half a post");
  tmp.Write("Data/birds/Staging/commit.lst", "output\t0.out\tOutbox/47FB75DF59010B.msg\r\n");
  Run();
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_TRUE(Contains(Only("Outbox", ".msg"), "Subject: not yet handled"));
  EXPECT_EQ(Count("Staging", ""), 0u);
}

// Requests a stop when the first message is logged, as a console interrupt would.
class StoppingLogger final : public Logger {
 public:
  void WriteLog(std::string_view text, LogColour) override {
    if (text.starts_with("Processing message from")) RequestStop();
  }
  void WriteAtCursor(std::string_view) override {}
};

TEST_F(Failures, StopRequestLeavesTheRestInInboxAndSkipsTheDigest) {
  Settings("DigestCount=0\r\n");
  Subscribe("ann@example.net");
  for (int i = 0; i < 3; ++i) Deliver(Mail("ann@example.net", kList, "post"));
  StoppingLogger stopping;
  const Environment stoppingEnv{clock, random, stopping, namer};
  ProcessInbox(account(), stoppingEnv);
  EXPECT_EQ(Count("Inbox", ".msg"), 2u);
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Outbox", ".dig"), 0u);
  ProcessInbox(account(), stoppingEnv);  // still stopped: returns at once
  EXPECT_EQ(Count("Inbox", ".msg"), 2u);
}

}  // namespace
}  // namespace orvex::test
