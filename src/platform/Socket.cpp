// POSIX TCP client sockets: non-blocking descriptors whose waits poll the socket together with
// the stop descriptor, in slices of at most one second.
#include "platform/Socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/Heartbeat.h"
#include "platform/StopSignal.h"

namespace orvex {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string Describe(int code) {
  std::string text = std::strerror(code);
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

enum class WaitFor { Readable, Writable };

// Waits until `fd` is ready, the deadline passes (throws SocketTimeoutError) or a stop is
// requested (throws StopRequestedError).
// Waits until `fd` reports one of `events`, a stop request or the deadline; returns the events
// reported (an error or hang-up is left to the next call on the socket to report).
short PollUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    Heartbeat();  // a slow peer is not a hung service
    if (Terminated()) throw StopRequestedError();
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw SocketTimeoutError();
    pollfd fds[2] = {{fd, events, 0}, {StopEventDescriptor(), POLLIN, 0}};
    const int slice = static_cast<int>(std::min<long long>(left, 1000));
    const int n = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, slice);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw SocketError(errno, Describe(errno));
    }
    if (Terminated()) throw StopRequestedError();
    if (fds[0].revents != 0) return fds[0].revents;
  }
}

void Wait(int fd, WaitFor what, Clock::time_point deadline) {
  PollUntil(fd, what == WaitFor::Readable ? POLLIN : POLLOUT, deadline);
}

// Waits until `fd` can take more or has something to read (when `readable` is set); returns
// whether it has something to read. Throws as Wait does.
bool WaitWritableOrReadable(int fd, bool readable, Clock::time_point deadline) {
  const short events =
      PollUntil(fd, static_cast<short>(POLLOUT | (readable ? POLLIN : 0)), deadline);
  return readable && (events & POLLIN) != 0 && (events & POLLOUT) == 0;
}

Clock::time_point DeadlineAfter(milliseconds limit) {
  // Guard the addition against absurd limits.
  const auto cap = std::chrono::hours(24 * 365);
  return Clock::now() + std::min<Clock::duration>(limit, cap);
}

class TcpSocket final : public Socket {
 public:
  explicit TcpSocket(int fd) : fd_(fd) {}
  ~TcpSocket() override { Close(); }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  void Send(std::string_view data, milliseconds limit) override {
    std::string none;  // with no room for replies, this only waits for the peer to take more
    SendWhileReceiving(data, none, 0, limit);
  }

  void SendWhileReceiving(std::string_view data, std::string& received, std::size_t maxReceived,
                          milliseconds limit) override {
    // The limit is on each wait for the peer to take more, so that a large message over a slow
    // link is not cut off while it is still moving.
    auto deadline = DeadlineAfter(limit);
    bool peerOpen = true;  // after the peer's close there is nothing more to read
    while (!data.empty()) {
      if (fd_ < 0) throw SocketError(EBADF, Describe(EBADF));
      const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n >= 0) {
        data.remove_prefix(static_cast<std::size_t>(n));
        deadline = DeadlineAfter(limit);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) throw SocketError(errno, Describe(errno));
      const bool room = peerOpen && received.size() < maxReceived;
      if (!WaitWritableOrReadable(fd_, room, deadline)) continue;
      char buffer[65536];
      const std::size_t capacity = std::min(sizeof buffer, maxReceived - received.size());
      const ssize_t got = ::recv(fd_, buffer, capacity, 0);
      if (got > 0) {
        received.append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0) {
        peerOpen = false;
      } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
        throw SocketError(errno, Describe(errno));
      }
    }
  }

  std::size_t Receive(char* buffer, std::size_t capacity, milliseconds limit) override {
    const auto deadline = DeadlineAfter(limit);
    for (;;) {
      if (fd_ < 0) throw SocketError(EBADF, Describe(EBADF));
      const ssize_t n = ::recv(fd_, buffer, capacity, 0);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) throw SocketError(errno, Describe(errno));
      Wait(fd_, WaitFor::Readable, deadline);
    }
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// One connection attempt to one resolved address; returns the descriptor or throws.
int ConnectOne(const addrinfo& address, Clock::time_point deadline) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) throw SocketError(errno, Describe(errno));
  try {
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
      if (errno != EINPROGRESS && errno != EINTR) throw SocketError(errno, Describe(errno));
      Wait(fd, WaitFor::Writable, deadline);
      int error = 0;
      socklen_t size = sizeof error;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      if (error != 0) throw SocketError(error, Describe(error));
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
  } catch (...) {
    ::close(fd);
    throw;
  }
}

}  // namespace

SocketError::SocketError(int code, const std::string& description)
    : Error("Socket Error # " + std::to_string(code) + "\r\n" + description), code_(code) {}

SocketTimeoutError::SocketTimeoutError() : SocketError(ETIMEDOUT, "Connection timed out.") {}

std::unique_ptr<Socket> TcpSocketFactory::Connect(const std::string& host, int port,
                                                  milliseconds limit) {
  if (Terminated()) throw StopRequestedError();
  if (port < 1 || port > 65535)
    throw SocketError(EINVAL, "Invalid port " + std::to_string(port) + ".");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (status == EAI_NONAME || status == EAI_ADDRFAMILY) {
    // AI_ADDRCONFIG hides loopback-only families; a literal ::1 must still work.
    hints.ai_flags = 0;
    status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  }
  if (status != 0) {
    const int code = status == EAI_SYSTEM ? errno : -status;
    throw SocketError(code, status == EAI_NONAME || status == EAI_NODATA || status == EAI_FAIL
                                ? "Host not found."
                                : Describe(code));
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
  // When every address fails, the first address's failure is reported.
  std::optional<SocketError> failure;
  for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
    try {
      return std::make_unique<TcpSocket>(ConnectOne(*a, DeadlineAfter(limit)));
    } catch (const SocketError& error) {
      if (!failure) failure = error;
    }
  }
  if (failure) throw *failure;
  throw SocketError(EHOSTUNREACH, "Host not found.");
}

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace orvex
