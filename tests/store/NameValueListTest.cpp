// The name=value line list and the comma lists of the store values.
#include "store/NameValueList.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace orvex {
namespace {

using Items = std::vector<std::string>;
using namespace std::string_literals;

struct ReadCase {
  const char* name;
  std::string text;
  Items items;
};

TEST(CommaList, ReadsItemsFromText) {
  const ReadCase cases[] = {
      {"leading comma gives an empty first item", ",abc", {"", "abc"}},
      {"flags and password", "d,abc", {"d", "abc"}},
      {"trailing comma adds nothing", "d,", {"d"}},
      {"lone comma is one empty item", ",", {""}},
      {"empty text has no items", "", {}},
      {"blanks around items and commas", "  a ,\t b  ", {"a", "b"}},
      {"a blank separates items", "a b", {"a", "b"}},
      {"quoted item with doubled quotes", "\"a \"\"q\"\", b\",c", {"a \"q\", b", "c"}},
      {"quoted empty item", "\"\"", {""}},
      {"unterminated quote runs to the end", "\"ab, c", {"ab, c"}},
      {"quote inside an unquoted item is kept", "ab\"c,d", {"ab\"c", "d"}},
      {"eight-bit characters are no blanks", "\xE9t\xE9,x", {"\xE9t\xE9", "x"}},
      {"NUL ends an item and reading goes on", "a\0b"s, {"a", "b"}},
      {"NUL alone", "\0"s, {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadCommaList(c.text), c.items) << c.name;
}

TEST(CommaList, WritesItemsAsText) {
  const struct {
    const char* name;
    Items items;
    std::string text;
  } cases[] = {
      {"empty flags then password", {"", "abcdefghij"}, ",abcdefghij"},
      {"flags then password", {"dp", "pw"}, "dp,pw"},
      {"exactly one empty item", {""}, "\"\""},
      {"no items", {}, ""},
      {"two empty items", {"", ""}, ","},
      {"blank is quoted", {"a b", "c"}, "\"a b\",c"},
      {"comma is quoted", {"a,b"}, "\"a,b\""},
      {"quote is doubled", {"q\"x"}, "\"q\"\"x\""},
      {"control character is quoted", {"a\tb"}, "\"a\tb\""},
  };
  for (const auto& c : cases) EXPECT_EQ(WriteCommaList(c.items), c.text) << c.name;
}

TEST(CommaList, WrittenItemsReadBackWhole) {
  const Items cases[] = {{"", "pass word"}, {"d", "p,w", "extra"}, {"\"", "x"}, {"a\"b\"", "c d"}};
  for (const auto& items : cases) EXPECT_EQ(ReadCommaList(WriteCommaList(items)), items);
}

TEST(CommaList, ItemPastTheEndIsEmpty) {
  EXPECT_EQ(CommaItem("d,pw", 1), "pw");
  EXPECT_EQ(CommaItem("d", 1), "");
  EXPECT_EQ(CommaItem("", 0), "");
}

TEST(NameValueList, LooksNamesUpWithoutRegardToCase) {
  NameValueList list({"Ann@Example.COM=d,pw", "bob@x=,pw2"});
  EXPECT_EQ(list.IndexOfName("ann@example.com"), 0u);
  EXPECT_EQ(list.Value("BOB@X"), ",pw2");
  EXPECT_EQ(list.Value("carol@x"), "");
  EXPECT_FALSE(list.Contains("ann@example"));
}

TEST(NameValueList, NamesAreNotTrimmedAndValuesRunPastFurtherEquals) {
  NameValueList list({" a=1", "b=c=d"});
  EXPECT_FALSE(list.Contains("a"));
  EXPECT_EQ(list.Value(" a"), "1");
  EXPECT_EQ(list.Value("b"), "c=d");
}

TEST(NameValueList, SettingReplacesInPlaceOrAppends) {
  NameValueList list({"a=1", "b=2", "c=3"});
  list.SetValue("B", "x");
  list.SetValue("d", "4");
  EXPECT_EQ(list.Lines(), (Items{"a=1", "B=x", "c=3", "d=4"}));
}

TEST(NameValueList, EmptyValueDeletesAndAppendsNothing) {
  NameValueList list({"a=1", "b=2"});
  list.SetValue("A", "");
  list.SetValue("zz", "");
  EXPECT_EQ(list.Lines(), (Items{"b=2"}));
}

TEST(NameValueList, LinesWithoutEqualsAreNoNamesAndAreKept) {
  NameValueList list;
  list.LoadFromText("# note\r\nplain\na=1\r\n");
  EXPECT_FALSE(list.Contains("plain"));
  EXPECT_EQ(list.NameAt(0), "");
  list.SetValue("a", "2");
  list.SetValue("plain", "3");
  EXPECT_EQ(list.Text(), "# note\r\nplain\r\na=2\r\nplain=3\r\n");
}

TEST(NameValueList, DeletingPastTheEndThrows) {
  NameValueList list({"a=1"});
  EXPECT_THROW(list.Delete(1), std::out_of_range);
  list.Delete(0);
  EXPECT_TRUE(list.Empty());
}

TEST(Lines, SplitAtEveryKindOfLineEnd) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Items{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (Items{"a", ""}));
  EXPECT_EQ(SplitLines("\n\r"), (Items{"", ""}));
  EXPECT_EQ(SplitLines(""), Items{});
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(JoinLines({}), "");
}

}  // namespace
}  // namespace orvex
