// Fakes of the platform interfaces.
#include "support/Fakes.h"

namespace orvex::test {

void FakeClock::AdvanceMilliseconds(std::int64_t ms) {
  const int offset = now_.utcOffsetMinutes;
  now_ = FromDays(ToDays(now_) + static_cast<double>(ms) / 86400000.0);
  now_.utcOffsetMinutes = offset;
}

void FakeRandom::Fill(void* data, std::size_t size) {
  auto* out = static_cast<std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    if (!queued_.empty()) {
      out[i] = queued_.front();
      queued_.pop_front();
    } else {
      out[i] = next_++;
    }
  }
}

bool RecordingLogger::Contains(std::string_view text) const {
  for (const auto& e : entries)
    if (e.text == text) return true;
  return false;
}

std::vector<std::string> RecordingLogger::Texts() const {
  std::vector<std::string> texts;
  for (const auto& e : entries) texts.push_back(e.text);
  return texts;
}

std::vector<std::string> RecordingLogger::Texts(LogColour colour) const {
  std::vector<std::string> texts;
  for (const auto& e : entries)
    if (e.colour == colour) texts.push_back(e.text);
  return texts;
}

std::string FetchFailedLine(int mailbox, const std::string& list, int port,
                            const std::string& host) {
  return "Fetching failed: POP3 mailbox " + std::to_string(mailbox) + " of list " + list + " at " +
         host + " port " + std::to_string(port);
}

std::string DeliveryFailedLine(const std::string& list, int port, const std::string& host) {
  return "Delivery failed: SMTP relay of list " + list + " at " + host + " port " +
         std::to_string(port);
}

}  // namespace orvex::test
