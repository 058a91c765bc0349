// The session key pair the service makes at start-up.
#include "crypto/SessionKeys.h"

#include <gtest/gtest.h>

#include <string>

#include "support/Fakes.h"

namespace orvex {
namespace {

TEST(SessionKeysTest, SessionKeysAreMadeBetweenTwoLogLines) {
  SystemRandom random;
  test::RecordingLogger log;
  MakeSessionKeys(log, random);
  log.entries.clear();
  const std::string before = SessionKeys().publicKey;
  MakeSessionKeys(log, random);
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].text, "Generating session keys ...");
  EXPECT_EQ(log.entries[1].text, "Done.");
  for (const auto& entry : log.entries) EXPECT_EQ(entry.colour, LogColour::White);
  EXPECT_NE(SessionKeys().publicKey, before);
  EXPECT_EQ(SessionKeys().privateKey.substr(0, 86), SessionKeys().publicKey.substr(7));
}

}  // namespace
}  // namespace orvex
