// The list cycle on its own: the stages of a due visit, how often a list is visited when its
// maillist.ini cannot be written, a maillist.ini that cannot be read, and an operator's edit made
// while a cycle runs.
#include "service/ListCycle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "store/Account.h"
#include "store/CycleRecord.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

class SilentTerminal final : public Terminal {
 public:
  bool Interactive() const override { return false; }
  void Write(std::string_view) override {}
  void SetTitle(std::string_view) override {}
  void SetAttribute(int) override {}
  void ShowCursor(bool) override {}
  void WriteAtCursor(std::string_view) override {}
};

class ListCycleTest : public testing::Test {
 protected:
  ListCycleTest() {
    stages.retrieve = [this](TAccount& list) {
      visits.push_back(list.Config().ReadString("General", "Name", "Unnamed"));
      if (duringCycle) duringCycle(list);
    };
    stages.progress = [this](const std::string& what) { progress.push_back(what); };
  }
  ~ListCycleTest() override { ClearFileFaults(); }

  std::vector<std::string> RedLines() const { return log.Texts(LogColour::Red); }

  test::TempDirectory dir;
  test::FakeClock clock;
  test::FakeRandom random;
  test::RecordingLogger log;
  MessageNamer namer{clock};
  Environment env{clock, random, log, namer};
  SilentTerminal terminal;
  ConsoleLog console{terminal, clock};
  CycleStages stages;
  std::vector<std::string> visits;
  std::vector<std::string> progress;
  std::function<void(TAccount&)> duringCycle;
};

TEST_F(ListCycleTest, AListWhoseSettingsCannotBeWrittenIsVisitedOncePerInterval) {
  const std::string tooLarge =
      "larger than " + std::to_string(IniFile::kMaximumFileSize) + " bytes";
  const struct {
    const char* name;
    FileOperation failing;
    int error;  // 0: no fault
    bool oversized;
    std::string reason;
  } cases[] = {
      {"full disk", FileOperation::Write, ENOSPC, false, std::strerror(ENOSPC)},
      {"read-only folder", FileOperation::Rename, EROFS, false, std::strerror(EROFS)},
      {"over the size limit", FileOperation::Write, 0, true, tooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDirectory scratch;
    const std::string list = scratch.MakeList("sales");
    std::string settings = "[General]\r\nName=Sales\r\nCheckInterval=5\r\n";
    if (c.oversized) {
      settings += "[Pad]\r\n";
      while (settings.size() <= IniFile::kMaximumFileSize)
        settings += "k=" + std::string(1000, 'p') + "\r\n";
    }
    scratch.Write("Data/sales/maillist.ini", settings);
    if (c.error != 0) InjectFileFault({c.failing, 1, 0, c.error, "maillist.ini"});
    visits.clear();
    log.entries.clear();
    ListCycle cycle(env, console, stages);

    cycle.Run(list);
    ASSERT_EQ(visits.size(), 1u);
    ASSERT_EQ(RedLines().size(), 1u);
    EXPECT_EQ(RedLines()[0], "Unable to write to " + list + "maillist.ini: " + c.reason);
    // A pass a second for almost five minutes: no second visit.
    for (int second = 0; second < 299; ++second) {
      clock.AdvanceMilliseconds(1000);
      cycle.Run(list);
    }
    EXPECT_EQ(visits.size(), 1u);
    clock.AdvanceMilliseconds(1000);
    cycle.Run(list);
    EXPECT_EQ(visits.size(), 2u) << "due again after its CheckInterval";
    EXPECT_EQ(RedLines().size(), 2u) << "one line per visit";
    EXPECT_EQ(scratch.Read("Data/sales/maillist.ini"), settings) << "the file is as it was";
    ClearFileFaults();

    // Once the file can be written again, LastChecked goes there and the kept time is let go.
    if (c.oversized) continue;
    clock.AdvanceMilliseconds(5 * 60 * 1000);
    cycle.Run(list);
    EXPECT_EQ(visits.size(), 3u);
    EXPECT_NE(scratch.Read("Data/sales/maillist.ini").find("LastChecked="), std::string::npos);
    EXPECT_EQ(RedLines().size(), 2u);
  }
}

TEST_F(ListCycleTest, UnreadableSettingsEndTheListsVisitAndTheOthersGoOn) {
  const struct {
    const char* name;
    std::function<void(const std::string& path)> make;
    std::string reason;
  } cases[] = {
      {"no permission (mode 0600, another owner)",
       [](const std::string&) {
         InjectFileFault({FileOperation::Read, 1, 0, EACCES, "/locked/maillist.ini"});
       },
       std::strerror(EACCES)},
      {"a directory in its place",
       [](const std::string& path) {
         ::unlink(path.c_str());
         ::mkdir(path.c_str(), 0700);
       },
       std::strerror(EISDIR)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDirectory scratch;
    const std::string locked = scratch.MakeList("locked");
    scratch.Write("Data/locked/maillist.ini", "[General]\r\nName=Locked\r\n");
    scratch.MakeList("open");
    scratch.Write("Data/open/maillist.ini", "[General]\r\nName=Open\r\n");
    c.make(locked + "maillist.ini");
    visits.clear();
    log.entries.clear();
    ListCycle cycle(env, console, stages);
    // Two passes of the main loop: one line, not one a second.
    for (int pass = 0; pass < 2; ++pass) {
      EnumerateLists(scratch.Path() + "Data/", [&](const std::string& list) { cycle.Run(list); });
      clock.AdvanceMilliseconds(1000);
    }

    EXPECT_EQ(visits, std::vector<std::string>{"Open"});
    EXPECT_EQ(RedLines(), std::vector<std::string>{"Cannot read " + locked + "maillist.ini: " +
                                                   c.reason + "; the list is passed over"});
    EXPECT_FALSE(log.Contains("Processing \"Unnamed\""));
    // Nothing was made or changed in the list.
    EXPECT_EQ(test::FileNamesIn(locked), std::vector<std::string>{"maillist.ini"});
    ClearFileFaults();
  }
}

TEST_F(ListCycleTest, AnEditMadeDuringTheCycleSurvivesItsSave) {
  const std::string list = dir.MakeList("sales");
  dir.Write("Data/sales/maillist.ini",
            "[General]\r\nName=Sales\r\nPassword1=wrong\r\nLastChecked=\r\n");
  duringCycle = [&](TAccount&) {
    // The operator corrects the POP3 password while the list is being visited, replacing the
    // file as the guide advises.
    ReplaceFileAtomically(list + "maillist.ini",
                          "[General]\r\nName=Sales\r\nPassword1=corrected\r\nLastChecked=\r\n");
  };
  ListCycle cycle(env, console, stages);
  cycle.Run(list);
  ASSERT_EQ(visits.size(), 1u);
  const IniFile saved(list + "maillist.ini");
  EXPECT_EQ(saved.ReadString("General", "Password1", ""), "corrected");
  EXPECT_NEAR(LastCheckedOf(saved), ToDays(clock.Now()), 1.0 / 86400);
  EXPECT_EQ(progress, (std::vector<std::string>{"Processing \"Sales\": retrieval", "Idle"}));
}

// One due visit: which stages run for what each of them does, and how the visit ends.
struct StagesCase {
  const char* name;
  bool connects;         // what the dial-up stage answers
  const char* throwsIn;  // the stage that lets an error escape, or nothing
  const char* stopsIn;   // the stage during which a stop is requested, or nothing
  std::vector<std::string> ran;
  std::vector<std::string> redLines;
  bool finished;            // LastChecked written and "Idle" logged: not stopped
  long long handled, sent;  // in the cycle record
};

class ListCycleStagesTest : public ListCycleTest, public testing::WithParamInterface<StagesCase> {
 protected:
  ListCycleStagesTest() {
    const StagesCase& c = GetParam();
    const auto step = [this, &c](const std::string& name) {
      ran.push_back(name);
      if (c.stopsIn != nullptr && name == c.stopsIn) RequestStop();
      if (c.throwsIn != nullptr && name == c.throwsIn) throw Error("it broke");
    };
    stages.dialUp = [step, &c](TAccount&) {
      step("dial-up");
      return c.connects;
    };
    stages.retrieve = [step](TAccount&) { step("retrieval"); };
    // Processing takes the one Inbox file away, delivery the one Outbox file.
    stages.process = [step](TAccount& list) {
      step("processing");
      ::unlink((list.ListDir() + "Inbox/a.msg").c_str());
    };
    stages.deliver = [step](TAccount& list) {
      step("delivery");
      ::unlink((list.ListDir() + "Outbox/a.msg").c_str());
    };
    stages.hangUp = [step] { step("hang-up"); };
  }
  ~ListCycleStagesTest() override { ResetStopRequest(); }

  std::vector<std::string> ran;
};

TEST_P(ListCycleStagesTest, RunsTheStagesInOrderAndEndsEveryVisit) {
  const StagesCase& c = GetParam();
  const std::string list = dir.MakeList("sales");
  dir.Write("Data/sales/maillist.ini", "[General]\r\nName=Sales\r\n");
  dir.Write("Data/sales/Inbox/a.msg", "inbox");
  dir.Write("Data/sales/Outbox/a.msg", "outbox");
  ListCycle cycle(env, console, stages);

  cycle.Run(list);
  EXPECT_EQ(ran, c.ran);
  EXPECT_EQ(RedLines(), c.redLines);
  EXPECT_EQ(LastCheckedOf(IniFile(list + "maillist.ini")) != 0, c.finished);
  EXPECT_EQ(log.Contains("Idle"), c.finished);
  EXPECT_EQ(progress.front(), "Processing \"Sales\": dial-up");
  EXPECT_EQ(progress.back(), "Idle");
  const std::optional<CycleRecord> record = ReadCycleRecord(list);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->handled, c.handled);
  EXPECT_EQ(record->sent, c.sent);
}

const std::vector<std::string> kEveryStage = {"dial-up", "retrieval", "processing", "delivery",
                                              "hang-up"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ListCycleStagesTest,
    testing::Values(
        StagesCase{"every_stage", true, nullptr, nullptr, kEveryStage, {}, true, 1, 1},
        StagesCase{"no_connection",
                   false,
                   nullptr,
                   nullptr,
                   {"dial-up"},
                   {"Cannot establish dial-up connection"},
                   true,
                   0,
                   0},
        // A failing stage is logged with its name; the stages after it still run.
        StagesCase{"processing_fails",
                   true,
                   "processing",
                   nullptr,
                   kEveryStage,
                   {"Processing: it broke"},
                   true,
                   0,
                   1},
        // A stop ends the visit after the running stage, yet a dialed connection is hung up.
        StagesCase{"stop_during_retrieval",
                   true,
                   nullptr,
                   "retrieval",
                   {"dial-up", "retrieval", "hang-up"},
                   {},
                   false,
                   0,
                   0}),
    [](const testing::TestParamInfo<StagesCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvex
