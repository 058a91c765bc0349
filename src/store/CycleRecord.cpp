// The last-cycle record: a [Cycle] section of an INI file.
#include "store/CycleRecord.h"

#include <ctime>

#include "platform/FileSystem.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

constexpr const char* kSection = "Cycle";

// Failure texts can be long and hold line breaks; the record keeps one bounded line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  if (text.size() > 1000) text.resize(1000);
  return text;
}

}  // namespace

void WriteCycleRecord(const std::string& listDirectory, const CycleRecord& record) {
  IniFile file = IniFile::FromText({});
  file.WriteString(kSection, "Start", OneLine(record.start));
  file.WriteString(kSection, "End", OneLine(record.end));
  file.WriteInteger(kSection, "DurationMs", record.durationMs);
  file.WriteInteger(kSection, "Handled", record.handled);
  file.WriteInteger(kSection, "Sent", record.sent);
  file.WriteInteger(kSection, "Failed", record.failed);
  // Quoted, so that blanks at either end and a leading quote survive the read.
  file.WriteString(kSection, "LastError", "\"" + OneLine(record.lastError) + "\"");
  ReplaceFileAtomically(listDirectory + kCycleRecordName, file.Text(), FileMode::Private);
}

std::optional<CycleRecord> ReadCycleRecord(const std::string& listDirectory) {
  const std::string path = listDirectory + kCycleRecordName;
  const RegularFileRead read = ReadRegularFile(path, 64 * 1024);
  if (read.outcome != RegularFileRead::Outcome::Read) return std::nullopt;
  const IniFile file = IniFile::FromText(read.content);
  CycleRecord record;
  record.start = file.ReadString(kSection, "Start", "");
  record.end = file.ReadString(kSection, "End", "");
  record.durationMs = file.ReadInteger(kSection, "DurationMs", 0);
  record.handled = file.ReadInteger(kSection, "Handled", 0);
  record.sent = file.ReadInteger(kSection, "Sent", 0);
  record.failed = file.ReadInteger(kSection, "Failed", 0);
  record.lastError = file.ReadString(kSection, "LastError", "");
  return record;
}

std::string RecordTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace orvex
