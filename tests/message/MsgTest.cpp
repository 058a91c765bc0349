// TMsg: splitting a message into fields, text and raw rest, and composing it without loss.
#include "message/Msg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using Lines = std::vector<std::string>;

TMsg Parsed(Lines lines) {
  TMsg msg;
  msg.Lines = std::move(lines);
  msg.Parse();
  return msg;
}

TEST(Msg, WorkedExampleParsesAndComposesBack) {
  const Lines input = {"From: a",
                       "Subject:  Hi ",
                       "Content-Type: text/plain",
                       "Content-Transfer-Encoding: quoted-printable",
                       "",
                       "caf=E9 ok"};
  TMsg msg = Parsed(input);
  EXPECT_THAT(msg.Headers.Lines(), ElementsAre("From=a", "Subject=Hi", "Content-Type=text/plain",
                                               "Content-Transfer-Encoding=quoted-printable"));
  EXPECT_THAT(msg.Head(), ElementsAre(""));
  EXPECT_THAT(msg.Body, ElementsAre("caf\xe9 ok"));
  EXPECT_TRUE(msg.Tail().empty());
  EXPECT_EQ(msg.BodyEncoding, TBodyEncoding::QuotedPrintable);
  EXPECT_TRUE(msg.Boundary.empty());
  msg.Compose();
  EXPECT_THAT(msg.Lines,
              ElementsAre("From: a", "Subject: Hi", "Content-Type: text/plain",
                          "Content-Transfer-Encoding: quoted-printable", "", "caf=E9 ok"));
}

TEST(Msg, HeaderFieldsKeepOneValuePerNameAtTheFirstPlace) {
  TMsg msg = Parsed({"Received: one", "To: x", "received: two", "Subject: s\t", "  continued",
                     "X-Empty:", "Cc: c", "CC:", "no colon here", "Date: d", "", "text"});
  // An empty occurrence ("CC:") takes nothing away from the value the message gave before.
  EXPECT_THAT(msg.Headers.Lines(),
              ElementsAre("received=two", "To=x", "Subject=s\t  continued", "Cc=c"));
  EXPECT_THAT(msg.Body, ElementsAre("no colon here", "Date: d", "", "text"));
  msg.Headers.SetValue("Reply-To", "list@example.org");
  msg.Headers.SetValue("To", "");  // set empty from code, a field still goes
  msg.Compose();
  EXPECT_THAT(msg.Lines, ElementsAre("received: two", "Subject: s\t  continued", "Cc: c",
                                     "Reply-To: list@example.org", "", "no colon here", "Date: d",
                                     "", "text"));
}

TEST(Msg, FieldNamesStayWholeAndThePostersReplyToCannotStandBesideTheLists) {
  TMsg msg = Parsed({"From: m", "X-Tracking=Id: 4711", "Reply-To=: <reply@attacker.example>",
                     "Reply-To : <other@attacker.example>", "", "t"});
  EXPECT_EQ(msg.Headers.Value("Reply-To"), "<other@attacker.example>");
  msg.Headers.SetValue("Reply-To", "list@example.org");
  msg.Compose();
  EXPECT_THAT(msg.Lines,
              ElementsAre("From: m", "X-Tracking=Id: 4711", "Reply-To=: <reply@attacker.example>",
                          "Reply-To: list@example.org", "", "t"));
  TMsg again = Parsed(msg.Lines);
  EXPECT_EQ(again.Headers.Value("Reply-To"), "list@example.org");
  EXPECT_EQ(again.Headers.Count(), 4u);
}

TEST(Msg, ComposeAgainKeepsTheRawLinesAndRefusesLinesChangedSinceParse) {
  TMsg msg = Parsed({"Content-Type: multipart/mixed; boundary=b", "", "pre", "--b", "", "t", "--b",
                     "Content-Type: image/gif", "", "R0lG", "--b--", "", ""});
  msg.Compose();
  msg.Body.push_back("SIG");
  msg.Compose();
  const Lines expected = {"Content-Type: multipart/mixed; boundary=b",
                          "",
                          "pre",
                          "--b",
                          "",
                          "t",
                          "SIG",
                          "--b",
                          "Content-Type: image/gif",
                          "",
                          "R0lG",
                          "--b--"};
  EXPECT_EQ(msg.Lines, expected);
  EXPECT_THAT(msg.Tail(),
              ElementsAre("--b", "Content-Type: image/gif", "", "R0lG", "--b--", "", ""));
  msg.Lines.pop_back();
  EXPECT_THROW(msg.Compose(), std::logic_error);
}

TEST(Msg, LinesWithoutColonBeforeTheFirstFieldAreDropped) {
  TMsg msg = Parsed({"garbage line", "From: a", "", "body"});
  EXPECT_THAT(msg.Headers.Lines(), ElementsAre("From=a"));
  EXPECT_THAT(msg.Body, ElementsAre("body"));
}

TEST(Msg, PlainMessageBodyIsKeptExactlyAndTrailingEmptyLinesGo) {
  TMsg msg = Parsed({"From: a", "", "  indented ", "", "end of it", ".", "", ""});
  EXPECT_EQ(msg.BodyEncoding, TBodyEncoding::AsIs);
  EXPECT_THAT(msg.Body, ElementsAre("  indented ", "", "end of it", ".", "", ""));
  msg.Compose();
  EXPECT_THAT(msg.Lines, ElementsAre("From: a", "", "  indented ", "", "end of it", "."));
}

TEST(Msg, MultipartSplitsAroundTheTextPart) {
  TMsg msg = Parsed({"Content-Type: multipart/mixed; boundary=\"B\"", "", "preamble", "--B",
                     "Content-Type: text/plain", "", "hello", "--B",
                     "Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64",
                     "", "AAEC", "--B--"});
  EXPECT_EQ(msg.Boundary, "B");
  EXPECT_THAT(msg.Head(), ElementsAre("", "preamble", "--B", "Content-Type: text/plain", ""));
  EXPECT_THAT(msg.Body, ElementsAre("hello"));
  EXPECT_THAT(msg.Tail(), ElementsAre("--B", "Content-Type: application/octet-stream",
                                      "Content-Transfer-Encoding: base64", "", "AAEC", "--B--"));
  msg.Body.push_back("-- ");
  msg.Compose();
  EXPECT_THAT(msg.Lines, ElementsAre("Content-Type: multipart/mixed; boundary=\"B\"", "",
                                     "preamble", "--B", "Content-Type: text/plain", "", "hello",
                                     "-- ", "--B", "Content-Type: application/octet-stream",
                                     "Content-Transfer-Encoding: base64", "", "AAEC", "--B--"));
}

TEST(Msg, Base64TextIsDecodedIntoLinesAndEncodedBack) {
  TMsg msg = Parsed({"Content-Transfer-Encoding: base64", "", "SGVsbG8NCldvcmxk"});
  EXPECT_EQ(msg.BodyEncoding, TBodyEncoding::Base64);
  EXPECT_THAT(msg.Body, ElementsAre("Hello", "World"));
  msg.Compose();
  EXPECT_THAT(msg.Lines,
              ElementsAre("Content-Transfer-Encoding: base64", "", "SGVsbG8NCldvcmxkDQo="));
  msg.Body.assign(30, "abcdefghij");
  msg.Compose();
  ASSERT_EQ(msg.Lines.size(), 2u + 7u);  // 360 bytes: 480 characters in lines of 76
  EXPECT_EQ(msg.Lines[2],
            "YWJjZGVmZ2hpag0KYWJjZGVmZ2hpag0KYWJjZGVmZ2hpag0KYWJjZGVmZ2hpag0KYWJjZGVmZ2hp");
  EXPECT_EQ(msg.Lines[8], "Z2hpag0KYWJjZGVmZ2hpag0K");
}

TEST(Msg, QuotedPrintableTextIsDecodedAsAWhole) {
  TMsg msg =
      Parsed({"Content-Type: text/plain; charset=iso-8859-1",
              "Content-Transfer-Encoding: Quoted-Printable", "", "caf=E9 au =", "lait", "x=20"});
  EXPECT_THAT(msg.Body, ElementsAre("caf\xe9 au lait", "x "));
  msg.Compose();
  EXPECT_THAT(msg.Lines, ElementsAre("Content-Type: text/plain; charset=iso-8859-1",
                                     "Content-Transfer-Encoding: Quoted-Printable", "",
                                     "caf=E9 au lait", "x=20"));
}

TEST(Msg, MessageWithoutTextPartKeepsItsBodyRawInHead) {
  TMsg msg = Parsed({"Content-Type: text/html", "", "<p>", "end", "</p>"});
  EXPECT_THAT(msg.Head(), ElementsAre("", "<p>", "end", "</p>"));
  EXPECT_TRUE(msg.Body.empty());
  msg.Body.push_back("sig");
  msg.Compose();
  EXPECT_THAT(msg.Lines, ElementsAre("Content-Type: text/html", "", "<p>", "end", "</p>", "sig"));
}

TEST(Msg, ClearEmptiesTheParsedFieldsButKeepsLinesAndBoundary) {
  TMsg msg = Parsed({"Content-Type: multipart/mixed; boundary=q", "", "--q", "", "t", "--q--"});
  msg.Clear();
  EXPECT_TRUE(msg.Headers.Empty());
  EXPECT_TRUE(msg.Head().empty() && msg.Body.empty() && msg.Tail().empty());
  EXPECT_EQ(msg.BodyEncoding, TBodyEncoding::AsIs);
  EXPECT_EQ(msg.Boundary, "q");
  EXPECT_EQ(msg.Lines.size(), 6u);
  msg.Body.push_back("only text");
  msg.Compose();  // nothing refers to the old lines any more
  EXPECT_THAT(msg.Lines, ElementsAre("only text"));
}

TEST(Msg, ComposeOfEmptyLinesGivesNoLines) {
  TMsg msg = Parsed({"", "", ""});
  msg.Compose();
  EXPECT_TRUE(msg.Lines.empty());
}

// Parse, append "SIG" to Body, Compose: what a list copy of each message must look like.
struct RoundTripCase {
  const char* name;
  Lines input;
  Lines expected;
};

class MsgRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(MsgRoundTripTest, KeepsEverythingAndAddsTheSignatureToTheText) {
  TMsg msg = Parsed(GetParam().input);
  msg.Body.push_back("SIG");
  msg.Compose();
  EXPECT_THAT(msg.Lines, ElementsAreArray(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Traps, MsgRoundTripTest,
    testing::Values(
        RoundTripCase{
            "LinesStartingWithEndAndInlineBlocks",
            {"From: a", "", "endless", "begin 644 f.txt", "#0V%T", "`", "end", "End."},
            {"From: a", "", "endless", "begin 644 f.txt", "#0V%T", "`", "end", "End.", "SIG"}},
        RoundTripCase{"InnerBoundaryLinesKeptAsWritten",
                      {"Content-Type: multipart/mixed; boundary=out", "", "--out",
                       "Content-Type: multipart/alternative; boundary=in", "", "--in",
                       "Content-Type: text/plain", "", "one", "--in", "Content-Type: text/html", "",
                       "<b>", "--IN--", "", "--out  ", "", "raw text part", "--out--"},
                      {"Content-Type: multipart/mixed; boundary=out",
                       "",
                       "--out",
                       "Content-Type: multipart/alternative; boundary=in",
                       "",
                       "--in",
                       "Content-Type: text/plain",
                       "",
                       "one",
                       "SIG",
                       "--in",
                       "Content-Type: text/html",
                       "",
                       "<b>",
                       "--IN--",
                       "",
                       "--out  ",
                       "",
                       "raw text part",
                       "--out--"}},
        RoundTripCase{"OnlyTheFirstTextPartIsText",
                      {"Content-Type: multipart/alternative; boundary=b", "", "--b",
                       "Content-Transfer-Encoding: quoted-printable", "", "a=3Db", "--b",
                       "Content-Transfer-Encoding: quoted-printable", "", "c=3Dd", "--b--"},
                      {"Content-Type: multipart/alternative; boundary=b", "", "--b",
                       "Content-Transfer-Encoding: quoted-printable", "", "a=3Db", "SIG", "--b",
                       "Content-Transfer-Encoding: quoted-printable", "", "c=3Dd", "--b--"}},
        RoundTripCase{"EpilogueKeptAndNoSecondClosingDelimiter",
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "text", "--b--",
                       "", "End of it"},
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "text", "SIG",
                       "--b--", "", "End of it"}},
        RoundTripCase{
            "BoundaryNotTheFirstParameter",
            {"Content-Type: multipart/related; type=\"multipart/alternative\";",
             "\tboundary=\"r1\"", "", "--r1", "Content-Type: text/plain", "", "hi", "--r1",
             "Content-Type: image/png", "", "iVBO", "--r1--"},
            {"Content-Type: multipart/related; type=\"multipart/alternative\";\tboundary=\"r1\"",
             "", "--r1", "Content-Type: text/plain", "", "hi", "SIG", "--r1",
             "Content-Type: image/png", "", "iVBO", "--r1--"}},
        RoundTripCase{"FoldedPartHeaderStaysFolded",
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b",
                       "Content-Type: text/plain;", " charset=us-ascii", "", "t", "--b",
                       "Content-Disposition: attachment;", "\tfilename=x", "", "data", "--b--"},
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b",
                       "Content-Type: text/plain;", " charset=us-ascii", "", "t", "SIG", "--b",
                       "Content-Disposition: attachment;", "\tfilename=x", "", "data", "--b--"}},
        RoundTripCase{"HeaderEndedByALineWithoutColon",
                      {"From: a", "Subject: b", "This is the text", "more"},
                      {"From: a", "Subject: b", "", "This is the text", "more", "SIG"}},
        RoundTripCase{
            "HeaderOnly", {"From: a", "Subject: b"}, {"From: a", "Subject: b", "", "SIG"}},
        RoundTripCase{"MissingClosingDelimiterEndsTheTextPart",
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b",
                       "Content-Transfer-Encoding: quoted-printable", "", "x=3Dy"},
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b",
                       "Content-Transfer-Encoding: quoted-printable", "", "x=3Dy", "SIG"}},
        RoundTripCase{
            "BoundaryNeverMet",
            {"Content-Type: multipart/mixed; boundary=nothere", "", "text", "--other"},
            {"Content-Type: multipart/mixed; boundary=nothere", "", "text", "--other", "SIG"}},
        RoundTripCase{"UuencodedPartKeepsItsRawLines",
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "text", "--b",
                       "Content-Type: text/plain", "Content-Transfer-Encoding: x-uuencode", "",
                       "begin 644 c.txt", "#0V%T", "end", "--b--"},
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "text", "SIG",
                       "--b", "Content-Type: text/plain", "Content-Transfer-Encoding: x-uuencode",
                       "", "begin 644 c.txt", "#0V%T", "end", "--b--"}},
        RoundTripCase{
            "NonMultipartWithBoundaryParameter",
            {"Content-Type: text/html; boundary=\"x\"", "", "--x", "<p>", "--x--"},
            {"Content-Type: text/html; boundary=\"x\"", "", "--x", "<p>", "--x--", "SIG"}},
        RoundTripCase{
            "Base64GroupsRunningAcrossLines",
            {"Content-Transfer-Encoding: base64", "", "SGVsbG8gV2", "9ybGQgYW5kIG1", "vcmU="},
            {"Content-Transfer-Encoding: base64", "", "SGVsbG8gV29ybGQgYW5kIG1vcmUNClNJRw0K"}},
        RoundTripCase{"EmptyRepeatedFieldKeepsTheValue",
                      {"Cc: a@x", "Subject: s", "Cc:", "", "t"},
                      {"Cc: a@x", "Subject: s", "", "t", "SIG"}},
        RoundTripCase{"EmptyPartWithoutHeaderGetsTheEmptyLineThatEndsIt",
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b", "--b--"},
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "SIG", "--b--"}},
        RoundTripCase{"PartHeaderEndedByTheNextDelimiter",
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b",
                       "Content-Type: text/plain", "--b--"},
                      {"Content-Type: multipart/mixed; boundary=b", "", "--b",
                       "Content-Type: text/plain", "", "SIG", "--b--"}},
        RoundTripCase{
            "MessageEndingInsideAPartHeader",
            {"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: image/gif"},
            {"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: image/gif", "",
             "SIG"}}),
    [](const auto& info) { return info.param.name; });

TEST(Msg, HostileInputNeverCrashesAndStaysRaw) {
  const std::string nul("a\0b", 3);
  const std::string long_line(1 << 20, 'x');
  Lines many;
  for (int i = 0; i < 10000; ++i) many.push_back("X-Field-" + std::to_string(i) + ": v");
  many.push_back("X-Field-7: last");
  many.push_back("");
  many.push_back("body");
  TMsg big = Parsed(many);
  ASSERT_EQ(big.Headers.Count(), 10000u);
  EXPECT_EQ(big.Headers.Value("x-field-7"), "last");
  EXPECT_THAT(big.Body, ElementsAre("body"));

  TMsg msg =
      Parsed({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: image/gif",
              "Content-Transfer-Encoding: base64", "", "!!!not base64 at all!!!", nul, long_line});
  msg.Compose();
  EXPECT_THAT(msg.Lines, ElementsAre("Content-Type: multipart/mixed; boundary=b", "", "--b",
                                     "Content-Type: image/gif", "Content-Transfer-Encoding: base64",
                                     "", "!!!not base64 at all!!!", nul, long_line));

  TMsg text = Parsed({"Content-Transfer-Encoding: base64", "", "@@@@", "YQ", nul});
  // Characters outside the alphabet are skipped and the groups run across lines: "YQab".
  EXPECT_THAT(text.Body, ElementsAre("a\x06\x9b"));
}

}  // namespace
}  // namespace orvex
