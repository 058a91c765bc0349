// The blocking line-oriented client under POP3 retrieval and SMTP delivery: lines, replies and
// their codes, dot-terminated blocks, and the one place where dot-stuffing is done and undone.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Socket.h"
#include "platform/TlsSocket.h"
#include "transport/MailSecurity.h"

namespace orvex {

// A reply whose code was not among the expected ones; the message is the reply's last line.
class ProtocolReplyError : public Error {
 public:
  ProtocolReplyError(int code, const std::string& lastLine) : Error(lastLine), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// How long the client waits for the server. A server that accepts a connection and then says
// nothing must not hold the service (and every list behind it) forever.
struct MailTimeLimits {
  std::chrono::milliseconds connect = std::chrono::minutes(2);
  std::chrono::milliseconds reply = std::chrono::minutes(5);     // each reply, each line of a block
  std::chrono::milliseconds dataEnd = std::chrono::minutes(10);  // the reply to the end of data
};

// More input than the reader allows: a reply or a line past its bound, or a message past the
// caller's. The connection is in an unknown state afterwards; the caller closes it.
class InputTooLongError : public Error {
 public:
  using Error::Error;
};

// A server and the account on it, as the settings name them: what every user of a MailClient
// (the two stages, the admin check) hands it before connecting.
struct MailServer {
  std::string host = {};
  int port = 0;
  std::string userName = {};
  // Deciphered, or the access token where the account signs in with OAuth 2.0.
  std::string password = {};
  MailSecurity security = MailSecurity::None;
  std::string tlsFingerprint = {};  // as configured
};

// Which limit a reply is read under.
enum class ReplyWait { Command, EndOfData };

class MailClient {
 public:
  // Bounds on what a server may send, counted in bytes while they arrive; past them the read
  // fails instead of eating memory. A reply line is 512 octets by the standard; eight times that
  // leaves room for sloppy servers. A whole reply (all its lines) stays within 64 KiB.
  static constexpr std::size_t kMaxLineLength = 16 * 1024 * 1024;  // ReadLine()
  static constexpr std::size_t kMaxReplyLineLength = 4096;
  static constexpr std::size_t kMaxReplyBytes = 64 * 1024;

  explicit MailClient(int port, MailTimeLimits limits = {},
                      std::unique_ptr<SocketFactory> factory = nullptr);
  ~MailClient();
  MailClient(const MailClient&) = delete;
  MailClient& operator=(const MailClient&) = delete;
  MailClient(MailClient&&) = default;

  // Set by the stage before each use, normally all at once by UseServer.
  std::string host;
  int port;
  std::string userName;
  std::string password;
  // How the connection is secured, and the pinned certificate (see
  // platform/CertificateFingerprint.h). With ImplicitTls, Connect runs the handshake; with StartTls
  // the stage calls StartTls once the server has agreed. Both are checked before anything is sent.
  MailSecurity security = MailSecurity::None;
  std::string tlsFingerprint;
  // The lines of the server's EHLO reply in force on this connection (set by the SMTP set-up;
  // empty after HELO), so that each transaction can see what the relay offers. Cleared by
  // Connect and Disconnect.
  std::vector<std::string> ehloReply;

  // Takes the server, account, security and certificate pin to use from the next Connect on.
  void UseServer(const MailServer& server);

  void Connect();
  // Upgrades the open connection to TLS, under the connect limit. The server's agreement must be
  // the last thing it sent: bytes already waiting in the input would have come in plain text
  // yet be read as if secured, so they end the connection instead. Any failure disconnects.
  // The trust store is read by the client's first TLS connection and kept for its later ones.
  void StartTls();
  // False once a read found the connection closed by the server (the client's side is then
  // closed too).
  bool Connected();
  void Disconnect();
  // Sends "Quit", which needs no answer (a POP3 server commits its deletions when it reads it),
  // and closes the connection, also when the write fails. Nothing when not connected.
  void Quit();

  // Sends the text and CR LF at once.
  void WriteLine(std::string_view text);
  // Sends a prepared block (message data, or a batch of commands) in large writes. Whatever the
  // server answers meanwhile is read into the input, so that a server that answers each command
  // of a long batch at once cannot block while the client is still writing.
  void WriteData(std::string_view data);

  // The next line without its LF and a CR before it. An empty text when the server closed the
  // connection before a LF; a further read then fails with "Connection Closed Gracefully.".
  // A line longer than `maxLength` bytes throws InputTooLongError("Line too long from server.").
  // Every read throws StopRequestedError once a stop is requested, even while data keeps coming.
  std::string ReadLine(std::size_t maxLength = kMaxLineLength);
  // The next line that is not blank, trimmed of spaces and control characters at both ends.
  std::string ReadReplyLine();
  // Reads one reply (one line, or a multi-line reply "ddd-" ... "ddd "), keeps its lines and
  // returns its code. With expected codes, any other code raises ProtocolReplyError.
  int ReadReply(std::initializer_list<int> expected, ReplyWait wait = ReplyWait::Command);
  // Writes the command (unless it is empty), then reads the reply as ReadReply does.
  int SendCommand(std::string_view command, std::initializer_list<int> expected,
                  ReplyWait wait = ReplyWait::Command);

  const std::vector<std::string>& ReplyLines() const { return replyLines_; }
  int ReplyCode() const { return replyCode_; }
  std::string LastReplyLine() const;

  // Appends lines to `destination` up to a line that is exactly "." (not appended), undoing the
  // dot-stuffing: a line that begins with ".." loses its first dot.
  void CaptureLines(std::vector<std::string>& destination);
  // The same, handing each line to `sink` as it arrives instead of keeping it. The lines with
  // their CR LF may come to `maxBytes` at most; past that, InputTooLongError("Message too long")
  // is thrown while the block is still arriving, and the connection must be closed.
  void CaptureLines(const std::function<void(std::string_view line)>& sink, std::size_t maxBytes);

  // The data block for lines of a message: every line ended by CR LF, a line that begins with
  // "." sent with one more dot in front, and the closing ".".
  static std::string DotStuffedData(const std::vector<std::string>& lines);
  // The code of a reply from its last line: 1 for "+OK", 0 for "-ERR" (any case), otherwise
  // the leading three-digit number, or 0.
  static int ReplyCodeOf(std::string_view lastLine);

 private:
  std::string ReadLineBefore(std::chrono::steady_clock::time_point deadline, std::size_t maxLength,
                             const char* tooLong);
  std::string ReadReplyLineBefore(std::chrono::steady_clock::time_point deadline,
                                  std::size_t maxLength);

  MailTimeLimits limits_;
  std::unique_ptr<SocketFactory> factory_;
  std::unique_ptr<Socket> socket_;
  std::unique_ptr<TlsContext> tls_;  // made by the first TLS connection, kept for the next ones
  std::string input_;
  std::size_t inputStart_ = 0;
  bool closedByPeer_ = false;
  std::vector<std::string> replyLines_;
  int replyCode_ = 0;
};

}  // namespace orvex
