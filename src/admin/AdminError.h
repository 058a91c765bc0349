// The one error of orvex-admin: a sentence for the operator and the exit status it ends with.
#pragma once

#include <string>

#include "platform/Error.h"

namespace orvex::admin {

// Exit statuses: 0 done, 1 failed, 2 the command line could not be read, 75 the list stayed busy.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitBusy = 75;

class AdminError : public Error {
 public:
  explicit AdminError(const std::string& message, int status = kExitFailed)
      : Error(message), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

}  // namespace orvex::admin
