// The console log: rows, time stamps, continuation indent, 79-column wrap, colours, spinner.
#include "service/ConsoleLog.h"

#include <gtest/gtest.h>

#include "support/Fakes.h"

namespace orvex {
namespace {

// Records what the log does to the console, with control operations as readable marks.
class RecordingTerminal final : public Terminal {
 public:
  bool Interactive() const override { return true; }
  void Write(std::string_view text) override { output += text; }
  void SetTitle(std::string_view title) override { output += "[title " + std::string(title) + "]"; }
  void SetAttribute(int attribute) override {
    output += "[attr " + std::to_string(attribute) + "]";
  }
  void ShowCursor(bool visible) override { output += visible ? "[show]" : "[hide]"; }
  void WriteAtCursor(std::string_view text) override { output += "[at:" + std::string(text) + "]"; }
  std::string output;
};

struct WrapCase {
  const char* name;
  std::string row;
  std::vector<std::string> expected;
};

void PrintTo(const WrapCase& c, std::ostream* os) {
  *os << c.name;
}

class WrapLogRowTest : public testing::TestWithParam<WrapCase> {};

TEST_P(WrapLogRowTest, BreaksAsTheConsoleExpects) {
  EXPECT_EQ(WrapLogRow(GetParam().row), GetParam().expected);
}

const std::string k60(60, 'a');
const std::string k30(30, 'b');

INSTANTIATE_TEST_SUITE_P(
    Rows, WrapLogRowTest,
    testing::Values(
        WrapCase{"ShortRowStaysWhole", "short row", {"short row"}},
        WrapCase{"ExactlySeventyNineStaysWhole", std::string(79, 'x'), {std::string(79, 'x')}},
        WrapCase{"BreaksAtLastSpaceWithin79", k60 + " " + k30 + " cc", {k60, " " + k30 + " cc"}},
        WrapCase{"SpacesAfterBreakAreDropped", k60 + "    " + k30, {k60, " " + k30}},
        WrapCase{"SingleLongWordStaysOneRow", std::string(120, 'w'), {std::string(120, 'w')}},
        WrapCase{"IndentedLongWordStaysOneRow",
                 "         " + std::string(120, 'w'),
                 {"         " + std::string(120, 'w')}},
        WrapCase{
            "NoBreakInsideDoubleQuotes",
            "Processing \"" + std::string(40, 'n') + " " + std::string(40, 'm') + "\" x",
            {"Processing", " \"" + std::string(40, 'n') + " " + std::string(40, 'm') + "\" x"}},
        WrapCase{"BreaksRepeatedly", k60 + " " + k60 + " " + k60, {k60, " " + k60, " " + k60}}),
    [](const auto& info) { return std::string(info.param.name); });

class ConsoleLogTest : public testing::Test {
 protected:
  ConsoleLogTest() { setlocale(LC_TIME, "C"); }
  test::FakeClock clock{{2026, 12, 7, 2, 33, 54, 0, 0}};
  RecordingTerminal terminal;
  ConsoleLog log{terminal, clock};
  const std::string blank = "[at:" + std::string(79, ' ') + "]";
};

TEST_F(ConsoleLogTest, OneLineGetsTheTimeStampAndColour) {
  log.WriteLog("Idle", LogColour::White);
  EXPECT_EQ(terminal.output, "[show]" + blank + "[attr 15]12/07/26 02:33:54 Idle\n");
}

TEST_F(ConsoleLogTest, FurtherLinesAreIndentedByNineSpaces) {
  log.WriteLog("Connecting to pop.example on port 110\r\n(username=list) ...\nthird",
               LogColour::Green);
  EXPECT_EQ(terminal.output,
            "[show]" + blank +
                "[attr 10]12/07/26 02:33:54 Connecting to pop.example on port 110\n"
                "         (username=list) ...\n"
                "         third\n");
}

TEST_F(ConsoleLogTest, EmptyTextBlanksTheLineAndSetsTheColourOnly) {
  log.WriteLog("", LogColour::Red);
  EXPECT_EQ(terminal.output, "[show]" + blank + "[attr 12]");
}

TEST_F(ConsoleLogTest, SpinnerTurnsAtMostTenTimesASecondInWhite) {
  log.WriteLog("failed", LogColour::Red);
  terminal.output.clear();
  log.SpinnerStep();
  log.SpinnerStep();  // same instant: no change
  clock.AdvanceMilliseconds(100);
  log.SpinnerStep();
  clock.AdvanceMilliseconds(100);
  log.SpinnerStep();
  clock.AdvanceMilliseconds(100);
  log.SpinnerStep();
  EXPECT_EQ(
      terminal.output,
      "[attr 15][hide][at:/][attr 15][hide][at:-][attr 15][hide][at:\\][attr 15][hide][at:|]");
}

TEST(ConsoleText, InvalidUtf8IsShownAsWindows1252) {
  EXPECT_EQ(ToUtf8ShowingWindows1252("caf\xE9 \x80 \xC3\xA9"), "caf\xC3\xA9 \xE2\x82\xAC \xC3\xA9");
  EXPECT_EQ(ToUtf8ShowingWindows1252("\x81"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace orvex
