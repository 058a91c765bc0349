// Placeholders, template line ends, the header block and the private notice file.
#include <gtest/gtest.h>

#include "ListFixture.h"
#include "message/Msg.h"
#include "processing/Commit.h"
#include "processing/Notices.h"

namespace orvex::test {
namespace {

class Notices : public ListFixture {
 protected:
  // Queues one notice and commits it; returns the private message file.
  std::string Queue(std::string_view section, const NoticeVariables& variables,
                    std::string_view recipient) {
    CommitGroup group(account(), env);
    ProcessingContext context{account(), env, group};
    QueuePrivateNotice(context, section, variables, recipient);
    group.Commit();
    return Only("Outbox", ".pri");
  }
};

TEST_F(Notices, SubstitutionFollowsTheBraceRules) {
  NoticeVariables variables;
  variables.Set("Subject", "one \"two\" three");
  variables.Set("Weird", "{Listname}");
  variables.Set("Listname", "overwritten by the list variable");
  struct Case {
    const char* name;
    const char* text;
    const char* expected;
  } cases[] = {
      {"list variables in any case", "{LISTNAME}/{listaddress}/{ControlAddress}/{moderator}",
       "Birds/birds@example.org/birds-request@example.org/mod@example.org"},
      {"unmatched { is dropped, the rest kept", "a{Listname}b{ c", "aBirdsb c"},
      {"empty braces give nothing", "a{}b", "ab"},
      {"} before the first { is copied", "}a{Listname}", "}aBirds"},
      {"spaces inside the braces match nothing", "[{ Listname }]", "[]"},
      {"unknown names vanish", "x{Password}{Nope}y", "xy"},
      {"quotes in values are inserted as they are", "S={Subject}", "S=one \"two\" three"},
      {"inserted values are not scanned again", "{Weird}", "{Listname}"},
      {"no braces", "plain", "plain"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SubstitutePlaceholders(account(), c.text, variables), c.expected) << c.name;
}

TEST_F(Notices, PrivateNoticeHasTheExactLayout) {
  NoticeVariables variables;
  variables.AddSubscriber(account(), "ann@example.net");
  EXPECT_EQ(Queue("Digest on", variables, "ann@example.net"),
            "ann@example.net\r\n"
            "From: \"Birds\" <birds-request@example.org>\r\n"
            "To: ann@example.net\r\n"
            "Content-type: text/plain\r\n"
            "Date: Mon, 07 Dec 2026 02:33:54 +0100\r\n"
            "Mime-version: 1.0\r\n"
            "Subject: digest on\r\n"
            "Message-ID: <20261207.023354123.birds@example.org>\r\n"
            "\r\n"
            "\r\n"
            "on ann@example.net\r\n"
            "--\r\n"
            "Birds\r\n"
            "\r\n");
}

TEST_F(Notices, TemplateLineEndsAndMissingNamesAndControlAddress) {
  // No Name, no ControlAddress; the text ends with an encoded line end that is removed once.
  WriteSettings(
      "[General]\r\nAddress=birds@example.org\r\n"
      "[Paused]\r\nSubject=s {controladdress}\r\nText=\"word\\13\\10{Listaddress}\\13\\10\"\r\n");
  EXPECT_EQ(Queue("Paused", NoticeVariables{}, "ann@example.net"),
            "ann@example.net\r\n"
            "From: \"\" <birds@example.org>\r\n"
            "To: ann@example.net\r\n"
            "Content-type: text/plain\r\n"
            "Date: Mon, 07 Dec 2026 02:33:54 +0100\r\n"
            "Mime-version: 1.0\r\n"
            "Subject: s birds@example.org\r\n"
            "Message-ID: <20261207.023354123.birds@example.org>\r\n"
            "\r\n"
            "\r\n"
            "word\r\n"
            "birds@example.org\r\n"
            "\r\n"
            "\r\n");
}

TEST_F(Notices, MissingTemplateStillSendsTheSignature) {
  const std::string file = Queue("No such notice", NoticeVariables{}, "ann@example.net");
  EXPECT_TRUE(
      file.ends_with("Subject: \r\nMessage-ID: <20261207.023354123.birds@example.org>"
                     "\r\n\r\n\r\n\r\n--\r\nBirds\r\n\r\n"))
      << file;
}

struct SectionCase {
  const char* name;
  const char* sections;  // after [General]
  const char* subject;   // expected
  const char* body;      // expected to appear in the file
  const char* absent;    // expected not to appear
};

// One list per row: the notice a row queued must not be the file the next row reads.
class NoticesFromSections : public Notices, public testing::WithParamInterface<SectionCase> {};

TEST_P(NoticesFromSections, AbsentTakesTheBuiltInTextAPresentOneStaysTheOperators) {
  const SectionCase& c = GetParam();
  NoticeVariables variables;
  variables.Set("ConfirmCode", "4711");
  WriteSettings("[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n" +
                std::string(c.sections));
  const std::string file = Queue("Subscribe confirmation", variables, "ann@example.net");
  EXPECT_NE(file.find("\r\nSubject: " + std::string(c.subject) + "\r\n"), std::string::npos)
      << file;
  EXPECT_NE(file.find(c.body), std::string::npos) << file;
  EXPECT_EQ(file.find(c.absent), std::string::npos) << file;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoticesFromSections,
    testing::Values(SectionCase{"absent_gives_the_built_in_confirmation_with_its_code", "",
                                "Birds  subscribe-confirm-4711",
                                "Your confirmation code is 4711\r\n", "________"},
                    SectionCase{"present_and_empty_stays_empty", "[Subscribe confirmation]\r\n", "",
                                "\r\n\r\n\r\n\r\n", "code"},
                    SectionCase{"present_with_text_only_keeps_the_operators_empty_subject",
                                "[subscribe CONFIRMATION]\r\nText=\"mine {ConfirmCode}\"\r\n", "",
                                "mine 4711", "Your confirmation code"},
                    SectionCase{"an_absent_signature_stays_absent",
                                "[Subscribe confirmation]\r\nSubject=s\r\nText=\"t\"\r\n", "s",
                                "t\r\n\r\n\r\n", "________"}),
    [](const testing::TestParamInfo<SectionCase>& info) { return std::string(info.param.name); });

TEST_F(Notices, MessageVariablesComeFromTheReceivedMessage) {
  TMsg msg;
  msg.Lines = SplitLines(
      "From: \"Ann\" <ann@example.net>\r\nSubject: a \"quoted\" word\r\n"
      "Date: Sun, 06 Dec 2026 10:00:00 +0100\r\n\r\nline one\r\nline two\r\n\r\n\r\n");
  msg.Parse();
  NoticeVariables variables;
  variables.AddMessage(msg);
  EXPECT_EQ(variables.Get("sender"), "ann@example.net");
  EXPECT_EQ(variables.Get("SUBJECT"), "a \"quoted\" word");
  EXPECT_EQ(variables.Get("Date"), "Sun, 06 Dec 2026 10:00:00 +0100");
  EXPECT_EQ(variables.Get("Text"), "line one\r\nline two\r\n");
}

}  // namespace
}  // namespace orvex::test
