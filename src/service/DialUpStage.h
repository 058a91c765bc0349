// The dial-up stage of the list cycle: bring the configured connection up before the mail
// servers are reached, and down again afterwards if the service brought it up.
#pragma once

#include <string>

#include "platform/DialUpBackend.h"
#include "store/Environment.h"

namespace orvex {

class DialUpStage {
 public:
  // `settingsPath` is orvex.ini in the program directory.
  DialUpStage(std::string settingsPath, DialUpBackend& backend, const Environment& env)
      : settingsPath_(std::move(settingsPath)), backend_(backend), env_(env) {}

  // True when the network may be used: dial-up off, a connection of the entry already up, or
  // one established now.
  bool DialUpConnect();
  // Ends the connection if the service dialed it.
  void HangUp();

 private:
  void DialEntry(const std::string& entry, const std::string& user, const std::string& password);
  // Waits `pause` seconds with the countdown in place; false when a stop request ended it.
  bool WaitBetweenAttempts(long long pause);

  std::string settingsPath_;
  DialUpBackend& backend_;
  const Environment& env_;
  bool connected_ = false;
  bool dialedByService_ = false;
  std::string entry_;
};

}  // namespace orvex
