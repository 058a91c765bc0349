// The dial-up stage against a scripted backend and a clock whose waits take no time: attempts,
// pauses, slow and hanging dials, a connection already up, and stop requests.
#include "service/DialUpStage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "crypto/Passwords.h"
#include "platform/StopSignal.h"
#include "store/MessageNames.h"
#include "support/FakeDialUpBackend.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using Dial = test::FakeDialUpBackend::Dial;
using Lines = std::vector<std::string>;

struct DialCase {
  const char* name;
  bool useDialUp;
  std::string entry;
  int attempts;
  int pause;  // seconds
  Dial dial;  // how dialing `entry` goes
  Lines active;
  bool stopInFirstWait;
  // What should happen: Connect's answer, the backend calls and the log of Connect and HangUp,
  // and how long the stage waited in all.
  bool connected;
  Lines calls;
  Lines log;
  std::chrono::milliseconds waitedAtLeast, waitedAtMost;
};

class DialUpStageTest : public testing::TestWithParam<DialCase> {
 protected:
  ~DialUpStageTest() override { ResetStopRequest(); }

  test::TempDirectory dir;
  test::FakeClock clock;
  test::FakeRandom random;
  test::RecordingLogger log;
  MessageNamer namer{clock};
  Environment env{clock, random, log, namer};
  test::FakeDialUpBackend backend;
};

TEST_P(DialUpStageTest, ConnectsAsSetAndHangsUpOnlyWhatItDialed) {
  const DialCase& c = GetParam();
  dir.Write("orvex.ini", "[DialUp]\r\nUse dialup=" + std::string(c.useDialUp ? "1" : "0") +
                             "\r\nEntry=" + c.entry +
                             "\r\nUser=member\r\nPassword=" + EncipherPassword("s3cret") +
                             "\r\nAttempts=" + std::to_string(c.attempts) +
                             "\r\nPause=" + std::to_string(c.pause) + "\r\n");
  backend.dials[c.entry] = c.dial;
  backend.active = c.active;
  if (c.stopInFirstWait) clock.duringWait = [] { RequestStop(); };
  DialUpStage stage(dir.Path() + "orvex.ini", backend, env);

  EXPECT_EQ(stage.DialUpConnect(), c.connected);
  stage.HangUp();
  EXPECT_EQ(backend.calls, c.calls);
  EXPECT_EQ(log.Texts(), c.log);
  EXPECT_GE(clock.waited, c.waitedAtLeast);
  EXPECT_LE(clock.waited, c.waitedAtMost);
}

const Dial kConnects{};
const Dial kNoCarrier{true, 0, false, DialState::Failed, "Error: No carrier"};
const Dial kTakesTwoSeconds{true, 20, false, DialState::Connected, ""};
const Dial kHangs{true, 0, true, DialState::Dialing, ""};
const Dial kUnknown{false, 0, false, DialState::Failed, "Error: unknown connection 'gone'."};

INSTANTIATE_TEST_SUITE_P(
    Cases, DialUpStageTest,
    testing::Values(
        DialCase{"off", false, "modem", 1, 1, kConnects, {}, false, true, {}, {}, 0ms, 0ms},
        DialCase{"dials_with_the_stored_password",
                 true,
                 "modem",
                 1,
                 1,
                 kConnects,
                 {},
                 false,
                 true,
                 {"dial modem member s3cret", "hang up modem"},
                 {"Connecting to modem. Attempt #1", "Hanging up ..."},
                 0ms,
                 0ms},
        DialCase{"a_slow_connection_is_waited_for",
                 true,
                 "modem",
                 1,
                 1,
                 kTakesTwoSeconds,
                 {},
                 false,
                 true,
                 {"dial modem member s3cret", "hang up modem"},
                 {"Connecting to modem. Attempt #1", "Hanging up ..."},
                 2s,
                 2s},
        // Three attempts, a pause of about three seconds between two of them, then no connection.
        DialCase{
            "gives_up_after_the_attempts",
            true,
            "broken",
            3,
            3,
            kNoCarrier,
            {},
            false,
            false,
            {"dial broken member s3cret", "dial broken member s3cret", "dial broken member s3cret"},
            {"Connecting to broken. Attempt #1", "Error: No carrier",
             "Waiting 3 seconds for next retry", "Connecting to broken. Attempt #2",
             "Error: No carrier", "Waiting 3 seconds for next retry",
             "Connecting to broken. Attempt #3", "Error: No carrier"},
            5s,
            6s},
        DialCase{"no_attempts_no_connection",
                 true,
                 "modem",
                 0,
                 1,
                 kConnects,
                 {},
                 false,
                 false,
                 {},
                 {},
                 0ms,
                 0ms},
        // The entry's name compares without regard to case; what was up stays up.
        DialCase{"a_connection_already_up_is_used",
                 true,
                 "Office",
                 1,
                 1,
                 kConnects,
                 {"office"},
                 false,
                 true,
                 {},
                 {"Connecting to Office. Attempt #1"},
                 0ms,
                 0ms},
        DialCase{"a_profile_that_cannot_be_started",
                 true,
                 "gone",
                 1,
                 1,
                 kUnknown,
                 {},
                 false,
                 false,
                 {"dial gone member s3cret"},
                 {"Connecting to gone. Attempt #1", "Error: unknown connection 'gone'."},
                 0ms,
                 0ms},
        DialCase{
            "a_dial_that_never_ends_is_given_up",
            true,
            "stuck",
            1,
            1,
            kHangs,
            {},
            false,
            false,
            {"dial stuck member s3cret", "cancel stuck"},
            {"Connecting to stuck. Attempt #1", "Dial-up of stuck did not finish within 3 minutes"},
            3min,
            3min + 200ms},
        DialCase{"a_stop_while_dialing_cancels_the_dial",
                 true,
                 "stuck",
                 1,
                 1,
                 kHangs,
                 {},
                 true,
                 false,
                 {"dial stuck member s3cret", "cancel stuck"},
                 {"Connecting to stuck. Attempt #1"},
                 100ms,
                 100ms},
        DialCase{"a_stop_in_the_pause_ends_without_another_attempt",
                 true,
                 "broken",
                 3,
                 30,
                 kNoCarrier,
                 {},
                 true,
                 false,
                 {"dial broken member s3cret"},
                 {"Connecting to broken. Attempt #1", "Error: No carrier",
                  "Waiting 30 seconds for next retry"},
                 100ms,
                 100ms}),
    [](const testing::TestParamInfo<DialCase>& info) { return std::string(info.param.name); });

TEST(DialUpStagePause, CountsDownInPlace) {
  test::TempDirectory dir;
  test::FakeClock clock;
  test::FakeRandom random;
  test::RecordingLogger log;
  MessageNamer namer{clock};
  const Environment env{clock, random, log, namer};
  test::FakeDialUpBackend backend;
  backend.dials["broken"] = kNoCarrier;
  dir.Write("orvex.ini", "[DialUp]\r\nUse dialup=1\r\nEntry=broken\r\nAttempts=2\r\nPause=3\r\n");
  DialUpStage stage(dir.Path() + "orvex.ini", backend, env);
  EXPECT_FALSE(stage.DialUpConnect());
  EXPECT_EQ(log.cursorWrites,
            (Lines{"3 seconds remaining          ", "2 seconds remaining          ",
                   "1 seconds remaining          "}));
}

}  // namespace
}  // namespace orvex
