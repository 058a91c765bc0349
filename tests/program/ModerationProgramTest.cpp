// The real service and orvex-admin over prepared Inbox files: a moderated post held under its
// token, approved by the moderator's reply or from the shell, rejected with a reason, and never
// distributed twice.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BirdsListFixture.h"
#include "platform/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr const char* kSettings =
    "[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n"
    "ControlAddress=birds-request@example.org\r\nModerator=joe@example.org\r\nPop3Count=0\r\n"
    "CheckInterval=0\r\nListHeaders=1\r\nModerated=1\r\nFromRewrite=0\r\n"
    "[Signature]\r\nText=\"-- {Listname}\"\r\n"
    "[Post rejected]\r\nSubject=Not posted: {Subject}\r\nText=\"Reason: {Reason}\"\r\n";

const std::string kAdmin = std::string(ORVEX_BUILD_DIR) + "/orvex-admin";

class ModerationProgram : public test::BirdsListFixture {
 protected:
  ModerationProgram() : BirdsListFixture(kSettings) {
    dir.Write("Data/birds/subscribers.ini", "ann@example.net=,annpw\r\nbob@example.net=,bobpw\r\n");
  }
  struct Result {
    int status = -1;
    std::string out, err;
  };
  Result Admin(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--dir", dir.Path()});
    test::ChildProcess child(kAdmin, arguments, dir.Path());
    Result result;
    const std::optional<int> status = child.WaitForExit(60s);
    result.status = status.value_or(-1);
    result.out = child.Stdout();
    result.err = child.Stderr();
    return result;
  }

  // The token of the link in a moderation notice.
  static std::string TokenOf(const std::string& notice) {
    const std::string link = "?subject=approve%20";
    const auto at = notice.find(link);
    return at == std::string::npos ? std::string() : notice.substr(at + link.size(), 26);
  }
  void Post(const std::string& subject) {
    Deliver("From: Ann <ann@example.net>\r\nTo: birds@example.org\r\nSubject: " + subject +
            "\r\nMessage-ID: <" + subject + "@example.net>\r\n\r\nThe swallows are back.\r\n");
  }
};

TEST_F(ModerationProgram, ReplyFromAPhoneApprovesOnceAndTheSecondReplyIsTold) {
  Post("Spring");
  Cycle();
  const auto forwards = TakeOutbox(".pri");
  ASSERT_EQ(forwards.size(), 1u);
  const std::string& forward = forwards[0];
  EXPECT_EQ(forward.substr(0, forward.find("\r\n")), "joe@example.org");
  EXPECT_EQ(Header(forward, "Auto-Submitted"), "auto-generated");
  const std::string token = TokenOf(forward);
  ASSERT_EQ(token.size(), 26u) << forward;
  EXPECT_TRUE(Names("Outbox", ".msg").empty());
  EXPECT_EQ(Names("Held", ".msg"), std::vector<std::string>{token + ".msg"});

  const std::string reply =
      "From: Joe <Joe@Example.org>\r\nTo: \"Birds\" <birds-request@example.org>\r\n"
      "Subject: Re: approve " +
      token + "\r\nIn-Reply-To: " + Header(forward, "Message-ID") +
      "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"b1\"\r\n\r\n"
      "--b1\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\n\r\nFine\r\n\r\n"
      "On Mon, 7 Dec 2026 at 02:33, Birds <birds-request@example.org> wrote:\r\n"
      "> As you are the moderator of Birds ...\r\n"
      "--b1\r\nContent-Type: text/html; charset=\"UTF-8\"\r\n\r\n<div>Fine</div>\r\n--b1--\r\n";
  Deliver(reply);
  const std::string log = Cycle();
  // Long log lines wrap at the console's width: only their start is looked for.
  EXPECT_NE(log.find("Held post " + token + " from <ann@example.net>"), std::string::npos) << log;
  const auto posts = TakeOutbox(".msg");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(Header(posts[0], "Subject"), "Spring");
  EXPECT_EQ(Header(posts[0], "X-Moderator-Signature"), "");
  EXPECT_TRUE(posts[0].ends_with("\r\n\r\nThe swallows are back.\r\n-- Birds\r\n")) << posts[0];
  EXPECT_TRUE(TakeOutbox(".pri").empty());
  EXPECT_TRUE(Names("Held", ".msg").empty());
  EXPECT_TRUE(Names("Failed", ".msg").empty());

  Deliver(reply);  // tapped twice
  Cycle();
  EXPECT_TRUE(TakeOutbox(".msg").empty());
  const auto told = TakeOutbox(".pri");
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].substr(0, told[0].find("\r\n")), "joe@example.org");
  EXPECT_NE(told[0].find("approved already"), std::string::npos) << told[0];
}

TEST_F(ModerationProgram, HeldListApproveAndRejectFromTheShell) {
  Post("One");
  Post("Two");
  Cycle();
  std::vector<std::string> tokens;
  for (const std::string& forward : TakeOutbox(".pri")) tokens.push_back(TokenOf(forward));
  ASSERT_EQ(tokens.size(), 2u);

  const Result listed = Admin({"--json", "held", "birds"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  const Json held = Json::parse(listed.out)["held"];
  ASSERT_EQ(held.size(), 2u);
  std::vector<std::string> listedTokens;
  for (const auto& row : held) {
    listedTokens.push_back(row["token"]);
    EXPECT_EQ(row["kind"], "post");
    EXPECT_EQ(row["sender"], "ann@example.net");
    EXPECT_EQ(row["size"].get<std::size_t>(),
              Read("Held/" + row["token"].get<std::string>() + ".msg").size());
  }
  std::sort(listedTokens.begin(), listedTokens.end());
  std::sort(tokens.begin(), tokens.end());
  EXPECT_EQ(listedTokens, tokens);
  const Result table = Admin({"held", "birds"});
  EXPECT_EQ(table.out.rfind("TOKEN", 0), 0u) << table.out;
  EXPECT_NE(table.out.find(tokens[0]), std::string::npos);

  std::string one, two;
  for (const auto& row : held) (row["subject"] == "One" ? one : two) = row["token"];
  const Result approved = Admin({"held", "approve", "birds", one});
  EXPECT_EQ(approved.status, 0) << approved.err;
  EXPECT_EQ(approved.out, one + ": approved (the post is queued for the members)\n");
  const Result rejected = Admin({"held", "reject", "birds", two, "--reason", "Twice the same"});
  EXPECT_EQ(rejected.status, 0) << rejected.err;

  const auto posts = TakeOutbox(".msg");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(Header(posts[0], "Subject"), "One");
  const auto notices = TakeOutbox(".pri");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].substr(0, notices[0].find("\r\n")), "ann@example.net");
  EXPECT_EQ(Header(notices[0], "Subject"), "Not posted: Two");
  EXPECT_NE(notices[0].find("Reason: Twice the same"), std::string::npos);
  EXPECT_TRUE(Names("Held", ".msg").empty());
  EXPECT_EQ(Json::parse(Admin({"--json", "held", "birds"}).out)["held"].size(), 0u);

  // Decided already, not a token, and a service cycle afterwards: nothing more goes out.
  const Result again = Admin({"held", "approve", "birds", one});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("approved already"), std::string::npos) << again.err;
  EXPECT_EQ(Admin({"held", "approve", "birds", "nonsense"}).status, 2);
  EXPECT_EQ(Admin({"held", "approve", "birds", "abcdefghijklmnopqrstuvwxyz"}).status, 1);
  Cycle();
  EXPECT_TRUE(TakeOutbox(".msg").empty());
  EXPECT_TRUE(TakeOutbox(".pri").empty());
}

}  // namespace
}  // namespace orvex
