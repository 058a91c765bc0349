// OAuth 2.0 sign-in against real servers: Dovecot's oauth2 passdb checks each bearer token at a
// scripted introspection endpoint of the harness, for its POP3 service and for Postfix's AUTH
// (through Dovecot's SASL), by XOAUTH2 and by OAUTHBEARER.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/MailServerFiles.h"
#include "support/TempDirectory.h"
#include "transport/Pop3Retrieval.h"
#include "transport/SmtpDelivery.h"
#include "transport/SmtpSession.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using test::FilesIn;
using test::HarnessSetting;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// "user:token,..." of the harness.
std::map<std::string, std::string> Tokens() {
  std::map<std::string, std::string> tokens;
  std::string text = HarnessSetting("ORVEX_OAUTH_TOKENS");
  while (!text.empty()) {
    const auto comma = text.find(',');
    const std::string pair = text.substr(0, comma);
    tokens[pair.substr(0, pair.find(':'))] = pair.substr(pair.find(':') + 1);
    text = comma == std::string::npos ? "" : text.substr(comma + 1);
  }
  return tokens;
}

class OAuthRealServersTest : public test::StageFixture {
 protected:
  std::map<std::string, std::string> tokens_ = Tokens();
};

TEST_F(OAuthRealServersTest, DovecotTakesTheValidTokenForPop3AndRefusesAnother) {
  const fs::path maildirs = HarnessSetting("ORVEX_POP3_MAILDIRS");
  WriteFile(maildirs / "alice/Maildir/new/oauth.host", "Subject: by token\n\nbody\n");
  WriteFile(maildirs / "bob/Maildir/new/oauth.host", "Subject: stays\n\nbody\n");
  fs::create_directories(list_ + "Inbox");
  const std::string port = HarnessSetting("ORVEX_POP3_PORT");
  temp_.Write("Data/Sales/maillist.ini",
              "[General]\r\nPop3Count=2\r\n"
              "Pop3Host1=localhost\r\nPop3Port1=" +
                  port +
                  "\r\nPop3Security1=1\r\nName1=alice\r\nPop3AuthMethod1=oauth2\r\n"
                  "Pop3Host2=localhost\r\nPop3Port2=" +
                  port + "\r\nPop3Security2=1\r\nName2=bob\r\nPop3AuthMethod2=oauth2\r\n");
  TAccount list;
  list.Load(list_);
  MailClient pop3(110);
  // bob's token is alice's: the server must not take it for bob.
  RetrieveMailboxes(
      list, pop3, env_, [](const std::string&) { return std::string(); },
      [&](const std::string& user) -> std::optional<std::string> {
        return user == "alice" ? tokens_["alice"] : tokens_["alice"] + "-x";
      });
  // bob's message waits; it is taken away at once, as the other tests count bob's messages.
  const std::size_t bobWaiting = FilesIn(maildirs / "bob/Maildir/new").size();
  fs::remove(maildirs / "bob/Maildir/new/oauth.host");
  EXPECT_EQ(bobWaiting, 1u);
  const auto fetched = FilesIn(list_ + "Inbox");
  ASSERT_EQ(fetched.size(), 1u);
  EXPECT_EQ(ReadFile(fetched[0]), "Subject: by token\r\n\r\nbody\r\n");
  EXPECT_TRUE(test::AwaitEmpty(maildirs / "alice/Maildir/new"));
  const Lines red = log_.Texts(LogColour::Red);
  ASSERT_EQ(red.size(), 2u) << testing::PrintToString(red);
  EXPECT_EQ(red[0].rfind("Authentication failed: OAuth 2.0 sign-in refused for bob at localhost "
                         "(XOAUTH2)",
                         0),
            0u)
      << red[0];
  EXPECT_EQ(red[1], test::FetchFailedLine(2, "Sales", std::stoi(port), "localhost"));
  for (const std::string& line : log_.Texts())
    EXPECT_EQ(line.find(tokens_["alice"]), std::string::npos) << line;
}

TEST_F(OAuthRealServersTest, PostfixAuthenticatesThroughDovecotByBothMechanisms) {
  const fs::path vmail = HarnessSetting("ORVEX_SMTP_MAILDIRS");
  const std::string domain = HarnessSetting("ORVEX_SMTP_DOMAIN");
  const auto relay = [&](const std::string& user, const std::string& token) {
    MailClient smtp(25);
    smtp.host = "localhost";
    smtp.port = std::stoi(HarnessSetting("ORVEX_SMTPS_PORT"));
    smtp.security = MailSecurity::ImplicitTls;
    smtp.userName = user;
    smtp.password = token;
    return smtp;
  };

  // XOAUTH2, the mechanism taken when both are offered, then a delivery over it (to a mailbox
  // no other test of this harness uses).
  const std::size_t before = FilesIn(vmail / "oauth/new").size();
  MailClient smtp = relay("alice", tokens_["alice"]);
  SmtpOpen(smtp, SmtpAuth::OAuth2, log_);
  ASSERT_TRUE(smtp.ehloReply.size() > 0);
  const SmtpExtensions offered = ParseEhloReply(smtp.ehloReply);
  EXPECT_TRUE(offered.OffersAuth("XOAUTH2"));
  EXPECT_TRUE(offered.OffersAuth("OAUTHBEARER"));
  const SendResult sent =
      SendOneMessage(smtp, SmtpAuth::OAuth2, log_, "alice@" + domain,
                     {"Subject: sent by token", "", "body"}, {"oauth@" + domain});
  EXPECT_EQ(sent.outcome, SendOutcome::Sent);
  smtp.Quit();
  EXPECT_EQ(test::AwaitFiles(vmail / "oauth/new", before + 1).size(), before + 1);

  // OAUTHBEARER, where a server offers only that.
  MailClient bearer = relay("bob", tokens_["bob"]);
  bearer.Connect();
  SmtpExtensions onlyBearer = SmtpGreet(bearer);
  onlyBearer.authMechanisms = {"OAUTHBEARER"};
  EXPECT_NO_THROW(SmtpAuthenticateOAuth(bearer, onlyBearer));
  bearer.Quit();

  // Another account's token is refused, by either mechanism, with the server's status.
  for (const char* mechanism : {"XOAUTH2", "OAUTHBEARER"}) {
    MailClient wrong = relay("bob", tokens_["alice"]);
    wrong.Connect();
    SmtpExtensions extensions = SmtpGreet(wrong);
    extensions.authMechanisms = {mechanism};
    try {
      SmtpAuthenticateOAuth(wrong, extensions);
      ADD_FAILURE() << mechanism << ": the wrong token was taken";
    } catch (const std::exception& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind("Authentication failed", 0), 0u) << text;
      EXPECT_EQ(text.find(tokens_["alice"]), std::string::npos) << text;
    }
    wrong.Disconnect();
  }
}

}  // namespace
}  // namespace orvex
