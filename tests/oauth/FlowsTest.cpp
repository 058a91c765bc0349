// The sign-in flows as state machines, without a network: the device flow's polling (pending,
// slow_down, denied, expired) and the browser flow's redirect (code, state mismatch, denial).
#include <gtest/gtest.h>

#include "oauth/BrowserFlow.h"
#include "oauth/DeviceFlow.h"
#include "oauth/TokenReply.h"

namespace orvex {
namespace {

constexpr long long kStart = 1'000'000;

TokenReply Reply(int status, const std::string& body) {
  return ParseTokenReply({status, body});
}

DeviceFlow StartedFlow() {
  return DeviceFlow(ParseDeviceAuthorization({200, R"({"device_code":"D1","user_code":"ABCD-EFGH",
        "verification_uri":"https://auth.test/device","interval":5,"expires_in":900})"},
                                             kStart),
                    kStart);
}

TEST(DeviceFlowTest, PollsAtTheServersPaceUntilItEnds) {
  DeviceFlow flow = StartedFlow();
  EXPECT_EQ(flow.Authorization().userCode, "ABCD-EFGH");
  EXPECT_EQ(flow.NextPoll(), kStart + 5);
  OAuthClient client;
  client.clientId = "c1";
  const FormFields poll = flow.PollRequest(client);
  EXPECT_EQ(poll[0].second, "urn:ietf:params:oauth:grant-type:device_code");
  EXPECT_EQ(poll[1].second, "D1");

  // Pending: the same interval again; slow_down: five seconds more, from then on.
  EXPECT_EQ(flow.OnReply(Reply(400, R"({"error":"authorization_pending"})"), kStart + 5),
            DeviceFlow::State::Waiting);
  EXPECT_EQ(flow.NextPoll(), kStart + 10);
  EXPECT_EQ(flow.OnReply(Reply(400, R"({"error":"slow_down"})"), kStart + 10),
            DeviceFlow::State::Waiting);
  EXPECT_EQ(flow.NextPoll(), kStart + 20);
  EXPECT_EQ(flow.OnReply(Reply(400, R"({"error":"authorization_pending"})"), kStart + 20),
            DeviceFlow::State::Waiting);
  EXPECT_EQ(flow.NextPoll(), kStart + 30);
  EXPECT_EQ(flow.OnReply(Reply(200, R"({"access_token":"A","refresh_token":"R","expires_in":60})"),
                         kStart + 30),
            DeviceFlow::State::Done);
  EXPECT_EQ(flow.Tokens().refreshToken, "R");
  EXPECT_EQ(flow.Tokens().expiresIn, 60);
}

TEST(DeviceFlowTest, EndsOnDenialExpiryAndOtherErrors) {
  struct Case {
    const char* name;
    HttpResponse reply;
    long long at;
    DeviceFlow::State state;
  } cases[] = {
      {"denied", {400, R"({"error":"access_denied"})"}, kStart + 5, DeviceFlow::State::Denied},
      {"expired token",
       {400, R"({"error":"expired_token"})"},
       kStart + 5,
       DeviceFlow::State::Expired},
      {"pending past the lifetime",
       {400, R"({"error":"authorization_pending"})"},
       kStart + 900,
       DeviceFlow::State::Expired},
      {"bad client", {401, R"({"error":"invalid_client"})"}, kStart + 5, DeviceFlow::State::Failed},
      {"not json", {502, "Bad Gateway"}, kStart + 5, DeviceFlow::State::Failed},
  };
  for (const Case& c : cases) {
    DeviceFlow flow = StartedFlow();
    EXPECT_EQ(flow.OnReply(ParseTokenReply(c.reply), c.at), c.state) << c.name;
    // An ended flow stays ended.
    EXPECT_EQ(flow.OnReply(Reply(200, R"({"access_token":"A"})"), c.at + 5), c.state) << c.name;
  }
  DeviceFlow flow = StartedFlow();
  EXPECT_EQ(flow.CheckExpiry(kStart + 899), DeviceFlow::State::Waiting);
  EXPECT_EQ(flow.CheckExpiry(kStart + 900), DeviceFlow::State::Expired);
}

TEST(DeviceFlowTest, RefusedOrIncompleteDeviceRepliesAreErrors) {
  for (const HttpResponse& reply :
       {HttpResponse{400, R"({"error":"invalid_scope"})"},
        HttpResponse{200, R"({"device_code":"D1","verification_uri":"https://x"})"},
        HttpResponse{200, "not json"}})
    EXPECT_THROW(ParseDeviceAuthorization(reply, kStart), Error) << reply.body;
  // Google's verification_url, and an interval far too long for a person waiting.
  const DeviceAuthorization google = ParseDeviceAuthorization(
      {200,
       R"({"device_code":"D","user_code":"U","verification_url":"https://g.test","interval":"3600"})"},
      kStart);
  EXPECT_EQ(google.verificationUri, "https://g.test");
  EXPECT_EQ(google.interval, 60);
  EXPECT_EQ(google.expiresAt, kStart + 900);
}

TEST(BrowserFlowTest, PkceChallengeOfTheRfcExample) {
  // RFC 7636, appendix B.
  EXPECT_EQ(PkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(BrowserFlowTest, AuthorizeAddressAndRedirects) {
  OAuthClient client = ProviderPreset(OAuthProvider::Google, "");
  client.clientId = "c 1";
  const BrowserFlow flow(client, "http://127.0.0.1:8765/", "S1",
                         "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
  EXPECT_EQ(flow.AuthorizeUrl(),
            "https://accounts.google.com/o/oauth2/v2/auth?response_type=code&client_id=c%201"
            "&redirect_uri=http%3A%2F%2F127.0.0.1%3A8765%2F&scope=https%3A%2F%2Fmail.google.com%2F"
            "&state=S1&code_challenge=E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"
            "&code_challenge_method=S256&access_type=offline&prompt=consent");

  using Outcome = BrowserFlow::Outcome;
  struct Case {
    const char* target;
    Outcome outcome;
    std::string detail;  // the code, or the error
  } cases[] = {
      {"/?state=S1&code=4%2F0Ab-x", Outcome::Code, "4/0Ab-x"},
      {"/?code=C&state=S2", Outcome::StateMismatch, ""},
      {"/?code=C", Outcome::StateMismatch, ""},
      {"/?error=access_denied&state=S1", Outcome::Denied, "access_denied"},
      {"/?error=access_denied&error_description=no%0Athanks&state=S1", Outcome::Denied,
       "access_denied (no?thanks)"},
      {"/?error=access_denied&state=S9", Outcome::StateMismatch, ""},
      {"/favicon.ico", Outcome::NotTheRedirect, ""},
      {"/", Outcome::NotTheRedirect, ""},
      {"/other?code=C&state=S1", Outcome::NotTheRedirect, ""},
  };
  for (const Case& c : cases) {
    const BrowserFlow::Redirect redirect = flow.OnRequest(c.target);
    EXPECT_EQ(redirect.outcome, c.outcome) << c.target;
    EXPECT_EQ(c.outcome == Outcome::Code ? redirect.code : redirect.error, c.detail) << c.target;
  }
  const FormFields exchange = flow.TokenRequest("4/0Ab-x");
  EXPECT_EQ(exchange[0].second, "authorization_code");
  EXPECT_EQ(exchange[2].second, "http://127.0.0.1:8765/");
  EXPECT_EQ(exchange[4].first, "code_verifier");
}

TEST(ProviderPresetTest, MicrosoftTenantAndMailScopes) {
  const OAuthClient microsoft = ProviderPreset(OAuthProvider::Microsoft, "consumers");
  EXPECT_EQ(microsoft.deviceUrl,
            "https://login.microsoftonline.com/consumers/oauth2/v2.0/devicecode");
  EXPECT_EQ(microsoft.tokenUrl, "https://login.microsoftonline.com/consumers/oauth2/v2.0/token");
  EXPECT_EQ(microsoft.scope,
            "offline_access https://outlook.office.com/POP.AccessAsUser.All "
            "https://outlook.office.com/SMTP.Send");
  EXPECT_EQ(ProviderPreset(OAuthProvider::Microsoft, "").authorizeUrl,
            "https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
  EXPECT_TRUE(ProviderPreset(OAuthProvider::Custom, "x").tokenUrl.empty());
}

}  // namespace
}  // namespace orvex
