// The OAuth 2.0 SASL messages, and POP3 and SMTP servers that accept one bearer token only.
#include "transport/OAuthSasl.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "message/Codecs.h"
#include "platform/Socket.h"
#include "support/Fakes.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "transport/Pop3Retrieval.h"
#include "transport/SmtpDelivery.h"
#include "transport/SmtpSession.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Hear;
using test::Say;
using test::SayRaw;
using test::ScriptedServer;
using Lines = std::vector<std::string>;

constexpr char kToken[] = "ya29.valid-token";

TEST(OAuthSaslTest, ClientResponses) {
  // The providers' published XOAUTH2 example, byte for byte.
  EXPECT_EQ(Base64Encode(OAuthClientResponse(OAuthMechanism::XOAuth2, "someuser@example.com",
                                             "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg",
                                             "ignored", 1)),
            "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNr"
            "QmhkSFJoZG1semRHRXVZMjl0Q2cBAQ==");
  // RFC 7628's example of OAUTHBEARER.
  EXPECT_EQ(
      OAuthClientResponse(OAuthMechanism::OAuthBearer, "user@example.com",
                          "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==", "server.example.com", 143),
      "n,a=user@example.com,\x01host=server.example.com\x01port=143\x01"
      "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\x01\x01");
  // "," and "=" in a user name would end or garble the GS2 header.
  EXPECT_EQ(OAuthClientResponse(OAuthMechanism::OAuthBearer, "a,b=c", "t", "h", 1),
            "n,a=a=2Cb=3Dc,\x01host=h\x01port=1\x01"
            "auth=Bearer t\x01\x01");
}

TEST(OAuthSaslTest, MechanismChoiceAndSetting) {
  struct Case {
    Lines offered;
    std::optional<OAuthMechanism> chosen;
  } cases[] = {
      {{"PLAIN", "OAUTHBEARER", "xoauth2"}, OAuthMechanism::XOAuth2},
      {{"LOGIN", "oauthbearer"}, OAuthMechanism::OAuthBearer},
      {{"PLAIN", "LOGIN"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseOAuthMechanism(c.offered), c.chosen);
  EXPECT_EQ(ParseAuthMethod("OAuth2"), AuthMethod::OAuth2);
  EXPECT_EQ(ParseAuthMethod("password"), AuthMethod::Password);
  EXPECT_EQ(ParseAuthMethod(""), AuthMethod::Password);
  EXPECT_EQ(ParseAuthMethod("oauth"), AuthMethod::Password);
}

TEST(OAuthSaslTest, ErrorChallenges) {
  const auto challenge = ParseOAuthErrorChallenge(
      Base64Encode(R"({"status":"401","schemes":"bearer","scope":"https://mail.google.com/"})"));
  EXPECT_EQ(challenge.status, "401");
  EXPECT_EQ(challenge.scope, "https://mail.google.com/");
  EXPECT_EQ(DescribeOAuthRefusal("u@x", "pop.x", OAuthMechanism::XOAuth2, challenge),
            "OAuth 2.0 sign-in refused for u@x at pop.x (XOAUTH2): status 401, scope "
            "https://mail.google.com/");
  // A numeric status; a server's control characters never reach the log line.
  const auto numeric = ParseOAuthErrorChallenge(Base64Encode(R"({"status":400,"scope":"a\nb"})"));
  EXPECT_EQ(DescribeOAuthRefusal("u", "h", OAuthMechanism::OAuthBearer, numeric),
            "OAuth 2.0 sign-in refused for u at h (OAUTHBEARER): status 400, scope a?b");
  // Not base64 JSON at all: nothing to report but the refusal.
  for (const char* junk : {"", "!!!", "bm90IGpzb24=", "WzFd"}) {
    const auto none = ParseOAuthErrorChallenge(junk);
    EXPECT_EQ(DescribeOAuthRefusal("u", "h", OAuthMechanism::XOAuth2, none),
              "OAuth 2.0 sign-in refused for u at h (XOAUTH2): status unknown")
        << junk;
  }
}

const std::string kChallenge =
    Base64Encode(R"({"status":"401","schemes":"bearer","scope":"https://mail.test/"})");

// The steps of a POP3 server that offers `sasl` and takes only the valid token, then holds one
// message; a wrong token gets the error challenge, and the client's answer to it, "-ERR".
std::vector<test::ServerStep> Pop3Accepting(const std::string& sasl) {
  return {Say("+OK ready"),
          Hear(),
          SayRaw("+OK\r\nUSER\r\nSASL " + sasl + "\r\n.\r\n"),
          test::HearBearer(kToken, "+ " + kChallenge, "-ERR [AUTH] refused"),
          Say("+OK signed in"),
          Hear(),
          Say("+OK 1 20"),
          Hear(),
          Say("-ERR"),
          Hear(),
          Say("-ERR"),
          Hear(),
          SayRaw("+OK\r\nSubject: one\r\n\r\nx\r\n.\r\n"),
          Hear(),
          Say("+OK"),
          Hear()};
}

class OAuthPop3Test : public testing::Test {
 protected:
  void SetUp() override {
    list_ = temp_.MakeList("Sales");
    std::filesystem::create_directories(list_ + "Inbox");
  }

  void Retrieve(const std::vector<const ScriptedServer*>& servers, const Lines& tokens) {
    MailClient pop3(110, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
    auto mailbox = [&](int n) {
      Pop3Mailbox box{
          {"127.0.0.1", servers[n - 1]->Port(), "user" + std::to_string(n), tokens[n - 1]}};
      box.authMethod = AuthMethod::OAuth2;
      return box;
    };
    RetrieveMailboxes(
        static_cast<int>(servers.size()), mailbox, pop3, list_ + "Inbox/",
        [&](const std::string&) { return std::string(1, char('A' + named_++)) + ".msg"; }, log_,
        work_);
  }

  // No line of the log holds a token.
  void ExpectNoTokenLogged() const {
    for (const auto& line : log_.Texts()) {
      EXPECT_EQ(line.find(kToken), std::string::npos) << line;
      EXPECT_EQ(line.find("wrong-token"), std::string::npos) << line;
    }
  }

  test::TempDirectory temp_;
  std::string list_;
  test::RecordingLogger log_;
  Pop3WorkItems work_;
  int named_ = 0;
};

TEST_F(OAuthPop3Test, ValidTokenSignsInByTheOfferedMechanism) {
  ScriptedServer both({Pop3Accepting("PLAIN OAUTHBEARER XOAUTH2")});
  ScriptedServer bearerOnly({Pop3Accepting("PLAIN OAUTHBEARER")});
  Retrieve({&both, &bearerOnly}, {kToken, kToken});
  const Lines first = both.Transcript();
  const Lines second = bearerOnly.Transcript();
  ASSERT_EQ(first.size(), 9u);
  ASSERT_EQ(second.size(), 9u);
  EXPECT_EQ(first[1], "CAPA");
  EXPECT_EQ(first[2],
            "AUTH XOAUTH2 " + Base64Encode(OAuthClientResponse(OAuthMechanism::XOAuth2, "user1",
                                                               kToken, "127.0.0.1", both.Port())));
  EXPECT_EQ(second[2], "AUTH OAUTHBEARER " + Base64Encode(OAuthClientResponse(
                                                 OAuthMechanism::OAuthBearer, "user2", kToken,
                                                 "127.0.0.1", bearerOnly.Port())));
  EXPECT_EQ(first.back(), "Quit");
  EXPECT_EQ(test::FileNamesIn(list_ + "Inbox"), (Lines{"A.msg", "B.msg"}));
  EXPECT_TRUE(log_.Texts(LogColour::Red).empty());
  ExpectNoTokenLogged();
}

TEST_F(OAuthPop3Test, RefusedTokenAnswersTheChallengeAndTheNextMailboxGoesOn) {
  ScriptedServer refusing({Pop3Accepting("XOAUTH2")});
  ScriptedServer plainOnly(
      {{Say("+OK ready"), Hear(), SayRaw("+OK\r\nSASL PLAIN\r\n.\r\n"), Hear()}});
  ScriptedServer good({Pop3Accepting("XOAUTH2")});
  Retrieve({&refusing, &plainOnly, &good}, {"wrong-token", kToken, kToken});
  const Lines refused = refusing.Transcript();
  // The challenge is answered with an empty line; nothing is fetched.
  ASSERT_GE(refused.size(), 5u);
  EXPECT_EQ(refused[3], "");
  EXPECT_EQ(refused[4], "Quit");
  EXPECT_EQ(plainOnly.Transcript(), (Lines{"<connect>", "CAPA", "Quit"}));
  EXPECT_EQ(test::FileNamesIn(list_ + "Inbox"), Lines{"A.msg"});
  EXPECT_EQ(log_.Texts(LogColour::Red),
            (Lines{"Authentication failed: OAuth 2.0 sign-in refused for user1 at 127.0.0.1 "
                   "(XOAUTH2): status 401, scope https://mail.test/",
                   test::FetchFailedLine(1, "Sales", refusing.Port()),
                   "Authentication failed: 127.0.0.1 offers neither XOAUTH2 nor OAUTHBEARER "
                   "(Pop3AuthMethod is oauth2)",
                   test::FetchFailedLine(2, "Sales", plainOnly.Port())}));
  ExpectNoTokenLogged();
}

TEST_F(OAuthPop3Test, LongResponseWaitsForTheServersEmptyChallenge) {
  // Access tokens of some providers run to kilobytes, past the 255 octets of a POP3 command.
  const std::string longToken(1500, 'x');
  ScriptedServer server({{Say("+OK ready"), Hear(), SayRaw("+OK\r\nSASL XOAUTH2\r\n.\r\n"), Hear(),
                          Say("+ "), test::HearBearer(longToken, "+ " + kChallenge, "-ERR refused"),
                          Say("+OK signed in"), Hear(), Say("+OK 0 0"), Hear()}});
  Retrieve({&server}, {longToken});
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "CAPA", "AUTH XOAUTH2",
                   Base64Encode(OAuthClientResponse(OAuthMechanism::XOAuth2, "user1", longToken,
                                                    "127.0.0.1", server.Port())),
                   "STAT", "Quit"}));
  EXPECT_TRUE(log_.Texts(LogColour::Red).empty());
}

class OAuthSmtpTest : public testing::Test {
 protected:
  void Open(const ScriptedServer& server, const std::string& token) {
    MailClient smtp(25, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
    smtp.host = "127.0.0.1";
    smtp.port = server.Port();
    smtp.userName = "list@x.test";
    smtp.password = token;
    try {
      SmtpOpen(smtp, SmtpAuth::OAuth2, log_);
      smtp.Quit();
    } catch (const std::exception& error) {
      failure_ = error.what();
      smtp.Disconnect();
    }
  }

  static std::vector<test::ServerStep> Accepting(const std::string& mechanisms) {
    return {Say("220 relay"),
            Hear(),
            Say("250-relay"),
            Say("250 AUTH LOGIN " + mechanisms),
            test::HearBearer(kToken, "334 " + kChallenge, "535 5.7.8 refused"),
            Say("235 accepted"),
            Hear()};
  }

  test::RecordingLogger log_;
  std::string failure_;
};

TEST_F(OAuthSmtpTest, ValidTokenIsAccepted) {
  for (const auto& [offered, name] :
       {std::pair{"OAUTHBEARER XOAUTH2", "XOAUTH2"}, std::pair{"OAUTHBEARER", "OAUTHBEARER"}}) {
    SCOPED_TRACE(offered);
    ScriptedServer server({Accepting(offered)});
    Open(server, kToken);
    const Lines transcript = server.Transcript();
    ASSERT_EQ(transcript.size(), 4u);
    EXPECT_EQ(transcript[2].rfind(std::string("AUTH ") + name + " ", 0), 0u) << transcript[2];
    EXPECT_EQ(transcript[3], "Quit");
    EXPECT_EQ(failure_, "");
  }
  EXPECT_TRUE(log_.Contains("Authentication successful"));
}

TEST_F(OAuthSmtpTest, RefusedTokenAnswersTheChallengeWithAnEmptyLine) {
  ScriptedServer server({Accepting("XOAUTH2")});
  Open(server, "wrong-token");
  const Lines transcript = server.Transcript();
  ASSERT_GE(transcript.size(), 4u);
  EXPECT_EQ(transcript[3], "");
  EXPECT_EQ(failure_,
            "Authentication failed\r\nOAuth 2.0 sign-in refused for list@x.test at 127.0.0.1 "
            "(XOAUTH2): status 401, scope https://mail.test/");
  EXPECT_EQ(failure_.find("wrong-token"), std::string::npos);

  ScriptedServer without(
      {{Say("220 relay"), Hear(), Say("250-relay"), Say("250 AUTH PLAIN"), Hear()}});
  Open(without, kToken);
  EXPECT_EQ(failure_,
            "Authentication failed\r\n127.0.0.1 offers neither XOAUTH2 nor OAUTHBEARER "
            "(SmtpAuthMethod is oauth2)");
}

}  // namespace
}  // namespace orvex
