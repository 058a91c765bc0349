// TRSA: radix-64, key texts and their errors, padding, encipherment, signatures, key generation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/Rsa.h"
#include "support/Fakes.h"

namespace orvex {
namespace {

// The built-in password pair and a second pair; both checked against Python's pow.
const std::string kPublic =
    "++11Ik:fyRpbMuc3P2HC7+0hdQNc5wts6418QmQGbkT93CixcjtpnZcwr9ZsoFXw41qFir3L5joZ4orEw81xp18VrnmP+";
const std::string kPrivate =
    "fyRpbMuc3P2HC7+0hdQNc5wts6418QmQGbkT93CixcjtpnZcwr9ZsoFXw41qFir3L5joZ4orEw81xp18VrnmP+:"
    "vcCXXvoOC9K4AN8QAVxWV9YWWdpFHnxz+RvtCHsKDKvehrMZK+f66eqdaNX8QWJ9AhjDBft19O0FOiD00vfLg+";
const std::string kOtherPublic =
    "++11Ik:C7fqXpz2N2PWKpfjIDv76c1Qm6Ju0JUISgvKFcxvwGqk5SVCm8ycMk8+Z3xyK8ZKV3aoFCSK0Qh6NtFHPfsSmE";
const std::string kModulusText = kPublic.substr(7);  // 86 characters, 64 bytes

template <typename Kind, typename Action>
void ExpectFailure(Action action, const std::string& message, const std::string& name) {
  try {
    action();
    ADD_FAILURE() << name << ": no error";
  } catch (const Kind& e) {
    EXPECT_EQ(std::string(e.what()), message) << name;
  } catch (const std::exception& e) {
    ADD_FAILURE() << name << ": wrong kind of error: " << e.what();
  }
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (const int v : values) s += static_cast<char>(v);
  return s;
}

TEST(Radix64Test, EncodesAndDecodesEveryGroupLength) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"one_byte", Bytes({0xFF}), "zk"},
      {"two_bytes", Bytes({0x01, 0x02}), "+E6"},
      {"three_bytes", "abc", "MK7X"},
      {"block_of_zeros", std::string(64, '\0'), std::string(86, '+')},
      {"block_of_ones", std::string(64, '\xFF'), std::string(84, 'z') + "zk"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Radix64Encode(c.bytes), c.text) << c.name;
    EXPECT_EQ(Radix64Decode(c.text), c.bytes) << c.name;
  }
}

TEST(Radix64Test, RejectsCharactersOutsideTheAlphabet) {
  for (const char* text : {"ab=c", "MK7X/", "a b"})
    ExpectFailure<EConvertError>([&] { Radix64Decode(text); },
                                 "Error converting from Base64 - invalid character", text);
}

TEST(RsaKeyTextTest, RejectsMalformedKeysWithTheirKindAndMessage) {
  struct Case {
    const char* name;
    std::string text;
    bool convertError;  // else EInvalidKey
    const char* message;
  };
  const std::string e = "++11Ik";
  const Case publicCases[] = {
      {"no_colon", e + kModulusText, false, "Public key not valid"},
      {"modulus_63_bytes", e + ":" + kModulusText.substr(0, 84), false,
       "Public key has incorrect length"},
      {"modulus_65_bytes", e + ":" + kModulusText + "+", false, "Public key has incorrect length"},
      {"exponent_65_bytes", kModulusText + "+:" + kModulusText, false,
       "Public key has incorrect length"},
      {"exponent_bad_character", "++1*Ik:" + kModulusText, true, "Public key not valid"},
      {"modulus_bad_character", e + ":" + kModulusText.substr(0, 85) + "=", true,
       "Public key not valid"},
      {"modulus_zero", e + ":" + std::string(86, '+'), false, "Public key not valid"},
  };
  for (const auto& c : publicCases) {
    TRSA rsa;
    rsa.SetPublicKey(kPublic);
    if (c.convertError)
      ExpectFailure<EConvertError>([&] { rsa.SetPublicKey(c.text); }, c.message, c.name);
    else
      ExpectFailure<EInvalidKey>([&] { rsa.SetPublicKey(c.text); }, c.message, c.name);
    EXPECT_FALSE(rsa.PublicKeyLoaded()) << c.name;
    EXPECT_EQ(rsa.PublicKey(), "") << c.name;
    EXPECT_EQ(rsa.Status(), c.message) << c.name;
    ExpectFailure<ENoKeyLoaded>([&] { rsa.Encipher("x"); }, "Public key not loaded", c.name);
  }
  const std::string d = kPrivate.substr(87);
  const Case privateCases[] = {
      {"no_colon", kModulusText + d, false, "Private key not valid"},
      {"exponent_63_bytes", kModulusText + ":" + d.substr(0, 84), false,
       "Private key has incorrect length"},
      {"modulus_65_bytes", kModulusText + "+:" + d, false, "Private key has incorrect length"},
      {"exponent_bad_character", kModulusText + ":" + d.substr(0, 85) + "=", true,
       "Private key not valid"},
  };
  for (const auto& c : privateCases) {
    TRSA rsa;
    if (c.convertError)
      ExpectFailure<EConvertError>([&] { rsa.SetPrivateKey(c.text); }, c.message, c.name);
    else
      ExpectFailure<EInvalidKey>([&] { rsa.SetPrivateKey(c.text); }, c.message, c.name);
    EXPECT_FALSE(rsa.PrivateKeyLoaded()) << c.name;
  }
}

TEST(RsaKeyTextTest, AcceptsAFourByteExponentAndKeepsTheTexts) {
  TRSA rsa;
  std::vector<std::string> statuses;
  rsa.SetStatusChanged([&](const std::string& s) { statuses.push_back(s); });
  rsa.SetKeyBits(KeyBits::kb0512);
  rsa.SetPublicKey(kPublic);
  rsa.SetPrivateKey(kPrivate);
  EXPECT_TRUE(rsa.PublicKeyLoaded());
  EXPECT_TRUE(rsa.PrivateKeyLoaded());
  EXPECT_EQ(rsa.PublicKey(), kPublic);
  EXPECT_EQ(rsa.PrivateKey(), kPrivate);
  EXPECT_EQ(statuses, (std::vector<std::string>{"TRSA using 512 bit key", "Public key loaded OK",
                                                "Private key loaded OK"}));
  rsa.Clear();
  EXPECT_FALSE(rsa.PublicKeyLoaded());
  EXPECT_FALSE(rsa.PrivateKeyLoaded());
  EXPECT_EQ(rsa.PublicKey(), "");
  EXPECT_EQ(rsa.PrivateKey(), "");
  ExpectFailure<ENoKeyLoaded>([&] { rsa.Decipher(std::string(86, '+')); }, "Private key not loaded",
                              "after clear");
}

class RsaCipherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rsa.SetKeyBits(KeyBits::kb0512);
    rsa.SetPublicKey(kPublic);
    rsa.SetPrivateKey(kPrivate);
  }
  TRSA rsa;
};

TEST_F(RsaCipherTest, TextsOfEveryLengthRoundTripInWholeBlocks) {
  struct Case {
    std::size_t length;
    std::size_t characters;
  };
  const Case cases[] = {{0, 86}, {1, 86}, {62, 86}, {63, 171}, {64, 171}, {125, 171}, {126, 256}};
  for (const auto& c : cases) {
    std::string text;
    for (std::size_t i = 0; i < c.length; ++i) text += static_cast<char>(0x80 + i % 100);
    const std::string cipher = rsa.Encipher(text);
    EXPECT_EQ(cipher.size(), c.characters) << c.length;
    EXPECT_EQ(rsa.Decipher(cipher), text) << c.length;
  }
}

TEST_F(RsaCipherTest, MatchesAnIndependentEncipherment) {
  // Made with Python's pow from the pair's numbers: "secret" padded with 57 bytes of 57.
  EXPECT_EQ(
      rsa.Encipher("secret"),
      "12VVcpWlSRA359la52IrOE3aDaDVKh5ayqI9RCI08F2+1tBasCzaksc1W7t4yw6rBp-2CeUGiKO-cOZRXRxtOU");
}

TEST_F(RsaCipherTest, AnEmptyTextIsOneBlockOfPadding) {
  const std::string cipher = Radix64Decode(rsa.Encipher(""));
  ASSERT_EQ(cipher.size(), 64u);
  BigNumber::Words words{};
  for (std::size_t i = 0; i < 64; ++i)
    words[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(cipher[i]))
                    << 8 * (i % 4);
  const BigNumber d = BigNumber::FromHex(
      "0bbad7b0916ae3c2be432da032dbcf36ca72254bada99998580ac822eab776253e163d6e01def939514f3f7fb92"
      "28a9d321f62848631929cbd1a38b5ee83a38f");
  const BigNumber n = BigNumber::FromHex(
      "877cf26c83f750ca6d3743c25c7bf494f646edc54463f060f372e5e3f9d7396853aef68b4a7c1f2c8329cc9c7f3"
      "9e081b69719a0133890028ea815b1afe7759d");
  const BigNumber m = PowerModulo(BigNumber::FromWords(words), d, n);
  // 63 bytes of value 63 under a zero top byte.
  std::string expected;
  for (int i = 0; i < 63; ++i) expected += "3f";
  EXPECT_EQ(m.ToHex(), expected);
}

TEST_F(RsaCipherTest, DecipherRejectsDamagedTexts) {
  const std::string good = rsa.Encipher("password");
  TRSA other;
  other.SetPublicKey(kOtherPublic);
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"bad_character", good.substr(0, 85) + "=", "String not valid"},
      {"empty", "", "String has incorrect length"},
      {"shorter_than_a_block", good.substr(0, 84), "String has incorrect length"},
      {"block_and_a_half", good + good.substr(0, 43), "String has incorrect length"},
      {"under_another_key", other.Encipher("password"), "Error in padding"},
      {"zero_block", std::string(86, '+'), "Error in padding"},
  };
  for (const auto& c : cases)
    ExpectFailure<EConvertError>([&] { rsa.Decipher(c.text); }, c.message, c.name);
}

TEST(RsaSignatureTest, VerifiesExactlyTheSignedBytes) {
  test::FakeRandom random;
  TRSA signer;
  signer.SetPrivateKey(kPrivate);
  std::vector<std::uint8_t> data(20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
  signer.Sign(data, random);
  ASSERT_TRUE(signer.SignatureLoaded());
  const std::string signature = signer.Signature();
  EXPECT_EQ(signature.size(), 86u);

  auto verify = [](const std::string& key, const std::string& sig,
                   const std::vector<std::uint8_t>& bytes) {
    TRSA checker;
    checker.SetPublicKey(key);
    checker.SetSignature(sig);
    return checker.Verify(bytes);
  };
  EXPECT_TRUE(verify(kPublic, signature, data));
  std::vector<std::uint8_t> changed = data;
  changed[7] ^= 1;
  EXPECT_FALSE(verify(kPublic, signature, changed));
  EXPECT_FALSE(verify(kOtherPublic, signature, data));
  std::string altered = signature;
  altered[10] = altered[10] == 'A' ? 'B' : 'A';
  EXPECT_FALSE(verify(kPublic, altered, data));
  ExpectFailure<EConvertError>([&] { verify(kPublic, signature.substr(1), data); },
                               "Signature has incorrect length", "shortened");
  ExpectFailure<EConvertError>([&] { verify(kPublic, "*" + signature.substr(1), data); },
                               "Signature not valid", "bad character");
}

TEST(RsaSignatureTest, MissingKeysAndSignatureAreReported) {
  test::FakeRandom random;
  TRSA rsa;
  const std::vector<std::uint8_t> data(20, 1);
  ExpectFailure<ENoKeyLoaded>([&] { rsa.Sign(data, random); }, "Private key not loaded", "sign");
  ExpectFailure<ENoKeyLoaded>([&] { rsa.Verify(data); }, "Public key not loaded", "verify");
  rsa.SetPublicKey(kPublic);
  ExpectFailure<ENoKeyLoaded>([&] { rsa.Verify(data); }, "Signature not loaded", "no signature");
  rsa.SetPrivateKey(kPrivate);
  // The block keeps its top word zero: longer data cannot be signed.
  EXPECT_THROW(rsa.Sign(std::vector<std::uint8_t>(61, 1), random), Error);
}

TEST(RsaKeyGenerationTest, MakesAPairThatLoadsAndWorks) {
  SystemRandom random;
  TRSA::SeedArray seedA{};
  TRSA::SeedArray seedB{};
  for (std::size_t i = 0; i < seedA.size(); ++i) {
    seedA[i] = static_cast<std::uint32_t>(i * 15013);
    seedB[i] = static_cast<std::uint32_t>(1999999 - i);
  }
  TRSA rsa;
  std::vector<std::string> statuses;
  rsa.SetStatusChanged([&](const std::string& s) { statuses.push_back(s); });
  rsa.SetKeyBits(KeyBits::kb0512);
  rsa.GenerateKeys(seedA, seedB, random);
  EXPECT_EQ(statuses,
            (std::vector<std::string>{"TRSA using 512 bit key", "Finding first random prime",
                                      "Finding second random prime", "Calculating keys", "Idle"}));
  ASSERT_TRUE(rsa.PublicKeyLoaded());
  ASSERT_TRUE(rsa.PrivateKeyLoaded());
  // e is odd, from 50001 up: 3 bytes in one 4-byte word, "++" then 4 characters.
  const std::string& pub = rsa.PublicKey();
  ASSERT_EQ(pub.find(':'), 6u);
  EXPECT_EQ(pub.substr(0, 2), "++");
  EXPECT_EQ(pub.size(), 6u + 1 + 86);
  EXPECT_EQ(rsa.PrivateKey().size(), 86u + 1 + 86);
  EXPECT_EQ(rsa.PrivateKey().substr(0, 86), pub.substr(7));

  TRSA loaded;
  loaded.SetPublicKey(rsa.PublicKey());
  loaded.SetPrivateKey(rsa.PrivateKey());
  EXPECT_EQ(loaded.Decipher(loaded.Encipher("round trip")), "round trip");
  const std::vector<std::uint8_t> data(20, 0x5A);
  loaded.Sign(data, random);
  EXPECT_TRUE(loaded.Verify(data));
}

}  // namespace
}  // namespace orvex
