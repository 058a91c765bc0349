// The real orvex-admin against temporary program directories: every command, its errors, its
// JSON read back, the locks it shares with the service and the editor, and the service running
// cycles while members come and go.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "crypto/Passwords.h"
#include "platform/InstanceLock.h"
#include "store/DefaultList.h"
#include "store/FailedMail.h"
#include "store/IniFile.h"
#include "store/ListLock.h"
#include "store/NameValueList.h"
#include "support/ChildProcess.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  return ReadWholeFile(path).value_or("");
}

// Runs build/orvex-admin with `arguments` and `input` on its standard input; waits at most 60 s.
Result RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& scratch, const std::string& input = {}) {
  test::ChildProcess child(program, arguments, scratch, input);
  Result result;
  const std::optional<int> status = child.WaitForExit(60s);
  if (!status) ADD_FAILURE() << "orvex-admin did not end within 60 s";
  // A program ended by a signal counts as no exit status at all.
  result.status = status && *status < 128 ? *status : -1;
  result.out = child.Stdout();
  result.err = child.Stderr();
  return result;
}

const std::string kAdmin = std::string(ORVEX_BUILD_DIR) + "/orvex-admin";

class AdminProgramTest : public testing::Test {
 protected:
  AdminProgramTest() { std::filesystem::create_directories(dir.Path() + "Data"); }

  Result Admin(std::vector<std::string> arguments, const std::string& input = {}) const {
    arguments.insert(arguments.begin(), {"--dir", dir.Path()});
    return RunProgram(kAdmin, arguments, dir.Path(), input);
  }
  Json AdminJson(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), "--json");
    const Result r = Admin(arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    return Json::parse(r.out);
  }
  void CreateList(const std::string& name = "birds") const {
    const Result r =
        Admin({"list", "create", name, "--name", "Birds", "--address", name + "@example.org",
               "--control", name + "-request@example.org", "--moderator", "joe@example.org"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  std::string List(const std::string& file, const std::string& name = "birds") const {
    return dir.Path() + "Data/" + name + "/" + file;
  }
  std::vector<std::string> Members(const std::string& name = "birds") const {
    std::vector<std::string> addresses;
    const Json listed = AdminJson({"members", name});
    for (const auto& m : listed["members"]) addresses.push_back(m["address"]);
    return addresses;
  }

  test::TempDirectory dir;
};

TEST_F(AdminProgramTest, CreatesAListWithEveryNoticeAndShowsIt) {
  CreateList();
  struct stat st {};
  ASSERT_EQ(::stat(List("maillist.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const char* store : {"subscribers.ini", "pending.ini", "signatures.ini"})
    EXPECT_TRUE(FileExists(List(store))) << store;
  for (const char* sub : {"Inbox", "Outbox", "Digest"})
    EXPECT_TRUE(DirectoryExists(List(sub))) << sub;

  const IniFile created = IniFile::FromText(ReadText(List("maillist.ini")));
  const IniFile builtIn = IniFile::FromText(DefaultListText());
  for (const std::string& section : builtIn.SectionNames()) {
    if (section == "General") continue;
    EXPECT_EQ(created.ReadString(section, "Text", "?"), builtIn.ReadString(section, "Text", "!"))
        << section;
  }
  EXPECT_EQ(created.ReadString("General", "Address", ""), "birds@example.org");
  EXPECT_EQ(created.ReadString("General", "From", ""), "birds@example.org");  // default

  const Json shown = AdminJson({"list", "show", "birds"});
  std::map<std::string, Json> byKey;
  for (const auto& row : shown["settings"]) byKey[row["key"]] = row;
  EXPECT_EQ(byKey["Name"]["value"], "Birds");
  EXPECT_EQ(byKey["SMTPPassword"]["value"], "(empty)");
  EXPECT_EQ(byKey["CheckInterval"]["from"], "default");
  EXPECT_EQ(byKey["CheckInterval"]["value"], "10");
  EXPECT_TRUE(byKey.count("Subscribe confirmation/Text"));

  // A second list of the same name, a bad directory name and a bad address are refused.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list", "create", "birds", "--name", "X", "--address", "a@b",
                                 "--control", "c@b", "--moderator", "m@b"},
        {"list", "create", ".hidden", "--name", "X", "--address", "a@b", "--control", "c@b",
         "--moderator", "m@b"},
        {"list", "create", "fish", "--name", "X", "--address", "not an address", "--control", "c@b",
         "--moderator", "m@b"}}) {
    const Result r = Admin(args);
    EXPECT_EQ(r.status, 1) << args[2] << r.err;
    EXPECT_NE(r.err.find("orvex-admin: "), std::string::npos);
  }
  EXPECT_FALSE(DirectoryExists(dir.Path() + "Data/fish"));
  EXPECT_EQ(test::FileNamesIn(dir.Path() + "Data"), std::vector<std::string>{"birds"});
}

TEST_F(AdminProgramTest, CreateWithAProviderFillsInItsServersAndLimits) {
  const Result r = Admin({"list", "create", "birds", "--name", "Birds", "--address",
                          "birds@outlook.test", "--control", "birds@outlook.test", "--moderator",
                          "joe@example.org", "--provider", "Outlook"});
  ASSERT_EQ(r.status, 0) << r.err;
  const IniFile created = IniFile::FromText(ReadText(List("maillist.ini")));
  const std::pair<const char*, const char*> expected[] = {
      {"SMTPHOST", "smtp-mail.outlook.com"},
      {"SMTPPort", "587"},
      {"SmtpSecurity", "1"},
      {"SMTPUser", "birds@outlook.test"},
      {"SmtpAuthMethod", "oauth2"},
      {"OAuthProvider", "microsoft"},
      {"Pop3Count", "1"},
      {"Pop3Host1", "outlook.office365.com"},
      {"Pop3Port1", "995"},
      {"Pop3Security1", "2"},
      {"Name1", "birds@outlook.test"},
      {"Pop3AuthMethod1", "oauth2"},
      {"From", "birds@outlook.test"},
      {"FromRewrite", "2"},
      {"MaxRecipients", "100"},
      {"MaxRecipientsPerDay", "300"},
  };
  for (const auto& [key, value] : expected)
    EXPECT_EQ(created.ReadString("General", key, "?"), value) << key;

  // A provider without POP3, and one that is not known.
  ASSERT_EQ(Admin({"list", "create", "owls", "--name", "Owls", "--address", "owls@icloud.test",
                   "--control", "owls@icloud.test", "--moderator", "joe@example.org", "--provider",
                   "icloud"})
                .status,
            0);
  EXPECT_EQ(IniFile::FromText(ReadText(List("maillist.ini", "owls")))
                .ReadString("General", "Pop3Count", "?"),
            "0");
  const Result unknown =
      Admin({"list", "create", "fish", "--name", "Fish", "--address", "f@x.test", "--control",
             "f@x.test", "--moderator", "j@x.test", "--provider", "aol"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("give one of gmail, outlook"), std::string::npos) << unknown.err;
  EXPECT_FALSE(DirectoryExists(dir.Path() + "Data/fish"));
}

TEST_F(AdminProgramTest, SetChecksTypeAndRangeAndWritesOnlyGoodValues) {
  CreateList();
  struct Case {
    std::string key, value;
    int status;
    std::string stored;  // expected in the file when status is 0
  };
  const Case cases[] = {
      {"SMTPPort", "587", 0, "587"},
      {"smtpport", "0", 1, ""},
      {"SMTPPort", "65536", 1, ""},
      {"SMTPPort", "25x", 1, ""},
      {"SmtpSecurity", "2", 0, "2"},
      {"SmtpSecurity", "3", 1, ""},
      {"Moderated", "off", 0, "0"},
      {"Moderated", "maybe", 1, ""},
      {"Digest mode", "0", 1, ""},
      {"Moderator", "not an address", 1, ""},
      {"Moderator", "mod@example.org", 0, "mod@example.org"},
      {"SmtpTlsFingerprint", "abc", 1, ""},
      {"SmtpTlsFingerprint", std::string(64, 'a'), 0, std::string(64, 'a')},
      {"SmtpTlsFingerprint", "aa:" + std::string(62, 'a'), 1, ""},  // a ":" after one pair only
      {"Pop3Host2", "pop.example.org", 0, "pop.example.org"},
      {"Pop3Host01", "x", 1, ""},
      {"NoSuchKey", "1", 1, ""},
      {"LastChecked", "yesterday", 1, ""},
      {"Name", "two\nlines", 1, ""},
      {"SmtpAuthMethod", "OAuth2", 0, "oauth2"},
      {"Pop3AuthMethod3", "password", 0, "password"},
      {"Pop3AuthMethod1", "token", 1, ""},
      {"OAuthProvider", "Microsoft", 0, "microsoft"},
      {"OAuthProvider", "yahoo", 1, ""},
      {"OAuthTokenUrl", "https://auth.example.org/token", 0, "https://auth.example.org/token"},
      {"OAuthTokenUrl", "http://auth.example.org/token", 1, ""},
      {"OAuthDeviceUrl", "https://a b", 1, ""},
      {"OAuthClientSecret", "secret", 2, ""},
  };
  for (const Case& c : cases) {
    const std::string before = ReadText(List("maillist.ini"));
    const Result r = Admin({"list", "set", "birds", c.key, c.value});
    EXPECT_EQ(r.status, c.status) << c.key << "=" << c.value << ": " << r.err;
    const IniFile after = IniFile::FromText(ReadText(List("maillist.ini")));
    if (c.status == 0) {
      EXPECT_EQ(after.ReadString("General", c.key, "?"), c.stored) << c.key;
    } else {
      EXPECT_EQ(ReadText(List("maillist.ini")), before) << c.key << " changed the file";
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one sentence: " << r.err;
    }
  }

  // A notice text keeps its line breaks as the service reads them.
  ASSERT_EQ(Admin({"list", "set", "birds", "paused/Text", "Line one\nLine two"}).status, 0);
  EXPECT_EQ(IniFile::FromText(ReadText(List("maillist.ini"))).ReadString("Paused", "Text", ""),
            "Line one\\13\\10Line two");
}

TEST_F(AdminProgramTest, PasswordsOnlyThroughStandardInput) {
  CreateList();
  const std::string before = ReadText(List("maillist.ini"));
  const Result refused = Admin({"list", "set", "birds", "SMTPPassword", "secret"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--password-stdin"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadText(List("maillist.ini")), before);

  const Result set = Admin({"list", "set", "birds", "Password1", "--password-stdin"}, "s3cret\n");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out.find("s3cret"), std::string::npos);
  const IniFile after = IniFile::FromText(ReadText(List("maillist.ini")));
  EXPECT_EQ(DecipherPassword(after.ReadString("General", "Password1", "")), "s3cret");
  EXPECT_EQ(AdminJson({"list", "show", "birds"})["settings"].dump().find("s3cret"),
            std::string::npos);

  const Result passwd = Admin({"passwd"}, "hello\n");
  ASSERT_EQ(passwd.status, 0) << passwd.err;
  ASSERT_FALSE(passwd.out.empty());
  EXPECT_EQ(DecipherPassword(passwd.out.substr(0, passwd.out.size() - 1)), "hello");
}

TEST_F(AdminProgramTest, MembersAddSetRemoveWithTheServicesAddressRule) {
  CreateList();
  ASSERT_EQ(Admin({"member", "add", "birds", "Ann@Example.org"}).status, 0);
  const Result again = Admin({"--json", "member", "add", "birds", "ann@example.ORG"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Json::parse(again.out)["result"], "already a member");
  ASSERT_EQ(Admin({"member", "add", "birds", "Bob <bob@example.org>", "--digest"}).status, 0);
  EXPECT_EQ(Members(), (std::vector<std::string>{"Ann@Example.org", "bob@example.org"}));

  ASSERT_EQ(Admin({"member", "set", "birds", "ANN@example.org", "--paused", "on"}).status, 0);
  ASSERT_EQ(Admin({"member", "set", "birds", "bob@example.org", "--digest", "off"}).status, 0);
  const Json members = AdminJson({"members", "birds"})["members"];
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0]["paused"], true);
  EXPECT_EQ(members[0]["digest"], false);
  EXPECT_EQ(members[1]["digest"], false);

  // The service's own view: every entry has a password, and the flags are its letters.
  NameValueList store;
  store.LoadFromText(ReadText(List("subscribers.ini")));
  ASSERT_EQ(store.Count(), 2u);
  EXPECT_EQ(CommaItem(store.ValueAt(0), 0), "p");
  EXPECT_EQ(CommaItem(store.ValueAt(1), 1).size(), 10u);

  struct Bad {
    std::vector<std::string> args;
    int status;
  };
  const Bad bad[] = {
      {{"member", "add", "birds", "two words@example.org"}, 1},
      {{"member", "add", "birds", "a=b@example.org"}, 1},
      {{"member", "add", "nolist", "c@example.org"}, 1},
      {{"member", "remove", "birds", "nobody@example.org"}, 1},
      {{"member", "set", "birds", "nobody@example.org", "--paused", "on"}, 1},
      {{"member", "set", "birds", "bob@example.org", "--paused", "maybe"}, 2},
      {{"member", "frobnicate"}, 2},
  };
  const std::string before = ReadText(List("subscribers.ini"));
  for (const Bad& b : bad) {
    const Result r = Admin(b.args);
    EXPECT_EQ(r.status, b.status) << b.args[2] << ": " << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(ReadText(List("subscribers.ini")), before);

  ASSERT_EQ(Admin({"member", "remove", "birds", "ann@EXAMPLE.org"}).status, 0);
  EXPECT_EQ(Members(), std::vector<std::string>{"bob@example.org"});
}

TEST_F(AdminProgramTest, WelcomeQueuesTheNoticeTheServiceWouldSend) {
  CreateList();
  ASSERT_EQ(Admin({"member", "add", "birds", "ann@example.org", "--welcome"}).status, 0);
  const std::vector<std::string> outbox = test::FileNamesIn(List("Outbox"));
  ASSERT_EQ(outbox.size(), 1u);
  EXPECT_TRUE(outbox[0].ends_with(".pri"));
  const std::string notice = ReadText(List("Outbox/" + outbox[0]));
  EXPECT_EQ(notice.rfind("ann@example.org\r\n", 0), 0u) << notice;
  EXPECT_NE(notice.find("Subject: You have successfully subscribed to Birds"), std::string::npos);
  NameValueList store;
  store.LoadFromText(ReadText(List("subscribers.ini")));
  const std::string password = CommaItem(store.Value("ann@example.org"), 1);
  ASSERT_EQ(password.size(), 10u);
  EXPECT_NE(notice.find("Your password is " + password), std::string::npos) << notice;

  // Without --welcome nothing is queued.
  ASSERT_EQ(Admin({"member", "add", "birds", "bob@example.org"}).status, 0);
  EXPECT_EQ(test::FileNamesIn(List("Outbox")).size(), 1u);
}

TEST_F(AdminProgramTest, ImportIsAllOrNothingAndExportReadsBack) {
  CreateList();
  ASSERT_EQ(Admin({"member", "add", "birds", "old@example.org"}).status, 0);
  dir.Write("bad.txt", "a@example.org\nbad address\nb@example.org,dx\nc@example.org\n");
  const std::string before = ReadText(List("subscribers.ini"));
  const Result bad = Admin({"members", "import", "birds", dir.Path() + "bad.txt"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("line 2:"), std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find("line 3:"), std::string::npos) << bad.out;
  EXPECT_EQ(ReadText(List("subscribers.ini")), before);

  dir.Write(
      "good.txt",
      "# members\r\nA@example.org\r\n\r\nOLD@example.org\r\nb@example.org,dp\r\na@EXAMPLE.org\r\n");
  const Result good =
      Admin({"--json", "members", "import", "birds", dir.Path() + "good.txt", "--welcome"});
  ASSERT_EQ(good.status, 0) << good.err;
  const Json report = Json::parse(good.out);
  EXPECT_EQ(report["added"], 2);
  ASSERT_EQ(report["alreadyMembers"].size(), 2u);
  EXPECT_EQ(report["alreadyMembers"][0]["line"], 4);
  EXPECT_EQ(report["alreadyMembers"][1]["line"], 6);
  EXPECT_EQ(test::FileNamesIn(List("Outbox")).size(), 2u);

  const Result exported = Admin({"members", "export", "birds"});
  ASSERT_EQ(exported.status, 0);
  EXPECT_EQ(exported.out, "old@example.org\nA@example.org\nb@example.org,dp\n");

  // The export imports into another list as the same members and flags.
  CreateList("fish");
  const Result copied = Admin({"members", "import", "fish", "-"}, exported.out);
  ASSERT_EQ(copied.status, 0) << copied.err;
  EXPECT_EQ(Admin({"members", "export", "fish"}).out, exported.out);
}

TEST_F(AdminProgramTest, WaitsForTheListsCycleThenGivesUpWith75) {
  CreateList();
  {
    auto lock = ListLock::TryAcquire(dir.Path() + "Data/birds/");
    ASSERT_TRUE(lock.has_value());
    const Result busy = Admin({"--wait", "1", "member", "add", "birds", "a@example.org"});
    EXPECT_EQ(busy.status, 75);
    EXPECT_NE(busy.err.find("waiting up to 1 seconds"), std::string::npos) << busy.err;
    EXPECT_NE(busy.err.find("stayed busy"), std::string::npos) << busy.err;
    EXPECT_EQ(Admin({"--wait", "0", "members", "birds"}).status, 75) << "reads wait too";
  }
  EXPECT_EQ(Admin({"--wait", "0", "member", "add", "birds", "a@example.org"}).status, 0);
}

TEST_F(AdminProgramTest, RefusesChangesWhileTheEditorIsOpen) {
  CreateList();
  auto editor = InstanceLock::TryAcquire(dir.Path() + kEditorLockName);
  ASSERT_TRUE(editor.has_value());
  const std::string before = ReadText(List("maillist.ini"));
  for (const std::vector<std::string>& change :
       {std::vector<std::string>{"member", "add", "birds", "a@example.org"},
        {"list", "set", "birds", "Name", "Fish"},
        {"list", "delete", "birds", "--yes"}}) {
    const Result r = Admin(change);
    EXPECT_EQ(r.status, 1) << change[1];
    EXPECT_NE(r.err.find("The editor is open"), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadText(List("maillist.ini")), before);
  EXPECT_EQ(Admin({"members", "birds"}).status, 0) << "reading is allowed";
}

TEST_F(AdminProgramTest, FailedFilesShowWhyAndGoBackWhereTheyCameFrom) {
  CreateList();
  dir.Write("Data/birds/Outbox/0001.pri", "ann@example.org\r\n\r\nbody\r\n");
  const std::string moved = MoveToFailed(dir.Path() + "Data/birds/", List("Outbox/0001.pri"),
                                         "no recipient was accepted");
  dir.Write("Data/birds/Failed/0002.msg", "no note");

  const Json failed = AdminJson({"failed", "birds"})["failed"];
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed[0]["file"], "0001.pri");
  EXPECT_EQ(failed[0]["from"], "Outbox");
  EXPECT_EQ(failed[0]["why"], "no recipient was accepted");
  EXPECT_EQ(failed[1]["why"], "(not recorded)");

  ASSERT_EQ(Admin({"failed", "retry", "birds", "0001.pri"}).status, 0);
  EXPECT_EQ(ReadText(List("Outbox/0001.pri")), "ann@example.org\r\n\r\nbody\r\n");
  EXPECT_EQ(test::FileNamesIn(List("Failed")), std::vector<std::string>{"0002.msg"});
  EXPECT_EQ(IniFile::FromText(ReadText(List("failed.ini"))).SectionNames().size(), 0u)
      << "the note goes with the file";

  EXPECT_EQ(Admin({"failed", "retry", "birds", "0002.msg"}).status, 1) << "origin unknown";
  EXPECT_EQ(Admin({"failed", "retry", "birds", "0002.msg", "--to", "inbox"}).status, 0);
  EXPECT_TRUE(FileExists(List("Inbox/0002.msg")));
  EXPECT_EQ(Admin({"failed", "retry", "birds", "../maillist.ini"}).status, 1);
  EXPECT_EQ(Admin({"failed", "retry", "birds", "gone.msg"}).status, 1);
}

TEST_F(AdminProgramTest, ListsStatusAndDelete) {
  CreateList();
  CreateList("fish");
  ASSERT_EQ(Admin({"member", "add", "birds", "a@example.org", "--digest"}).status, 0);
  ASSERT_EQ(Admin({"member", "add", "birds", "b@example.org"}).status, 0);
  const Json lists = AdminJson({"lists"});
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(lists[0]["list"], "birds");
  EXPECT_EQ(lists[0]["members"]["active"], 1);
  EXPECT_EQ(lists[0]["members"]["digest"], 1);
  EXPECT_EQ(lists[0]["nextDue"], "now");
  EXPECT_TRUE(lists[0]["lastCycle"].is_null());

  const Json status = AdminJson({"status"});
  EXPECT_EQ(status["service"]["running"], false);
  EXPECT_EQ(status["lists"].size(), 2u);
  EXPECT_EQ(Admin({"status", "nolist"}).status, 1);

  EXPECT_EQ(Admin({"list", "delete", "fish"}).status, 2) << "needs --yes";
  EXPECT_TRUE(DirectoryExists(dir.Path() + "Data/fish"));
  ASSERT_EQ(Admin({"list", "delete", "fish", "--yes"}).status, 0);
  EXPECT_EQ(test::FileNamesIn(dir.Path() + "Data"), std::vector<std::string>{"birds"});
}

TEST_F(AdminProgramTest, ProgramDirectoryFromTheProgramFileOrAnError) {
  // Beside Data/, the program file's own directory is the default.
  std::filesystem::copy_file(kAdmin, dir.Path() + "orvex-admin");
  CreateList();
  const Result here = RunProgram(dir.Path() + "orvex-admin", {"--json", "lists"}, dir.Path());
  ASSERT_EQ(here.status, 0) << here.err;
  EXPECT_EQ(Json::parse(here.out).size(), 1u);

  const Result none = RunProgram(kAdmin, {"--dir", dir.Path() + "Data/birds", "lists"}, dir.Path());
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("/var/lib/orvex"), std::string::npos) << none.err;

  EXPECT_EQ(Admin({}).status, 2);
  const Result help = Admin({"member", "add", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--welcome"), std::string::npos);
}

TEST_F(AdminProgramTest, AsRootActsAsTheDirectorysOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  CreateList();
  constexpr uid_t kNobody = 65534;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path()))
    ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chown(dir.Path().c_str(), kNobody, kNobody), 0);
  ::chmod(dir.Path().c_str(), 0755);

  const Result r = Admin({"member", "add", "birds", "a@example.org", "--welcome"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The import file is root's own (in a 0700 directory): read before the switch.
  test::TempDirectory rootOnly;
  rootOnly.Write("import.txt", "b@example.org\n");
  const Result imported = Admin({"members", "import", "birds", rootOnly.Path() + "import.txt"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path() + "Data")) {
    struct stat st {};
    ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody) << entry.path();
  }
}

// The real service runs a cycle on every pass (CheckInterval 0) and saves the stores at the end of
// each, while orvex-admin adds and removes 200 members at random moments: without the list lock
// a cycle would write back the stores it loaded before a change and lose it.
TEST_F(AdminProgramTest, ChangesDuringTheServicesCyclesAreNeverLost) {
  CreateList();
  ASSERT_EQ(Admin({"list", "set", "birds", "CheckInterval", "0"}).status, 0);
  std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
  test::ChildProcess service(dir.Path() + "orvex", {}, dir.Path());
  ASSERT_TRUE(service.WaitForOutput("Idle", 20s)) << service.Stdout();

  std::mt19937 random(7);
  std::set<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    const std::string address = "m" + std::to_string(i) + "@example.org";
    ASSERT_EQ(Admin({"member", "add", "birds", address}).status, 0) << i;
    expected.insert(address);
    if (random() % 3 == 0) {
      const std::string victim = "m" + std::to_string(random() % (i + 1)) + "@example.org";
      const Result r = Admin({"member", "remove", "birds", victim});
      EXPECT_EQ(r.status, expected.erase(victim) ? 0 : 1) << victim << r.err;
    }
    if (random() % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
  }
  const Json status = AdminJson({"status", "birds"});
  EXPECT_EQ(status["service"]["running"], true);
  EXPECT_EQ(status["service"]["pid"], service.Pid());
  EXPECT_FALSE(status["lists"][0]["lastCycle"].is_null());
  service.Signal(SIGINT);
  ASSERT_EQ(service.WaitForExit(20s), 0);

  const std::vector<std::string> members = Members();
  EXPECT_EQ(std::set<std::string>(members.begin(), members.end()), expected);
  EXPECT_EQ(members.size(), expected.size()) << "no address twice";
  const std::string store = ReadText(List("subscribers.ini"));
  EXPECT_TRUE(store.empty() || store.ends_with("\r\n")) << "no torn file";
}

// `check` goes as far as STAT and AUTH and no further; each server gets its own row, and a
// wrong password and an untrusted certificate each name the step that failed.
TEST_F(AdminProgramTest, CheckLogsInToEveryServerAndSendsNothing) {
  using test::Hear;
  using test::Say;
  CreateList();
  test::ScriptedServer good({{Say("+OK ready"), Hear(), Say("+OK"), Hear(), Say("+OK in"), Hear(),
                              Say("+OK 3 900"), Hear()}});
  test::ScriptedServer refusing(
      {{Say("+OK ready"), Hear(), Say("+OK"), Hear(), Say("-ERR invalid password"), Hear()}});
  test::ScriptedServer untrusted(
      {{test::ServeTls(test::TestCertificateAuthority::SelfSigned("IP:127.0.0.1").pem)}});
  test::ScriptedServer relay(
      {{Say("220 relay ready"), Hear(), Say("250-relay"), Say("250 AUTH LOGIN PLAIN"), Hear(),
        Say("334 VXNlcm5hbWU6"), Hear(), Say("334 UGFzc3dvcmQ6"), Hear(), Say("235 ok"), Hear()}});
  const std::vector<std::pair<std::string, std::string>> settings = {
      {"Pop3Count", "3"},
      {"Pop3Host1", "127.0.0.1"},
      {"Pop3Port1", std::to_string(good.Port())},
      {"Name1", "box1"},
      {"Pop3Host2", "127.0.0.1"},
      {"Pop3Port2", std::to_string(refusing.Port())},
      {"Name2", "box2"},
      {"Pop3Host3", "127.0.0.1"},
      {"Pop3Port3", std::to_string(untrusted.Port())},
      {"Pop3Security3", "2"},
      {"SMTPHOST", "127.0.0.1"},
      {"SMTPPort", std::to_string(relay.Port())},
      {"SMTPUser", "relayuser"},
  };
  for (const auto& [key, value] : settings)
    ASSERT_EQ(Admin({"list", "set", "birds", key, value}).status, 0) << key;
  ASSERT_EQ(Admin({"list", "set", "birds", "SMTPPassword", "--password-stdin"}, "pw\n").status, 0);

  const Result r = Admin({"--json", "check", "birds"});
  EXPECT_EQ(r.status, 1) << r.err;
  const Json rows = Json::parse(r.out)["servers"];
  ASSERT_EQ(rows.size(), 4u) << r.out;
  EXPECT_EQ(rows[0]["ok"], true);
  EXPECT_NE(rows[0]["detail"].get<std::string>().find("+OK 3 900"), std::string::npos);
  EXPECT_EQ(rows[1]["ok"], false);
  EXPECT_EQ(rows[1]["step"], "PASS");
  EXPECT_NE(rows[1]["detail"].get<std::string>().find("invalid password"), std::string::npos);
  EXPECT_EQ(rows[2]["ok"], false);
  EXPECT_EQ(rows[2]["step"], "connect");
  EXPECT_EQ(rows[3]["ok"], true) << rows[3];

  const std::vector<std::string> pop3 = good.Transcript();
  for (const std::string& line : pop3) {
    EXPECT_EQ(line.rfind("RETR", 0), std::string::npos) << line;
    EXPECT_EQ(line.rfind("DELE", 0), std::string::npos) << line;
  }
  const std::vector<std::string> smtp = relay.Transcript();
  for (const std::string& line : smtp) {
    EXPECT_EQ(line.rfind("MAIL", 0), std::string::npos) << line;
    EXPECT_EQ(line.rfind("RCPT", 0), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace orvex
