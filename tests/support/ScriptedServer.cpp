// The scripted fake server: blocking reads with poll() limits so that a broken test cannot hang.
#include "support/ScriptedServer.h"

#include "support/TestCertificates.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <stdexcept>

namespace orvex::test {
namespace {

constexpr int kStepLimitMs = 20000;

enum class Ready { Yes, Timeout, Woken };

Ready WaitReadable(int fd, int wakeFd, int limitMs) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  const int n = ::poll(fds, 2, limitMs);
  if (n <= 0) return Ready::Timeout;
  if (fds[1].revents != 0) return Ready::Woken;
  return Ready::Yes;
}

void SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

void SendAll(SSL* ssl, int fd, const std::string& data) {
  if (ssl == nullptr) return SendAll(fd, data);
  if (!data.empty()) SSL_write(ssl, data.data(), static_cast<int>(data.size()));
}

using TlsSession = TlsServerSession;

// Line reader over one connection.
class Reader {
 public:
  Reader(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
  // False when the client closed, the wait timed out or the server is being destroyed.
  bool ReadLine(std::string& line) {
    for (;;) {
      const std::size_t lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        line = buffer_.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        buffer_.erase(0, lf + 1);
        return true;
      }
      if ((ssl_ == nullptr || SSL_pending(ssl_) == 0) &&
          WaitReadable(fd_, wakeFd_, kStepLimitMs) != Ready::Yes)
        return false;
      char chunk[65536];
      const ssize_t n = ssl_ != nullptr ? SSL_read(ssl_, chunk, sizeof chunk)
                                        : ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Every later read goes through the session.
  void Secure(SSL* ssl) { ssl_ = ssl; }
  bool HasBuffered() const { return !buffer_.empty(); }

 private:
  int fd_;
  int wakeFd_;
  SSL* ssl_ = nullptr;
  std::string buffer_;
};

// Whether the last word of an SASL line decodes to a response with this bearer token.
bool CarriesBearer(const std::string& line, const std::string& token) {
  const std::size_t space = line.rfind(' ');
  const std::string word = space == std::string::npos ? line : line.substr(space + 1);
  std::string decoded(word.size() / 4 * 3 + 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                reinterpret_cast<const unsigned char*>(word.data()),
                                static_cast<int>(word.size()));
  if (n < 0) return false;
  return decoded.find(
             "\x01"
             "auth=Bearer " +
             token + "\x01\x01") != std::string::npos;
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<std::vector<ServerStep>> scripts, ServerFamily family)
    : scripts_(std::move(scripts)) {
  if (::pipe(wakeFds_) != 0) throw std::runtime_error("pipe failed");
  const bool v6 = family == ServerFamily::IPv6;
  listenFd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket failed");
  int bound = -1;
  if (v6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bound = ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bound = ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (bound != 0 || ::listen(listenFd_, 8) != 0) throw std::runtime_error("bind/listen failed");
  sockaddr_storage actual{};
  socklen_t size = sizeof actual;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&actual), &size);
  port_ = v6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&actual)->sin6_port)
             : ntohs(reinterpret_cast<sockaddr_in*>(&actual)->sin_port);
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFds_[1], &byte, 1);
  if (thread_.joinable()) thread_.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

void ScriptedServer::Record(std::string line) {
  std::lock_guard lock(mutex_);
  transcript_.push_back(std::move(line));
}

std::vector<std::string> ScriptedServer::Transcript() {
  std::unique_lock lock(mutex_);
  done_.wait_for(lock, std::chrono::seconds(20), [this] { return finished_; });
  return transcript_;
}

void ScriptedServer::Run() {
  // TLS writes go through write(), which would raise SIGPIPE on a client that has gone; blocked
  // on this thread alone, the write fails with EPIPE instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  for (const auto& script : scripts_) {
    if (WaitReadable(listenFd_, wakeFds_[0], kStepLimitMs) != Ready::Yes) break;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) break;
    connections_.fetch_add(1);
    Record("<connect>");
    Reader reader(fd, wakeFds_[0]);
    TlsSession tls;
    std::string line;
    for (const auto& step : script) {
      bool goOn = true;
      switch (step.kind) {
        case ServerStep::Kind::Send:
          SendAll(tls.get(), fd, step.text + "\r\n");
          break;
        case ServerStep::Kind::SendRaw:
          SendAll(tls.get(), fd, step.text);
          break;
        case ServerStep::Kind::ReadLine:
          goOn = reader.ReadLine(line);
          Record(goOn ? line : "<closed>");
          break;
        case ServerStep::Kind::Bearer: {
          goOn = reader.ReadLine(line);
          Record(goOn ? line : "<closed>");
          const std::size_t split = step.text.find('\n');
          const std::size_t second = step.text.find('\n', split + 1);
          if (goOn && !CarriesBearer(line, step.text.substr(0, split))) {
            // The error challenge, the client's answer to it, the final refusal, and then only
            // the client's last words are recorded.
            SendAll(tls.get(), fd, step.text.substr(split + 1, second - split - 1) + "\r\n");
            if (reader.ReadLine(line)) {
              Record(line);
              SendAll(tls.get(), fd, step.text.substr(second + 1) + "\r\n");
              if (reader.ReadLine(line)) Record(line);
            }
            goOn = false;
          }
          break;
        }
        case ServerStep::Kind::ReadUntilDot:
          for (;;) {
            goOn = reader.ReadLine(line);
            Record(goOn ? line : "<closed>");
            if (!goOn || line == ".") break;
          }
          break;
        case ServerStep::Kind::Close:
          goOn = false;
          break;
        case ServerStep::Kind::Stall:
          while (goOn && WaitReadable(fd, wakeFds_[0], kStepLimitMs) == Ready::Yes) {
            char chunk[4096];
            if (::recv(fd, chunk, sizeof chunk, 0) <= 0) goOn = false;
          }
          goOn = false;
          break;
        case ServerStep::Kind::StartTls:
          if (reader.HasBuffered()) {
            Record("<plain text before tls>");
            goOn = false;
            break;
          }
          tls = AcceptTls(fd, step.text, std::chrono::milliseconds(kStepLimitMs));
          reader.Secure(tls.get());
          Record(tls ? "<tls>" : "<tls failed>");
          goOn = tls != nullptr;
          break;
        case ServerStep::Kind::Flood: {
          std::size_t sent = 0;
          for (;;) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFds_[0], POLLIN, 0}};
            if (::poll(fds, 2, kStepLimitMs) <= 0 || fds[1].revents != 0) break;
            if ((fds[0].revents & (POLLERR | POLLHUP)) != 0) break;
            const ssize_t n = ::send(fd, step.text.data() + sent, step.text.size() - sent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;
            if (n > 0) sent = (sent + static_cast<std::size_t>(n)) % step.text.size();
          }
          goOn = false;
          break;
        }
        case ServerStep::Kind::Deaf: {
          pollfd wake{wakeFds_[0], POLLIN, 0};
          ::poll(&wake, 1, kStepLimitMs);
          goOn = false;
          break;
        }
      }
      if (!goOn) break;
    }
    tls.reset();
    ::close(fd);
  }
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
}

}  // namespace orvex::test
