// The one base class of the system's errors: an exception that carries the message text.
#pragma once

#include <stdexcept>
#include <string>

namespace orvex {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace orvex
