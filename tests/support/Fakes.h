// Fakes of the platform interfaces: a settable clock, a scripted random source, a recording log.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Logger.h"
#include "platform/SecureRandom.h"

namespace orvex::test {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(LocalDateTime now = {2026, 12, 7, 2, 33, 54, 123, 60}) : now_(now) {}
  LocalDateTime Now() const override { return now_; }
  void Set(const LocalDateTime& now) { now_ = now; }
  void AdvanceMilliseconds(std::int64_t ms);

 private:
  LocalDateTime now_;
};

// Returns queued bytes first, then a deterministic counter pattern.
class FakeRandom final : public RandomSource {
 public:
  void Fill(void* data, std::size_t size) override;
  void Queue(const std::vector<std::uint8_t>& bytes) {
    queued_.insert(queued_.end(), bytes.begin(), bytes.end());
  }

 private:
  std::deque<std::uint8_t> queued_;
  std::uint8_t next_ = 1;
};

struct LogEntry {
  std::string text;
  int level;
  LogColour colour;
};

class RecordingLogger final : public Logger {
 public:
  void WriteLog(std::string_view text, int level, LogColour colour) override {
    entries.push_back({std::string(text), level, colour});
  }
  void WriteAtCursor(std::string_view text) override { cursorWrites.emplace_back(text); }
  bool Contains(std::string_view text) const;
  std::vector<std::string> Texts() const;
  std::vector<std::string> Texts(LogColour colour) const;  // the entries of one colour

  std::vector<LogEntry> entries;
  std::vector<std::string> cursorWrites;
};

// The red line that follows any failure ending the visit of a list's POP3 mailbox, and the one
// that follows any failure ending its delivery; written out here once for every transport test.
std::string FetchFailedLine(int mailbox, const std::string& list, int port,
                            const std::string& host = "127.0.0.1");
std::string DeliveryFailedLine(const std::string& list, int port,
                               const std::string& host = "127.0.0.1");

}  // namespace orvex::test
