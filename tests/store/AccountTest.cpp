// The list object: subscriber flags and selection, loading and saving the stores, the due test.
#include "store/Account.h"

#include <cstring>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using Lines = std::vector<std::string>;

class AccountTest : public ::testing::Test {
 protected:
  void LoadWith(const Lines& subscribers) {
    account.Load(list);
    account.Subscribers() = NameValueList(subscribers);
  }
  std::string Read(const char* file) const { return dir.Read(std::string("Data/L/") + file); }

  test::TempDirectory dir;
  std::string list = dir.MakeList("L");
  TAccount account;
};

TEST_F(AccountTest, FlagsFollowTheLettersOfTheEntry) {
  LoadWith({"empty@x=,pw", "b@x=b,pw", "bpd@x=bpd,pw", "dp@x=dp", "novalue@x=", "quoted@x=\"\",pw",
            "other@x=xyz,pw"});
  const struct {
    const char* address;
    int flags;
  } cases[] = {
      {"empty@x", 1},   {"b@x", 3},      {"bpd@x", 15},  {"dp@x", 13},     {"DP@X", 13},
      {"novalue@x", 1}, {"quoted@x", 1}, {"other@x", 1}, {"unknown@x", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(account.SubscriberFlags(c.address), c.flags) << c.address;
}

TEST_F(AccountTest, PasswordIsTheSecondItem) {
  LoadWith({"a@x=,abcdefghij", "b@x=d", "c@x=d,\"p w\",extra"});
  EXPECT_EQ(account.SubscriberPassword("A@X"), "abcdefghij");
  EXPECT_EQ(account.SubscriberPassword("b@x"), "");
  EXPECT_EQ(account.SubscriberPassword("c@x"), "p w");
  EXPECT_EQ(account.SubscriberPassword("nobody@x"), "");
}

TEST_F(AccountTest, SelectsByIncludedAndExcludedFlags) {
  LoadWith({"a=,pa", "b=p,pb", "# no subscriber", "c=d,pc", "d=b,pd", "e=dp,pe", "=,nobody"});
  const struct {
    const char* name;
    std::uint8_t include;
    std::uint8_t exclude;
    Lines selected;
  } cases[] = {
      {"single posts", sfMember, sfPaused | sfDigest, {"a", "d"}},
      {"digests", sfDigest, sfPaused, {"c"}},
      {"everyone", sfMember, 0, {"a", "b", "c", "d", "e"}},
      {"nothing included", 0, 0, {}},
  };
  for (const auto& c : cases) {
    NameValueList target({"stale=1"});
    account.SelectSubscribers(target, c.include, c.exclude);
    EXPECT_EQ(target.Lines(), c.selected) << c.name;
  }
}

TEST_F(AccountTest, AnAddressStoredTwiceIsSelectedOnceByItsFirstEntry) {
  LoadWith({"a@x=,p1", "A@X=,p2", "p@x=p", "P@x=,p3"});
  NameValueList target;
  account.SelectSubscribers(target, sfMember, sfPaused | sfDigest);
  EXPECT_EQ(target.Lines(), (Lines{"a@x"}));
}

TEST_F(AccountTest, FlagLettersAreSetAndClearedInPlace) {
  const struct {
    const char* name;
    std::string before;
    char letter;
    bool set;
    std::string after;
  } cases[] = {
      {"set digest", ",abcdefghij", 'd', true, "d,abcdefghij"},
      {"clear digest", "d,abcdefghij", 'd', false, ",abcdefghij"},
      {"set pause after digest", "d,pw", 'p', true, "dp,pw"},
      {"a letter stands once", "dp,pw", 'd', true, "dp,pw"},
      {"clearing an absent letter", "p,pw", 'd', false, "p,pw"},
      {"further items are kept", "b,pw,extra", 'p', true, "bp,pw,extra"},
      {"empty value", "", 'p', true, "p"},
      {"last flag cleared without password", "d", 'd', false, "\"\""},
  };
  for (const auto& c : cases) {
    LoadWith({"first=1", "Ann@Example.COM=" + c.before, "last=2"});
    if (c.set)
      account.SetSubscriberFlag("ann@example.com", c.letter);
    else
      account.ClearSubscriberFlag("ann@example.com", c.letter);
    EXPECT_EQ(account.Subscribers().Lines(),
              (Lines{"first=1", "Ann@Example.COM=" + c.after, "last=2"}))
        << c.name;
  }
}

TEST_F(AccountTest, SettingAFlagDoesNotSubscribe) {
  LoadWith({"a@x=,pw"});
  account.SetSubscriberFlag("stranger@x", 'd');
  EXPECT_EQ(account.Subscribers().Lines(), (Lines{"a@x=,pw"}));
  EXPECT_EQ(account.SubscriberFlags("stranger@x"), 0);
}

TEST_F(AccountTest, AddedSubscriberReadsBackItsPassword) {
  LoadWith({});
  AddSubscriber(account.Subscribers(), "a@x", "abcdefghij");
  AddSubscriber(account.Subscribers(), "b@x", "two words");
  EXPECT_EQ(account.Subscribers().Lines(), (Lines{"a@x=,abcdefghij", "b@x=,\"two words\""}));
  EXPECT_EQ(account.SubscriberPassword("b@x"), "two words");
}

TEST_F(AccountTest, LoadsTheThreeStoresAndSavesExactlyTheirLines) {
  dir.Write("Data/L/subscribers.ini", "a@x=d,pw\nplain line\r\nb@x=,pw2");
  dir.Write("Data/L/pending.ini", "c@x=46000,000012345678\r");
  dir.Write("Data/L/signatures.ini", "");
  account.Load(list);
  EXPECT_EQ(account.ListDir(), list);
  EXPECT_EQ(account.Subscribers().Lines(), (Lines{"a@x=d,pw", "plain line", "b@x=,pw2"}));
  EXPECT_EQ(account.Pending().Value("C@X"), "46000,000012345678");
  account.Signatures().SetValue("<1.2.c@x>", "46001,key");
  account.Save();
  EXPECT_EQ(Read("subscribers.ini"), "a@x=d,pw\r\nplain line\r\nb@x=,pw2\r\n");
  EXPECT_EQ(Read("pending.ini"), "c@x=46000,000012345678\r\n");
  EXPECT_EQ(Read("signatures.ini"), "<1.2.c@x>=46001,key\r\n");
}

TEST_F(AccountTest, MissingStoresLoadEmptyAndSaveAsEmptyFiles) {
  account.Load(list);
  EXPECT_TRUE(account.Subscribers().Empty());
  EXPECT_EQ(account.Config().ReadString("General", "Name", "Unnamed"), "Unnamed");
  account.Save();
  for (const char* file : {"subscribers.ini", "pending.ini", "signatures.ini"}) {
    EXPECT_TRUE(dir.Exists(std::string("Data/L/") + file)) << file;
    EXPECT_EQ(Read(file), "") << file;
  }
  EXPECT_FALSE(dir.Exists("Data/L/maillist.ini"));
}

TEST_F(AccountTest, DestroyingNeverWrites) {
  {
    TAccount visit;
    visit.Load(list);
    AddSubscriber(visit.Subscribers(), "a@x", "pw");
  }
  EXPECT_FALSE(dir.Exists("Data/L/subscribers.ini"));
}

TEST_F(AccountTest, StoreThatExistsButCannotBeReadEndsTheLoadAndTouchesNothing) {
  // Taken for an empty list, such a store would be saved empty at the end of the visit.
  const struct {
    const char* file;
    const char* kind;  // what stands in its place
    const char* reason;
  } cases[] = {
      {"subscribers.ini", "unreadable", "Permission denied"},
      {"pending.ini", "directory", "not a regular file"},
      {"signatures.ini", "link", "not a regular file"},
      {"bounces.ini", "fifo", "not a regular file"},
      {"distributed.ini", "unreadable", "Input/output error"},
  };
  for (const auto& c : cases) {
    test::TempDirectory fresh;
    const std::string dirList = fresh.MakeList("L");
    fresh.Write("Data/L/subscribers.ini", "a@x=,pw\r\n");
    const std::string path = dirList + c.file;
    const std::string kind = c.kind;
    if (kind == "unreadable") {
      fresh.Write(std::string("Data/L/") + c.file, "kept\r\n");
      ClearFileFaults();
      InjectFileFault({FileOperation::Read, 1, 0,
                       std::string(c.reason) == "Permission denied" ? EACCES : EIO, c.file});
    } else if (kind == "directory") {
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    } else if (kind == "link") {
      fresh.Write("Data/L/elsewhere", "x=1\r\n");
      ASSERT_EQ(::symlink("elsewhere", path.c_str()), 0);
    } else {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // would block a plain read for good
    }
    TAccount loaded;
    try {
      loaded.Load(dirList);
      ADD_FAILURE() << c.file << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot read " + path + ": " + c.reason) << c.file;
    }
    ClearFileFaults();
    if (std::string(c.file) != "subscribers.ini") {
      EXPECT_EQ(fresh.Read("Data/L/subscribers.ini"), "a@x=,pw\r\n") << c.file;
    }
    if (kind == "unreadable") {
      EXPECT_EQ(fresh.Read(std::string("Data/L/") + c.file), "kept\r\n");
    }
  }
}

TEST_F(AccountTest, SaveStopsAtTheFirstStoreThatCannotBeWritten) {
  dir.Write("Data/L/subscribers.ini", "a@x=,pw\r\n");
  dir.Write("Data/L/signatures.ini", "old\r\n");
  account.Load(list);
  AddSubscriber(account.Subscribers(), "b@x", "pw2");
  account.Signatures().Clear();
  InjectFileFault({FileOperation::Write, 1, 0, ENOSPC, "pending.ini"});
  try {
    account.Save();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file " + list + "pending.ini: " + std::strerror(ENOSPC));
  }
  ClearFileFaults();
  EXPECT_EQ(Read("subscribers.ini"), "a@x=,pw\r\nb@x=,pw2\r\n");  // saved before the failure
  EXPECT_EQ(Read("signatures.ini"), "old\r\n");                   // not reached
}

TEST_F(AccountTest, LastCheckedRoundTripsThroughTheSettingsFile) {
  account.Load(list);
  EXPECT_EQ(account.LastChecked(), 0.0);
  const LocalDateTime when{2026, 12, 7, 14, 30, 15, 0};
  account.WriteLastChecked(when);
  account.Config().Save();
  TAccount next;
  next.Load(list);
  EXPECT_DOUBLE_EQ(next.LastChecked(), ToDays(when));
}

TEST_F(AccountTest, UnreadableLastCheckedIsZero) {
  for (const char* stored : {"yesterday", "2026-12-07T14:30:15", "", "99/99/99 99:99:99"}) {
    dir.Write("Data/L/maillist.ini", std::string("[General]\r\nLastChecked=") + stored + "\r\n");
    account.Load(list);
    EXPECT_EQ(account.LastChecked(), 0.0) << stored;
  }
}

TEST_F(AccountTest, DueWhenTheIntervalHasPassed) {
  const LocalDateTime checked{2026, 12, 7, 14, 30, 0, 0};
  const struct {
    const char* name;
    const char* interval;  // nullptr: no CheckInterval key
    int minutesLater;
    bool due;
  } cases[] = {
      {"5 minutes of 10", "10", 5, false},
      {"5 minutes of 5 (equal is due)", "5", 5, true},
      {"interval 0 is always due", "0", 0, true},
      {"negative interval is always due", "-3", 0, true},
      {"missing interval means 10: 9 minutes", nullptr, 9, false},
      {"missing interval means 10: 10 minutes", nullptr, 10, true},
      {"hex interval", "$3C", 59, false},
      {"unreadable interval means 10", "ten", 10, true},
      {"a day later", "1440", 1440, true},
      {"last check in the future", "10", -60, true},
  };
  for (const auto& c : cases) {
    std::string text = "[General]\r\n";
    if (c.interval) text += std::string("CheckInterval=") + c.interval + "\r\n";
    dir.Write("Data/L/maillist.ini", text);
    account.Load(list);
    account.WriteLastChecked(checked);
    const LocalDateTime now = FromDays(ToDays(checked) + c.minutesLater / 1440.0);
    EXPECT_EQ(IsListDue(account.Config(), now), c.due) << c.name;
  }
}

TEST_F(AccountTest, NeverCheckedListIsDue) {
  account.Load(list);
  EXPECT_TRUE(IsListDue(account.Config(), {2026, 12, 7, 14, 30, 0, 0}));
}

}  // namespace
}  // namespace orvex
