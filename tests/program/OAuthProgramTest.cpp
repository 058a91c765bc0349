// OAuth 2.0 end to end with the real programs: orvex-admin signs in by the device flow and by the
// browser flow against a scripted authorisation server over TLS, and the service refreshes an
// expired token, fetches and delivers with it, keeps a rotated refresh token, and passes over an
// account whose sign-in was revoked or whose token server cannot be reached while the other
// lists go on.
#include <curl/curl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "oauth/BrowserFlow.h"
#include "platform/FileSystem.h"
#include "store/IniFile.h"
#include "support/ChildProcess.h"
#include "support/FakeAuthServer.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::FakeAuthServer;
using test::Hear;
using test::HttpReply;
using test::HttpRequest;
using test::Say;
using test::SayRaw;
using test::ScriptedServer;
using Lines = std::vector<std::string>;

const std::string kAdmin = std::string(ORVEX_BUILD_DIR) + "/orvex-admin";

int Mode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

using test::Flat;

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Removes an environment variable while it lives.
class ScopedUnset {
 public:
  explicit ScopedUnset(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) old_ = value;
    ::unsetenv(name);
  }
  ~ScopedUnset() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
  }
  ScopedUnset(const ScopedUnset&) = delete;
  ScopedUnset& operator=(const ScopedUnset&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A GET as a browser makes it, without following redirects: the status, the Location and the body.
struct Page {
  long status = 0;
  std::string location, body;
};
std::size_t Append(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}
Page Browse(const std::string& url) {
  Page page;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (const char* file = std::getenv("SSL_CERT_FILE")) curl_easy_setopt(curl, CURLOPT_CAINFO, file);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &page.body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  if (curl_easy_perform(curl) == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &page.status);
    char* location = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
    if (location != nullptr) page.location = location;
  }
  curl_easy_cleanup(curl);
  return page;
}

class OAuthProgramTest : public testing::Test {
 protected:
  OAuthProgramTest() { std::filesystem::create_directories(dir_.Path() + "Data"); }

  // A list whose relay account signs in with OAuth 2.0 at `server`.
  void MakeList(const std::string& name, const FakeAuthServer& server,
                const std::string& extra = {}) const {
    dir_.MakeList(name);
    dir_.Write("Data/" + name + "/maillist.ini",
               "[General]\r\nName=" + name + "\r\nAddress=" + name + "@x.test\r\nControlAddress=" +
                   name + "-request@x.test\r\nFrom=" + name + "@x.test\r\nSMTPUser=" + name +
                   "@x.test\r\nSmtpAuthMethod=oauth2\r\nOAuthProvider=custom\r\n"
                   "OAuthClientId=client-1\r\nOAuthTokenUrl=" +
                   server.Url("/token") + "\r\nOAuthDeviceUrl=" + server.Url("/device") +
                   "\r\nOAuthAuthorizeUrl=" + server.Url("/authorize") +
                   "\r\nOAuthScope=mail offline\r\n" + extra);
  }
  test::ChildProcess Admin(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"--dir", dir_.Path()});
    return test::ChildProcess(kAdmin, arguments, dir_.Path());
  }
  std::string Path(const std::string& relative) const { return dir_.Path() + relative; }
  void ExpectNoToken(const std::string& text) const {
    for (const char* token : {"ACCESS-", "REFRESH-", "CODE-"})
      EXPECT_EQ(text.find(token), std::string::npos) << token << " in: " << text;
  }

  test::TempDirectory dir_;
  test::TestCertificateAuthority authority_;
  test::ScopedTrustStore trust_{authority_.CertificatePem(), dir_.Path()};
  std::string pem_ = authority_.Issue("IP:127.0.0.1").pem;
};

TEST_F(OAuthProgramTest, DeviceFlowSignsInOrSaysWhyNot) {
  struct Case {
    const char* name;
    Lines pollReplies;  // error codes in order; "" for the tokens
    int status;
    std::string said;
  } cases[] = {
      {"pending, then signed in", {"authorization_pending", ""}, 0, "Signed in birds@x.test"},
      {"declined", {"authorization_pending", "access_denied"}, 1, "declined (access_denied)"},
      {"expired", {"expired_token"}, 1, "The code expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t polls = 0;
    FakeAuthServer server(pem_, [&](const HttpRequest& request) -> HttpReply {
      if (request.target == "/device")
        return {200,
                R"({"device_code":"DEVICE-1","user_code":"WXYZ-1234","interval":1,
                    "verification_uri":"https://auth.test/device","expires_in":60})",
                {}};
      const std::string reply = polls < c.pollReplies.size() ? c.pollReplies[polls] : "";
      ++polls;
      if (!reply.empty()) return test::OAuthError(reply);
      return {
          200, R"({"access_token":"ACCESS-1","refresh_token":"REFRESH-1","expires_in":3600})", {}};
    });
    std::filesystem::remove_all(Path("Data/birds"));
    MakeList("birds", server);
    test::ChildProcess login = Admin({"oauth", "login", "birds"});
    ASSERT_EQ(login.WaitForExit(30s), c.status) << login.Stdout() << login.Stderr();
    const std::string said = login.Stdout() + login.Stderr();
    EXPECT_NE(said.find("open https://auth.test/device"), std::string::npos) << said;
    EXPECT_NE(said.find("enter the code WXYZ-1234"), std::string::npos) << said;
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    ExpectNoToken(said);

    const auto device = server.RequestsTo("/device");
    ASSERT_EQ(device.size(), 1u);
    EXPECT_EQ(device[0].form.at("client_id"), "client-1");
    EXPECT_EQ(device[0].form.at("scope"), "mail offline");
    const auto polled = server.RequestsTo("/token");
    ASSERT_EQ(polled.size(),
              std::max<std::size_t>(c.pollReplies.size(), 1) + (c.status == 0 ? 0 : 0));
    for (const HttpRequest& poll : polled) {
      EXPECT_EQ(poll.form.at("grant_type"), "urn:ietf:params:oauth:grant-type:device_code");
      EXPECT_EQ(poll.form.at("device_code"), "DEVICE-1");
    }
    if (c.status != 0) {
      EXPECT_FALSE(FileExists(Path("Data/birds/oauth.ini")));
      continue;
    }
    EXPECT_EQ(Mode(Path("Data/birds/oauth.ini")), 0600);
    const std::string stored = ReadWholeFile(Path("Data/birds/oauth.ini")).value_or("");
    EXPECT_NE(stored.find("[birds@x.test]"), std::string::npos);
    EXPECT_NE(stored.find("RefreshToken=REFRESH-1"), std::string::npos);
    EXPECT_NE(stored.find("AccessToken=ACCESS-1"), std::string::npos);

    test::ChildProcess status = Admin({"oauth", "status", "birds"});
    ASSERT_EQ(status.WaitForExit(30s), 0);
    EXPECT_NE(status.Stdout().find("birds@x.test  signed in"), std::string::npos)
        << status.Stdout();
    test::ChildProcess json = Admin({"--json", "oauth", "status", "birds"});
    ASSERT_EQ(json.WaitForExit(30s), 0);
    const auto parsed = nlohmann::json::parse(json.Stdout());
    EXPECT_EQ(parsed["accounts"][0]["state"], "signed in");
    EXPECT_EQ(parsed["accounts"][0]["refreshToken"], true);
    ExpectNoToken(status.Stdout() + json.Stdout());
  }
}

TEST_F(OAuthProgramTest, BrowserFlowTakesOnlyTheRedirectOfItsOwnState) {
  std::string challenge;
  FakeAuthServer server(pem_, [&](const HttpRequest& request) -> HttpReply {
    if (request.target.rfind("/authorize?", 0) == 0) {
      // The user signs in and the server sends the browser back with a code.
      challenge = request.query.at("code_challenge");
      if (request.query.at("code_challenge_method") != "S256") return test::OAuthError("x");
      return {302, "",
              request.query.at("redirect_uri") + "?code=CODE-1&state=" + request.query.at("state")};
    }
    // The code is exchanged only with the verifier that belongs to the challenge.
    if (request.form.at("grant_type") != "authorization_code" ||
        request.form.at("code") != "CODE-1" ||
        PkceChallenge(request.form.at("code_verifier")) != challenge)
      return test::OAuthError("invalid_grant");
    return {
        200, R"({"access_token":"ACCESS-1","refresh_token":"REFRESH-1","expires_in":3600})", {}};
  });
  MakeList("birds", server);
  // No desktop for the child: it must not open a real browser at the test's address.
  const ScopedUnset display("DISPLAY"), wayland("WAYLAND_DISPLAY");
  test::ChildProcess login = Admin({"oauth", "login", "birds", "--flow", "browser"});
  ASSERT_TRUE(login.WaitForOutput(server.Url("/authorize?"), 30s)) << login.Stderr();
  const std::string out = login.Stdout();
  const auto start = out.find(server.Url("/authorize?"));
  const std::string authorize = out.substr(start, out.find('\n', start) - start);
  const auto redirect =
      test::ParseForm(authorize.substr(authorize.find('?') + 1)).at("redirect_uri");
  ASSERT_EQ(redirect.rfind("http://127.0.0.1:", 0), 0u) << redirect;
  EXPECT_NE(out.find("ssh -L"), std::string::npos);

  // An answer that does not carry this sign-in's state is refused, and the wait goes on.
  const Page forged = Browse(redirect + "?code=CODE-FORGED&state=guess");
  EXPECT_EQ(forged.status, 400);
  const Page signIn = Browse(authorize);
  ASSERT_EQ(signIn.status, 302);
  const Page back = Browse(signIn.location);
  EXPECT_EQ(back.status, 200);
  EXPECT_NE(back.body.find("signed in"), std::string::npos) << back.body;
  ASSERT_EQ(login.WaitForExit(30s), 0) << login.Stdout() << login.Stderr();

  const auto exchanges = server.RequestsTo("/token");
  ASSERT_EQ(exchanges.size(), 1u);
  EXPECT_EQ(exchanges[0].form.at("code"), "CODE-1");
  EXPECT_EQ(exchanges[0].form.at("redirect_uri"), redirect);
  const std::string stored = ReadWholeFile(Path("Data/birds/oauth.ini")).value_or("");
  EXPECT_NE(stored.find("RefreshToken=REFRESH-1"), std::string::npos);
  EXPECT_NE(login.Stdout().find("wrong state was refused"), std::string::npos);
}

// POP3 with one message, from someone who is no member; only the bearer token ACCESS-2 is taken.
std::vector<test::ServerStep> Pop3Taking(const std::string& token) {
  const std::string challenge = "eyJzdGF0dXMiOiI0MDEifQ==";
  return {Say("+OK ready"),
          Hear(),
          SayRaw("+OK\r\nSASL XOAUTH2\r\n.\r\n"),
          test::HearBearer(token, "+ " + challenge, "-ERR refused"),
          Say("+OK signed in"),
          Hear(),
          Say("+OK 1 60"),
          Hear(),
          Say("-ERR"),
          Hear(),
          Say("-ERR"),
          Hear(),
          SayRaw("+OK\r\nFrom: stranger@y.test\r\nTo: birds@x.test\r\nSubject: hello\r\n\r\nhi\r\n"
                 ".\r\n"),
          Hear(),
          Say("+OK"),
          Hear(),
          Say("+OK bye")};
}

// A relay that takes the token and one message.
std::vector<test::ServerStep> RelayTaking(const std::string& token) {
  const std::string challenge = "eyJzdGF0dXMiOiI0MDEifQ==";
  return {Say("220 relay"),
          Hear(),
          Say("250-relay"),
          Say("250 AUTH XOAUTH2"),
          test::HearBearer(token, "334 " + challenge, "535 refused"),
          Say("235 accepted"),
          Hear(),
          Say("250 ok"),
          Hear(),
          Say("250 ok"),
          Hear(),
          Say("354 go on"),
          test::HearData(),
          Say("250 queued"),
          Hear(),
          Say("221 bye")};
}

TEST_F(OAuthProgramTest, CheckSignsInWithTheTokenAndSaysWhyAnAccountHasNone) {
  FakeAuthServer server(pem_, [](const HttpRequest&) { return test::OAuthError("invalid_grant"); });
  const std::string challenge = "eyJzdGF0dXMiOiI0MDEifQ==";
  ScriptedServer pop3({{Say("+OK ready"), Hear(), SayRaw("+OK\r\nSASL XOAUTH2\r\n.\r\n"),
                        test::HearBearer("ACCESS-1", "+ " + challenge, "-ERR refused"),
                        Say("+OK signed in"), Hear(), Say("+OK 0 0"), Hear()}});
  ScriptedServer relay({{Say("220 relay"), Hear(), Say("250-relay"), Say("250 AUTH XOAUTH2"),
                         test::HearBearer("ACCESS-1", "334 " + challenge, "535 refused"),
                         Say("235 accepted"), Hear()}});
  // Mailbox 2 is another account, whose sign-in was revoked.
  MakeList(
      "birds", server,
      "SmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(relay.Port()) +
          "\r\nPop3Count=2\r\nPop3Host1=127.0.0.1\r\nPop3Port1=" + std::to_string(pop3.Port()) +
          "\r\nName1=birds@x.test\r\nPop3AuthMethod1=oauth2\r\nPop3Host2=127.0.0.1\r\n"
          "Pop3Port2=1\r\nName2=owls@x.test\r\nPop3AuthMethod2=oauth2\r\n");
  dir_.Write("Data/birds/oauth.ini",
             "[birds@x.test]\r\nRefreshToken=REFRESH-1\r\nAccessToken=ACCESS-1\r\n"
             "AccessTokenExpires=4000000000\r\n[owls@x.test]\r\nRefreshToken=REFRESH-2\r\n");
  test::ChildProcess check = Admin({"check", "birds"});
  ASSERT_EQ(check.WaitForExit(60s), 1) << check.Stdout() << check.Stderr();
  const std::string out = Flat(check.Stdout());
  EXPECT_NE(out.find("ok done ok: +OK 0 0"), std::string::npos) << out;
  EXPECT_NE(out.find("ok done ok: logged in as birds@x.test (OAuth 2.0)"), std::string::npos)
      << out;
  EXPECT_NE(out.find("FAILED token OAuth 2.0 sign-in of owls@x.test (list birds) was revoked"),
            std::string::npos)
      << out;
  ExpectNoToken(out);
  EXPECT_EQ(server.RequestsTo("/token").size(), 1u);  // only the account without a valid token
}

TEST_F(OAuthProgramTest, ServiceRefreshesFetchesAndDeliversAndPassesOverWhatItCannotSignIn) {
  FakeAuthServer server(pem_, [](const HttpRequest& request) -> HttpReply {
    if (request.form.at("grant_type") != "refresh_token")
      return test::OAuthError("invalid_request");
    if (request.form.at("refresh_token") == "REFRESH-1")
      return {
          200, R"({"access_token":"ACCESS-2","refresh_token":"REFRESH-2","expires_in":3600})", {}};
    return {400, R"({"error":"invalid_grant","error_description":"revoked"})", {}};
  });
  ScriptedServer pop3({Pop3Taking("ACCESS-2")});
  ScriptedServer relay({RelayTaking("ACCESS-2")});
  std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", Path("orvex"));
  // birds: POP3 and relay by OAuth 2.0, its access token expired an hour ago.
  MakeList(
      "birds", server,
      "SmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(relay.Port()) +
          "\r\nPop3Count=1\r\nPop3Host1=127.0.0.1\r\nPop3Port1=" + std::to_string(pop3.Port()) +
          "\r\nName1=birds@x.test\r\nPop3AuthMethod1=oauth2\r\n");
  const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  dir_.Write("Data/birds/oauth.ini",
             "[birds@x.test]\r\nRefreshToken=REFRESH-1\r\nAccessToken=ACCESS-OLD\r\n"
             "AccessTokenExpires=" +
                 std::to_string(now - 3600) + "\r\n");
  // fish: its sign-in was revoked. owls: its token server is gone.
  for (const char* name : {"fish", "owls"}) {
    MakeList(name, server, "SmtpHost=127.0.0.1\r\nSmtpPort=1\r\nPop3Count=0\r\n");
    dir_.Write(std::string("Data/") + name + "/oauth.ini",
               std::string("[") + name + "@x.test]\r\nRefreshToken=REFRESH-" + name +
                   "\r\nAccessToken=\r\nAccessTokenExpires=0\r\n");
    dir_.Write(std::string("Data/") + name + "/Outbox/A.pri",
               "someone@y.test\r\nSubject: x\r\n\r\nx\r\n");
  }
  {
    IniFile owls(Path("Data/owls/maillist.ini"));
    owls.WriteString("General", "OAuthTokenUrl", "https://127.0.0.1:1/token");
    owls.Save();
  }

  test::ChildProcess service(Path("orvex"), {}, dir_.Path());
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (Occurrences(service.Stdout(), "Idle") < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(100ms);
  service.Signal(SIGTERM);
  ASSERT_TRUE(service.WaitForExit(20s).has_value());
  const std::string log = Flat(service.Stdout());
  ASSERT_GE(Occurrences(log, "Idle"), 3) << log;

  // One refresh served the POP3 and the SMTP connection; the rotated refresh token is kept.
  const auto refreshes = server.RequestsTo("/token");
  ASSERT_EQ(refreshes.size(), 2u);  // birds and fish; owls' server is unreachable
  const std::string stored = ReadWholeFile(Path("Data/birds/oauth.ini")).value_or("");
  EXPECT_NE(stored.find("RefreshToken=REFRESH-2"), std::string::npos) << stored;
  EXPECT_NE(stored.find("AccessToken=ACCESS-2"), std::string::npos) << stored;
  EXPECT_EQ(Mode(Path("Data/birds/oauth.ini")), 0600);
  const Lines fetched = pop3.Transcript();
  ASSERT_GE(fetched.size(), 4u);
  EXPECT_EQ(fetched[2].rfind("AUTH XOAUTH2 ", 0), 0u) << fetched[2];
  const Lines delivered = relay.Transcript();
  ASSERT_GE(delivered.size(), 5u) << log;
  EXPECT_EQ(delivered[2].rfind("AUTH XOAUTH2 ", 0), 0u) << delivered[2];
  EXPECT_EQ(delivered[4], "RCPT TO: <stranger@y.test>");
  EXPECT_TRUE(test::FileNamesIn(Path("Data/birds/Outbox")).empty());

  // The others are passed over with one line each; their mail waits.
  EXPECT_EQ(Occurrences(log, "was revoked or has expired (invalid_grant)"), 1) << log;
  EXPECT_NE(log.find("orvex-admin oauth login fish --account fish@x.test"), std::string::npos);
  EXPECT_EQ(Occurrences(log, "Cannot refresh the OAuth 2.0 token of owls@x.test"), 1) << log;
  EXPECT_NE(log.find("the next cycle tries again"), std::string::npos);
  EXPECT_EQ(test::FileNamesIn(Path("Data/fish/Outbox")), Lines{"A.pri"});
  EXPECT_EQ(test::FileNamesIn(Path("Data/owls/Outbox")), Lines{"A.pri"});
  ExpectNoToken(log);
}

}  // namespace
}  // namespace orvex
