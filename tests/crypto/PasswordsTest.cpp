// Stored passwords: the built-in pair reads what it wrote, and anything else reads as empty.
#include <gtest/gtest.h>

#include <string>

#include "crypto/Passwords.h"

namespace orvex {
namespace {

TEST(PasswordsTest, RoundTripsAnyBytes) {
  for (const std::string& password : {std::string(), std::string("secret"), std::string(63, 'x'),
                                      std::string("\xE9t\xE9 \x01"), std::string(200, '\xFF')})
    EXPECT_EQ(DecipherPassword(EncipherPassword(password)), password) << password.size();
}

TEST(PasswordsTest, ReadsATextWrittenByAnIndependentImplementation) {
  // Made with Python's pow and the built-in public numbers; pins the pair both programs share.
  const char* text =
      "12VVcpWlSRA359la52IrOE3aDaDVKh5ayqI9RCI08F2+1tBasCzaksc1W7t4yw6rBp-2CeUGiKO-cOZRXRxtOU";
  EXPECT_EQ(DecipherPassword(text), "secret");
  EXPECT_EQ(EncipherPassword("secret"), text);
}

TEST(PasswordsTest, AnythingElseReadsAsEmpty) {
  const std::string good = EncipherPassword("secret");
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"typed_by_hand", "secret"},
      {"empty", ""},
      {"truncated", good.substr(0, 80)},
      {"bad_character", good.substr(0, 85) + "!"},
      // Another pair's encipherment of "secret".
      {"other_pair",
       "yAi-GuAwIXd-5Eaoje5XzMIqq5ggMVjiKJ2lumGl3E307YsyAc-A5eb5Dpfx5jP0NqeLzoEn6hZVAXp7CfAF1k"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecipherPassword(c.text), "") << c.name;
}

}  // namespace
}  // namespace orvex
