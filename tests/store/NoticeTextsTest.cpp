// Notice texts: the "\13\10" line-break encoding as the service and the editor read and write it.
#include "store/NoticeTexts.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex {
namespace {

TEST(NoticeText, ServiceAndEditorDecodeLineBreaks) {
  const struct {
    const char* name;
    std::string stored;
    std::string service;
    std::string editor;
  } cases[] = {
      {"breaks decoded, one final break removed", "\"a\\13\\10b\\13\\10\"", "a\r\nb", "a\r\nb\r\n"},
      {"only one final break is removed", "a\\13\\10\\13\\10", "a\r\n", "a\r\n\r\n"},
      {"leading space kept by the quotes", "\" x\"", " x", " x"},
      {"a half sequence stays as it is", "a\\13b\\10", "a\\13b\\10", "a\\13b\\10"},
      {"empty", "", "", ""},
  };
  for (const auto& c : cases) {
    const IniFile file = IniFile::FromText("[Paused]\r\nText=" + c.stored + "\r\n");
    EXPECT_EQ(ReadNoticeText(file, "paused"), c.service) << c.name;
    EXPECT_EQ(ReadNoticeTextForEditor(file, "PAUSED"), c.editor) << c.name;
  }
}

TEST(NoticeText, MissingSectionIsEmpty) {
  const IniFile file = IniFile::FromText("");
  EXPECT_EQ(ReadNoticeText(file, "Digest"), "");
  EXPECT_EQ(ReadNoticeSubject(file, "Digest"), "");
}

TEST(NoticeText, SubjectIsReadAsItStands) {
  const IniFile file = IniFile::FromText("[Digest]\r\nSubject=Digest of {ListName}\\13\\10\r\n");
  EXPECT_EQ(ReadNoticeSubject(file, "Digest"), "Digest of {ListName}\\13\\10");
}

TEST(NoticeText, EditorWritesQuotedWithEncodedBreaks) {
  const struct {
    const char* name;
    std::string text;
    std::string line;
  } cases[] = {
      {"CR LF", " From now\r\nTo resume\r\n", "Text=\" From now\\13\\10To resume\\13\\10\""},
      {"lone LF and lone CR are breaks too", "a\nb\rc", "Text=\"a\\13\\10b\\13\\10c\""},
      {"empty", "", "Text=\"\""},
  };
  for (const auto& c : cases) {
    IniFile file = IniFile::FromText("[Resumed]\r\nSubject=s\r\n");
    WriteNoticeTextForEditor(file, "Resumed", c.text);
    EXPECT_EQ(file.Text(), "[Resumed]\r\nSubject=s\r\n" + c.line + "\r\n") << c.name;
  }
}

TEST(NoticeText, EditorRoundTripKeepsBlanksAndBreaks) {
  IniFile file = IniFile::FromText("");
  const std::string text = "  indented\r\n\r\nlast line \r\n";
  WriteNoticeTextForEditor(file, "Signature", text);
  EXPECT_EQ(ReadNoticeTextForEditor(file, "Signature"), text);
  EXPECT_EQ(ReadNoticeText(file, "Signature"), "  indented\r\n\r\nlast line ");
}

}  // namespace
}  // namespace orvex
