// A narrow TCP client socket: connect by address or name (every resolved address is tried), send
// whole buffers, receive with a time limit. Every wait also watches the stop request.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace orvex {

// A failed socket operation: "Socket Error # <number>\r\n<description>".
class SocketError : public Error {
 public:
  SocketError(int code, const std::string& description);
  int Code() const { return code_; }

 private:
  int code_;
};

// A wait that ran past its time limit (connect, send or receive).
class SocketTimeoutError : public SocketError {
 public:
  SocketTimeoutError();
};

// A stop request (SIGINT, SIGTERM) arrived during a wait.
class StopRequestedError : public Error {
 public:
  StopRequestedError() : Error("Program terminated") {}
};

class Socket {
 public:
  virtual ~Socket() = default;
  // Sends all of `data`, waiting at most `limit` for the peer to take each part.
  virtual void Send(std::string_view data, std::chrono::milliseconds limit) = 0;
  // Sends all of `data` as Send does, and while the peer takes no more, appends what it sends
  // meanwhile to `received`, up to `maxReceived` bytes in all (past that, it waits as Send does).
  // A peer that answers each line while it reads a long batch then never waits for a client that
  // is still writing, nor the client for it. A peer's close during the send is seen by the next
  // Receive. The default only sends.
  virtual void SendWhileReceiving(std::string_view data, std::string& received,
                                  std::size_t maxReceived, std::chrono::milliseconds limit) {
    (void)received;
    (void)maxReceived;
    Send(data, limit);
  }
  // Receives at least one byte into `buffer`; returns 0 when the peer has closed the connection.
  virtual std::size_t Receive(char* buffer, std::size_t capacity,
                              std::chrono::milliseconds limit) = 0;
  virtual void Close() = 0;
};

class SocketFactory {
 public:
  virtual ~SocketFactory() = default;
  // Connects to `host` (IPv4 or IPv6 address, or a name), trying each resolved address in turn,
  // each attempt limited to `limit`.
  virtual std::unique_ptr<Socket> Connect(const std::string& host, int port,
                                          std::chrono::milliseconds limit) = 0;
};

// Plain TCP with TCP_NODELAY (message data goes out in large writes, never line by line).
class TcpSocketFactory final : public SocketFactory {
 public:
  std::unique_ptr<Socket> Connect(const std::string& host, int port,
                                  std::chrono::milliseconds limit) override;
};

// The local computer's host name (for the SMTP greeting).
std::string LocalHostName();

}  // namespace orvex
