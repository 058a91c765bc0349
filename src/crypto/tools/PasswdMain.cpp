// orvex-passwd: reads one password on standard input and prints its enciphered text, the form a
// password takes in a settings file.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "crypto/Passwords.h"

namespace {

constexpr std::size_t kMaxPassword = 4096;

constexpr const char* kUsage =
    "Usage: orvex-passwd\n"
    "Reads one password (up to the end of the first line) on standard input and prints the\n"
    "enciphered text to put into a password key of maillist.ini or orvex.ini. On a terminal it\n"
    "asks for the password without showing it.\n"
    "  printf '%s\\n' 'the secret' | orvex-passwd\n";

// Echo off while a person types the password; restored on every way out of the read.
class NoEcho {
 public:
  NoEcho() {
    if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~NoEcho() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    // Any argument is a mistake or a request for help: never encipher in that case, since an
    // operator who typed "--help" must not get the text of an empty password back.
    const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fputs(kUsage, help ? stdout : stderr);
    return help && argc == 2 ? 0 : 2;
  }
  const bool terminal = ::isatty(STDIN_FILENO) != 0;
  std::string password;
  {
    std::optional<NoEcho> noEcho;
    if (terminal) {
      std::fputs("Password: ", stderr);
      std::fflush(stderr);
      noEcho.emplace();
    }
    for (int c; (c = std::cin.get()) != EOF && c != '\n';) {
      if (password.size() == kMaxPassword) {
        if (terminal) std::fputs("\n", stderr);
        std::cerr << "orvex-passwd: the password is longer than " << kMaxPassword
                  << " characters\n";
        return 2;
      }
      password += static_cast<char>(c);
    }
  }
  if (terminal) std::fputs("\n", stderr);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  const std::string text = orvex::EncipherPassword(password);
  if (text.empty()) {
    std::cerr << "orvex-passwd: the password could not be enciphered\n";
    return 1;
  }
  std::cout << text << '\n';
  return std::cout.good() ? 0 : 1;
}
