// The MIME decoder's events for header folding, boundaries, nesting and the end of the stream.
#include "message/MimeDecode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

// Attaches a handler to every event and writes one log line per event.
struct EventLog {
  TMimeDecode decoder;
  std::vector<std::string> events;

  EventLog() {
    auto simple = [this](const char* name) {
      return [this, name](TMimeDecode& d) {
        events.push_back(std::string(name) + ":" + std::string(d.CurrentData()));
      };
    };
    decoder.OnHeaderBegin = [this](TMimeDecode&) { events.push_back("HeaderBegin"); };
    decoder.OnHeaderLine = simple("HeaderLine");
    decoder.OnHeaderEnd = [this](TMimeDecode&) { events.push_back("HeaderEnd"); };
    decoder.OnPartHeaderBegin = [this](TMimeDecode& d) {
      events.push_back("PartHeaderBegin#" + std::to_string(d.PartNumber()));
    };
    decoder.OnPartHeaderLine = simple("PartHeaderLine");
    decoder.OnPartHeaderEnd = [this](TMimeDecode& d) {
      events.push_back("PartHeaderEnd:" + d.PartContentType() + "/" + d.PartEncoding());
    };
    decoder.OnPartBegin = [this](TMimeDecode&) { events.push_back("PartBegin"); };
    decoder.OnPartLine = [this](TMimeDecode& d, const char* data, std::size_t size) {
      EXPECT_EQ(data[size], '\0');
      events.push_back("Line:" + std::string(d.CurrentData()) + "=" + std::string(data, size));
    };
    decoder.OnPartEnd = [this](TMimeDecode& d) {
      events.push_back(d.AtEndOfStream() ? "PartEnd@end"
                                         : "PartEnd:" + std::string(d.CurrentData()));
    };
    decoder.OnInlineDecodeBegin = [this](TMimeDecode&, const std::string& name) {
      events.push_back("UUBegin:" + name);
    };
    decoder.OnInlineDecodeLine = [this](TMimeDecode&, std::string_view line) {
      events.push_back("UULine:" + std::string(line));
    };
    decoder.OnInlineDecodeEnd = [this](TMimeDecode&, const std::string& name) {
      events.push_back("UUEnd:" + name);
    };
  }
};

std::vector<std::string> Decode(const std::string& text) {
  EventLog log;
  log.decoder.DecodeText(text);
  return log.events;
}

TEST(MimeDecode, MessageEndingAfterItsHeaderEndsItsPartOnceWithoutBeginning) {
  EXPECT_THAT(Decode("From: a\r\nSubject: b\r\n\r\n"),
              ElementsAre("HeaderBegin", "HeaderLine:From: a", "HeaderLine:Subject: b", "HeaderEnd",
                          "PartEnd@end"));
}

TEST(MimeDecode, UnfoldingRemovesOnlyTheLineBreak) {
  EXPECT_THAT(Decode("Subject: a\r\n\tb\r\n  c\r\nTo: x\r\n\r\nbody"),
              ElementsAre("HeaderBegin", "HeaderLine:Subject: a\tb  c", "HeaderLine:To: x",
                          "HeaderEnd", "PartBegin", "Line:body=body", "PartEnd@end"));
}

TEST(MimeDecode, LineWithoutColonAfterAFieldStartsTheBody) {
  EXPECT_THAT(Decode("Subject: a\r\nHello there\r\nsecond\r\n"),
              ElementsAre("HeaderBegin", "HeaderLine:Subject: a", "HeaderEnd", "PartBegin",
                          "Line:Hello there=Hello there", "Line:second=second", "PartEnd@end"));
}

TEST(MimeDecode, LinesAreCutAtLfWithOrWithoutCr) {
  const std::vector<std::string> expected = {
      "HeaderBegin", "HeaderLine:A: 1", "HeaderEnd",      "PartBegin",
      "Line:x=x",    "Line:=",          "Line:y\ry=y\ry", "PartEnd@end"};
  EXPECT_THAT(Decode("A: 1\n\nx\r\n\ny\ry"), ElementsAreArray(expected));
  EventLog lines;
  lines.decoder.DecodeLines({"A: 1", "", "x", "", "y\ry"});
  EXPECT_THAT(lines.events, ElementsAreArray(expected));
}

TEST(MimeDecode, StreamOfLongLinesDecodesLikeText) {
  const std::string text =
      "A: 1\r\n\r\n" + std::string(1 << 20, 'q') + "\r\n" + std::string(70000, 'r');
  EventLog stream;
  std::istringstream in(text);
  stream.decoder.DecodeStream(in);
  EXPECT_EQ(stream.events, Decode(text));
  ASSERT_EQ(stream.events.size(), 7u);
  EXPECT_EQ(stream.events[4].size(), 5 + 2 * (1u << 20) + 1);
}

TEST(MimeDecode, BodyLinesAreDecodedByTheTransferEncoding) {
  EXPECT_THAT(Decode("Content-Transfer-Encoding: BASE64\r\n\r\nSGk=\r\n"),
              ElementsAre("HeaderBegin", "HeaderLine:Content-Transfer-Encoding: BASE64",
                          "HeaderEnd", "PartBegin", "Line:SGk==Hi", "PartEnd@end"));
  EXPECT_THAT(Decode("Content-Transfer-Encoding: quoted-printable\r\n\r\n=41=\r\n"),
              ElementsAre("HeaderBegin", "HeaderLine:Content-Transfer-Encoding: quoted-printable",
                          "HeaderEnd", "PartBegin", "Line:=41==A\r\n", "PartEnd@end"));
}

// A multipart message whose boundary is "Bd": which body lines are delimiters.
struct BoundaryCase {
  const char* name;
  std::string line;
  bool delimiter;
};

class BoundaryLineTest : public testing::TestWithParam<BoundaryCase> {};

TEST_P(BoundaryLineTest, OnlyTheWholeLineWithOptionalPaddingIsADelimiter) {
  EventLog log;
  log.decoder.DecodeText("Content-Type: multipart/mixed; boundary=Bd\r\n\r\n--Bd\r\n\r\nfirst\r\n" +
                         GetParam().line + "\r\nafter\r\n");
  const bool ended = std::find(log.events.begin(), log.events.end(),
                               "PartEnd:" + GetParam().line) != log.events.end();
  EXPECT_EQ(ended, GetParam().delimiter);
}

INSTANTIATE_TEST_SUITE_P(Lines, BoundaryLineTest,
                         testing::Values(BoundaryCase{"Exact", "--Bd", true},
                                         BoundaryCase{"OtherCase", "--bD", true},
                                         BoundaryCase{"Closing", "--Bd--", true},
                                         BoundaryCase{"TrailingSpaces", "--Bd  ", true},
                                         BoundaryCase{"TrailingTab", "--Bd--\t", true},
                                         BoundaryCase{"LeadingSpace", " --Bd", false},
                                         BoundaryCase{"TextAfterTab", "--Bd\tx", false},
                                         BoundaryCase{"LongerBoundary", "--Bd-1", false},
                                         BoundaryCase{"Prefix", "--B", false},
                                         BoundaryCase{"InMidLine", "see --Bd", false}),
                         [](const auto& info) { return info.param.name; });

TEST(MimeDecode, BoundaryIsFoundAtAnyParameterPositionAndIsOnlyItsValue) {
  struct Case {
    const char* header;
    const char* mime_boundary;
    const char* boundary;
  } cases[] = {
      {"Content-Type: multipart/related; boundary=\"b1\"; type=\"multipart/alternative\"", "--b1",
       "b1"},
      {"Content-Type: multipart/signed; protocol=\"application/pgp-signature\";\r\n "
       "micalg=pgp-sha1; "
       "boundary=Xy9",
       "--xy9", "Xy9"},
      {"Content-Type: multipart/mixed; boundary=\"simple\r\n boundary\"", "--simple boundary",
       "simple boundary"},
      {"Content-Type: multipart/alternative;; boundary=abc (comment)", "--abc", "abc"},
      {"Content-Type: text/html; boundary=\"notmime\"", "", ""},
      {"Content-Type: multipart/alternative", "", ""},
  };
  for (const Case& c : cases) {
    TMimeDecode decoder;
    decoder.DecodeText(std::string(c.header) + "\r\n\r\n");
    EXPECT_EQ(decoder.MimeBoundary(), c.mime_boundary) << c.header;
    EXPECT_EQ(decoder.Boundary(), c.boundary) << c.header;
  }
}

TEST(MimeDecode, NestedMultipartBoundariesStartPartsAndEpiloguesStayParts) {
  const std::string text =
      "Content-Type: multipart/mixed; boundary=\"out\"\r\n\r\npre\r\n--out\r\n"
      "Content-Type: multipart/alternative;\r\n\tboundary=\"in\"\r\n\r\n--in\r\nContent-Type: "
      "text/plain\r\n\r\n"
      "one\r\n--in--\r\ninner epilogue\r\n--out\r\nContent-Type: "
      "image/gif\r\nContent-Transfer-Encoding: base64\r\n"
      "\r\nR0lG\r\n--out--\r\nouter epilogue\r\n--in\r\n";
  EXPECT_THAT(
      Decode(text),
      ElementsAre("HeaderBegin", "HeaderLine:Content-Type: multipart/mixed; boundary=\"out\"",
                  "HeaderEnd", "PartBegin", "Line:pre=pre", "PartEnd:--out", "PartHeaderBegin#1",
                  "PartHeaderLine:Content-Type: multipart/alternative;\tboundary=\"in\"",
                  "PartHeaderEnd:multipart/alternative/", "PartEnd:--in", "PartHeaderBegin#2",
                  "PartHeaderLine:Content-Type: text/plain", "PartHeaderEnd:text/plain/",
                  "PartBegin", "Line:one=one", "PartEnd:--in--",
                  "Line:inner epilogue=inner epilogue", "PartEnd:--out", "PartHeaderBegin#3",
                  "PartHeaderLine:Content-Type: image/gif",
                  "PartHeaderLine:Content-Transfer-Encoding: base64",
                  "PartHeaderEnd:image/gif/base64", "PartBegin", "Line:R0lG=GIF", "PartEnd:--out--",
                  "Line:outer epilogue=outer epilogue", "Line:--in=--in"));
}

TEST(MimeDecode, FoldedPartHeaderLineKeepsItsRawLines) {
  EventLog log;
  std::vector<std::vector<std::string>> raw;
  log.decoder.OnPartHeaderLine = [&raw](TMimeDecode& d) { raw.push_back(d.CurrentRawLines()); };
  log.decoder.DecodeText(
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Disposition: "
      "attachment;\r\n\tfilename=\"a b\"\r\n"
      "\r\nx\r\n--b--\r\n");
  EXPECT_THAT(raw,
              ElementsAre(ElementsAre("Content-Disposition: attachment;", "\tfilename=\"a b\"")));
}

TEST(MimeDecode, PartHeaderEndedByALineThatIsNoFieldGivesThatLineToTheBody) {
  EXPECT_THAT(Decode("Content-Type: multipart/mixed; boundary=foo\r\n\r\n--foo\r\nContent-Type: "
                     "text/plain\r\nbar\r\n"
                     "--foo--\r\n"),
              ElementsAre("HeaderBegin", "HeaderLine:Content-Type: multipart/mixed; boundary=foo",
                          "HeaderEnd", "PartBegin", "PartEnd:--foo", "PartHeaderBegin#1",
                          "PartHeaderLine:Content-Type: text/plain", "PartHeaderEnd:text/plain/",
                          "PartBegin", "Line:bar=bar", "PartEnd:--foo--"));
}

TEST(MimeDecode, PartLeftOpenByAMissingClosingDelimiterEndsWithTheStream) {
  EXPECT_THAT(Decode("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\ntext"),
              ElementsAre("HeaderBegin", "HeaderLine:Content-Type: multipart/mixed; boundary=b",
                          "HeaderEnd", "PartBegin", "PartEnd:--b", "PartHeaderBegin#1",
                          "PartHeaderEnd:/", "PartBegin", "Line:text=text", "PartEnd@end"));
}

TEST(MimeDecode, InlineUuencodedBlockIsReportedAndStillDelivered) {
  EXPECT_THAT(
      Decode("A: 1\r\n\r\nbegin 644 file.txt\r\n#0V%T\r\nend\r\nendless\r\n"),
      ElementsAre("HeaderBegin", "HeaderLine:A: 1", "HeaderEnd", "PartBegin", "UUBegin:file.txt",
                  "Line:begin 644 file.txt=begin 644 file.txt", "UULine:#0V%T", "Line:#0V%T=#0V%T",
                  "UUEnd:file.txt", "Line:end=end", "Line:endless=endless", "PartEnd@end"));
}

TEST(MimeDecode, UuencodedPartReportsEveryLineWithItsData) {
  EXPECT_THAT(Decode("Content-Transfer-Encoding: x-uuencode\r\n\r\nbefore\r\nbegin 600 "
                     "c.txt\r\n#0V%T\r\nend\r\n"),
              ElementsAre("HeaderBegin", "HeaderLine:Content-Transfer-Encoding: x-uuencode",
                          "HeaderEnd", "PartBegin", "Line:before=", "Line:begin 600 c.txt=",
                          "Line:#0V%T=Cat", "Line:end=", "PartEnd@end"));
}

}  // namespace
}  // namespace orvex
