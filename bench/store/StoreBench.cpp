// Costs of the list data store on one pass of the main loop and on an editor save:
// loading a list, saving its stores, a settings write that reaches the disk against one kept in
// memory, and naming a message file. Prints the median of each.
// Run: cmake --build build --target orvex_store_bench && build/orvex_store_bench [directory]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "store/Account.h"
#include "store/IniFile.h"
#include "store/MessageNames.h"

namespace {

using namespace orvex;

double MedianMicroseconds(int runs, const std::function<void(int)>& body) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body(i);
    const auto end = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::string TypicalSettings() {
  std::string text = "[General]\r\nName=Sales\r\nAddress=sales@example.org\r\n";
  for (int i = 0; i < 40; ++i)
    text += "Key" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
  text += "CheckInterval=10\r\nLastChecked=12/07/26 14:30:00\r\n";
  for (int s = 0; s < 14; ++s)
    text += "\r\n[Notice " + std::to_string(s) + "]\r\nSubject=Subject {ListName}\r\nText=\"" +
            std::string(400, 't') + "\\13\\10\"\r\n";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::string base = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
  std::string pattern = base + "/orvex-store-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const std::string dir = pattern + "/";

  ReplaceFileAtomically(dir + "maillist.ini", TypicalSettings());
  std::string subscribers;
  for (int i = 0; i < 1000; ++i)
    subscribers += "member" + std::to_string(i) + "@example.org=,abcdefghij\r\n";
  ReplaceFileAtomically(dir + "subscribers.ini", subscribers);
  ReplaceFileAtomically(dir + "pending.ini", "");
  ReplaceFileAtomically(dir + "signatures.ini", "");

  const LocalDateTime now{2026, 12, 7, 14, 32, 0, 0};
  const double load = MedianMicroseconds(200, [&](int) {
    TAccount account;
    account.Load(dir);
    if (IsListDue(account.Config(), now)) std::puts("unexpected: due");
  });
  TAccount account;
  account.Load(dir);
  const double save = MedianMicroseconds(50, [&](int) { account.Save(); });

  IniFile onDisk(dir + "maillist.ini");
  const double diskWrite = MedianMicroseconds(50, [&](int i) {
    onDisk.WriteString("General", "Key7", std::to_string(i));
    onDisk.Save();
  });
  IniFile inMemory = IniFile::FromText(TypicalSettings());
  const double memoryWrite = MedianMicroseconds(
      50, [&](int i) { inMemory.WriteString("General", "Key7", std::to_string(i)); });

  const IniFile parsed = IniFile::FromText(TypicalSettings());
  const double read = MedianMicroseconds(1000, [&](int) {
    if (parsed.ReadInteger("General", "CheckInterval", 10) != 10) std::puts("unexpected");
  });

  struct StepClock final : Clock {
    LocalDateTime Now() const override { return {2026, 12, 7, 14, 32, 0, 0}; }
  } frozen;
  MessageNamer namer(frozen);
  const double name = MedianMicroseconds(1000, [&](int) { namer.NewMessageFileName(dir); });

  std::printf("list load + due test (1000 subscribers)   %10.1f us\n", load);
  std::printf("save of the three stores                   %10.1f us\n", save);
  std::printf("settings write, saved (read, apply, write) %10.1f us\n", diskWrite);
  std::printf("settings write, in memory                  %10.1f us\n", memoryWrite);
  std::printf("  ratio disk / memory                      %10.1f\n", diskWrite / memoryWrite);
  std::printf("settings read (integer)                    %10.3f us\n", read);
  std::printf("new message file name (same millisecond)   %10.1f us\n", name);
  std::filesystem::remove_all(pattern);
  return 0;
}
