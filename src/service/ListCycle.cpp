// The list cycle: due test, stages, LastChecked, and the store save at the end of a due visit.
#include "service/ListCycle.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "store/Account.h"
#include "store/CycleRecord.h"
#include "store/IniFile.h"
#include "store/ListLock.h"

namespace orvex {
namespace {

const char* const kStoreFiles[] = {"subscribers.ini", "pending.ini", "signatures.ini"};
const char* const kMessageDirectories[] = {"Inbox", "Outbox", "Digest"};
// How often an unreadable maillist.ini is reported while it stays so: the default CheckInterval.
constexpr double kUnreadableReportDays = 10.0 / (24 * 60);

std::string ErrorText(const std::exception& e) {
  return e.what();
}

// Files in a queue folder.
long long QueueFiles(const std::string& directory) {
  long long count = 0;
  for (const DirectoryEntry& entry : ListDirectory(directory))
    if (!entry.isDirectory) ++count;
  return count;
}

// What a due cycle did, for `orvex-admin status`: counted from the queue folders around the
// stages, so that the stages need not report anything.
class CycleRecorder {
 public:
  CycleRecorder(std::string listDirectory, ConsoleLog& console)
      : dir_(std::move(listDirectory)), console_(console) {
    record_.start = RecordTimeNow();
    console_.TakeLastFailure();  // a failure of an earlier list is not this one's
    failedBefore_ = QueueFiles(dir_ + "Failed");
  }
  void BeforeProcessing() { inbox_ = QueueFiles(dir_ + "Inbox"); }
  void AfterProcessing() { record_.handled = std::max(0LL, inbox_ - QueueFiles(dir_ + "Inbox")); }
  void BeforeDelivery() { outbox_ = QueueFiles(dir_ + "Outbox"); }
  void AfterDelivery() { record_.sent = std::max(0LL, outbox_ - QueueFiles(dir_ + "Outbox")); }

  void Write(Logger& log) {
    record_.end = RecordTimeNow();
    record_.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started_)
                             .count();
    record_.failed = std::max(0LL, QueueFiles(dir_ + "Failed") - failedBefore_);
    record_.lastError = console_.TakeLastFailure();
    try {
      WriteCycleRecord(dir_, record_);
    } catch (const std::exception& e) {
      log.WriteLog(ErrorText(e), LogColour::Red);
    }
  }

 private:
  std::string dir_;
  ConsoleLog& console_;
  CycleRecord record_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  long long failedBefore_ = 0, inbox_ = 0, outbox_ = 0;
};

}  // namespace

void EnumerateLists(const std::string& dataPath,
                    const std::function<void(const std::string&)>& action) {
  for (const DirectoryEntry& entry : ListDirectory(dataPath)) {
    if (!entry.isDirectory || entry.name.empty() || entry.name[0] == '.') continue;
    action(dataPath + entry.name + "/");
  }
}

void ListCycle::Run(const std::string& listDirectory) {
  if (Terminated()) return;
  try {
    if (IsDue(listDirectory)) {
      // Held for the whole cycle: orvex-admin takes it for every read and change of the list.
      // While orvex-admin holds it the list waits for the next pass (about a second later).
      const std::optional<ListLock> lock = ListLock::TryAcquire(listDirectory);
      if (!lock) return;
      visits_.erase(listDirectory);  // the cycle writes LastChecked
      RunDue(listDirectory);
    }
  } catch (const std::exception& e) {
    env_.log.WriteLog(ErrorText(e), LogColour::Red);
  }
}

bool ListCycle::IsDue(const std::string& listDirectory) {
  const FileIdentity directory = IdentityOf(listDirectory);
  const std::string settingsPath = listDirectory + "maillist.ini";
  const FileIdentity settings = IdentityOf(settingsPath);
  const auto known = visits_.find(listDirectory);
  if (known != visits_.end() && known->second.directory == directory &&
      known->second.settings == settings) {
    return IsDueAt(known->second.lastChecked, known->second.checkInterval, env_.clock.Now());
  }
  // The due test reads only maillist.ini; the stores are loaded for a due list alone.
  const IniFile config(settingsPath);
  if (config.Unreadable()) {
    // Its defaults say nothing about the list: no visit, and nothing made or changed in it.
    ReportUnreadable(settingsPath, config.ReadFailure());
    return false;
  }
  unreadable_.erase(settingsPath);
  for (const char* dir : kMessageDirectories) CreateDirectoryOnce(listDirectory + dir);
  // A list visited for the first time gets its empty stores; existing ones are not touched,
  // so a list that is not due costs no writes.
  for (const char* store : kStoreFiles) {
    const std::string path = listDirectory + store;
    if (!FileExists(path)) CreateNewFile(path, "");
  }
  double lastChecked = LastCheckedOf(config);
  if (const auto kept = keptLastChecked_.find(listDirectory); kept != keptLastChecked_.end())
    lastChecked = std::max(lastChecked, kept->second);
  Visit visit{IdentityOf(listDirectory), settings, lastChecked, CheckIntervalOf(config)};
  visits_[listDirectory] = visit;
  return IsDueAt(visit.lastChecked, visit.checkInterval, env_.clock.Now());
}

void ListCycle::ReportUnreadable(const std::string& path, const std::string& reason) {
  const double now = ToDays(env_.clock.Now());
  const auto known = unreadable_.find(path);
  if (known != unreadable_.end() && known->second.reason == reason &&
      now >= known->second.reportedAt && now - known->second.reportedAt < kUnreadableReportDays)
    return;
  unreadable_[path] = {reason, now};
  env_.log.WriteLog("Cannot read " + path + ": " + reason + "; the list is passed over",
                    LogColour::Red);
}

void ListCycle::SaveSettings(TAccount& account) {
  if (!account.Config().HasUnsavedChanges()) return;
  try {
    account.Config().Save();
    keptLastChecked_.erase(account.ListDir());
  } catch (const std::exception& e) {
    env_.log.WriteLog(ErrorText(e), LogColour::Red);
    keptLastChecked_[account.ListDir()] = account.LastChecked();
  }
}

void ListCycle::Progress(const std::string& what) const {
  if (stages_.progress) stages_.progress(what);
}

void ListCycle::RunStage(const char* what, const std::function<void()>& stage) {
  try {
    stage();
  } catch (const std::exception& e) {
    // A stage that lets an error escape must not take the service or the other lists with it.
    env_.log.WriteLog(std::string(what) + ": " + ErrorText(e), LogColour::Red);
  }
}

void ListCycle::RunDue(const std::string& listDirectory) {
  CycleRecorder recorder(listDirectory, console_);
  TAccount account;
  account.Load(listDirectory);
  if (account.Config().Unreadable()) {  // became unreadable since the due test
    ReportUnreadable(listDirectory + "maillist.ini", account.Config().ReadFailure());
    return;
  }
  const std::string name = account.Config().ReadString("General", "Name", "Unnamed");
  env_.log.WriteLog("Processing \"" + name + "\"", LogColour::White);
  console_.SetTitle("ORVEX [Processing \"" + name + "\"]");
  const std::string processing = "Processing \"" + name + "\": ";

  bool connected = true;
  if (stages_.dialUp) {
    Progress(processing + "dial-up");
    RunStage("Dial-up", [&] { connected = stages_.dialUp(account); });
  }
  if (!connected) {
    env_.log.WriteLog("Cannot establish dial-up connection", LogColour::Red);
    if (!Terminated()) account.WriteLastChecked(env_.clock.Now());
    SaveSettings(account);
    account.Save();
    env_.log.WriteLog("Idle", LogColour::White);
    console_.SetTitle("ORVEX [Idle]");
    Progress("Idle");
    recorder.Write(env_.log);
    return;
  }
  const auto stage = [&](const char* what, const char* label,
                         const std::function<void(TAccount&)>& run) {
    if (Terminated() || !run) return;
    Progress(processing + label);
    RunStage(what, [&] { run(account); });
  };
  stage("Retrieval", "retrieval", stages_.retrieve);
  recorder.BeforeProcessing();
  stage("Processing", "processing", stages_.process);
  recorder.AfterProcessing();
  recorder.BeforeDelivery();
  stage("Delivery", "delivery", stages_.deliver);
  recorder.AfterDelivery();
  if (stages_.hangUp) {
    Progress(processing + "hang-up");
    RunStage("Hang-up", [&] { stages_.hangUp(); });
  }
  if (!Terminated()) account.WriteLastChecked(env_.clock.Now());
  SaveSettings(account);
  if (!Terminated()) env_.log.WriteLog("Idle", LogColour::White);
  console_.SetTitle("ORVEX [Idle]");
  Progress("Idle");
  account.Save();
  recorder.Write(env_.log);
}

}  // namespace orvex
