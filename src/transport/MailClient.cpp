// The protocol client: one reply reader, one line reader with bounded input, dot-stuffing.
#include "transport/MailClient.h"

#include <algorithm>

#include "platform/CertificateFingerprint.h"
#include "platform/StopSignal.h"
#include "platform/Text.h"

namespace orvex {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::chrono::milliseconds LeftUntil(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  if (left.count() <= 0) throw SocketTimeoutError();
  return left;
}

// The TLS peer for a connection; refuses settings that cannot be honoured before anything is sent.
TlsPeer PeerFor(const std::string& host, MailSecurity security, const std::string& fingerprint) {
  if (security == MailSecurity::Unknown)
    throw Error("Unknown security setting: not connecting to " + host);
  const auto pin = ParseFingerprint(fingerprint);
  if (!pin) throw Error("Invalid TLS fingerprint setting: not connecting to " + host);
  return TlsPeer{host, *pin};
}

}  // namespace

void MailClient::UseServer(const MailServer& server) {
  host = server.host;
  port = server.port;
  userName = server.userName;
  password = server.password;
  security = server.security;
  tlsFingerprint = server.tlsFingerprint;
}

MailClient::MailClient(int defaultPort, MailTimeLimits limits,
                       std::unique_ptr<SocketFactory> factory)
    : port(defaultPort),
      limits_(limits),
      factory_(factory ? std::move(factory) : std::make_unique<TcpSocketFactory>()) {}

MailClient::~MailClient() = default;

void MailClient::Connect() {
  if (socket_) throw Error("Already connected.");
  input_.clear();
  inputStart_ = 0;
  closedByPeer_ = false;
  replyLines_.clear();
  replyCode_ = 0;
  ehloReply.clear();
  if (security != MailSecurity::None) PeerFor(host, security, tlsFingerprint);
  socket_ = factory_->Connect(host, port, limits_.connect);
  if (security == MailSecurity::ImplicitTls) StartTls();
}

void MailClient::StartTls() {
  if (!socket_) throw Error("Not connected.");
  try {
    const TlsPeer peer = PeerFor(host, security, tlsFingerprint);
    if (inputStart_ < input_.size())
      throw TlsError(TlsFailure::HandshakeFailed,
                     "TLS failure: " + host + " sent more before the TLS handshake");
    if (!tls_) tls_ = std::make_unique<TlsContext>();
    socket_ = StartTlsSession(std::move(socket_), peer, limits_.connect, *tls_);
  } catch (...) {
    Disconnect();
    throw;
  }
}

bool MailClient::Connected() {
  if (socket_ && closedByPeer_) Disconnect();
  return socket_ != nullptr;
}

void MailClient::Disconnect() {
  if (socket_) socket_->Close();
  socket_.reset();
  input_.clear();
  inputStart_ = 0;
  closedByPeer_ = false;
  ehloReply.clear();
}

void MailClient::Quit() {
  if (!Connected()) return;
  try {
    WriteLine("Quit");
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
}

void MailClient::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  WriteData(line);
}

void MailClient::WriteData(std::string_view data) {
  if (!socket_) throw Error("Not connected.");
  // Bounded like a line: a server that talks endlessly while the client writes gets no more room
  // than one line of input.
  const std::size_t pending = input_.size() - inputStart_;
  if (pending > kMaxLineLength) {
    socket_->Send(data, limits_.reply);
    return;
  }
  std::string received;
  socket_->SendWhileReceiving(data, received, kMaxLineLength - pending, limits_.reply);
  if (received.empty()) return;
  if (inputStart_ > 0) {
    input_.erase(0, inputStart_);
    inputStart_ = 0;
  }
  input_.append(received);
}

std::string MailClient::ReadLine(std::size_t maxLength) {
  return ReadLineBefore(SteadyClock::now() + limits_.reply, maxLength,
                        "Line too long from server.");
}

std::string MailClient::ReadLineBefore(SteadyClock::time_point deadline, std::size_t maxLength,
                                       const char* tooLong) {
  std::size_t scanned = inputStart_;
  for (;;) {
    // The socket only looks at the stop request when it has to wait; a server that never
    // pauses must not keep the service from stopping.
    if (Terminated()) throw StopRequestedError();
    const std::size_t lf = input_.find('\n', scanned);
    if (lf != std::string::npos) {
      std::size_t end = lf;
      if (end > inputStart_ && input_[end - 1] == '\r') --end;
      if (end - inputStart_ > maxLength) throw InputTooLongError(tooLong);
      std::string line = input_.substr(inputStart_, end - inputStart_);
      inputStart_ = lf + 1;
      if (inputStart_ == input_.size()) {
        input_.clear();
        inputStart_ = 0;
      }
      return line;
    }
    scanned = input_.size();
    if (closedByPeer_ || !socket_) throw Error("Connection Closed Gracefully.");
    // A CR may still wait for its LF, hence the one byte of grace.
    if (input_.size() - inputStart_ > maxLength + 1) throw InputTooLongError(tooLong);
    if (inputStart_ > 0) {  // keep the buffer from growing with consumed bytes
      input_.erase(0, inputStart_);
      scanned -= inputStart_;
      inputStart_ = 0;
    }
    char buffer[65536];
    const std::size_t n = socket_->Receive(buffer, sizeof buffer, LeftUntil(deadline));
    if (n == 0) {
      closedByPeer_ = true;
      input_.clear();
      inputStart_ = 0;
      return {};
    }
    input_.append(buffer, n);
  }
}

std::string MailClient::ReadReplyLine() {
  return ReadReplyLineBefore(SteadyClock::now() + limits_.reply, kMaxReplyLineLength);
}

std::string MailClient::ReadReplyLineBefore(SteadyClock::time_point deadline,
                                            std::size_t maxLength) {
  // Blank lines count against the bound too, so that endless empty lines end as well.
  std::size_t left = maxLength;
  for (;;) {
    const std::string raw = ReadLineBefore(deadline, std::min(left, kMaxReplyLineLength),
                                           "Reply too long from server.");
    std::string line(Trim(raw, Blanks::ControlsAndDel));
    if (!line.empty()) return line;
    if (raw.size() + 2 > left) throw InputTooLongError("Reply too long from server.");
    left -= raw.size() + 2;
  }
}

int MailClient::ReadReply(std::initializer_list<int> expected, ReplyWait wait) {
  const auto deadline =
      SteadyClock::now() + (wait == ReplyWait::EndOfData ? limits_.dataEnd : limits_.reply);
  replyLines_.clear();
  replyCode_ = 0;
  // The whole reply is bounded in bytes while it arrives: a relay that sends continuation lines
  // without end must not grow the service without end.
  std::size_t left = kMaxReplyBytes;
  const auto readLine = [&] {
    std::string line = ReadReplyLineBefore(deadline, left);
    if (line.size() + 2 > left) throw InputTooLongError("Reply too long from server.");
    left -= line.size() + 2;
    replyLines_.push_back(std::move(line));
  };
  readLine();
  const std::string& first = replyLines_.front();
  if (first.size() > 3 && first[3] == '-') {
    const std::string marker = first.substr(0, 3) + " ";
    for (;;) {
      readLine();
      const std::string& line = replyLines_.back();
      if (line.size() < 4 || EqualsIgnoreCase(std::string_view(line).substr(0, 4), marker)) break;
    }
  }
  replyCode_ = ReplyCodeOf(replyLines_.back());
  if (expected.size() > 0 &&
      std::find(expected.begin(), expected.end(), replyCode_) == expected.end())
    throw ProtocolReplyError(replyCode_, replyLines_.back());
  return replyCode_;
}

int MailClient::SendCommand(std::string_view command, std::initializer_list<int> expected,
                            ReplyWait wait) {
  if (!command.empty()) WriteLine(command);
  return ReadReply(expected, wait);
}

std::string MailClient::LastReplyLine() const {
  return replyLines_.empty() ? std::string() : replyLines_.back();
}

void MailClient::CaptureLines(const std::function<void(std::string_view line)>& sink,
                              std::size_t maxBytes) {
  std::size_t left = maxBytes;
  for (;;) {
    // A line may hold the block's closing "." and its CR LF beyond the message's own bytes.
    std::string line = ReadLine(std::max<std::size_t>(left, 1) + 1);
    if (line == ".") return;
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
    if (line.size() + 2 > left) throw InputTooLongError("Message too long");
    left -= line.size() + 2;
    sink(line);
  }
}

void MailClient::CaptureLines(std::vector<std::string>& destination) {
  for (;;) {
    std::string line = ReadLine();
    if (line == ".") return;
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
    destination.push_back(std::move(line));
  }
}

std::string MailClient::DotStuffedData(const std::vector<std::string>& lines) {
  std::size_t size = 3;
  for (const auto& line : lines) size += line.size() + 3;
  std::string data;
  data.reserve(size);
  for (const auto& line : lines) {
    if (!line.empty() && line[0] == '.') data += '.';
    data.append(line).append("\r\n");
  }
  data.append(".\r\n");
  return data;
}

int MailClient::ReplyCodeOf(std::string_view line) {
  if (line.size() >= 3 && EqualsIgnoreCase(line.substr(0, 3), "+OK")) return 1;
  if (line.size() >= 4 && EqualsIgnoreCase(line.substr(0, 4), "-ERR")) return 0;
  if (line.size() < 3) return 0;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

}  // namespace orvex
