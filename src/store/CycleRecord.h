// What the service did in a list's last cycle, kept in a small file in the list directory for
// `orvex-admin status` and `lists`. Written only at the end of a due list's cycle, so an idle
// service writes nothing.
#pragma once

#include <optional>
#include <string>

namespace orvex {

inline constexpr const char* kCycleRecordName = "lastcycle.ini";

struct CycleRecord {
  std::string start;  // local time, "YYYY-MM-DD HH:MM:SS"
  std::string end;
  long long durationMs = 0;
  long long handled = 0;  // inbox files the processing stage took away
  long long sent = 0;     // outbox files the delivery stage took away (sent, or set aside)
  long long failed = 0;   // files that went to Failed/ during the cycle
  std::string lastError;  // the last failure line the cycle logged; empty when none
};

// Replaces the record atomically (0600). Throws orvex::Error.
void WriteCycleRecord(const std::string& listDirectory, const CycleRecord& record);
// Nothing when the list has no record yet (or it cannot be read).
std::optional<CycleRecord> ReadCycleRecord(const std::string& listDirectory);

// The local time in the record's form.
std::string RecordTimeNow();

}  // namespace orvex
