// TLS through OpenSSL over memory buffers: OpenSSL never touches the descriptor, every byte goes
// through the transport socket's own Send and Receive, so their time limits and stop handling
// hold during the handshake and after it, and no C++ exception ever crosses OpenSSL's code.
#include "platform/TlsSocket.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>

#include "platform/CertificateFingerprint.h"

namespace orvex {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kChunk = 16 * 1024;  // one TLS record of application data

struct ContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SessionFree {
  void operator()(SSL* session) const { SSL_free(session); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};

// The reason of the oldest queued OpenSSL error, and an empty queue afterwards.
std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "error " + std::to_string(code);
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

milliseconds LeftUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) throw SocketTimeoutError();
  return left;
}

Clock::time_point DeadlineAfter(milliseconds limit) {
  return Clock::now() + std::min<Clock::duration>(limit, std::chrono::hours(24 * 365));
}

TlsError SetupError() {
  return TlsError(TlsFailure::HandshakeFailed,
                  "TLS failure: cannot set up a session (" + OpenSslReason() + ")");
}

}  // namespace

struct TlsContext::State {
  std::unique_ptr<SSL_CTX, ContextFree> context;
  bool trustStoreLoaded = false;
};

TlsContext::TlsContext() : state_(std::make_unique<State>()) {}
TlsContext::~TlsContext() = default;

TlsContext::State& TlsContext::Get(bool withTrustStore) {
  if (!state_->context) {
    state_->context.reset(SSL_CTX_new(TLS_client_method()));
    if (!state_->context) throw SetupError();
    SSL_CTX_set_min_proto_version(state_->context.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(state_->context.get(), SSL_OP_NO_RENEGOTIATION);
  }
  if (withTrustStore && !state_->trustStoreLoaded) {
    if (SSL_CTX_set_default_verify_paths(state_->context.get()) != 1) throw SetupError();
    state_->trustStoreLoaded = true;
  }
  return *state_;
}

namespace {

class TlsSocket final : public Socket {
 public:
  TlsSocket(std::unique_ptr<Socket> transport, const TlsPeer& peer)
      : transport_(std::move(transport)), peer_(peer) {}
  ~TlsSocket() override {
    try {
      Close();
    } catch (...) {
    }
  }
  TlsSocket(const TlsSocket&) = delete;
  TlsSocket& operator=(const TlsSocket&) = delete;

  void Handshake(milliseconds limit, TlsContext& context) {
    const auto deadline = DeadlineAfter(limit);
    Prepare(context);
    for (;;) {
      ERR_clear_error();
      const int result = SSL_do_handshake(session_.get());
      const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(session_.get(), result);
      if (error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ) {
        const TlsError failure = Classify();
        try {
          Flush(std::min<milliseconds>(LeftUntil(deadline), std::chrono::seconds(1)));  // alert
        } catch (const std::exception&) {
        }
        throw failure;
      }
      Flush(LeftUntil(deadline));
      if (error == SSL_ERROR_NONE) break;
      if (!Fill(LeftUntil(deadline)))
        throw TlsError(TlsFailure::HandshakeFailed,
                       "TLS failure: handshake with " + peer_.host +
                           " failed (the server closed the connection)");
    }
    if (!peer_.pinnedSha256.empty()) CheckPin();
    established_ = true;
  }

  void Send(std::string_view data, milliseconds limit) override {
    std::string none;
    SendWhileReceiving(data, none, 0, limit);
  }

  // What the server sends meanwhile stays encrypted in the session's input until Receive.
  void SendWhileReceiving(std::string_view data, std::string& received, std::size_t maxReceived,
                          milliseconds limit) override {
    (void)received;
    if (!established_) throw SocketError(EBADF, "Bad file descriptor.");
    while (!data.empty()) {
      const std::size_t size = std::min(data.size(), kChunk);
      ERR_clear_error();
      const int written = SSL_write(session_.get(), data.data(), static_cast<int>(size));
      if (written <= 0) {
        const int error = SSL_get_error(session_.get(), written);
        if (error != SSL_ERROR_WANT_READ) throw Broken();
        Flush(limit);
        if (!Fill(limit)) throw SocketError(ECONNRESET, "Connection reset by peer.");
        continue;
      }
      data.remove_prefix(static_cast<std::size_t>(written));
      FlushWhileReceiving(maxReceived, limit);
    }
  }

  std::size_t Receive(char* buffer, std::size_t capacity, milliseconds limit) override {
    if (!established_) throw SocketError(EBADF, "Bad file descriptor.");
    const auto deadline = DeadlineAfter(limit);
    const int wanted = static_cast<int>(std::min<std::size_t>(capacity, 1 << 30));
    for (;;) {
      ERR_clear_error();
      const int got = SSL_read(session_.get(), buffer, wanted);
      if (got > 0) return static_cast<std::size_t>(got);
      const int error = SSL_get_error(session_.get(), got);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;  // the server's close_notify
      if (error != SSL_ERROR_WANT_READ) throw Broken();
      Flush(LeftUntil(deadline));  // what the session must answer first, if anything
      // A transport that ends without close_notify ends the stream too; the line protocols
      // above notice a cut-off reply or block themselves.
      if (!Fill(LeftUntil(deadline))) return 0;
    }
  }

  void Close() override {
    if (established_) {
      established_ = false;
      ERR_clear_error();
      SSL_shutdown(session_.get());  // queues close_notify; the answer is not awaited
      ERR_clear_error();
      try {
        Flush(std::chrono::seconds(1));
      } catch (const std::exception&) {
      }
    }
    if (transport_) transport_->Close();
  }

 private:
  void Prepare(TlsContext& context) {
    const bool pinned = !peer_.pinnedSha256.empty();
    // The session holds its own reference to the shared context.
    session_.reset(SSL_new(context.Get(!pinned).context.get()));
    if (!session_) throw Setup();
    // With a pin, the pin alone decides, after the handshake and before any data.
    SSL_set_verify(session_.get(), pinned ? SSL_VERIFY_NONE : SSL_VERIFY_PEER, nullptr);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (in == nullptr || out == nullptr) {
      BIO_free(in);
      BIO_free(out);
      throw Setup();
    }
    SSL_set_bio(session_.get(), in, out);  // the session owns both now
    in_ = in;
    out_ = out;
    SSL* s = session_.get();
    if (IsIpAddress(peer_.host)) {
      if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s), peer_.host.c_str()) != 1) throw Setup();
    } else {
      SSL_set_hostflags(s, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      if (SSL_set1_host(s, peer_.host.c_str()) != 1) throw Setup();
      if (!peer_.host.empty() && SSL_set_tlsext_host_name(s, peer_.host.c_str()) != 1)
        throw Setup();
    }
    SSL_set_connect_state(s);
  }

  TlsError Setup() const { return SetupError(); }

  SocketError Broken() const {
    return SocketError(EPROTO, "TLS failure: " + OpenSslReason() + ".");
  }

  TlsError Classify() const {
    const long verified = SSL_get_verify_result(session_.get());
    if (peer_.pinnedSha256.empty() && verified != X509_V_OK) {
      ERR_clear_error();
      if (verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return TlsError(TlsFailure::NameMismatch,
                        "TLS failure: the certificate does not match the name " + peer_.host);
      return TlsError(TlsFailure::UntrustedCertificate,
                      "TLS failure: untrusted certificate from " + peer_.host + " (" +
                          X509_verify_cert_error_string(verified) + ")");
    }
    return TlsError(TlsFailure::HandshakeFailed, "TLS failure: handshake with " + peer_.host +
                                                     " failed (" + OpenSslReason() + ")");
  }

  void CheckPin() const {
    std::unique_ptr<X509, CertificateFree> certificate(SSL_get1_peer_certificate(session_.get()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!certificate || X509_digest(certificate.get(), EVP_sha256(), digest, &size) != 1)
      throw TlsError(TlsFailure::PinMismatch,
                     "TLS failure: " + peer_.host + " sent no certificate to match the pin");
    const std::string actual(reinterpret_cast<const char*>(digest), size);
    if (actual != peer_.pinnedSha256)
      throw TlsError(TlsFailure::PinMismatch,
                     "TLS failure: the certificate of " + peer_.host +
                         " does not match the pinned fingerprint (it has " +
                         FormatFingerprint(actual) + ")");
  }

  // Sends what the session has produced.
  void Flush(milliseconds limit) {
    char chunk[kChunk + 512];
    while (BIO_ctrl_pending(out_) > 0) {
      const int n = BIO_read(out_, chunk, sizeof chunk);
      if (n <= 0) break;
      transport_->Send(std::string_view(chunk, static_cast<std::size_t>(n)), limit);
    }
  }

  // Flush, keeping what the server sends meanwhile in the session's input, up to `maxReceived`
  // bytes waiting there.
  void FlushWhileReceiving(std::size_t maxReceived, milliseconds limit) {
    char chunk[kChunk + 512];
    std::string raw;
    while (BIO_ctrl_pending(out_) > 0) {
      const int n = BIO_read(out_, chunk, sizeof chunk);
      if (n <= 0) break;
      const std::size_t waiting = BIO_ctrl_pending(in_);
      raw.clear();
      transport_->SendWhileReceiving(std::string_view(chunk, static_cast<std::size_t>(n)), raw,
                                     maxReceived > waiting ? maxReceived - waiting : 0, limit);
      if (!raw.empty() &&
          BIO_write(in_, raw.data(), static_cast<int>(raw.size())) != static_cast<int>(raw.size()))
        throw Broken();
    }
  }

  // Hands the session what the server sent; false when the server closed the connection.
  bool Fill(milliseconds limit) {
    char chunk[kChunk + 512];
    const std::size_t n = transport_->Receive(chunk, sizeof chunk, limit);
    if (n == 0) return false;
    if (BIO_write(in_, chunk, static_cast<int>(n)) != static_cast<int>(n)) throw Broken();
    return true;
  }

  std::unique_ptr<Socket> transport_;
  TlsPeer peer_;
  std::unique_ptr<SSL, SessionFree> session_;
  BIO* in_ = nullptr;   // owned by session_
  BIO* out_ = nullptr;  // owned by session_
  bool established_ = false;
};

}  // namespace

std::unique_ptr<Socket> StartTlsSession(std::unique_ptr<Socket> transport, const TlsPeer& peer,
                                        milliseconds limit, TlsContext& context) {
  if (!transport) throw SocketError(EBADF, "Bad file descriptor.");
  auto socket = std::make_unique<TlsSocket>(std::move(transport), peer);
  socket->Handshake(limit, context);  // on failure the socket and its transport close as it unwinds
  return socket;
}

}  // namespace orvex
