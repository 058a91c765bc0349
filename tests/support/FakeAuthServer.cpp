// One connection at a time: TLS handshake, one request, one reply, close.
#include "support/FakeAuthServer.h"

#include "support/TestCertificates.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace orvex::test {
namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && Hex(text[i + 1]) >= 0 &&
               Hex(text[i + 2]) >= 0) {
      out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> ParseForm(std::string_view body) {
  std::map<std::string, std::string> form;
  while (!body.empty()) {
    const auto amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    const auto equals = pair.find('=');
    if (equals != std::string_view::npos)
      form[Decode(pair.substr(0, equals))] = Decode(pair.substr(equals + 1));
    if (amp == std::string_view::npos) break;
    body.remove_prefix(amp + 1);
  }
  return form;
}

HttpReply OAuthError(const std::string& code) {
  return {400, "{\"error\":\"" + code + "\"}", {}};
}

FakeAuthServer::FakeAuthServer(const std::string& pem, Handler handler)
    : pem_(pem), handler_(std::move(handler)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 16) != 0 || ::pipe(wakeFds_) != 0)
    throw std::runtime_error("FakeAuthServer cannot listen");
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

FakeAuthServer::~FakeAuthServer() {
  [[maybe_unused]] const ssize_t n = ::write(wakeFds_[1], "x", 1);
  thread_.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

std::string FakeAuthServer::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpRequest> FakeAuthServer::Requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<HttpRequest> FakeAuthServer::RequestsTo(const std::string& path) const {
  std::vector<HttpRequest> matching;
  for (const HttpRequest& request : Requests())
    if (request.target.substr(0, request.target.find('?')) == path) matching.push_back(request);
  return matching;
}

void FakeAuthServer::Run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Serve(fd);
    ::close(fd);
  }
}

void FakeAuthServer::Serve(int fd) {
  const TlsServerSession session = AcceptTls(fd, pem_, std::chrono::seconds(5));
  if (!session) return;
  SSL* ssl = session.get();
  std::string data;
  char chunk[4096];
  std::size_t headerEnd = std::string::npos;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos && data.size() < 65536) {
    const int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return;
    data.append(chunk, static_cast<std::size_t>(n));
  }
  if (headerEnd == std::string::npos) return;
  HttpRequest request;
  const std::string head = data.substr(0, headerEnd);
  const auto lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  const auto first = requestLine.find(' ');
  const auto second = requestLine.find(' ', first + 1);
  request.method = requestLine.substr(0, first);
  request.target = requestLine.substr(first + 1, second - first - 1);
  std::size_t contentLength = 0;
  for (std::size_t at = lineEnd; at != std::string::npos && at < head.size();) {
    const auto next = head.find("\r\n", at + 2);
    std::string line =
        head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
    for (std::size_t i = 0; i < line.size() && line[i] != ':'; ++i)
      line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
    if (line.rfind("content-length:", 0) == 0)
      contentLength = std::strtoul(line.c_str() + 15, nullptr, 10);
    at = next;
  }
  request.body = data.substr(headerEnd + 4);
  while (request.body.size() < contentLength && contentLength < 1024 * 1024) {
    const int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return;
    request.body.append(chunk, static_cast<std::size_t>(n));
  }
  request.form = ParseForm(request.body);
  if (const auto question = request.target.find('?'); question != std::string::npos)
    request.query = ParseForm(std::string_view(request.target).substr(question + 1));
  {
    const std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  const HttpReply reply = handler_(request);
  const int status = reply.location.empty() ? reply.status : 302;
  std::string text = "HTTP/1.1 " + std::to_string(status) + " Scripted\r\n";
  if (!reply.location.empty()) text += "Location: " + reply.location + "\r\n";
  text += "Content-Type: application/json\r\nContent-Length: " + std::to_string(reply.body.size()) +
          "\r\nConnection: close\r\n\r\n" + reply.body;
  std::size_t sent = 0;
  while (sent < text.size()) {
    const int n = SSL_write(ssl, text.data() + sent, static_cast<int>(text.size() - sent));
    if (n <= 0) break;  // the client went away (a reply over its limit)
    sent += static_cast<std::size_t>(n);
  }
  SSL_shutdown(ssl);
  ERR_clear_error();
}

}  // namespace orvex::test
