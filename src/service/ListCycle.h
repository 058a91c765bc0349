// One visit of one list: the due test and, for a due list, the stages of the cycle in order.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "platform/FileSystem.h"
#include "service/ConsoleLog.h"
#include "store/Environment.h"

namespace orvex {

class TAccount;

// The stages that run for a due list, in order. The service plugs in the real ones; each stage
// catches and logs its own failures, and the cycle catches anything that escapes.
struct CycleStages {
  // Brings the network up; false when no connection could be established.
  std::function<bool(TAccount&)> dialUp;
  std::function<void(TAccount&)> retrieve;
  std::function<void(TAccount&)> process;
  std::function<void(TAccount&)> deliver;
  std::function<void()> hangUp;
  // Told what the cycle is doing ("Processing "Sales": retrieval", "Idle") when each stage
  // starts; the service passes it on to systemd. Optional.
  std::function<void(const std::string&)> progress;
};

// Calls `action` with the path ("<dataPath><name>/") of every list directory under `dataPath`,
// in the order the file system lists them; plain files and names starting with "." are passed
// over.
void EnumerateLists(const std::string& dataPath,
                    const std::function<void(const std::string&)>& action);

class ListCycle {
 public:
  ListCycle(const Environment& env, ConsoleLog& console, CycleStages stages)
      : env_(env), console_(console), stages_(std::move(stages)) {}

  // The cycle for one list directory (ending with "/"). Never throws.
  void Run(const std::string& listDirectory);

 private:
  void RunDue(const std::string& listDirectory);
  void RunStage(const char* what, const std::function<void()>& stage);

  bool IsDue(const std::string& listDirectory);
  // One red line for a maillist.ini that exists but cannot be read; repeated while it lasts
  // at most once per default check interval, so that the log is not flooded once a second.
  void ReportUnreadable(const std::string& path, const std::string& reason);
  // Saves LastChecked; when the file cannot be written the due time is kept in memory instead.
  void SaveSettings(TAccount& account);
  void Progress(const std::string& what) const;

  // What the last visit of each list learnt, valid while neither the list directory nor its
  // maillist.ini has changed since: then the directories and store files it made still exist
  // and the settings read then are still the settings.
  struct Visit {
    FileIdentity directory;
    FileIdentity settings;
    double lastChecked = 0;
    long long checkInterval = 0;
  };

  struct Unreadable {
    std::string reason;
    double reportedAt = 0;
  };

  const Environment& env_;
  ConsoleLog& console_;
  CycleStages stages_;
  std::unordered_map<std::string, Visit> visits_;
  // LastChecked of lists whose maillist.ini could not be written at the end of their visit
  // (full disk, read-only, over the size limit): without it such a list would be due again at
  // once, and its members would get the same mail at every pass.
  std::unordered_map<std::string, double> keptLastChecked_;
  // maillist.ini files that could not be read, by path.
  std::unordered_map<std::string, Unreadable> unreadable_;
};

}  // namespace orvex
