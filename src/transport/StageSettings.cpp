// Stored passwords of the protocol stages.
#include "transport/StageSettings.h"

#include "crypto/Passwords.h"

namespace orvex {

std::string DecipherStoredPassword(const std::string& stored) {
  try {
    return DecipherPassword(stored);
  } catch (const std::exception&) {
    return {};  // any failure gives an empty password
  }
}

}  // namespace orvex
