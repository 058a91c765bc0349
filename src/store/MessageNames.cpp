// Message file names and identifiers from time stamps, kept unique within one process.
#include "store/MessageNames.h"

#include <cstdio>

#include "platform/FileSystem.h"

namespace orvex {
namespace {

std::string HexName(std::uint64_t stamp) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%012llX", static_cast<unsigned long long>(stamp));
  return buffer;
}

std::string IdFromStamp(std::uint64_t stamp, std::string_view address) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%017llu", static_cast<unsigned long long>(stamp));
  const std::string_view all(digits);
  std::string id = "<";
  id.append(all.substr(0, all.size() - 9)).append(".").append(all.substr(all.size() - 9));
  id.append(".");
  // The identifier is the key of the moderator's signature record (name=value lines) and goes
  // into a header: characters that would cut the key or break the field are replaced.
  for (const char c : address) {
    const auto u = static_cast<unsigned char>(c);
    id += (c == '=' || c == '<' || c == '>' || u <= 32 || u == 127) ? '_' : c;
  }
  id += '>';
  return id;
}

bool AnyMessageFileExists(const std::string& directory, const std::string& base) {
  for (const char* extension : {".msg", ".pri", ".dig"})
    if (const std::string path = directory + base + extension;
        FileExists(path) || DirectoryExists(path))
      return true;
  return false;
}

}  // namespace

std::uint64_t MessageStamp(const LocalDateTime& t) {
  auto part = [](int value) { return static_cast<std::uint64_t>(value < 0 ? 0 : value); };
  return ((((((part(t.year) * 100 + part(t.month)) * 100 + part(t.day)) * 100 + part(t.hour)) *
                100 +
            part(t.minute)) *
               100 +
           part(t.second)) *
          1000) +
         part(t.millisecond);
}

std::string MessageFileNameAt(const LocalDateTime& time) {
  return HexName(MessageStamp(time)) + ".msg";
}

std::string MessageIdAt(const LocalDateTime& time, std::string_view address) {
  return IdFromStamp(MessageStamp(time), address);
}

std::string MessageNamer::NewMessageFileName(const std::string& directory) {
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  std::uint64_t stamp = MessageStamp(clock_.Now());
  if (stamp <= lastFileStamp_) stamp = lastFileStamp_ + 1;
  while (AnyMessageFileExists(dir, HexName(stamp))) ++stamp;
  lastFileStamp_ = stamp;
  return HexName(stamp) + ".msg";
}

std::string MessageNamer::NewMessageId(std::string_view address) {
  std::uint64_t stamp = MessageStamp(clock_.Now());
  if (stamp <= lastIdStamp_) stamp = lastIdStamp_ + 1;
  lastIdStamp_ = stamp;
  return IdFromStamp(stamp, address);
}

}  // namespace orvex
