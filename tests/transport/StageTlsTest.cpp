// The two protocol stages over TLS against scripted servers: STARTTLS and STLS, which extensions
// count, which mechanism authenticates, and that no secret and no mail goes out when the
// connection cannot be secured.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "platform/Socket.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"
#include "transport/Pop3Retrieval.h"
#include "transport/SmtpDelivery.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Hear;
using test::HearData;
using test::Say;
using test::ScriptedServer;
using test::ServerStep;
using test::ServeTls;
using test::TestCertificateAuthority;
using Script = std::vector<ServerStep>;
using Lines = std::vector<std::string>;

Script Join(std::initializer_list<Script> parts) {
  Script all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// "AB:CD:..." from a digest, the form certificate tools print.
std::string ColonForm(const std::string& digest) {
  std::string hex = test::HexDigits(digest);
  std::string text;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) text += ':';
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i + 1])));
  }
  return text;
}

class StageTlsTest : public test::StageFixture {
 protected:
  StageTlsTest() { me_ = LocalHostName(); }

  void Deliver(const ScriptedServer& server, MailSecurity security, std::string user = {}) {
    MailClient smtp(25, kLimits);
    SmtpSettings settings{{"127.0.0.1", server.Port(), user, "pa:ss", security, ""},
                          "sales@lists.test",
                          "sales-request@lists.test"};
    DeliverOutboxFiles(list_, settings, {{"a@x.test"}, {}}, smtp, log_);
  }

  TestCertificateAuthority authority_;
  test::ScopedTrustStore trust_{authority_.CertificatePem(), temp_.Path() + "trust"};
  std::string pem_ = authority_.Issue("DNS:localhost,IP:127.0.0.1").pem;
  std::string me_;
};

TEST_F(StageTlsTest, StartTlsSaysEhloAgainAndTakesOnlyTheSecondReply) {
  temp_.Write("Data/Sales/Outbox/A.msg", "Subject: hi\r\n\r\nbody\r\n");
  // Before the handshake the server offers LOGIN, after it only PLAIN: the first list could have
  // been altered on the way and must not count.
  ScriptedServer server({Join({{Say("220 relay"),
                                Hear(),
                                Say("250-relay"),
                                Say("250-AUTH LOGIN"),
                                Say("250 STARTTLS"),
                                Hear(),
                                Say("220 go ahead"),
                                ServeTls(pem_),
                                Hear(),
                                Say("250-relay"),
                                Say("250 AUTH PLAIN"),
                                Hear(),
                                Say("235 welcome"),
                                Hear(),
                                Say("250 ok"),
                                Hear(),
                                Say("250 ok"),
                                Hear(),
                                Say("354 go"),
                                HearData(),
                                Say("250 queued"),
                                Hear()}})});
  Deliver(server, MailSecurity::StartTls, "list user");
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "ehlo " + me_, "STARTTLS", "<tls>", "ehlo " + me_,
                   "AUTH PLAIN AGxpc3QgdXNlcgBwYTpzcw==", "MAIL FROM: <sales@lists.test>",
                   "RCPT TO: <a@x.test>", "DATA", "Subject: hi", "", "body", ".", "Quit"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_EQ(log_.Texts(),
            (Lines{"Connecting to 127.0.0.1 on port " + std::to_string(server.Port()) + " ...",
                   "Connected", "Authenticating ...", "Authentication successful",
                   "Sending message to <a@x.test>", "Disconnecting"}));
}

struct RefusalCase {
  const char* name;
  Script afterGreeting;  // the server's side after its 220 greeting
  Lines transcript;      // what the client sent after connecting ("ehlo" stands for the EHLO)
  std::string red;       // the red log line, before the one naming the list and the relay
};

class StartTlsRefusalTest : public StageTlsTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(StartTlsRefusalTest, NothingSecretAndNoMailGoesOut) {
  const RefusalCase& c = GetParam();
  temp_.Write("Data/Sales/Outbox/A.msg", "Subject: hi\r\n\r\nbody\r\n");
  Script script = Join({{Say("220 relay")}, c.afterGreeting});
  for (auto& step : script)  // certificates are made here, not when the cases are listed
    if (step.kind == ServerStep::Kind::StartTls)
      step.text =
          step.text == "foreign" ? TestCertificateAuthority().Issue("IP:127.0.0.1").pem : pem_;
  ScriptedServer server({script});
  Deliver(server, MailSecurity::StartTls, "list user");
  Lines expected{"<connect>"};
  for (const auto& line : c.transcript) expected.push_back(line == "ehlo" ? "ehlo " + me_ : line);
  EXPECT_EQ(server.Transcript(), expected);
  EXPECT_EQ(Files("Outbox"), Lines{"A.msg"});
  EXPECT_EQ(RedEntries(), (Lines{c.red, test::DeliveryFailedLine("Sales", server.Port())}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartTlsRefusalTest,
    testing::Values(RefusalCase{"not_offered",
                                {Hear(), Say("250-relay"), Say("250 AUTH LOGIN PLAIN"), Hear()},
                                {"ehlo", "Quit"},
                                "TLS failure: 127.0.0.1 does not offer STARTTLS"},
                    RefusalCase{"ehlo_refused_and_no_helo_fallback",
                                {Hear(), Say("502 what"), Hear()},
                                {"ehlo", "Quit"},
                                "TLS failure: 127.0.0.1 does not offer STARTTLS\r\n502 what"},
                    RefusalCase{"refused",
                                {Hear(), Say("250-relay"), Say("250 STARTTLS"), Hear(),
                                 Say("454 TLS not available"), Hear()},
                                {"ehlo", "STARTTLS", "Quit"},
                                "TLS failure: 127.0.0.1 refused STARTTLS\r\n454 TLS not available"},
                    RefusalCase{
                        "untrusted_certificate",
                        {Hear(), Say("250-relay"), Say("250 STARTTLS"), Hear(), Say("220 go ahead"),
                         ServeTls("foreign")},
                        {"ehlo", "STARTTLS", "<tls failed>"},
                        "TLS failure: untrusted certificate from 127.0.0.1 (unable to get local "
                        "issuer certificate)"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

struct MechanismCase {
  const char* name;
  MailSecurity security;
  const char* authLine;  // the last line of the EHLO reply
  const char* command;   // the client's first authentication command
};

class MechanismTest : public StageTlsTest, public testing::WithParamInterface<MechanismCase> {};

TEST_P(MechanismTest, LoginUnlessTlsAndOnlyPlainIsListed) {
  const MechanismCase& c = GetParam();
  temp_.Write("Data/Sales/Outbox/A.msg", "Subject: hi\r\n\r\nbody\r\n");
  const bool tls = c.security == MailSecurity::ImplicitTls;
  Script script;
  if (tls) script.push_back(ServeTls(pem_));
  script = Join({script,
                 {Say("220 relay"), Hear(), Say("250-relay"), Say(c.authLine), Hear(),
                  Say("535 not you"), Hear()}});
  ScriptedServer server({script});
  Deliver(server, c.security, "list user");
  Lines expected{"<connect>"};
  if (tls) expected.push_back("<tls>");
  expected.insert(expected.end(), {"ehlo " + me_, c.command, "Quit"});
  EXPECT_EQ(server.Transcript(), expected);
  EXPECT_EQ(RedEntries(), (Lines{"Authentication failed\r\n535 not you",
                                 test::DeliveryFailedLine("Sales", server.Port())}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MechanismTest,
    testing::Values(
        MechanismCase{"plain_text_keeps_login", MailSecurity::None, "250 AUTH PLAIN", "auth LOGIN"},
        MechanismCase{"login_preferred", MailSecurity::ImplicitTls, "250 AUTH PLAIN LOGIN",
                      "auth LOGIN"},
        MechanismCase{"only_plain", MailSecurity::ImplicitTls, "250 AUTH CRAM-MD5 plain",
                      "AUTH PLAIN AGxpc3QgdXNlcgBwYTpzcw=="},
        MechanismCase{"only_plain_in_the_old_form", MailSecurity::ImplicitTls, "250 AUTH=PLAIN",
                      "AUTH PLAIN AGxpc3QgdXNlcgBwYTpzcw=="},
        MechanismCase{"none_listed", MailSecurity::ImplicitTls, "250 SIZE 1000", "auth LOGIN"}),
    [](const testing::TestParamInfo<MechanismCase>& info) { return std::string(info.param.name); });

TEST_F(StageTlsTest, SmtpSettingsComeFromTheListFile) {
  temp_.Write("Data/Sales/Outbox/A.pri", "joe@x.test\r\nSubject: notice\r\n\r\nbody\r\n");
  const auto self = TestCertificateAuthority::SelfSigned("DNS:elsewhere.test");
  ScriptedServer server(
      {{ServeTls(self.pem), Say("220 relay"), Hear(), Say("250 relay"), Hear(), Say("250 ok"),
        Hear(), Say("250 ok"), Hear(), Say("354 go"), HearData(), Say("250 queued"), Hear()}});
  const std::string common =
      "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(server.Port()) +
      "\r\nControlAddress=sales-request@lists.test\r\n";
  // An unknown value refuses to connect rather than falling back to plain text.
  temp_.Write("Data/Sales/maillist.ini", common + "SmtpSecurity=3\r\n");
  {
    TAccount list;
    list.Load(list_);
    MailClient smtp(25);
    DeliverOutbox(list, smtp, env_, [](const std::string& s) { return s; });
  }
  EXPECT_EQ(server.Connections(), 0);
  EXPECT_EQ(RedEntries(), (Lines{"Unknown security setting: not connecting to 127.0.0.1",
                                 test::DeliveryFailedLine("Sales", server.Port())}));
  // A pinned self-signed certificate for another name is accepted.
  temp_.Write("Data/Sales/maillist.ini",
              common + "SmtpSecurity=2\r\nSmtpTlsFingerprint=" + ColonForm(self.sha256) + "\r\n");
  TAccount list;
  list.Load(list_);
  MailClient smtp(25);
  DeliverOutbox(list, smtp, env_, [](const std::string& s) { return s; });
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "<tls>", "ehlo " + me_, "MAIL FROM: <sales-request@lists.test>",
                   "RCPT TO: <joe@x.test>", "DATA", "Subject: notice", "", "body", ".", "Quit"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
}

TEST_F(StageTlsTest, Pop3StlsBeforeTheLoginAndNothingWhenRefused) {
  const auto self = TestCertificateAuthority::SelfSigned("DNS:elsewhere.test");
  ScriptedServer refusing({{Say("+OK ready"), Hear(), Say("-ERR unknown command"), Hear()}});
  ScriptedServer upgrading({{Say("+OK ready"),
                             Hear(),
                             Say("+OK begin TLS"),
                             ServeTls(pem_),
                             Hear(),
                             Say("+OK"),
                             Hear(),
                             Say("+OK in"),
                             Hear(),
                             Say("+OK 1 9"),
                             Hear(),
                             Say("-ERR"),
                             Hear(),
                             Say("-ERR"),
                             Hear(),
                             Say("+OK"),
                             Say("Subject: x"),
                             Say(""),
                             Say("one"),
                             Say("."),
                             Hear(),
                             Say("+OK deleted"),
                             Hear()}});
  ScriptedServer implicit({{ServeTls(self.pem), Say("+OK ready"), Hear(), Say("+OK"), Hear(),
                            Say("+OK in"), Hear(), Say("+OK 0 0"), Hear()}});
  auto box = [](int n, const ScriptedServer& server) {
    const std::string k = std::to_string(n);
    return "Pop3Host" + k + "=127.0.0.1\r\nPop3Port" + k + "=" + std::to_string(server.Port()) +
           "\r\nName" + k + "=user" + k + "\r\nPassword" + k + "=secret" + k + "\r\n";
  };
  temp_.Write("Data/Sales/maillist.ini",
              "[General]\r\nPop3Count=3\r\n" + box(1, refusing) + "Pop3Security1=1\r\n" +
                  box(2, upgrading) + "Pop3Security2=1\r\n" + box(3, implicit) +
                  "Pop3Security3=2\r\nPop3TlsFingerprint3=" + test::HexDigits(self.sha256) +
                  "\r\n");
  TAccount list;
  list.Load(list_);
  MailClient pop3(110, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
  RetrieveMailboxes(list, pop3, env_, [](const std::string& s) { return s; });
  EXPECT_EQ(refusing.Transcript(), (Lines{"<connect>", "STLS", "Quit"}));
  EXPECT_EQ(upgrading.Transcript(),
            (Lines{"<connect>", "STLS", "<tls>", "USER user2", "PASS secret2", "STAT", "UIDL 1",
                   "LIST 1", "RETR 1", "DELE 1", "Quit"}));
  EXPECT_EQ(implicit.Transcript(),
            (Lines{"<connect>", "<tls>", "USER user3", "PASS secret3", "STAT", "Quit"}));
  EXPECT_EQ(Files("Inbox").size(), 1u);
  EXPECT_EQ(RedEntries(),
            (Lines{"TLS failure: 127.0.0.1 does not offer STLS\r\n-ERR unknown command",
                   test::FetchFailedLine(1, "Sales", refusing.Port())}));
}

}  // namespace
}  // namespace orvex
