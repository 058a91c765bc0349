// Retrieval and delivery over TLS with real servers: Dovecot with STLS and on its implicit-TLS
// port, Postfix with STARTTLS and on its implicit-TLS port, authentication through Dovecot, and
// the certificate failures. mailservers.py makes the test authority and points SSL_CERT_FILE at
// it; the servers' certificate is for "localhost" only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include "crypto/Passwords.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/MailServerFiles.h"
#include "support/TempDirectory.h"
#include "transport/Pop3Retrieval.h"
#include "transport/SmtpDelivery.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using test::AwaitFiles;
using test::FilesIn;
using test::HarnessSetting;
using test::ReadFile;

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Another trust store for the process while it lives.
class TrustOverride {
 public:
  explicit TrustOverride(const std::string& file) : saved_(HarnessSetting("SSL_CERT_FILE")) {
    ::setenv("SSL_CERT_FILE", file.c_str(), 1);
  }
  ~TrustOverride() { ::setenv("SSL_CERT_FILE", saved_.c_str(), 1); }
  TrustOverride(const TrustOverride&) = delete;
  TrustOverride& operator=(const TrustOverride&) = delete;

 private:
  std::string saved_;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class TlsRealServersTest : public test::StageFixture {
 protected:
  // Delivers the list's Outbox with these SMTP settings lines.
  void Deliver(const std::string& settings) {
    temp_.Write("Data/Sales/maillist.ini",
                "[General]\r\nFrom=sales@" + HarnessSetting("ORVEX_SMTP_DOMAIN") +
                    "\r\nControlAddress=sales-request@" + HarnessSetting("ORVEX_SMTP_DOMAIN") +
                    "\r\n" + settings);
    TAccount list;
    list.Load(list_);
    MailClient smtp(25);
    DeliverOutbox(list, smtp, env_);
  }
};

TEST_F(TlsRealServersTest, RetrievesOverStlsAndImplicitTlsFromDovecot) {
  const fs::path maildirs = HarnessSetting("ORVEX_POP3_MAILDIRS");
  std::ofstream(maildirs / "alice/Maildir/new/1.host") << "Subject: over stls\n\n..dots\n";
  std::ofstream(maildirs / "bob/Maildir/new/1.host") << "Subject: over pop3s\n\nbody\n";
  fs::create_directories(list_ + "Inbox");
  auto box = [](int n, const char* host, const char* port, const char* user, const char* password,
                int security) {
    const std::string k = std::to_string(n);
    return "Pop3Host" + k + "=" + host + "\r\nPop3Port" + k + "=" + HarnessSetting(port) +
           "\r\nName" + k + "=" + user + "\r\nPassword" + k + "=" + EncipherPassword(password) +
           "\r\nPop3Security" + k + "=" + std::to_string(security) + "\r\n";
  };
  // "localhost" is also ::1, where nothing listens: every address is tried. The third mailbox
  // names the server by an address its certificate does not hold.
  temp_.Write("Data/Sales/maillist.ini",
              "[General]\r\nPop3Count=3\r\n" +
                  box(1, "localhost", "ORVEX_POP3_PORT", "alice", "alice-secret", 1) +
                  box(2, "localhost", "ORVEX_POP3S_PORT", "bob", "bob-secret", 2) +
                  box(3, "127.0.0.1", "ORVEX_POP3S_PORT", "empty", "empty-secret", 2));
  TAccount list;
  list.Load(list_);
  MailClient pop3(110);
  RetrieveMailboxes(list, pop3, env_);

  Lines contents;
  for (const auto& f : FilesIn(list_ + "Inbox")) contents.push_back(ReadFile(f));
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents,
            (Lines{"Subject: over pop3s\r\n\r\nbody\r\n", "Subject: over stls\r\n\r\n..dots\r\n"}));
  EXPECT_EQ(
      RedEntries(),
      (Lines{"TLS failure: the certificate does not match the name 127.0.0.1",
             test::FetchFailedLine(3, "Sales", std::stoi(HarnessSetting("ORVEX_POP3S_PORT")))}));
}

TEST_F(TlsRealServersTest, DeliversOverStartTlsAndImplicitTlsWithAuthThroughPostfix) {
  const std::string domain = HarnessSetting("ORVEX_SMTP_DOMAIN");
  const fs::path vmail = HarnessSetting("ORVEX_SMTP_MAILDIRS");
  // The STARTTLS port lists AUTH only after STARTTLS, and then PLAIN alone; both ports relay
  // for authenticated clients only.
  // Other tests deliver to these mailboxes too.
  const std::size_t before1 = FilesIn(vmail / "sub1/new").size();
  const std::size_t before2 = FilesIn(vmail / "sub2/new").size();
  temp_.Write("Data/Sales/Outbox/A.pri", "sub1@" + domain + "\r\nSubject: one\r\n\r\nfirst\r\n");
  Deliver("SmtpHost=localhost\r\nSmtpPort=" + HarnessSetting("ORVEX_SMTP_STARTTLS_PORT") +
          "\r\nSmtpSecurity=1\r\nSMTPUser=alice\r\nSMTPPassword=" +
          EncipherPassword("alice-secret") + "\r\n");
  temp_.Write("Data/Sales/Outbox/B.pri", "sub2@" + domain + "\r\nSubject: two\r\n\r\nsecond\r\n");
  Deliver("SmtpHost=localhost\r\nSmtpPort=" + HarnessSetting("ORVEX_SMTPS_PORT") +
          "\r\nSmtpSecurity=2\r\nSMTPUser=bob\r\nSMTPPassword=" + EncipherPassword("bob-secret") +
          "\r\n");
  EXPECT_EQ(RedEntries(), Lines{});
  EXPECT_TRUE(FilesIn(list_ + "Outbox").empty());
  int authenticated = 0;
  for (const auto& e : log_.entries) authenticated += e.text == "Authentication successful";
  EXPECT_EQ(authenticated, 2);
  for (const auto& [box, text, before] :
       {std::tuple{"sub1", "Subject: one\n\nfirst\n", before1},
        std::tuple{"sub2", "Subject: two\n\nsecond\n", before2}}) {
    const auto files = AwaitFiles(vmail / box / "new", before + 1);
    ASSERT_EQ(files.size(), before + 1) << box;
    std::size_t found = 0;
    for (const auto& f : files) found += ReadFile(f).find(text) != std::string::npos;
    EXPECT_EQ(found, 1u) << box;
  }
}

struct FailureCase {
  const char* name;
  const char* port;  // the variable that holds it
  const char* host;
  int security;
  std::optional<std::string> fingerprint;  // "server": the servers' own, in lower case
  bool otherAuthority;                     // trust only the authority that signed nothing
  std::string red;  // "(it has)" stands for the servers' fingerprint; empty: delivered
};

class TlsFailureTest : public TlsRealServersTest,
                       public testing::WithParamInterface<FailureCase> {};

TEST_P(TlsFailureTest, IsLoggedAndNothingIsSent) {
  const FailureCase& c = GetParam();
  const std::string domain = HarnessSetting("ORVEX_SMTP_DOMAIN");
  temp_.Write("Data/Sales/Outbox/A.pri", "joe@" + domain + "\r\nSubject: x\r\n\r\nbody\r\n");
  std::string settings =
      "SmtpHost=" + std::string(c.host) + "\r\nSmtpPort=" + HarnessSetting(c.port) +
      "\r\nSmtpSecurity=" + std::to_string(c.security) +
      "\r\nSMTPUser=alice\r\nSMTPPassword=" + EncipherPassword("alice-secret") + "\r\n";
  if (c.fingerprint) {
    const std::string pin = *c.fingerprint == "server"
                                ? Lower(HarnessSetting("ORVEX_TLS_FINGERPRINT"))
                                : *c.fingerprint;
    settings += "SmtpTlsFingerprint=" + pin + "\r\n";
  }
  std::optional<TrustOverride> trust;
  if (c.otherAuthority) trust.emplace(HarnessSetting("ORVEX_TLS_OTHER_CA"));
  Deliver(settings);
  std::string red = c.red;
  if (const auto at = red.find("(it has)"); at != std::string::npos)
    red.replace(at, 8, "(it has " + HarnessSetting("ORVEX_TLS_FINGERPRINT") + ")");
  if (red.empty()) {
    EXPECT_EQ(RedEntries(), Lines{});
    EXPECT_TRUE(FilesIn(list_ + "Outbox").empty());
  } else {
    EXPECT_EQ(
        RedEntries(),
        (Lines{red, test::DeliveryFailedLine("Sales", std::stoi(HarnessSetting(c.port)), c.host)}));
    EXPECT_EQ(FilesIn(list_ + "Outbox").size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsFailureTest,
    testing::Values(
        FailureCase{"untrusted_certificate", "ORVEX_SMTPS_PORT", "localhost", 2, std::nullopt, true,
                    "TLS failure: untrusted certificate from localhost (unable to get local "
                    "issuer certificate)"},
        FailureCase{"wrong_host_name", "ORVEX_SMTP_STARTTLS_PORT", "127.0.0.1", 1, std::nullopt,
                    false, "TLS failure: the certificate does not match the name 127.0.0.1"},
        FailureCase{"server_without_starttls", "ORVEX_SMTP_PORT", "localhost", 1, std::nullopt,
                    false, "TLS failure: localhost does not offer STARTTLS"},
        FailureCase{"pin_mismatch", "ORVEX_SMTPS_PORT", "localhost", 2, std::string(64, '0'), false,
                    "TLS failure: the certificate of localhost does not match the pinned "
                    "fingerprint (it has)"},
        // The pin alone decides: neither the authority nor the name matters then.
        FailureCase{"pinned_certificate_accepted", "ORVEX_SMTPS_PORT", "127.0.0.1", 2,
                    std::string("server"), true, ""}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvex
