// oauth.ini: what is written is read back whole (long tokens too), 0600 from its creation,
// replaced atomically, and a file that cannot be read is never written over.
#include "oauth/TokenStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class TokenStoreTest : public testing::Test {
 protected:
  test::TempDirectory dir_;
  std::string list_ = dir_.MakeList("sales");
};

TEST_F(TokenStoreTest, WrittenTokensReadBackWholeFromAPrivateFile) {
  // Microsoft's tokens run to kilobytes: longer than a settings value may be.
  const std::string longAccess(5000, 'a');
  {
    TokenStore store(list_);
    EXPECT_FALSE(store.Find("list@x.test"));
    store.Put("list@x.test", {"refresh-1", longAccess, 1700000000});
    store.Put("pop@x.test", {"refresh-2", "", 0});
    store.Save();
  }
  EXPECT_EQ(ModeOf(list_ + "oauth.ini"), 0600u);
  EXPECT_EQ(test::FileNamesIn(list_), (std::vector<std::string>{"oauth.ini"}));  // no scratch
  const TokenStore again(list_);
  ASSERT_TRUE(again.Find("list@x.test"));
  EXPECT_EQ(again.Find("list@x.test")->refreshToken, "refresh-1");
  EXPECT_EQ(again.Find("list@x.test")->accessToken, longAccess);
  EXPECT_EQ(again.Find("list@x.test")->accessTokenExpires, 1700000000);
  EXPECT_EQ(again.Find("pop@x.test")->refreshToken, "refresh-2");
  EXPECT_EQ(again.Accounts(), (std::vector<std::string>{"list@x.test", "pop@x.test"}));
}

TEST_F(TokenStoreTest, RotationReplacesOneAccountAndNarrowsAWideFile) {
  dir_.Write("Data/sales/oauth.ini",
             "[a@x.test]\r\nRefreshToken=old\r\nAccessToken=t1\r\nAccessTokenExpires=10\r\n"
             "[b@x.test]\r\nRefreshToken=other\r\n");
  ::chmod((list_ + "oauth.ini").c_str(), 0644);
  TokenStore store(list_);
  store.Put("a@x.test", {"new", "t2", 20});
  store.Save();
  EXPECT_EQ(ModeOf(list_ + "oauth.ini"), 0600u);
  const TokenStore again(list_);
  EXPECT_EQ(again.Find("a@x.test")->refreshToken, "new");
  EXPECT_EQ(again.Find("a@x.test")->accessToken, "t2");
  EXPECT_EQ(again.Find("b@x.test")->refreshToken, "other");
}

TEST_F(TokenStoreTest, FailedWriteLeavesTheOldFileWhole) {
  const std::string before = "[a@x.test]\r\nRefreshToken=old\r\nAccessToken=t1\r\n";
  dir_.Write("Data/sales/oauth.ini", before);
  TokenStore store(list_);
  store.Put("a@x.test", {"new", "t2", 20});
  InjectFileFault({FileOperation::Rename, 1, 1, ENOSPC, "oauth.ini"});
  EXPECT_THROW(store.Save(), Error);
  ClearFileFaults();
  EXPECT_EQ(dir_.Read("Data/sales/oauth.ini"), before);
  EXPECT_EQ(test::FileNamesIn(list_), (std::vector<std::string>{"oauth.ini"}));
}

TEST_F(TokenStoreTest, RefusesWhatItCannotReadOrHold) {
  ::mkdir((list_ + "oauth.ini").c_str(), 0700);  // a directory in its place
  EXPECT_THROW(TokenStore{list_}, Error);
  ::rmdir((list_ + "oauth.ini").c_str());
  TokenStore store(list_);
  // A line break would make a second entry of a token when read back.
  EXPECT_THROW(store.Put("a@x.test", {"r\n[b]", "", 0}), Error);
  EXPECT_THROW(store.Put("a]b", {"r", "", 0}), Error);
}

}  // namespace
}  // namespace orvex
