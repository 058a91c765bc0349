// The HTTPS client against a scripted server on loopback: a form post and its reply, the trust
// store, the bound on a reply, an unreachable server; and the browser flow's loopback listener.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <thread>

#include "oauth/BrowserFlow.h"
#include "oauth/HttpClient.h"
#include "support/FakeAuthServer.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"

namespace orvex {
namespace {

using test::FakeAuthServer;
using test::HttpReply;
using test::HttpRequest;

class HttpsTest : public testing::Test {
 protected:
  test::TempDirectory dir_;
  test::TestCertificateAuthority authority_;
  test::ScopedTrustStore trust_{authority_.CertificatePem(), dir_.Path()};
  std::string pem_ = authority_.Issue("IP:127.0.0.1").pem;
  CurlHttpClient http_;
};

TEST_F(HttpsTest, PostsAFormAndReturnsTheReplyOfAnyStatus) {
  FakeAuthServer server(pem_, [](const HttpRequest& request) {
    return request.form.at("grant_type") == "refresh_token"
               ? HttpReply{200, R"({"access_token":"A"})", {}}
               : test::OAuthError("unsupported_grant_type");
  });
  const HttpResponse ok = http_.PostForm(
      server.Url("/token"), {{"grant_type", "refresh_token"}, {"refresh_token", "a+b/c= &d"}});
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, R"({"access_token":"A"})");
  const HttpResponse refused = http_.PostForm(server.Url("/token"), {{"grant_type", "x"}});
  EXPECT_EQ(refused.status, 400);
  const auto requests = server.RequestsTo("/token");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, "grant_type=refresh_token&refresh_token=a%2Bb%2Fc%3D%20%26d");
  EXPECT_EQ(requests[0].form.at("refresh_token"), "a+b/c= &d");
}

TEST_F(HttpsTest, RefusesUntrustedServersOversizedRepliesAndPlainHttp) {
  FakeAuthServer untrusted(test::TestCertificateAuthority::SelfSigned("IP:127.0.0.1").pem,
                           [](const HttpRequest&) {
                             return HttpReply{200, "{}", {}};
                           });
  EXPECT_THROW(http_.PostForm(untrusted.Url("/token"), {}), HttpError);
  EXPECT_TRUE(untrusted.Requests().empty());  // nothing was sent to it

  FakeAuthServer flooding(pem_, [](const HttpRequest&) {
    return HttpReply{200, std::string(CurlHttpClient::kMaximumReply + 1, 'x'), {}};
  });
  try {
    http_.PostForm(flooding.Url("/token"), {});
    ADD_FAILURE() << "an oversized reply was taken";
  } catch (const HttpError& e) {
    EXPECT_NE(std::string(e.what()).find("longer than 65536 bytes"), std::string::npos) << e.what();
  }

  FakeAuthServer server(pem_, [](const HttpRequest&) { return HttpReply{200, "{}", {}}; });
  const std::string plain = "http://127.0.0.1:" + std::to_string(server.Port()) + "/token";
  EXPECT_THROW(http_.PostForm(plain, {}), HttpError);
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HttpsTest, UnreachableServerIsAnError) {
  int port = 0;
  {
    FakeAuthServer gone(pem_, [](const HttpRequest&) { return HttpReply{}; });
    port = gone.Port();
  }
  try {
    http_.PostForm("https://127.0.0.1:" + std::to_string(port) + "/token", {{"x", "y"}});
    ADD_FAILURE() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot reach https://127.0.0.1:", 0), 0u) << e.what();
  }
}

// A browser's request over a plain socket; returns the listener's whole answer.
std::string Browse(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  timeval limit{10, 0};  // a listener that never answers fails the test, not hangs it
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "<refused>";
  [[maybe_unused]] const ssize_t sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  ::close(fd);
  return answer;
}

TEST(LoopbackListenerTest, GivesEachRequestTargetAndBoundsTheRequest) {
  LoopbackListener listener(0);
  ASSERT_GT(listener.Port(), 0);
  std::string first, second;
  std::thread browser([&] {
    // A connection opened in advance and left idle, as browsers do, must not block the rest.
    const int idle = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(listener.Port()));
    ::connect(idle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // orders the scenario only
    first = Browse(listener.Port(), "GET " + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n");
    ::close(idle);
    second = Browse(listener.Port(), "GET /?code=C&state=S HTTP/1.1\r\nHost: x\r\n\r\n");
  });
  const auto target = listener.NextRequest(std::chrono::seconds(20));
  ASSERT_TRUE(target);
  EXPECT_EQ(target->substr(0, 100), "/?code=C&state=S");
  listener.Answer(200, "Signed in.");
  browser.join();
  EXPECT_EQ(first.rfind("HTTP/1.1 414", 0), 0u) << first;
  EXPECT_EQ(second.rfind("HTTP/1.1 200", 0), 0u) << second;
  EXPECT_NE(second.find("Signed in."), std::string::npos);
  // Nobody comes: the wait ends at its limit.
  EXPECT_FALSE(listener.NextRequest(std::chrono::seconds(1)));
}

}  // namespace
}  // namespace orvex
