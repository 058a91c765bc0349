// The protocol client over TLS against scripted loopback servers with certificates of the test's
// own: which certificates are accepted, the pin, the limits and stop handling of the handshake,
// and the settings that must refuse to connect.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "platform/StopSignal.h"
#include "platform/TlsSocket.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"
#include "transport/MailClient.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Hear;
using test::Say;
using test::SayRaw;
using test::ScriptedServer;
using test::ServerIdentity;
using test::ServeTls;
using test::Stall;
using test::TestCertificateAuthority;
using Lines = std::vector<std::string>;

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.what();
  }
  return "<no error>";
}

class TlsClientTest : public testing::Test {
 protected:
  MailClient Client(int port, MailSecurity security,
                    MailTimeLimits limits = {.connect = 5s, .reply = 5s, .dataEnd = 5s}) {
    MailClient client(110, limits);
    client.host = "127.0.0.1";
    client.port = port;
    client.security = security;
    return client;
  }

  test::TempDirectory temp_;
  TestCertificateAuthority authority_;
  test::ScopedTrustStore trust_{authority_.CertificatePem(), temp_.Path() + "trust"};
};

enum class Certificate { NameAndAddress, OtherName, AddressAsName, Foreign, Expired, SelfSigned };
enum class Pin { None, ThisCertificate, AnotherCertificate };

struct CheckCase {
  const char* name;
  Certificate certificate;
  const char* host;
  Pin pin;
  std::optional<TlsFailure> failure;
  const char* messageStart;  // of the error, when it fails
};

class CertificateCheckTest : public TlsClientTest, public testing::WithParamInterface<CheckCase> {
 protected:
  ServerIdentity Make(Certificate kind) {
    switch (kind) {
      case Certificate::NameAndAddress:
        return authority_.Issue("DNS:localhost,IP:127.0.0.1,IP:::1");
      case Certificate::OtherName:
        return authority_.Issue("DNS:mail.example.test,DNS:*.localhost");
      case Certificate::AddressAsName:
        return authority_.Issue("DNS:127.0.0.1");
      case Certificate::Foreign:
        return TestCertificateAuthority().Issue("DNS:localhost,IP:127.0.0.1");
      case Certificate::Expired:
        return authority_.Issue("DNS:localhost,IP:127.0.0.1", test::Validity::Expired);
      case Certificate::SelfSigned:
        return TestCertificateAuthority::SelfSigned("DNS:other.example.test");
    }
    return {};
  }
};

TEST_P(CertificateCheckTest, AcceptsOnlyWhatIsTrustedForTheHostOrPinned) {
  const CheckCase& c = GetParam();
  const ServerIdentity identity = Make(c.certificate);
  ScriptedServer server(
      {{ServeTls(identity.pem), Say("+OK secured"), Hear(), Say("+OK bye"), Hear()}});
  MailClient client = Client(server.Port(), MailSecurity::ImplicitTls);
  client.host = c.host;
  if (c.pin == Pin::ThisCertificate) client.tlsFingerprint = test::HexDigits(identity.sha256);
  if (c.pin == Pin::AnotherCertificate)
    client.tlsFingerprint = test::HexDigits(authority_.Issue("DNS:localhost").sha256);
  if (!c.failure) {
    client.Connect();
    EXPECT_EQ(client.ReadReply({1}), 1);
    EXPECT_EQ(client.SendCommand("QUIT", {1}), 1);
    client.Disconnect();
    EXPECT_EQ(server.Transcript(), (Lines{"<connect>", "<tls>", "QUIT", "<closed>"}));
    return;
  }
  try {
    client.Connect();
    ADD_FAILURE() << "connected";
  } catch (const TlsError& error) {
    EXPECT_EQ(error.Reason(), *c.failure);
    EXPECT_EQ(std::string(error.what()).rfind(c.messageStart, 0), 0u) << error.what();
  }
  EXPECT_FALSE(client.Connected());
  // The server heard nothing from the client: a pin is checked before any data.
  for (const auto& line : server.Transcript()) EXPECT_EQ(line.front(), '<') << line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CertificateCheckTest,
    testing::Values(
        CheckCase{"trusted_for_the_address", Certificate::NameAndAddress, "127.0.0.1", Pin::None,
                  std::nullopt, ""},
        // localhost resolves to ::1 as well; the server listens on 127.0.0.1 only.
        CheckCase{"trusted_for_the_name_at_every_address", Certificate::NameAndAddress, "localhost",
                  Pin::None, std::nullopt, ""},
        CheckCase{"name_mismatch", Certificate::OtherName, "localhost", Pin::None,
                  TlsFailure::NameMismatch,
                  "TLS failure: the certificate does not match the name localhost"},
        CheckCase{"address_not_matched_as_a_name", Certificate::AddressAsName, "127.0.0.1",
                  Pin::None, TlsFailure::NameMismatch,
                  "TLS failure: the certificate does not match the name 127.0.0.1"},
        CheckCase{"foreign_authority", Certificate::Foreign, "localhost", Pin::None,
                  TlsFailure::UntrustedCertificate,
                  "TLS failure: untrusted certificate from localhost (unable to get local issuer "
                  "certificate)"},
        CheckCase{"expired", Certificate::Expired, "localhost", Pin::None,
                  TlsFailure::UntrustedCertificate,
                  "TLS failure: untrusted certificate from localhost (certificate has expired)"},
        CheckCase{"pinned_whoever_signed_it", Certificate::SelfSigned, "127.0.0.1",
                  Pin::ThisCertificate, std::nullopt, ""},
        CheckCase{"trusted_but_not_the_pinned_one", Certificate::NameAndAddress, "127.0.0.1",
                  Pin::AnotherCertificate, TlsFailure::PinMismatch,
                  "TLS failure: the certificate of 127.0.0.1 does not match the pinned "
                  "fingerprint (it has "}),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST_F(TlsClientTest, StalledHandshakeRunsIntoTheConnectLimit) {
  ScriptedServer server({{Stall()}});  // takes the client's hello and never answers
  MailClient client = Client(server.Port(), MailSecurity::ImplicitTls,
                             {.connect = 300ms, .reply = 60s, .dataEnd = 60s});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorText([&] { client.Connect(); }), "Socket Error # 110\r\nConnection timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_FALSE(client.Connected());
}

TEST_F(TlsClientTest, StopRequestEndsAStalledHandshakeWithinASecond) {
  ScriptedServer server({{Stall()}});
  MailClient client = Client(server.Port(), MailSecurity::ImplicitTls, {});  // limits: minutes
  std::chrono::steady_clock::time_point requested;
  std::thread stopper([&] {
    std::this_thread::sleep_for(200ms);  // the event under test, not a wait for readiness
    requested = std::chrono::steady_clock::now();
    RequestStop();
  });
  EXPECT_EQ(ErrorText([&] { client.Connect(); }), "Program terminated");
  const auto ended = std::chrono::steady_clock::now();
  stopper.join();
  ResetStopRequest();
  EXPECT_LT(ended - requested, 1s);
  EXPECT_FALSE(client.Connected());
}

TEST_F(TlsClientTest, BytesAfterTheUpgradeReplyAreRefused) {
  // Whatever follows the agreement in the same plain-text read could be an attacker's, and
  // would be taken as the first reply over TLS.
  ScriptedServer server({{Say("220 hi"), Hear(), SayRaw("220 go ahead\r\n250 injected\r\n"),
                          ServeTls(authority_.Issue("IP:127.0.0.1").pem)}});
  MailClient client = Client(server.Port(), MailSecurity::StartTls);
  client.Connect();
  client.ReadReply({220});
  client.SendCommand("STARTTLS", {220});
  EXPECT_EQ(ErrorText([&] { client.StartTls(); }),
            "TLS failure: 127.0.0.1 sent more before the TLS handshake");
  EXPECT_FALSE(client.Connected());
}

TEST_F(TlsClientTest, LargeDataCrossesTheSessionIntact) {
  // Far more than one TLS record or socket buffer, in both directions.
  std::string block;
  for (int i = 0; i < 20000; ++i) block += "line " + std::to_string(i) + " of the block\r\n";
  ScriptedServer server({{ServeTls(authority_.Issue("IP:127.0.0.1").pem), test::HearData(),
                          SayRaw(block + ".\r\n")}});
  MailClient client = Client(server.Port(), MailSecurity::ImplicitTls);
  client.Connect();
  client.WriteData(block + ".\r\n");
  std::vector<std::string> lines;
  client.CaptureLines(lines);
  ASSERT_EQ(lines.size(), 20000u);
  EXPECT_EQ(lines[12345], "line 12345 of the block");
  const Lines transcript = server.Transcript();
  ASSERT_EQ(transcript.size(), 20003u);
  EXPECT_EQ(transcript[2 + 19999], "line 19999 of the block");
}

TEST_F(TlsClientTest, SettingsThatCannotBeHonouredNeverConnect) {
  ScriptedServer server({{Stall()}});
  MailClient client = Client(server.Port(), MailSecurity::Unknown);
  EXPECT_EQ(ErrorText([&] { client.Connect(); }),
            "Unknown security setting: not connecting to 127.0.0.1");
  client.security = MailSecurity::StartTls;
  client.tlsFingerprint = "12:34";
  EXPECT_EQ(ErrorText([&] { client.Connect(); }),
            "Invalid TLS fingerprint setting: not connecting to 127.0.0.1");
  EXPECT_EQ(server.Connections(), 0);
}

}  // namespace
}  // namespace orvex
