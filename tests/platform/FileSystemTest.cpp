// Directory scans and file replacement as the queues rely on them.
#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvex
