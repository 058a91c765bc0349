// A dial-up backend for tests: a phonebook, the profiles that are up, and dial attempts scripted
// per profile; every call is recorded.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DialUpBackend.h"

namespace orvex::test {

class FakeDialUpBackend final : public DialUpBackend {
 public:
  // How bringing one profile up goes.
  struct Dial {
    bool starts = true;                    // false: StartDial gives nothing, with `error`
    int pollsWhileDialing = 0;             // Poll answers Dialing this often first
    bool neverEnds = false;                // Poll answers Dialing for ever
    DialState end = DialState::Connected;  // then this; Connected puts the profile in `active`
    std::string error;                     // the backend's text on failure
  };

  // Without `entries` (nullopt), throws the text a backend gives when it cannot be asked.
  std::vector<std::string> ListEntries() override;
  std::vector<std::string> ActiveConnections() override { return active; }
  std::unique_ptr<DialAttempt> StartDial(const std::string& entry, const std::string& user,
                                         const std::string& password, std::string& error) override;
  void HangUp(const std::string& entry) override;

  std::optional<std::vector<std::string>> entries = std::vector<std::string>{};
  std::vector<std::string> active;
  std::map<std::string, Dial> dials;  // by profile; a profile without one connects at once
  // "dial <entry> <user> <password>", "cancel <entry>", "hang up <entry>", in order.
  std::vector<std::string> calls;
  int listings = 0;
};

}  // namespace orvex::test
