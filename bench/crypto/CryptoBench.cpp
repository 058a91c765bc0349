// 512-bit key generation and one 512-bit private-key operation, this library against OpenSSL,
// interleaved in one run so that both see the same machine load. Prints medians and ratios.
//   build/bench/crypto/orvex_crypto_bench [KEYGEN_ROUNDS] [PRIVATE_OP_ROUNDS]
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/PasswordKey.h"
#include "crypto/Rsa.h"
#include "crypto/Sha1.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Action>
double Microseconds(Action action) {
  const auto start = Clock::now();
  action();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

EVP_PKEY* OpenSslKeygen() {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
  EVP_PKEY* key = nullptr;
  if (ctx == nullptr || EVP_PKEY_keygen_init(ctx) <= 0 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 512) <= 0 || EVP_PKEY_keygen(ctx, &key) <= 0) {
    std::fprintf(stderr, "OpenSSL key generation failed\n");
    std::exit(1);
  }
  EVP_PKEY_CTX_free(ctx);
  return key;
}

void Report(const char* what, const std::vector<double>& ours, const std::vector<double>& theirs) {
  const double a = Median(ours);
  const double b = Median(theirs);
  std::printf("%-34s orvex %10.1f us   OpenSSL %10.1f us   ratio %5.2f  (%zu samples each)\n", what,
              a, b, a / b, ours.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int keygenRounds = argc > 1 ? std::atoi(argv[1]) : 300;
  const int operationRounds = argc > 2 ? std::atoi(argv[2]) : 3000;
  orvex::SystemRandom random;

  // Key generation, alternating.
  std::vector<double> oursKeygen;
  std::vector<double> theirsKeygen;
  orvex::TRSA::SeedArray seedA{};
  orvex::TRSA::SeedArray seedB{};
  for (int i = 0; i < keygenRounds; ++i) {
    for (auto& s : seedA) s = random.Below(2000001);
    for (auto& s : seedB) s = random.Below(2000001);
    oursKeygen.push_back(Microseconds([&] {
      orvex::TRSA rsa;
      rsa.SetKeyBits(orvex::KeyBits::kb0512);
      rsa.GenerateKeys(seedA, seedB, random);
    }));
    theirsKeygen.push_back(Microseconds([&] { EVP_PKEY_free(OpenSslKeygen()); }));
  }

  // One private-key operation on one block: our signature (random filler, m^d mod n, radix-64)
  // and the bare exponentiation; OpenSSL's raw private decryption (CRT, blinding).
  orvex::TRSA rsa;
  rsa.SetKeyBits(orvex::KeyBits::kb0512);
  rsa.LoadPrivateKey(orvex::kPasswordKeyN, orvex::kPasswordKeyD);
  const orvex::BigNumber n = orvex::BigNumber::FromWords(orvex::kPasswordKeyN);
  const orvex::BigNumber d = orvex::BigNumber::FromWords(orvex::kPasswordKeyD);
  const orvex::BigNumber c = orvex::BigNumber::FromHex(
      "1234567890abcdef1234567890abcdef1234567890abcdef1234567890abcdef1234567890abcdef1234567890a"
      "bcdef1234567890abcdef12345678");
  const orvex::Sha1Digest digest = orvex::Sha1Of("<20261207.023354123.alice@example.org>");

  EVP_PKEY* key = OpenSslKeygen();
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  if (EVP_PKEY_decrypt_init(ctx) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) <= 0) {
    std::fprintf(stderr, "OpenSSL decrypt set-up failed\n");
    return 1;
  }
  unsigned char in[64];
  unsigned char out[64];
  for (int i = 0; i < 64; ++i) in[i] = static_cast<unsigned char>(i + 1);
  in[0] = 0;  // below the modulus

  std::vector<double> oursSign;
  std::vector<double> oursPower;
  std::vector<double> theirsPrivate;
  for (int i = 0; i < operationRounds; ++i) {
    oursSign.push_back(Microseconds([&] { rsa.Sign(digest, random); }));
    oursPower.push_back(Microseconds([&] {
      const orvex::BigNumber m = orvex::PowerModulo(c, d, n);
      if (m.IsZero()) std::abort();
    }));
    theirsPrivate.push_back(Microseconds([&] {
      std::size_t outLength = sizeof out;
      if (EVP_PKEY_decrypt(ctx, out, &outLength, in, sizeof in) <= 0) std::abort();
    }));
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(key);

  std::printf("%s\n", OpenSSL_version(OPENSSL_VERSION));
  Report("512-bit key generation", oursKeygen, theirsKeygen);
  Report("512-bit private-key operation", oursSign, theirsPrivate);
  Report("  (bare m^d mod n, no CRT)", oursPower, theirsPrivate);
  return 0;
}
