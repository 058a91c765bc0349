// The moderator-signature cycle: issue on forwarding, check on return, consume, restarts,
// purged entries and tampered messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/SessionKeys.h"
#include "processing/ModeratorSignature.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"

namespace orvex {
namespace {

class ModeratorSignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeSessionKeys(log, random);
    log.entries.clear();
    headers = NameValueList({"From=Alice <alice@example.org>", "Message-Id=<original@mua>",
                             "Subject=Hello", "To=list@example.org"});
  }

  NameValueList Forwarded() {
    NameValueList forwarded = headers;
    IssueModeratorSignature(signatures, forwarded, "alice@example.org", env);
    return forwarded;
  }
  bool Check(NameValueList& message, Consume consume = Consume::No) {
    return CheckModeratorSignature(signatures, message, consume, env);
  }

  test::FakeClock clock;  // 2026-12-07 02:33:54.123
  SystemRandom random;
  test::RecordingLogger log;
  MessageNamer namer{clock};
  Environment env{clock, random, log, namer};
  NameValueList signatures;
  NameValueList headers;
};

TEST_F(ModeratorSignatureTest, IssueSetsTheIdentifierInPlaceAndRecordsTheEntry) {
  const NameValueList forwarded = Forwarded();
  const std::string id = "<20261207.023354123.alice@example.org>";
  EXPECT_EQ(forwarded.Lines()[1], "Message-Id=" + id);
  EXPECT_EQ(forwarded.Count(), 5u);
  EXPECT_EQ(forwarded.NameAt(4), "X-Moderator-Signature");
  EXPECT_EQ(forwarded.ValueAt(4).size(), 86u);
  ASSERT_EQ(signatures.Count(), 1u);
  EXPECT_EQ(signatures.Lines()[0], id + "=46363," + SessionKeys().publicKey);
}

TEST_F(ModeratorSignatureTest, AReturnVerifiesUntilItIsConsumed) {
  const NameValueList forwarded = Forwarded();
  NameValueList returned = forwarded;
  EXPECT_TRUE(Check(returned, Consume::No));
  EXPECT_EQ(signatures.Count(), 1u);
  EXPECT_TRUE(returned.Contains("X-Moderator-Signature"));

  EXPECT_TRUE(Check(returned, Consume::Yes));
  EXPECT_EQ(signatures.Count(), 0u);
  EXPECT_FALSE(returned.Contains("X-Moderator-Signature"));
  EXPECT_TRUE(log.entries.empty());

  NameValueList again = forwarded;
  EXPECT_FALSE(Check(again, Consume::Yes));
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"Public key not loaded"});
  EXPECT_TRUE(again.Contains("X-Moderator-Signature"));
}

TEST_F(ModeratorSignatureTest, ASignatureFromBeforeARestartStillVerifies) {
  NameValueList returned = Forwarded();
  MakeSessionKeys(log, random);  // what a restart of the service does
  clock.AdvanceMilliseconds(3 * 86400000LL);
  EXPECT_TRUE(Check(returned, Consume::Yes));
}

TEST_F(ModeratorSignatureTest, TamperedOrUnsignedMessagesDoNotVerify) {
  const NameValueList forwarded = Forwarded();
  const std::string id = forwarded.Value("Message-Id");
  const std::string signature = forwarded.Value("X-Moderator-Signature");
  // Another message, signed under the next session's key.
  MakeSessionKeys(log, random);
  NameValueList other = headers;
  clock.AdvanceMilliseconds(1);
  IssueModeratorSignature(signatures, other, "mallory@example.org", env);
  std::string altered = signature;
  altered[5] = altered[5] == 'A' ? 'B' : 'A';

  struct Case {
    const char* name;
    std::string header;
    std::string value;
    std::string storeValue;  // replaces the entry of `id` when not empty
    const char* log;         // the logged error, or empty when verification just fails
  };
  const Case cases[] = {
      {"changed_identifier", "Message-Id", "<20261207.023354124.alice@example.org>", "",
       "Public key not loaded"},
      {"no_identifier", "Message-Id", "", "", "Public key not loaded"},
      {"changed_signature", "X-Moderator-Signature", altered, "", ""},
      {"another_messages_signature", "X-Moderator-Signature", other.Value("X-Moderator-Signature"),
       "", ""},
      {"no_signature", "X-Moderator-Signature", "", "", ""},
      {"truncated_signature", "X-Moderator-Signature", signature.substr(0, 40), "",
       "Signature has incorrect length"},
      {"malformed_signature", "X-Moderator-Signature", signature.substr(0, 40) + "*", "",
       "Signature not valid"},
      {"purged_entry", "Subject", "Hello", "-", "Public key not loaded"},
      {"entry_without_key", "Subject", "Hello", "46363", "Public key not loaded"},
      {"entry_with_damaged_key", "Subject", "Hello", "46363,++11Ik:zz", "Public key not loaded"},
      {"entry_with_another_key", "Subject", "Hello",
       "46363," + CommaItem(signatures.Value(other.Value("Message-Id")), 1), ""},
  };
  for (const auto& c : cases) {
    NameValueList store = signatures;
    if (c.storeValue == "-")
      store.SetValue(id, "");
    else if (!c.storeValue.empty())
      store.SetValue(id, c.storeValue);
    NameValueList message = forwarded;
    message.SetValue(c.header, c.value);
    log.entries.clear();
    EXPECT_FALSE(CheckModeratorSignature(store, message, Consume::Yes, env)) << c.name;
    if (*c.log != '\0') {
      ASSERT_EQ(log.entries.size(), 1u) << c.name;
      EXPECT_EQ(log.entries[0].text, c.log) << c.name;
      EXPECT_EQ(log.entries[0].colour, LogColour::White) << c.name;
    } else {
      EXPECT_TRUE(log.entries.empty()) << c.name;
    }
    EXPECT_EQ(store.Count(), c.storeValue == "-" ? 1u : 2u) << c.name << ": nothing consumed";
  }
}

TEST_F(ModeratorSignatureTest, AnOrdinaryPostWithoutASignatureLogsNothing) {
  EXPECT_FALSE(Check(headers, Consume::Yes));
  EXPECT_TRUE(log.Texts().empty());
}

}  // namespace
}  // namespace orvex
