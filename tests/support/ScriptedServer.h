// A scripted fake mail server on loopback for exact exchanges and faults: it plays one script per
// accepted connection on a thread of its own and records every line the client sent.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

struct ServerStep {
  enum class Kind {
    Send,
    SendRaw,
    ReadLine,
    ReadUntilDot,
    Close,
    Stall,
    Deaf,
    StartTls,
    Flood,
    Bearer
  };
  Kind kind;
  std::string text;
};

// Steps of a script.
inline ServerStep Say(std::string line) {
  return {ServerStep::Kind::Send, std::move(line)};
}
inline ServerStep SayRaw(std::string bytes) {
  return {ServerStep::Kind::SendRaw, std::move(bytes)};
}
inline ServerStep Hear() {
  return {ServerStep::Kind::ReadLine, {}};
}
// Reads a line like Hear(): an SASL response (alone or after "AUTH <mechanism> "). Unless its
// base64 text carries "auth=Bearer <token>" as XOAUTH2 and OAUTHBEARER do, says `challenge`,
// hears the answer, says `refusal`, hears one more line and ends the script: a server that
// accepts one bearer token only.
inline ServerStep HearBearer(const std::string& token, const std::string& challenge,
                             const std::string& refusal) {
  return {ServerStep::Kind::Bearer, token + "\n" + challenge + "\n" + refusal};
}
inline ServerStep HearData() {
  return {ServerStep::Kind::ReadUntilDot, {}};
}
inline ServerStep Hangup() {
  return {ServerStep::Kind::Close, {}};
}
// Says nothing until the client goes away or the server is destroyed.
inline ServerStep Stall() {
  return {ServerStep::Kind::Stall, {}};
}
// Neither reads nor says anything until the server is destroyed (the client's sends back up).
inline ServerStep Deaf() {
  return {ServerStep::Kind::Deaf, {}};
}

// Sends `bytes` again and again without waiting for the client, until the client goes away or
// the server is destroyed: a hostile server that never stops talking (plain connections only).
inline ServerStep Flood(std::string bytes) {
  return {ServerStep::Kind::Flood, std::move(bytes)};
}

// Runs the server's side of a TLS handshake with the certificate and key in `pem` (see
// support/TestCertificates.h); every later step goes through the session. Records "<tls>", or
// "<tls failed>" and ends the script; bytes the client sent in plain text before the handshake
// are recorded as "<plain text before tls>" and end the script as well.
inline ServerStep ServeTls(std::string pem) {
  return {ServerStep::Kind::StartTls, std::move(pem)};
}

enum class ServerFamily { IPv4, IPv6 };

class ScriptedServer {
 public:
  // One script per connection, in the order the connections are accepted.
  explicit ScriptedServer(std::vector<std::vector<ServerStep>> scripts,
                          ServerFamily family = ServerFamily::IPv4);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  // Waits (up to 20 seconds) for the scripts to end, then returns the client's lines: a line
  // "<connect>" marks each accepted connection, "<closed>" a client that closed before a read.
  std::vector<std::string> Transcript();
  // The number of connections accepted so far.
  int Connections() const { return connections_.load(); }

 private:
  void Run();
  void Record(std::string line);

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  std::vector<std::vector<ServerStep>> scripts_;
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::vector<std::string> transcript_;
  std::thread thread_;
};

}  // namespace orvex::test
