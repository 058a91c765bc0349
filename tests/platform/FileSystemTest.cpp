// Directory scans and file replacement as the queues rely on them.
#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

TEST(FileSystem, ScansComeInNameOrderSoQueuesKeepTheirArrivalOrder) {
  test::TempDirectory dir;
  for (const char* name : {"47FB75DF59010C.msg", "47FB75DF59010A.msg", "47FB75DF59010B.pri"})
    dir.Write(name, "x");
  CreateDirectoryOnce(dir.Path() + "Sub");
  std::vector<std::string> names;
  for (const auto& entry : ListDirectory(dir.Path())) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"47FB75DF59010A.msg", "47FB75DF59010B.pri",
                                             "47FB75DF59010C.msg", "Sub"}));
  EXPECT_TRUE(ListDirectory(dir.Path() + "missing").empty());
}

TEST(FileSystem, ReplacementKeepsThePrivateModeAndLeavesNoTemporary) {
  test::TempDirectory dir;
  const std::string path = dir.Path() + "maillist.ini";
  ReplaceFileAtomically(path, "[General]\r\n", FileMode::Private);
  ReplaceFileAtomically(path, "[General]\r\nName=x\r\n", FileMode::Private);
  EXPECT_EQ(*ReadWholeFile(path), "[General]\r\nName=x\r\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ListDirectory(dir.Path()).size(), 1u);
  EXPECT_FALSE(CreateNewFile(path, "other"));
  EXPECT_EQ(*ReadWholeFile(path), "[General]\r\nName=x\r\n");
}

TEST(FileSystem, QueueFilesAreReadOnlyWhenTheyAreRegularFilesWithinTheBound) {
  test::TempDirectory dir;
  dir.Write("post.msg", "Subject: x\r\n\r\nbody\r\n");
  dir.Write("secret", "not for the list");
  ASSERT_EQ(::symlink((dir.Path() + "secret").c_str(), (dir.Path() + "link.msg").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir.Path() + "fifo.msg").c_str(), 0600), 0);
  ASSERT_TRUE(CreateDirectoryOnce(dir.Path() + "dir.msg"));
  using Outcome = RegularFileRead::Outcome;
  struct Case {
    const char* name;
    size_t bound;
    Outcome outcome;
  } cases[] = {{"post.msg", 1000, Outcome::Read},       {"post.msg", 5, Outcome::TooLarge},
               {"link.msg", 1000, Outcome::NotRegular}, {"fifo.msg", 1000, Outcome::NotRegular},
               {"dir.msg", 1000, Outcome::NotRegular},  {"gone.msg", 1000, Outcome::Missing}};
  for (const Case& c : cases) {
    const RegularFileRead read = ReadRegularFile(dir.Path() + c.name, c.bound);
    EXPECT_EQ(read.outcome, c.outcome) << c.name;
    EXPECT_EQ(read.content.empty(), c.outcome != Outcome::Read) << c.name;
  }
}

TEST(FileSystem, NewFilesAreTheOwnersAloneWhateverTheUmask) {
  test::TempDirectory dir;
  const mode_t old = ::umask(0);
  ReplaceFileAtomically(dir.Path() + "replaced", "x");
  CreateNewFile(dir.Path() + "created", "x");
  WriteFileUnsynced(dir.Path() + "scratch", "x", FileMode::Normal);
  ::umask(old);
  for (const char* name : {"replaced", "created", "scratch"}) {
    struct stat st {};
    ASSERT_EQ(::stat((dir.Path() + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

TEST(FileSystem, InjectedFaultsFailTheChosenCallsWithTheirReasonAndLeaveNoTemporary) {
  test::TempDirectory dir;
  const std::string path = dir.Path() + "Outbox-progress";
  InjectFileFault({FileOperation::Write, 2, 1, ENOSPC, "progress"});
  InjectFileFault({FileOperation::Remove, 1, 0, EROFS, ""});
  ReplaceFileAtomically(path, "one", FileMode::Private);  // call 1: passes
  try {
    ReplaceFileAtomically(path, "two", FileMode::Private);  // call 2: the disk is full
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + path + ": " + std::strerror(ENOSPC));
  }
  ReplaceFileAtomically(path, "three", FileMode::Private);  // call 3: the fault was for one call
  EXPECT_EQ(*ReadWholeFile(path), "three");
  ReplaceFileAtomically(dir.Path() + "other", "x");  // another path is not counted
  EXPECT_FALSE(RemoveFile(path));                    // every removal fails from the first on
  EXPECT_EQ(errno, EROFS);
  EXPECT_FALSE(RemoveFile(path));
  EXPECT_EQ(ListDirectory(dir.Path()).size(), 2u);  // no temporary left behind
  ClearFileFaults();
  EXPECT_TRUE(RemoveFile(path));
}

TEST(FileSystem, FaultsAreReadFromTheEnvironmentOnlyWhenWellFormed) {
  struct Case {
    const char* name;
    const char* text;
    bool accepted;
  } cases[] = {
      {"one write fault", "write:1:0:ENOSPC:/Outbox/", true},
      {"two faults", "rename:3:1:EIO;remove:1:2:EROFS", true},
      {"unknown operation", "truncate:1:1:EIO", false},
      {"unknown errno", "write:1:1:EWHATEVER", false},
      {"call zero", "write:0:1:EIO", false},
      {"missing field", "write:1:EIO", false},
  };
  for (const Case& c : cases) {
    ::setenv("ORVEX_FILE_FAULTS", c.text, 1);
    EXPECT_EQ(LoadFileFaultsFromEnvironment(), c.accepted) << c.name;
    ClearFileFaults();
  }
  ::unsetenv("ORVEX_FILE_FAULTS");
}

}  // namespace
}  // namespace orvex
