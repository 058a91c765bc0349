// The network-connection ("dial-up") backend: connection profiles that can be listed, brought up
// with a user name and password, watched while they come up, and brought down again.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace orvex {

enum class DialState { Dialing, Connected, Failed };

// One attempt to bring a profile up, started by `DialUpBackend::StartDial`.
class DialAttempt {
 public:
  virtual ~DialAttempt() = default;
  // Looks at the attempt without waiting; on Failed, `error` holds the backend's text.
  virtual DialState Poll(std::string& error) = 0;
  // Gives the attempt up (a stop request) and leaves the profile down.
  virtual void Cancel() = 0;
};

class DialUpBackend {
 public:
  virtual ~DialUpBackend() = default;
  // Every profile that can be dialed, in the backend's order. Throws orvex::Error with the
  // backend's text when it cannot be asked.
  virtual std::vector<std::string> ListEntries() = 0;
  // The names of the profiles that are up now.
  virtual std::vector<std::string> ActiveConnections() = 0;
  // Starts bringing `entry` up. Nothing when the attempt cannot even start; `error` then holds
  // the backend's text.
  virtual std::unique_ptr<DialAttempt> StartDial(const std::string& entry, const std::string& user,
                                                 const std::string& password,
                                                 std::string& error) = 0;
  virtual void HangUp(const std::string& entry) = 0;
};

// NetworkManager through `nmcli`, the interface it offers to scripts.
std::unique_ptr<DialUpBackend> MakeNetworkManagerBackend();

}  // namespace orvex
