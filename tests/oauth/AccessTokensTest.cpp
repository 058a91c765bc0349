// The service's token logic against a scripted token endpoint: reuse, refresh within five
// minutes of expiry, rotation, invalid_grant and an unreachable endpoint, each said once a cycle.
#include "oauth/AccessTokens.h"

#include <gtest/gtest.h>

#include <deque>

#include "oauth/TokenStore.h"
#include "store/IniFile.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using Lines = std::vector<std::string>;
constexpr long long kNow = 1'800'000'000;

// Replies in order; an empty body stands for an unreachable server.
class ScriptedHttp final : public HttpClient {
 public:
  HttpResponse PostForm(const std::string& url, const FormFields& fields) override {
    posts.push_back({url, fields});
    if (replies.empty()) throw HttpError("no reply scripted");
    HttpResponse reply = replies.front();
    replies.pop_front();
    if (reply.body.empty()) throw HttpError("Cannot reach " + url + ": Connection refused");
    return reply;
  }
  struct Post {
    std::string url;
    FormFields fields;
  };
  std::vector<Post> posts;
  std::deque<HttpResponse> replies;
};

std::string Field(const FormFields& fields, const std::string& name) {
  for (const auto& [key, value] : fields)
    if (key == name) return value;
  return "<absent>";
}

class AccessTokensTest : public testing::Test {
 protected:
  AccessTokensTest() {
    config_.WriteString("General", "OAuthTokenUrl", "https://auth.test/token");
    config_.WriteString("General", "OAuthClientId", "client-1");
    config_.WriteString("General", "OAuthClientSecret", "enciphered");
  }
  void Store(const StoredTokens& tokens) {
    TokenStore store(list_);
    store.Put("a@x.test", tokens);
    store.Save();
  }
  std::optional<std::string> Get() { return tokens_.Get(list_, config_, "a@x.test"); }
  StoredTokens Stored() const { return *TokenStore(list_).Find("a@x.test"); }
  void ExpectNoTokenLogged() const {
    for (const std::string& line : log_.Texts())
      for (const char* secret : {"R1", "R2", "A1", "A2"})
        EXPECT_EQ(line.find(secret), std::string::npos) << line;
  }

  test::TempDirectory dir_;
  std::string list_ = dir_.MakeList("sales");
  IniFile config_ = IniFile::FromText("");
  ScriptedHttp http_;
  test::RecordingLogger log_;
  long long now_ = kNow;
  AccessTokens tokens_{http_, log_, [](const std::string& s) { return "secret-of-" + s; },
                       [this] { return now_; }};
};

TEST_F(AccessTokensTest, ValidTokenIsUsedWithoutAskingTheServer) {
  Store({"R1", "A1", kNow + AccessTokens::kRefreshMargin + 1});
  EXPECT_EQ(Get(), "A1");
  EXPECT_EQ(Get(), "A1");
  EXPECT_TRUE(http_.posts.empty());
  EXPECT_TRUE(log_.Texts().empty());
}

TEST_F(AccessTokensTest, TokenNearItsExpiryIsRefreshedOnceAndARotatedRefreshTokenKept) {
  Store({"R1", "A1", kNow + AccessTokens::kRefreshMargin});
  http_.replies.push_back(
      {200,
       R"({"access_token":"A2","refresh_token":"R2","expires_in":3599,"token_type":"Bearer"})"});
  EXPECT_EQ(Get(), "A2");
  ASSERT_EQ(http_.posts.size(), 1u);
  const FormFields& sent = http_.posts[0].fields;
  EXPECT_EQ(http_.posts[0].url, "https://auth.test/token");
  EXPECT_EQ(Field(sent, "grant_type"), "refresh_token");
  EXPECT_EQ(Field(sent, "refresh_token"), "R1");
  EXPECT_EQ(Field(sent, "client_id"), "client-1");
  EXPECT_EQ(Field(sent, "client_secret"), "secret-of-enciphered");
  // Stored at once, before any connection uses it.
  EXPECT_EQ(Stored().refreshToken, "R2");
  EXPECT_EQ(Stored().accessToken, "A2");
  EXPECT_EQ(Stored().accessTokenExpires, kNow + 3599);
  // Every further connection of the cycle, and of the next, takes the stored token.
  EXPECT_EQ(Get(), "A2");
  tokens_.NewCycle(list_);
  EXPECT_EQ(Get(), "A2");
  EXPECT_EQ(http_.posts.size(), 1u);

  // A server that keeps the refresh token sends none: the old one stays.
  now_ = kNow + 3599;
  tokens_.NewCycle(list_);
  http_.replies.push_back({200, R"({"access_token":"A3"})"});
  EXPECT_EQ(Get(), "A3");
  EXPECT_EQ(Stored().refreshToken, "R2");
  EXPECT_EQ(Stored().accessTokenExpires, now_ + 3600);
  EXPECT_TRUE(log_.Texts().empty());
}

TEST_F(AccessTokensTest, RevokedSignInIsSaidOnceACycleAndNotAskedAgain) {
  Store({"R1", "A1", kNow - 10});
  http_.replies.push_back({400, R"({"error":"invalid_grant","error_description":"revoked"})"});
  EXPECT_EQ(Get(), std::nullopt);
  EXPECT_EQ(Get(), std::nullopt);  // the SMTP stage of the same cycle: no second line
  const Lines expected = {
      "OAuth 2.0 sign-in of a@x.test (list sales) was revoked or has expired (invalid_grant): "
      "run `orvex-admin oauth login sales --account a@x.test`; the account is passed over this "
      "cycle"};
  EXPECT_EQ(log_.Texts(LogColour::Red), expected);
  // Next cycle: said again, but the refused refresh token is not sent again.
  tokens_.NewCycle(list_);
  EXPECT_EQ(Get(), std::nullopt);
  EXPECT_EQ(log_.Texts(LogColour::Red).size(), 2u);
  EXPECT_EQ(http_.posts.size(), 1u);
  // After a new login the new refresh token is tried.
  Store({"R2", "", 0});
  tokens_.NewCycle(list_);
  http_.replies.push_back({200, R"({"access_token":"A2","expires_in":3600})"});
  EXPECT_EQ(Get(), "A2");
  ExpectNoTokenLogged();
}

TEST_F(AccessTokensTest, FailuresPassTheAccountOverUntilTheNextCycle) {
  struct Case {
    const char* name;
    std::optional<StoredTokens> stored;
    long status;
    const char* body;  // empty: unreachable
    std::string line;
  } cases[] = {
      {"unreachable", StoredTokens{"R1", "A1", 0}, 0, "",
       "Cannot refresh the OAuth 2.0 token of a@x.test (list sales): Cannot reach "
       "https://auth.test/token: Connection refused; the next cycle tries again"},
      {"server error", StoredTokens{"R1", "A1", 0}, 500, "<html>oops</html>",
       "The token endpoint refused to refresh the OAuth 2.0 token of a@x.test (list sales): http "
       "500; the next cycle tries again"},
      {"never signed in", std::nullopt, 0, "",
       "No OAuth 2.0 sign-in for a@x.test of list sales: run `orvex-admin oauth login sales "
       "--account a@x.test`; the account is passed over this cycle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDirectory dir;
    list_ = dir.MakeList("sales");
    log_.entries.clear();
    http_.posts.clear();
    if (c.stored) Store(*c.stored);
    if (c.stored) http_.replies.push_back({c.status, c.body});
    EXPECT_EQ(Get(), std::nullopt);
    EXPECT_EQ(Get(), std::nullopt);
    EXPECT_EQ(log_.Texts(LogColour::Red), Lines{c.line});
    EXPECT_EQ(http_.posts.size(), c.stored ? 1u : 0u);
    // The next cycle tries again, and a good answer ends the trouble.
    tokens_.NewCycle(list_);
    if (c.stored) {
      http_.replies.push_back({200, R"({"access_token":"A2","expires_in":3600})"});
      EXPECT_EQ(Get(), "A2");
    }
    ExpectNoTokenLogged();
  }
}

}  // namespace
}  // namespace orvex
