// Profile files: the reading rules both programs rely on and the byte-exact write-through.
#include "store/IniFile.h"

#include <cstring>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::string_literals;

// Each pair of spellings under which the two programs reach one key.
struct Spelling {
  const char* section;
  const char* key;
};
struct SpellingPair {
  Spelling written;
  Spelling read;
};
const SpellingPair kSpellingPairs[] = {
    {{"General", "SMTPHOST"}, {"General", "SmtpHost"}},
    {{"General", "SMTPPort"}, {"General", "SmtpPort"}},
    {{"General", "Nonsubscribers"}, {"General", "NonSubscribers"}},
    {{"General", "Moderate Subscription"}, {"General", "Moderate subscription"}},
    {{"unSubscribe successfull", "Subject"}, {"Unsubscribe successfull", "Subject"}},
    {{"DialUp", "Entry"}, {"Dialup", "Entry"}},
};

TEST(IniFileSpellings, EitherSpellingReadsTheOtherOnesValue) {
  for (const auto& [a, b] : kSpellingPairs) {
    for (const auto& [stored, asked] : {std::pair{a, b}, std::pair{b, a}}) {
      const std::string text = "["s + stored.section + "]\r\n" + stored.key + "=42\r\n";
      const IniFile file = IniFile::FromText(text);
      EXPECT_EQ(file.ReadString(asked.section, asked.key, "-"), "42") << text;
      EXPECT_EQ(file.ReadInteger(asked.section, asked.key, 0), 42) << text;
    }
  }
}

TEST(IniFileSpellings, WritingUnderTheOtherSpellingRewritesTheSameLine) {
  for (const auto& [a, b] : kSpellingPairs) {
    IniFile file = IniFile::FromText("["s + a.section + "]\r\n" + a.key + "=old\r\n");
    file.WriteString(b.section, b.key, "new");
    EXPECT_EQ(file.Text(), "["s + a.section + "]\r\n" + a.key + "=new\r\n") << b.key;
  }
}

TEST(IniFileRead, ValuesArriveAsTheProfileRulesSay) {
  const std::string big(3000, 'x');
  const struct {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::string expected;
  } cases[] = {
      {"key and value trimmed", "[S]\r\n  Key \t=  v a l \t\r\n", "S", "Key", "v a l"},
      {"quotes removed, inner blanks kept", "[S]\r\nText=\" x \"\r\n", "S", "Text", " x "},
      {"a single quote is kept", "[S]\r\nText=\"\r\n", "S", "Text", "\""},
      {"an opening quote alone is kept", "[S]\r\nText=\"abc\r\n", "S", "Text", "\"abc"},
      {"empty value is not the default", "[S]\r\nKey=\r\n", "S", "Key", ""},
      {"missing key gives the default", "[S]\r\nOther=1\r\n", "S", "Key", "default"},
      {"missing section gives the default", "[T]\r\nKey=1\r\n", "S", "Key", "default"},
      {"section names are trimmed", "[ S ]\r\nKey=1\r\n", "S", "Key", "1"},
      {"lines end at LF and CR too", "[S]\nA=1\rKey=2\n", "S", "Key", "2"},
      {"the first of two keys wins", "[S]\r\nkey=1\r\nKEY=2\r\n", "S", "Key", "1"},
      {"a repeated section reads as one", "[S]\r\nA=1\r\n[T]\r\nKey=t\r\n[s]\r\nKey=2\r\n", "S",
       "Key", "2"},
      {"the first section's key wins", "[S]\r\nKey=1\r\n[S]\r\nKey=2\r\n", "S", "Key", "1"},
      {"keys before any section belong to none", "Key=0\r\n[S]\r\n", "S", "Key", "default"},
      {"comment lines are no keys", "[S]\r\n;Key=1\r\n", "S", ";Key", "default"},
      {"a value ends at NUL", "[S]\r\nKey=ab\0cd\r\n"s, "S", "Key", "ab"},
      {"a NUL in another line harms nothing", "[S]\r\n\0\0\r\nKey=1\r\n"s, "S", "Key", "1"},
      {"a line without = is skipped", "[S]\r\nKey\r\nKey=1\r\n", "S", "Key", "1"},
      {"at most 2047 characters arrive", "[S]\r\nKey=" + big + "\r\n", "S", "Key",
       std::string(2047, 'x')},
      {"the cut counts inside the quotes", "[S]\r\nKey=\"" + big + "\"\r\n", "S", "Key",
       std::string(2047, 'x')},
      {"a last line without line end", "[S]\r\nKey=end", "S", "Key", "end"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IniFile::FromText(c.text).ReadString(c.section, c.key, "default"), c.expected)
        << c.name;
}

TEST(IniFileRead, IntegersAreDecimalOrHexAndOtherwiseTheDefault) {
  const struct {
    const char* value;
    long long expected;
  } cases[] = {
      {"42", 42},
      {"-7", -7},
      {"+7", 7},
      {" 15 ", 15},
      {"\"12\"", 12},
      {"$1F", 31},
      {"0x1f", 31},
      {"0X10", 16},
      {"-$10", -16},
      {"9223372036854775807", 9223372036854775807LL},
      {"-9223372036854775808", -9223372036854775807LL - 1},
      {"9223372036854775808", -1},
      {"$10000000000000000", -1},
      {"12abc", -1},
      {"1.5", -1},
      {"abc", -1},
      {"", -1},
      {"$", -1},
      {"0x", -1},
      {"-", -1},
      {"$G", -1},
  };
  for (const auto& c : cases) {
    const IniFile file = IniFile::FromText("[S]\r\nKey="s + c.value + "\r\n");
    EXPECT_EQ(file.ReadInteger("S", "Key", -1), c.expected) << c.value;
  }
  EXPECT_EQ(IniFile::FromText("").ReadInteger("S", "Key", 110), 110);
}

TEST(IniFileRead, BooleansAreIntegersAndNonZeroIsTrue) {
  const struct {
    const char* value;
    bool whenDefaultFalse;
    bool whenDefaultTrue;
  } cases[] = {
      {"1", true, true},    {"0", false, false},   {"2", true, true}, {"-1", true, true},
      {"$0", false, false}, {"true", false, true}, {"", false, true},
  };
  for (const auto& c : cases) {
    const IniFile file = IniFile::FromText("[S]\r\nKey="s + c.value + "\r\n");
    EXPECT_EQ(file.ReadBool("S", "Key", false), c.whenDefaultFalse) << c.value;
    EXPECT_EQ(file.ReadBool("S", "Key", true), c.whenDefaultTrue) << c.value;
  }
}

TEST(IniFileRead, NamesAreListedOnceInFirstSpelling) {
  const IniFile file = IniFile::FromText(
      "x=1\r\n[General]\r\nName=a\r\nname=b\r\n;c=1\r\n[Digest]\r\n"
      "[GENERAL]\r\nAddress=x\r\n");
  EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"General", "Digest"}));
  EXPECT_EQ(file.KeyNames("general"), (std::vector<std::string>{"Name", "Address"}));
  EXPECT_TRUE(file.KeyNames("Missing").empty());
}

// A file with comments, blank lines, odd lines and mixed line ends.
const std::string kOddFile =
    "; settings\r\n"
    "[General]\r\n"
    "Name = Sales \r\n"
    "odd line\n"
    "Address=list@x\r\n"
    "\r\n"
    "[Signature]\r"
    "Text=\"sig\"\n"
    "\r\n"
    "\r\n"
    "[general]\r\n"
    "LastChecked=old\r\n";

TEST(IniFileWrite, RewritesOnlyTheValueOfAnExistingKey) {
  IniFile file = IniFile::FromText(kOddFile);
  file.WriteString("GENERAL", "name", "Support");
  file.WriteString("General", "LastChecked", "new");
  EXPECT_EQ(file.Text(),
            "; settings\r\n"
            "[General]\r\n"
            "Name =Support\r\n"
            "odd line\n"
            "Address=list@x\r\n"
            "\r\n"
            "[Signature]\r"
            "Text=\"sig\"\n"
            "\r\n"
            "\r\n"
            "[general]\r\n"
            "LastChecked=new\r\n");
}

TEST(IniFileWrite, AppendsANewKeyAtTheEndOfItsSection) {
  IniFile file = IniFile::FromText(kOddFile);
  file.WriteInteger("General", "CheckInterval", 5);
  file.WriteString("signature", "Subject", "");
  EXPECT_EQ(file.Text(),
            "; settings\r\n"
            "[General]\r\n"
            "Name = Sales \r\n"
            "odd line\n"
            "Address=list@x\r\n"
            "CheckInterval=5\r\n"
            "\r\n"
            "[Signature]\r"
            "Text=\"sig\"\n"
            "Subject=\r\n"
            "\r\n"
            "\r\n"
            "[general]\r\n"
            "LastChecked=old\r\n");
}

TEST(IniFileWrite, AppendsANewSectionAtTheEndOfTheFile) {
  const struct {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"empty file", "", "[Digest]\r\nSubject=D\r\n"},
      {"ends with a line end", "[A]\nx=1\n", "[A]\nx=1\n[Digest]\r\nSubject=D\r\n"},
      {"last line without line end", "[A]\r\nx=1", "[A]\r\nx=1\r\n[Digest]\r\nSubject=D\r\n"},
  };
  for (const auto& c : cases) {
    IniFile file = IniFile::FromText(c.before);
    file.WriteString("Digest", "Subject", "D");
    EXPECT_EQ(file.Text(), c.after) << c.name;
  }
}

TEST(IniFileWrite, NewKeyAfterALastLineWithoutLineEnd) {
  IniFile file = IniFile::FromText("[A]\r\nx=1");
  file.WriteBool("a", "Keep", true);
  EXPECT_EQ(file.Text(), "[A]\r\nx=1\r\nKeep=1\r\n");
  EXPECT_TRUE(file.ReadBool("A", "Keep", false));
}

TEST(IniFileWrite, RefusesWhatWouldChangeOtherSettings) {
  const struct {
    const char* name;
    std::string section;
    std::string key;
    std::string value;
  } cases[] = {
      {"line break in value", "General", "Name", "x\r\n[General]\r\nCheckInterval=0"},
      {"LF in value", "General", "Name", "x\nCheckInterval=0"},
      {"NUL in value", "General", "Name", "x\0y"s},
      {"= in key", "General", "a=b", "1"},
      {"empty key", "General", "", "1"},
      {"blank around key", "General", " Name", "1"},
      {"comment key", "General", ";Name", "1"},
      {"] in section", "Gen]eral", "Name", "1"},
      {"empty section", "", "Name", "1"},
  };
  for (const auto& c : cases) {
    IniFile file = IniFile::FromText("[General]\r\nName=a\r\n");
    EXPECT_THROW(file.WriteString(c.section, c.key, c.value), Error) << c.name;
    EXPECT_EQ(file.Text(), "[General]\r\nName=a\r\n") << c.name;
  }
}

TEST(IniFileWrite, DeletesEveryLineOfTheKeyInEveryOccurrenceOfItsSection) {
  IniFile file =
      IniFile::FromText("[General]\r\nName=a\r\nX=1\r\n[Other]\r\nX=o\r\n[general]\r\nx=2\r\n");
  file.DeleteKey("GENERAL", "x");
  file.DeleteKey("Missing", "X");
  EXPECT_EQ(file.Text(), "[General]\r\nName=a\r\n[Other]\r\nX=o\r\n[general]\r\n");
  EXPECT_EQ(file.ReadString("General", "X", "gone"), "gone");
}

class IniFileOnDisk : public ::testing::Test {
 protected:
  ~IniFileOnDisk() override { ClearFileFaults(); }
  std::string PathOf(const char* name) const { return dir.Path() + name; }
  test::TempDirectory dir;
};

TEST_F(IniFileOnDisk, WritesReachTheFileAtSaveAlone) {
  dir.Write("maillist.ini", kOddFile);
  IniFile file(PathOf("maillist.ini"));
  EXPECT_EQ(file.ReadString("General", "Name", ""), "Sales");
  file.WriteString("General", "Address", "new@x");
  file.WriteInteger("General", "CheckInterval", 7);
  EXPECT_EQ(file.ReadInteger("General", "CheckInterval", 10), 7);
  EXPECT_EQ(dir.Read("maillist.ini"), kOddFile) << "nothing written before Save";
  EXPECT_TRUE(file.HasUnsavedChanges());
  file.Save();
  EXPECT_FALSE(file.HasUnsavedChanges());
  EXPECT_EQ(
      dir.Read("maillist.ini"),
      "; settings\r\n[General]\r\nName = Sales \r\nodd line\nAddress=new@x\r\n"
      "CheckInterval=7\r\n\r\n[Signature]\rText=\"sig\"\n\r\n\r\n[general]\r\nLastChecked=old\r\n");
  EXPECT_EQ(file.Text(), dir.Read("maillist.ini"));
}

TEST_F(IniFileOnDisk, SaveKeepsWhatOthersChangedMeanwhile) {
  dir.Write("maillist.ini",
            "[General]\r\nName=Sales\r\nPassword1=old\r\nGone=1\r\nLastChecked=a\r\n");
  IniFile cycle(PathOf("maillist.ini"));
  // The operator replaces the file while the object is in use: a new password, a new key, one
  // key removed.
  ReplaceFileAtomically(PathOf("maillist.ini"),
                        "[General]\r\nName=Sales\r\nPassword1=corrected\r\nLastChecked=a\r\n"
                        "CheckInterval=5\r\n[Added]\r\nK=v\r\n");
  cycle.WriteString("General", "LastChecked", "b");
  cycle.DeleteKey("General", "Name");
  cycle.Save();
  EXPECT_EQ(dir.Read("maillist.ini"),
            "[General]\r\nPassword1=corrected\r\nLastChecked=b\r\nCheckInterval=5\r\n"
            "[Added]\r\nK=v\r\n");
  EXPECT_EQ(cycle.ReadString("General", "Password1", ""), "corrected") << "holds the file as saved";
  EXPECT_EQ(cycle.ReadString("General", "Gone", "none"), "none");
}

TEST_F(IniFileOnDisk, OneSaveIsOneReplacementHoldingEveryChange) {
  dir.Write("maillist.ini", "[General]\r\nName=old\r\nAddress=old@x\r\n");
  const auto writeAll = [](IniFile& file) {
    for (int i = 1; i <= 40; ++i) file.WriteInteger("General", "Key" + std::to_string(i), i);
    file.WriteString("General", "Name", "new");
    file.WriteString("General", "Name", "new");
  };
  {
    // A second replacement would fail: there is none.
    IniFile file(PathOf("maillist.ini"));
    writeAll(file);
    InjectFileFault({FileOperation::Write, 2, 0, ENOSPC, "maillist.ini"});
    file.Save();
    ClearFileFaults();
  }
  const std::string saved = dir.Read("maillist.ini");
  EXPECT_NE(saved.find("Name=new\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Key40=40\r\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Name=new\r\n"), saved.rfind("Name=new\r\n"));

  // That one replacement failing at its last step (as a kill before the rename would) leaves
  // the old file whole; the changes stay for the next try.
  dir.Write("maillist.ini", "[General]\r\nName=old\r\n");
  IniFile file(PathOf("maillist.ini"));
  writeAll(file);
  InjectFileFault({FileOperation::Rename, 1, 1, EIO, "maillist.ini"});
  try {
    file.Save();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to write to " + PathOf("maillist.ini") + ": " + std::strerror(EIO));
  }
  EXPECT_EQ(dir.Read("maillist.ini"), "[General]\r\nName=old\r\n");
  EXPECT_EQ(test::FileNamesIn(dir.Path()), std::vector<std::string>{"maillist.ini"});
  EXPECT_TRUE(file.HasUnsavedChanges());
  file.Save();
  EXPECT_NE(dir.Read("maillist.ini").find("Key40=40\r\n"), std::string::npos);
}

TEST_F(IniFileOnDisk, MissingFileReadsDefaultsAndIsCreatedPrivate) {
  IniFile file(PathOf("orvex.ini"));
  EXPECT_EQ(file.ReadInteger("Dialup", "Pause", 30), 30);
  EXPECT_FALSE(file.Unreadable());
  EXPECT_EQ(file.ReadFailure(), "");
  file.Save();
  EXPECT_FALSE(dir.Exists("orvex.ini")) << "nothing to save, nothing written";
  file.WriteString("DialUp", "Entry", "Provider");
  file.Save();
  EXPECT_EQ(dir.Read("orvex.ini"), "[DialUp]\r\nEntry=Provider\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(PathOf("orvex.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniFileOnDisk, FailedSaveSaysWhyAndKeepsTheChanges) {
  const std::string path = dir.Path() + "no-such-directory/maillist.ini";
  IniFile file(path);
  file.WriteString("General", "LastChecked", "x");
  try {
    file.Save();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path + ": " + std::strerror(ENOENT));
  }
  EXPECT_TRUE(file.HasUnsavedChanges());
  EXPECT_EQ(file.ReadString("General", "LastChecked", "none"), "x");

  dir.Write("full.ini", "[General]\r\nName=a\r\n");
  IniFile full(PathOf("full.ini"));
  full.WriteString("General", "Name", "b");
  InjectFileFault({FileOperation::Write, 1, 1, ENOSPC, "full.ini"});
  try {
    full.Save();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to write to " + PathOf("full.ini") + ": " + std::strerror(ENOSPC));
  }
  EXPECT_EQ(dir.Read("full.ini"), "[General]\r\nName=a\r\n");
}

TEST_F(IniFileOnDisk, ReadOnlyDirectoryRaisesUnableToWrite) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  const std::string list = dir.MakeList("ro");
  dir.Write("Data/ro/maillist.ini", "[General]\r\nName=a\r\n");
  IniFile file(list + "maillist.ini");
  ASSERT_EQ(::chmod(list.c_str(), 0500), 0);
  file.WriteString("General", "Name", "b");
  try {
    file.Save();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to write to " + list + "maillist.ini: " + std::strerror(EACCES));
  }
  ::chmod(list.c_str(), 0700);
  EXPECT_EQ(dir.Read("Data/ro/maillist.ini"), "[General]\r\nName=a\r\n");
}

TEST_F(IniFileOnDisk, AFileThatCannotBeReadWholeIsNeverWritten) {
  std::string big = "[General]\r\nName=big\r\n[Pad]\r\n";
  const std::string line = "k=" + std::string(1000, 'p') + "\r\n";
  while (big.size() <= IniFile::kMaximumFileSize) big += line;
  big += "[Late]\r\nKey=1\r\n";
  const std::string tooLarge =
      "larger than " + std::to_string(IniFile::kMaximumFileSize) + " bytes";

  const struct {
    const char* name;
    std::function<void(const test::TempDirectory& d, const std::string& path)> make;
    bool unreadable;
    std::string reason;
  } cases[] = {
      {"read fails (mode 0600, another owner)",
       [](const test::TempDirectory& d, const std::string&) {
         d.Write("maillist.ini", "[General]\r\nName=a\r\n");
         InjectFileFault({FileOperation::Read, 1, 0, EACCES, "maillist.ini"});
       },
       true, std::strerror(EACCES)},
      {"directory in its place",
       [](const test::TempDirectory&, const std::string& path) { ::mkdir(path.c_str(), 0700); },
       true, std::strerror(EISDIR)},
      {"FIFO in its place",
       [](const test::TempDirectory&, const std::string& path) { ::mkfifo(path.c_str(), 0600); },
       true, "not a regular file"},
      {"larger than the limit",
       [&](const test::TempDirectory& d, const std::string&) { d.Write("maillist.ini", big); },
       false, tooLarge},
  };
  for (const auto& c : cases) {
    test::TempDirectory scratch;
    const std::string path = scratch.Path() + "maillist.ini";
    c.make(scratch, path);
    const FileIdentity before = IdentityOf(path);
    IniFile file(path);
    EXPECT_EQ(file.Unreadable(), c.unreadable) << c.name;
    EXPECT_EQ(file.ReadFailure(), c.reason) << c.name;
    EXPECT_EQ(file.ReadString("Late", "Key", "unread"), "unread") << c.name;
    file.WriteString("General", "Name", "x");
    try {
      file.Save();
      ADD_FAILURE() << c.name << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path + ": " + c.reason) << c.name;
    }
    EXPECT_EQ(IdentityOf(path), before) << c.name;
    ClearFileFaults();
    EXPECT_THROW(file.Save(), Error) << c.name << ": not even once the file can be read";
    EXPECT_EQ(IdentityOf(path), before) << c.name;
  }
  dir.Write("maillist.ini", big);
  EXPECT_EQ(IniFile(PathOf("maillist.ini")).ReadString("General", "Name", ""), "big")
      << "the part within the limit is read";
}

TEST(IniFileInMemory, WritesStayInMemory) {
  IniFile file = IniFile::FromText("[General]\r\nName=New mailing list\r\n");
  file.WriteString("General", "Name", "Mine");
  EXPECT_EQ(file.Path(), "");
  EXPECT_EQ(file.ReadString("General", "Name", ""), "Mine");
}

}  // namespace
}  // namespace orvex
