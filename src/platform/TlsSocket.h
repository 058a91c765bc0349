// TLS client sessions over an already connected `Socket`, so that everything above the socket
// interface (line handling, time limits, stop handling) stays as it is for plain TCP.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/Socket.h"

namespace orvex {

// Why a TLS session could not be set up; every one ends the connection.
enum class TlsFailure { UntrustedCertificate, NameMismatch, HandshakeFailed, PinMismatch };

class TlsError : public Error {
 public:
  TlsError(TlsFailure reason, const std::string& message) : Error(message), reason_(reason) {}
  TlsFailure Reason() const { return reason_; }

 private:
  TlsFailure reason_;
};

// Whom the client expects at the other end.
struct TlsPeer {
  // The host as configured: an IP address literal is checked against the certificate's IP
  // addresses, anything else as a DNS name (and sent as the server name indication).
  std::string host;
  // The SHA-256 digest (32 bytes) of the one certificate to accept, whoever signed it and
  // whatever names it holds; empty: the certificate must chain to a trusted authority (OpenSSL's
  // default verify paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) and match `host`.
  std::string pinnedSha256;
};

// What client sessions share: the protocol settings and the trust store (OpenSSL's default
// verify paths, so SSL_CERT_FILE and SSL_CERT_DIR apply), read when the first session that needs
// it starts and kept while the context lives. Loading a system's bundle of authorities costs
// tens of milliseconds, far more than a handshake on a near network.
class TlsContext {
 public:
  TlsContext();
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  struct State;
  State& Get(bool withTrustStore);

 private:
  std::unique_ptr<State> state_;
};

// Runs the client handshake over `transport` and returns the secured socket, which owns the
// transport (and may outlive the context). The whole handshake is limited to `limit`; a stop
// request ends it like any other wait. On failure the transport is closed and a TlsError (or
// the transport's own socket, time limit or stop error) is thrown. Nothing but the handshake is
// sent before it succeeds.
std::unique_ptr<Socket> StartTlsSession(std::unique_ptr<Socket> transport, const TlsPeer& peer,
                                        std::chrono::milliseconds limit, TlsContext& context);

}  // namespace orvex
