// The policy-driven fake relay: one connection at a time, poll() limits on every read so that a
// broken test cannot hang, a wake pipe for the destructor.
#include "support/FakeSmtpRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace orvex::test {
namespace {

constexpr int kReadLimitMs = 30000;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
  });
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return Lower(text.substr(0, prefix.size())) == prefix;
}

// The address between the angle brackets.
std::string AddressOf(const std::string& command) {
  const auto open = command.find('<');
  const auto close = command.rfind('>');
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  return command.substr(open + 1, close - open - 1);
}

class LineReader {
 public:
  LineReader(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
  bool ReadLine(std::string& line) {
    for (;;) {
      const auto lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        line = buffer_.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        buffer_.erase(0, lf + 1);
        return true;
      }
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      if (::poll(fds, 2, kReadLimitMs) <= 0 || fds[1].revents != 0) return false;
      char chunk[65536];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // A whole line is already waiting.
  bool LineWaiting() const { return buffer_.find('\n') != std::string::npos; }

 private:
  int fd_;
  int wakeFd_;
  std::string buffer_;
};

void Say(int fd, const std::string& line) {
  const std::string data = line + "\r\n";
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

FakeSmtpRelay::FakeSmtpRelay(Policy policy) : policy_(std::move(policy)) {
  if (::pipe(wakeFds_) != 0) throw std::runtime_error("pipe failed");
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      ::listen(listenFd_, 8))
    throw std::runtime_error("bind/listen failed");
  socklen_t size = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

FakeSmtpRelay::~FakeSmtpRelay() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFds_[1], &byte, 1);
  if (thread_.joinable()) thread_.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

void FakeSmtpRelay::SetPolicy(Policy policy) {
  std::lock_guard lock(mutex_);
  policy_ = std::move(policy);
  accepted_ = 0;
  held_ = false;
}

std::vector<FakeSmtpRelay::Delivery> FakeSmtpRelay::Deliveries() const {
  std::lock_guard lock(mutex_);
  return deliveries_;
}

std::map<std::string, int> FakeSmtpRelay::CountsByRecipient() const {
  std::map<std::string, int> counts;
  for (const auto& delivery : Deliveries())
    for (const auto& address : delivery.recipients) ++counts[Lower(address)];
  return counts;
}

int FakeSmtpRelay::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

int FakeSmtpRelay::CommandsSentAhead() const {
  std::lock_guard lock(mutex_);
  return sentAhead_;
}

bool FakeSmtpRelay::WaitUntilHeld(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return held_; });
}

bool FakeSmtpRelay::WaitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return !connected_; });
}

bool FakeSmtpRelay::Hold(int fd, std::unique_lock<std::mutex>& lock) {
  held_ = true;
  changed_.notify_all();
  // Until the relay is destroyed or the client goes away (it was killed).
  lock.unlock();
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
  ::poll(fds, 2, kReadLimitMs);
  lock.lock();
  return false;
}

void FakeSmtpRelay::Run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, kReadLimitMs * 4) <= 0 || fds[1].revents != 0) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    {
      std::lock_guard lock(mutex_);
      ++connections_;
      connected_ = true;
    }
    Serve(fd);
    ::close(fd);
    {
      std::lock_guard lock(mutex_);
      connected_ = false;
    }
    changed_.notify_all();
  }
}

void FakeSmtpRelay::Serve(int fd) {
  LineReader reader(fd, wakeFds_[0]);
  Say(fd, "220 relay.test ESMTP ready");
  std::vector<std::string> recipients;
  std::string line;
  while (reader.ReadLine(line)) {
    std::unique_lock lock(mutex_);
    if (reader.LineWaiting()) ++sentAhead_;
    if (StartsWithNoCase(line, "ehlo") && policy_.pipelining) {
      Say(fd, "250-relay.test");
      Say(fd, "250 PIPELINING");
    } else if (StartsWithNoCase(line, "ehlo") || StartsWithNoCase(line, "helo")) {
      Say(fd, "250 relay.test");
    } else if (StartsWithNoCase(line, "mail from:")) {
      recipients.clear();
      ++transactions_;
      if (transactions_ == policy_.holdAtMailFrom && !Hold(fd, lock)) return;
      Say(fd, "250 2.1.0 Ok");
    } else if (StartsWithNoCase(line, "rcpt to:")) {
      const std::string address = AddressOf(line);
      const std::string key = Lower(address);
      if (policy_.refusedForGood.count(key) != 0) {
        Say(fd, "550 5.1.1 <" + address + ">: Recipient address rejected: User unknown");
      } else if (policy_.deferred.count(key) != 0) {
        Say(fd, "451 4.2.0 <" + address + ">: Mailbox busy, try again later");
      } else if (policy_.acceptedBeforeCap >= 0 && accepted_ >= policy_.acceptedBeforeCap) {
        Say(fd, "452 4.5.3 Error: too many recipients");
      } else {
        ++accepted_;
        recipients.push_back(address);
        Say(fd, "250 2.1.5 Ok");
      }
    } else if (StartsWithNoCase(line, "data") && policy_.pipelining && recipients.empty()) {
      Say(fd, "554 5.5.1 Error: no valid recipients");
    } else if (StartsWithNoCase(line, "data")) {
      Say(fd, "354 End data with <CR><LF>.<CR><LF>");
      Delivery delivery{recipients, {}};
      lock.unlock();
      for (;;) {
        if (!reader.ReadLine(line)) return;
        if (line == ".") break;
        delivery.lines.push_back(line);
      }
      lock.lock();
      if (transactions_ == policy_.dropAtEndOfData) return;
      if (transactions_ == policy_.deferEndOfData) {
        Say(fd, "451 4.3.0 Error: queue file write error");
        continue;
      }
      deliveries_.push_back(std::move(delivery));
      if (transactions_ == policy_.holdAtEndOfData && !Hold(fd, lock)) return;
      Say(fd, "250 2.0.0 Ok: queued");
    } else if (StartsWithNoCase(line, "rset")) {
      recipients.clear();
      Say(fd, "250 2.0.0 Ok");
    } else if (StartsWithNoCase(line, "quit")) {
      Say(fd, "221 2.0.0 Bye");
      return;
    } else {
      Say(fd, "502 5.5.2 Error: command not recognized");
    }
  }
}

}  // namespace orvex::test
