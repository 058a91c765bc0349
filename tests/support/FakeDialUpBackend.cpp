// The scripted dial-up backend.
#include "support/FakeDialUpBackend.h"

#include <algorithm>

#include "platform/Error.h"

namespace orvex::test {
namespace {

class FakeAttempt final : public DialAttempt {
 public:
  FakeAttempt(FakeDialUpBackend& backend, std::string entry, FakeDialUpBackend::Dial dial)
      : backend_(backend), entry_(std::move(entry)), dial_(std::move(dial)) {}

  DialState Poll(std::string& error) override {
    if (dial_.neverEnds) return DialState::Dialing;
    if (dial_.pollsWhileDialing > 0) {
      --dial_.pollsWhileDialing;
      return DialState::Dialing;
    }
    if (dial_.end == DialState::Connected) backend_.active.push_back(entry_);
    if (dial_.end == DialState::Failed) error = dial_.error;
    return dial_.end;
  }
  void Cancel() override { backend_.calls.push_back("cancel " + entry_); }

 private:
  FakeDialUpBackend& backend_;
  std::string entry_;
  FakeDialUpBackend::Dial dial_;
};

}  // namespace

std::vector<std::string> FakeDialUpBackend::ListEntries() {
  ++listings;
  if (!entries) throw Error("Error: NetworkManager is not running.");
  return *entries;
}

std::unique_ptr<DialAttempt> FakeDialUpBackend::StartDial(const std::string& entry,
                                                          const std::string& user,
                                                          const std::string& password,
                                                          std::string& error) {
  calls.push_back("dial " + entry + " " + user + " " + password);
  const auto scripted = dials.find(entry);
  const Dial dial = scripted != dials.end() ? scripted->second : Dial{};
  if (!dial.starts) {
    error = dial.error;
    return nullptr;
  }
  return std::make_unique<FakeAttempt>(*this, entry, dial);
}

void FakeDialUpBackend::HangUp(const std::string& entry) {
  calls.push_back("hang up " + entry);
  active.erase(std::remove(active.begin(), active.end(), entry), active.end());
}

}  // namespace orvex::test
