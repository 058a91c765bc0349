// Dialing with attempts and pauses, reusing a connection that is already up.
#include "service/DialUpStage.h"

#include <chrono>
#include <cmath>

#include "crypto/Passwords.h"
#include "platform/StopSignal.h"
#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

constexpr auto kPollStep = std::chrono::milliseconds(100);
// A dial that neither connects nor fails within this time is given up (a backend that never
// answers must not freeze every list behind it).
constexpr auto kDialLimit = std::chrono::minutes(3);

}  // namespace

bool DialUpStage::DialUpConnect() {
  // Every value is read from the file when it is needed, so an edit counts at the next read.
  const auto settings = [this] { return IniFile(settingsPath_); };
  if (!settings().ReadBool("DialUp", "Use dialup", false)) return true;
  connected_ = false;
  for (long long attempt = 1; attempt <= settings().ReadInteger("Dialup", "Attempts", 1);
       ++attempt) {
    const std::string entry = settings().ReadString("Dialup", "Entry", "");
    env_.log.WriteLog("Connecting to " + entry + ". Attempt #" + std::to_string(attempt),
                      LogColour::White);
    const std::string password = DecipherPassword(settings().ReadString("Dialup", "Password", ""));
    const std::string user = settings().ReadString("Dialup", "User", "");
    DialEntry(settings().ReadString("Dialup", "Entry", ""), user, password);
    if (Terminated()) {
      connected_ = false;
      break;
    }
    if (connected_) break;
    if (attempt < settings().ReadInteger("Dialup", "Attempts", 1)) {
      if (!WaitBetweenAttempts(settings().ReadInteger("Dialup", "Pause", 30))) break;
    }
  }
  return connected_;
}

void DialUpStage::DialEntry(const std::string& entry, const std::string& user,
                            const std::string& password) {
  try {
    for (const std::string& active : backend_.ActiveConnections()) {
      if (EqualsIgnoreCase(active, entry)) {
        // Up already (dialed by hand, say): use it, and leave it up afterwards.
        connected_ = true;
        dialedByService_ = false;
        entry_ = active;
        return;
      }
    }
  } catch (const std::exception& e) {
    env_.log.WriteLog(e.what(), LogColour::Red);
  }
  connected_ = false;
  std::string error;
  std::unique_ptr<DialAttempt> attempt = backend_.StartDial(entry, user, password, error);
  if (!attempt) {
    dialedByService_ = false;
    env_.log.WriteLog(error, LogColour::Red);
    return;
  }
  const auto start = env_.clock.SteadyNow();
  DialState state = DialState::Dialing;
  while ((state = attempt->Poll(error)) == DialState::Dialing) {
    if (Terminated()) {
      attempt->Cancel();
      return;
    }
    if (env_.clock.SteadyNow() - start > kDialLimit) {
      attempt->Cancel();
      env_.log.WriteLog("Dial-up of " + entry + " did not finish within 3 minutes", LogColour::Red);
      return;
    }
    env_.clock.WaitForStop(kPollStep);
  }
  if (state == DialState::Connected) {
    connected_ = true;
    dialedByService_ = true;
    entry_ = entry;
    return;
  }
  env_.log.WriteLog(error, LogColour::Red);
}

bool DialUpStage::WaitBetweenAttempts(long long pause) {
  const auto start = env_.clock.SteadyNow();
  env_.log.WriteLog("Waiting " + std::to_string(pause) + " seconds for next retry",
                    LogColour::Green);
  long long shown = -1;
  for (;;) {
    if (Terminated()) return false;
    const double elapsed = std::chrono::duration<double>(env_.clock.SteadyNow() - start).count();
    if (std::llround(elapsed) >= pause) return true;
    const long long remaining = pause - std::llround(elapsed);
    if (remaining != shown) {
      env_.log.WriteAtCursor(std::to_string(remaining) + " seconds remaining          ");
      shown = remaining;
    }
    env_.clock.WaitForStop(kPollStep);
  }
}

void DialUpStage::HangUp() {
  if (dialedByService_) {
    env_.log.WriteLog("Hanging up ...", LogColour::White);
    try {
      backend_.HangUp(entry_);
    } catch (const std::exception& e) {
      env_.log.WriteLog(e.what(), LogColour::Red);
    }
  }
  dialedByService_ = false;
  connected_ = false;
  entry_.clear();
}

}  // namespace orvex
