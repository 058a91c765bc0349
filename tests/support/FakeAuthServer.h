// A scripted OAuth 2.0 authorisation server over TLS on loopback: every request (device, token,
// authorize, introspection endpoints alike) is recorded and answered by the test's handler.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

struct HttpRequest {
  std::string method;
  std::string target;  // path and query
  std::string body;
  std::map<std::string, std::string> form;   // the body's form fields, decoded
  std::map<std::string, std::string> query;  // the target's query fields, decoded
};

// The fields of "a=1&b=2", decoded.
std::map<std::string, std::string> ParseForm(std::string_view text);

struct HttpReply {
  int status = 200;
  std::string body;      // JSON as a rule
  std::string location;  // sent as Location (with a 302 status)
};

// An OAuth JSON reply: {"error": "<code>"} with status 400.
HttpReply OAuthError(const std::string& code);

class FakeAuthServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;
  // `pem`: the certificate and key (TestCertificateAuthority::Issue("IP:127.0.0.1")).
  FakeAuthServer(const std::string& pem, Handler handler);
  ~FakeAuthServer();
  FakeAuthServer(const FakeAuthServer&) = delete;
  FakeAuthServer& operator=(const FakeAuthServer&) = delete;

  int Port() const { return port_; }
  std::string Url(const std::string& path) const;
  std::vector<HttpRequest> Requests() const;
  // The requests to one path (query left off).
  std::vector<HttpRequest> RequestsTo(const std::string& path) const;

 private:
  void Run();
  void Serve(int fd);

  std::string pem_;
  Handler handler_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

}  // namespace orvex::test
