// P-256 keys (quick to make) and version 3 certificates with the usual extensions.
#include "support/TestCertificates.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace orvex::test {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Certificate = std::unique_ptr<X509, CertificateFree>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  Check(extension != nullptr, "extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for `key`, signed by `issuerKey` as `issuer` (itself when null).
Certificate Make(EVP_PKEY* key, const std::string& commonName, X509* issuer, EVP_PKEY* issuerKey,
                 bool authority, const std::string& altNames, Validity validity) {
  Certificate certificate(X509_new());
  X509* c = certificate.get();
  X509_set_version(c, 2);
  // Distinct serial numbers, as every issuer must give.
  ASN1_INTEGER_set(X509_get_serialNumber(c), static_cast<long>(std::random_device()() >> 1));
  const long day = 24 * 60 * 60;
  if (validity == Validity::Current) {
    X509_gmtime_adj(X509_getm_notBefore(c), -day);
    X509_gmtime_adj(X509_getm_notAfter(c), 30 * day);
  } else {
    X509_gmtime_adj(X509_getm_notBefore(c), -30 * day);
    X509_gmtime_adj(X509_getm_notAfter(c), -day);
  }
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(c, issuer != nullptr ? X509_get_subject_name(issuer) : name);
  X509* signer = issuer != nullptr ? issuer : c;
  AddExtension(c, signer, NID_subject_key_identifier, "hash");
  if (authority) {
    AddExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(c, signer, NID_authority_key_identifier, "keyid");
    AddExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(c, signer, NID_ext_key_usage, "serverAuth");
    if (!altNames.empty()) AddExtension(c, signer, NID_subject_alt_name, altNames);
  }
  Check(X509_sign(c, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "signature");
  return certificate;
}

std::string CertificateText(X509* certificate) {
  BIO* out = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(out, certificate);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string text(data, static_cast<std::size_t>(size));
  BIO_free(out);
  return text;
}

std::string KeyText(EVP_PKEY* key) {
  BIO* out = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string text(data, static_cast<std::size_t>(size));
  BIO_free(out);
  return text;
}

ServerIdentity IdentityOf(X509* certificate, EVP_PKEY* key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  Check(X509_digest(certificate, EVP_sha256(), digest, &size) == 1, "digest");
  return {CertificateText(certificate) + KeyText(key),
          std::string(reinterpret_cast<const char*>(digest), size)};
}

}  // namespace

struct TestCertificateAuthority::Keys {
  Key key;
  Certificate certificate;
};

TestCertificateAuthority::TestCertificateAuthority() : keys_(std::make_unique<Keys>()) {
  keys_->key = NewKey();
  keys_->certificate =
      Make(keys_->key.get(), "Orvex Test CA", nullptr, nullptr, true, {}, Validity::Current);
  certificatePem_ = CertificateText(keys_->certificate.get());
}

TestCertificateAuthority::~TestCertificateAuthority() = default;

ServerIdentity TestCertificateAuthority::Issue(const std::string& altNames,
                                               Validity validity) const {
  const Key key = NewKey();
  const Certificate certificate = Make(key.get(), "test server", keys_->certificate.get(),
                                       keys_->key.get(), false, altNames, validity);
  return IdentityOf(certificate.get(), key.get());
}

ServerIdentity TestCertificateAuthority::SelfSigned(const std::string& altNames) {
  const Key key = NewKey();
  const Certificate certificate =
      Make(key.get(), "self-signed server", nullptr, nullptr, false, altNames, Validity::Current);
  return IdentityOf(certificate.get(), key.get());
}

ScopedTrustStore::ScopedTrustStore(const std::string& certificatePem,
                                   const std::string& directory) {
  const std::filesystem::path dir(directory);
  std::filesystem::create_directories(dir / "no-certificates");
  std::ofstream(dir / "trusted.pem", std::ios::binary | std::ios::trunc) << certificatePem;
  ::setenv("SSL_CERT_FILE", (dir / "trusted.pem").c_str(), 1);
  ::setenv("SSL_CERT_DIR", (dir / "no-certificates").c_str(), 1);
}

ScopedTrustStore::~ScopedTrustStore() {
  ::unsetenv("SSL_CERT_FILE");
  ::unsetenv("SSL_CERT_DIR");
}

std::string HexDigits(const std::string& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (const char c : digest) {
    text += kHex[static_cast<unsigned char>(c) >> 4];
    text += kHex[static_cast<unsigned char>(c) & 15];
  }
  return text;
}

TlsServerSession AcceptTls(int fd, const std::string& pem, std::chrono::milliseconds limit) {
  const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                                  SSL_CTX_free);
  BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* certificate = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
  BIO_free(in);
  const bool loaded = certificate != nullptr && key != nullptr &&
                      SSL_CTX_use_certificate(context.get(), certificate) == 1 &&
                      SSL_CTX_use_PrivateKey(context.get(), key) == 1;
  X509_free(certificate);
  EVP_PKEY_free(key);
  if (!loaded) return nullptr;
  const auto ms = limit.count();
  const timeval socketLimit{static_cast<time_t>(ms / 1000),
                            static_cast<suseconds_t>((ms % 1000) * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &socketLimit, sizeof socketLimit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &socketLimit, sizeof socketLimit);
  TlsServerSession session(SSL_new(context.get()));  // keeps its own reference to the context
  SSL_set_fd(session.get(), fd);
  if (SSL_accept(session.get()) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  return session;
}

}  // namespace orvex::test
