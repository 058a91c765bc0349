// orvex-passwd: reads one password on standard input and prints its enciphered text, the form a
// password takes in a settings file.
#include <iostream>
#include <string>

#include "crypto/Passwords.h"

namespace {

constexpr std::size_t kMaxPassword = 4096;

}  // namespace

int main() {
  std::string password;
  for (int c; (c = std::cin.get()) != EOF && c != '\n';) {
    if (password.size() == kMaxPassword) {
      std::cerr << "orvex-passwd: the password is longer than " << kMaxPassword << " characters\n";
      return 2;
    }
    password += static_cast<char>(c);
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  const std::string text = orvex::EncipherPassword(password);
  if (text.empty()) {
    std::cerr << "orvex-passwd: the password could not be enciphered\n";
    return 1;
  }
  std::cout << text << '\n';
  return std::cout.good() ? 0 : 1;
}
