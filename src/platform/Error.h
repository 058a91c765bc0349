// The one base class of the system's errors: an exception that carries the message text.
#pragma once

#include <cstring>
#include <stdexcept>
#include <string>

namespace orvex {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A failed system call: the text is `message`, ": " and the system's reason; the errno is kept
// so that a caller can tell a fault of the machine (a full disk, a read-only folder) from one
// of the data it was handling.
class SystemError : public Error {
 public:
  SystemError(const std::string& message, int errorNumber)
      : Error(message + ": " + std::strerror(errorNumber)), errorNumber_(errorNumber) {}
  int ErrorNumber() const { return errorNumber_; }

 private:
  int errorNumber_;
};

}  // namespace orvex
