// Certificates for TLS tests, made in memory: a certificate authority of the test's own and the
// server certificates it signs, so that no test depends on files or clocks outside it.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <memory>
#include <string>

namespace orvex::test {

// A server's certificate and key, as a scripted server loads them.
struct ServerIdentity {
  std::string pem;     // the certificate, then its private key
  std::string sha256;  // the certificate's SHA-256 digest (32 bytes)
};

enum class Validity { Current, Expired };

class TestCertificateAuthority {
 public:
  TestCertificateAuthority();
  ~TestCertificateAuthority();
  TestCertificateAuthority(const TestCertificateAuthority&) = delete;
  TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

  // The authority's own certificate, for a trust store file.
  const std::string& CertificatePem() const { return certificatePem_; }
  // A server certificate with the subject alternative names given in OpenSSL's form
  // ("DNS:localhost,IP:127.0.0.1").
  ServerIdentity Issue(const std::string& altNames, Validity validity = Validity::Current) const;
  // A certificate that signs itself, trusted by nobody.
  static ServerIdentity SelfSigned(const std::string& altNames);

 private:
  struct Keys;
  std::unique_ptr<Keys> keys_;
  std::string certificatePem_;
};

// Makes the authority's certificate the whole trust store of the process (through SSL_CERT_FILE,
// with SSL_CERT_DIR at an empty directory) while it lives; `directory` holds the files.
class ScopedTrustStore {
 public:
  ScopedTrustStore(const std::string& certificatePem, const std::string& directory);
  ~ScopedTrustStore();
  ScopedTrustStore(const ScopedTrustStore&) = delete;
  ScopedTrustStore& operator=(const ScopedTrustStore&) = delete;
};

// The digest as 64 lower-case hexadecimal digits, the way a setting may hold it.
std::string HexDigits(const std::string& digest);

struct TlsSessionFree {
  void operator()(SSL* session) const { SSL_free(session); }
};
using TlsServerSession = std::unique_ptr<SSL, TlsSessionFree>;

// The server's side of a handshake on the blocking descriptor with the identity in `pem`; the
// socket's reads and writes are limited to `limit` each. Nothing when the identity cannot be
// loaded or the handshake fails.
TlsServerSession AcceptTls(int fd, const std::string& pem, std::chrono::milliseconds limit);

}  // namespace orvex::test
