// The real service program in a temporary program directory: banner, first visit of a list,
// directories it passes over, the interlock and the stop signal.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>

#include "platform/InstanceLock.h"
#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

class ServiceProgramTest : public testing::Test {
 protected:
  ServiceProgramTest() {
    // The program alone, copied into an empty directory, runs there.
    std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
    std::filesystem::create_directories(dir.Path() + "Data");
  }
  std::string Program() const { return dir.Path() + "orvex"; }
  test::TempDirectory dir;
};

TEST_F(ServiceProgramTest, VisitsListsAndStopsOnInterrupt) {
  const std::string list = dir.MakeList("sales");
  dir.MakeList(".hidden");
  dir.Write("Data/notes.txt", "not a list");

  test::ChildProcess service(Program(), {}, dir.Path());
  ASSERT_TRUE(service.WaitForOutput("Idle", 10s)) << service.Stdout();
  service.Signal(SIGINT);
  ASSERT_EQ(service.WaitForExit(10s), 0);

  const std::string out = service.Stdout();
  EXPECT_NE(out.find("ORVEX maillist manager version "), std::string::npos) << out;
  EXPECT_NE(out.find(" started\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Processing \"Unnamed\"\n"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << "no escape sequences when not a terminal";

  for (const char* store : {"subscribers.ini", "pending.ini", "signatures.ini"}) {
    EXPECT_TRUE(dir.Exists(std::string("Data/sales/") + store)) << store;
    EXPECT_EQ(dir.Read(std::string("Data/sales/") + store), "") << store;
  }
  for (const char* sub : {"Inbox", "Outbox", "Digest"})
    EXPECT_TRUE(std::filesystem::is_directory(list + sub)) << sub;
  const std::string settings = dir.Read("Data/sales/maillist.ini");
  EXPECT_EQ(settings.rfind("[General]\r\nLastChecked=", 0), 0u) << settings;
  struct stat st {};
  ASSERT_EQ(stat((list + "maillist.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_FALSE(dir.Exists("Data/.hidden/Inbox"));
  EXPECT_FALSE(dir.Exists("Data/.hidden/maillist.ini"));
  EXPECT_EQ(dir.Read("Data/notes.txt"), "not a list");
}

TEST_F(ServiceProgramTest, RefusesADirectoryWithoutDataAndCreatesNothingThere) {
  std::filesystem::remove(dir.Path() + "Data");
  const std::vector<std::string> before = test::FileNamesIn(dir.Path());
  test::ChildProcess service(Program(), {}, dir.Path());
  ASSERT_EQ(service.WaitForExit(10s), 2);
  const std::string err = service.Stderr();
  EXPECT_EQ(err.rfind(dir.Path() + " holds no Data/ directory", 0), 0u) << err;
  EXPECT_NE(err.find("/var/lib/orvex"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(service.Stdout(), "");
  std::vector<std::string> after = test::FileNamesIn(dir.Path());
  std::erase_if(after, [](const std::string& name) { return name.starts_with(".std"); });
  EXPECT_EQ(after, before) << "no lock file or anything else";
}

TEST_F(ServiceProgramTest, LeavesSilentlyWhenAnotherServiceRuns) {
  auto lock = InstanceLock::TryAcquire(dir.Path() + kServiceLockName);
  ASSERT_TRUE(lock.has_value());
  test::ChildProcess service(Program(), {}, dir.Path());
  const auto status = service.WaitForExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_EQ(service.Stdout(), "");
  EXPECT_EQ(service.Stderr(), "");
}

TEST_F(ServiceProgramTest, RefusesToStartBesideTheEditor) {
  auto lock = InstanceLock::TryAcquire(dir.Path() + kEditorLockName);
  ASSERT_TRUE(lock.has_value());
  test::ChildProcess service(Program(), {}, dir.Path());
  const auto status = service.WaitForExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_EQ(service.Stderr(),
            "Mailing list editor is currently active\nMailing list manager cannot start\n");
  EXPECT_EQ(service.Stdout(), "");
}

TEST_F(ServiceProgramTest, RunsFromALinkInAnotherDirectory) {
  const std::string other = dir.Path() + "site/";
  std::filesystem::create_directories(other + "Data/club");
  std::filesystem::create_symlink(Program(), other + "orvex");
  test::ChildProcess service(other + "orvex", {}, dir.Path());
  ASSERT_TRUE(service.WaitForOutput("Idle", 10s)) << service.Stdout();
  service.Signal(SIGTERM);
  ASSERT_EQ(service.WaitForExit(10s), 0);
  EXPECT_TRUE(std::filesystem::exists(other + "Data/club/maillist.ini"));
  EXPECT_TRUE(std::filesystem::exists(other + "orvex-manager.lock"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "orvex-manager.lock"));
}

}  // namespace
}  // namespace orvex
