// The commands of orvex-admin: every read under the list's lock, every change one atomic
// replacement per file.
#include "admin/Commands.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <unordered_set>

#include "admin/AdminError.h"
#include "admin/Output.h"
#include "admin/SettingKeys.h"
#include "crypto/Passwords.h"
#include "platform/FileMoves.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "processing/Address.h"
#include "processing/Commands.h"
#include "processing/Commit.h"
#include "processing/FromRewrite.h"
#include "processing/Moderation.h"
#include "processing/Notices.h"
#include "store/Account.h"
#include "store/CycleRecord.h"
#include "store/DefaultList.h"
#include "store/FailedMail.h"
#include "store/IniFile.h"
#include "store/NameValueList.h"
#include "store/NoticeTexts.h"
#include "store/ProviderPresets.h"

namespace orvex::admin {
namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kSettingsFile = "maillist.ini";
constexpr const char* kSubscribersFile = "subscribers.ini";
constexpr std::size_t kMaximumPassword = 4096;
constexpr std::size_t kMaximumImport = 256 * 1024 * 1024;

// ---- settings files ---------------------------------------------------------------------------

// The settings file as text; empty when it does not exist. A file that exists but cannot be read
// whole is an error: a change written over it would lose its unread part.
std::string ReadSettingsText(const std::string& path) {
  const RegularFileRead read = ReadRegularFile(path, IniFile::kMaximumFileSize);
  switch (read.outcome) {
    case RegularFileRead::Outcome::Read:
      return read.content;
    case RegularFileRead::Outcome::Missing:
      return {};
    default:
      throw AdminError("Cannot read " + path + " (not a regular file, too large or unreadable);" +
                       " check its owner and mode.");
  }
}

IniFile LoadSettings(const std::string& listDirectory) {
  return IniFile::FromText(ReadSettingsText(listDirectory + kSettingsFile));
}

// Every settings change goes through here: the changes are made on the file's text in memory and
// the file is replaced once, atomically and 0600.
void ChangeSettings(const std::string& path, const std::function<void(IniFile&)>& change) {
  IniFile file = IniFile::FromText(ReadSettingsText(path));
  change(file);
  ReplaceFileAtomically(path, file.Text(), FileMode::Private,
                        "Cannot write " + path + "; check the disk and the file's owner");
}

// ---- small helpers ------------------------------------------------------------------------------

std::string YesNo(bool value) {
  return value ? "yes" : "no";
}

std::string FormatDays(double days) {
  const LocalDateTime t = FromDays(days);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

std::string NextDue(const IniFile& config, const LocalDateTime& now) {
  const double last = LastCheckedOf(config);
  const long long interval = CheckIntervalOf(config);
  if (IsDueAt(last, interval, now)) return "now";
  return FormatDays(last + static_cast<double>(interval) / 1440.0);
}

std::size_t CountFiles(const std::string& directory) {
  std::size_t count = 0;
  for (const DirectoryEntry& entry : ListDirectory(directory))
    if (!entry.isDirectory) ++count;
  return count;
}

// A store read whole; an existing store that cannot be read is an error, never an empty list.
NameValueList LoadStore(const std::string& path) {
  NameValueList list;
  const RegularFileRead read = ReadRegularFile(path, kMaximumImport);
  if (read.outcome == RegularFileRead::Outcome::Read)
    list.LoadFromText(read.content);
  else if (read.outcome != RegularFileRead::Outcome::Missing)
    throw AdminError("Cannot read " + path + "; check its owner and mode.");
  return list;
}

struct Member {
  std::string address;
  std::uint8_t flags = 0;
  std::string letters;  // the flag letters as stored
};

std::vector<Member> MembersOf(const NameValueList& subscribers) {
  std::vector<Member> members;
  members.reserve(subscribers.Count());
  for (std::size_t i = 0; i < subscribers.Count(); ++i) {
    const std::string name = subscribers.NameAt(i);
    if (name.empty()) continue;
    const std::string value = subscribers.ValueAt(i);
    std::string letters;
    for (const char c : CommaItem(value, 0))
      if ((c == 'b' || c == 'p' || c == 'd') && letters.find(c) == std::string::npos) letters += c;
    members.push_back({name, FlagsOfEntryValue(value), letters});
  }
  return members;
}

// The address as the service would store it from a "From" line, or AdminError.
std::string CheckedAddress(std::string_view input) {
  const std::string address = ExtractAddress(input);
  if (!StorableAddress(address))
    throw AdminError("\"" + std::string(input) +
                     "\" is not an address a list can hold (one address, without blanks, \"=\" " +
                     "or control characters); correct it and repeat.");
  return address;
}

// ---- member changes
// -------------------------------------------------------------------------------

// Runs `change` on the loaded list under its lock and publishes the result as the service's
// processing does: the stores and the notices of one change become visible together or not at
// all.
void ChangeMembers(const Session& session, const std::string& name,
                   const std::function<void(ProcessingContext&)>& change,
                   DmarcPolicies* dmarc = nullptr) {
  session.RefuseWhileEditorOpen();
  const std::string directory = session.ListDirectory(name);
  const ListLock lock = session.LockList(name, directory);
  for (const char* store : {kSubscribersFile, "pending.ini", "signatures.ini"}) {
    const std::string path = directory + store;
    if (FileExists(path) && !ReadWholeFile(path))
      throw AdminError("Cannot read " + path + "; check its owner and mode.");
  }
  TAccount account;
  account.Load(directory);
  // A commit that a kill interrupted is finished first, as the service's next cycle would;
  // otherwise finishing it later would put back the stores it carries over this change.
  RecoverInterruptedCommit(account, session.Env());
  CommitGroup group(account, session.Env());
  ProcessingContext context{account, session.Env(), group, dmarc};
  change(context);
  try {
    group.Commit();
  } catch (const std::exception& e) {
    throw AdminError(std::string("The change was not made: ") + e.what() +
                     "; check the disk and the list directory's owner.");
  }
}

void QueueWelcome(ProcessingContext& context, const std::string& address,
                  const std::string& password) {
  NoticeVariables variables;
  variables.Set("Password", password);
  variables.Set("Address", address);
  QueuePrivateNotice(context, "Subscribe successfull", variables, address);
}

std::string EntryValue(std::string_view letters, std::string_view password) {
  return WriteCommaList({std::string(letters), std::string(password)});
}

void ApplyFlag(TAccount& list, const std::string& address, char letter, std::optional<bool> on) {
  if (!on) return;
  if (*on)
    list.SetSubscriberFlag(address, letter);
  else
    list.ClearSubscriberFlag(address, letter);
}

// ---- import
// -----------------------------------------------------------------------------------------

struct ImportLine {
  std::size_t line;
  std::string address;
  std::string letters;
};
struct ImportPlan {
  std::vector<ImportLine> add;
  std::vector<ImportLine> present;  // already members, or twice in the file
  std::vector<std::pair<std::size_t, std::string>> invalid;
};

// One address a line, or "address,flags" with flags of the letters d (digest), p (paused) and
// b (posting disabled). Blank lines and lines starting with "#" are passed over.
ImportPlan PlanImport(std::string_view text, const NameValueList& subscribers) {
  std::unordered_set<std::string> known;
  known.reserve(subscribers.Count() * 2 + 16);
  for (std::size_t i = 0; i < subscribers.Count(); ++i)
    known.insert(LowerCase(subscribers.NameAt(i)));
  ImportPlan plan;
  const std::vector<std::string> lines = SplitLines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = TrimBlanks(lines[i]);
    if (line.empty() || line[0] == '#') continue;
    const auto comma = line.find(',');
    const std::string_view addressPart = TrimBlanks(line.substr(0, comma));
    const std::string_view flagsPart =
        comma == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(comma + 1));
    const std::string address = ExtractAddress(addressPart);
    bool ok = StorableAddress(address);
    std::string letters;
    for (const char c : flagsPart) {
      const char lower = static_cast<char>(c | 0x20);
      if (lower != 'd' && lower != 'p' && lower != 'b') ok = false;
      if (letters.find(lower) == std::string::npos) letters += lower;
    }
    if (!ok) {
      plan.invalid.emplace_back(i + 1, std::string(line));
    } else if (!known.insert(LowerCase(address)).second) {
      plan.present.push_back({i + 1, address, letters});
    } else {
      plan.add.push_back({i + 1, address, letters});
    }
  }
  return plan;
}

// ---- service
// ----------------------------------------------------------------------------------------

// The process that holds the service's lock, from the kernel's table of locks; 0 when unknown.
long ServicePid(const std::string& lockPath) {
  struct stat st {};
  if (::stat(lockPath.c_str(), &st) != 0) return 0;
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string id, kind, advisory, mode, where;
    long pid = 0;
    if (!(fields >> id >> kind)) continue;
    if (kind == "->") fields >> kind;  // a waiter
    if (!(fields >> advisory >> mode >> pid >> where)) continue;
    if (kind != "FLOCK") continue;
    const auto colon = where.rfind(':');
    if (colon == std::string::npos) continue;
    if (where.substr(colon + 1) == std::to_string(st.st_ino)) return pid;
  }
  return 0;
}

Json CycleJson(const std::optional<CycleRecord>& record) {
  if (!record) return nullptr;
  return Json{
      {"start", record->start},        {"end", record->end},   {"durationMs", record->durationMs},
      {"handled", record->handled},    {"sent", record->sent}, {"failed", record->failed},
      {"lastError", record->lastError}};
}

std::string CycleSummary(const std::optional<CycleRecord>& record) {
  if (!record) return "no cycle yet";
  std::string text = record->end + ": " + std::to_string(record->handled) + " handled, " +
                     std::to_string(record->sent) + " sent, " + std::to_string(record->failed) +
                     " failed";
  if (!record->lastError.empty()) text += "; " + record->lastError;
  return text;
}

std::string Duration(long long ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

}  // namespace

// ---- lists and status
// -------------------------------------------------------------------------------

int Lists(const Session& session, std::ostream& out) {
  Json json = Json::array();
  Table table{{"LIST", "NAME", "ADDRESS", "ACTIVE", "DIGEST", "PAUSED", "NEXT DUE", "INBOX",
               "OUTBOX", "DIGESTQ", "FAILED", "LAST CYCLE"},
              {}};
  const LocalDateTime now = session.Env().clock.Now();
  for (const std::string& name : session.ListNames()) {
    const std::string directory = session.DataPath() + name + "/";
    const ListLock lock = session.LockList(name, directory);
    const IniFile config = LoadSettings(directory);
    std::size_t active = 0, digest = 0, paused = 0;
    for (const Member& member : MembersOf(LoadStore(directory + kSubscribersFile))) {
      if (member.flags & sfPaused)
        ++paused;
      else if (member.flags & sfDigest)
        ++digest;
      else
        ++active;
    }
    const std::size_t inbox = CountFiles(directory + "Inbox"),
                      outbox = CountFiles(directory + "Outbox"),
                      digestQueue = CountFiles(directory + "Digest"),
                      failed = CountFiles(directory + "Failed");
    const std::optional<CycleRecord> cycle = ReadCycleRecord(directory);
    const std::string title = config.ReadString(kGeneral, "Name", "");
    const std::string address = config.ReadString(kGeneral, "Address", "");
    const std::string due = NextDue(config, now);
    json.push_back(
        {{"list", name},
         {"name", title},
         {"address", address},
         {"members", {{"active", active}, {"digest", digest}, {"paused", paused}}},
         {"nextDue", due},
         {"queues",
          {{"inbox", inbox}, {"outbox", outbox}, {"digest", digestQueue}, {"failed", failed}}},
         {"lastCycle", CycleJson(cycle)}});
    table.rows.push_back({name, title, address, std::to_string(active), std::to_string(digest),
                          std::to_string(paused), due, std::to_string(inbox),
                          std::to_string(outbox), std::to_string(digestQueue),
                          std::to_string(failed), CycleSummary(cycle)});
  }
  Print(session, out, json, table);
  return kExitDone;
}

int Status(const Session& session, const std::optional<std::string>& list, std::ostream& out) {
  const std::string lockPath = session.ProgramDirectory() + kServiceLockName;
  const bool running = InstanceLock::IsHeld(lockPath);
  const long pid = running ? ServicePid(lockPath) : 0;
  std::vector<std::string> names;
  if (list) {
    session.ListDirectory(*list);
    names.push_back(*list);
  } else {
    names = session.ListNames();
  }
  Json lists = Json::array();
  Table table{{"LIST", "LAST CYCLE", "TOOK", "HANDLED", "SENT", "FAILED", "LAST ERROR"}, {}};
  for (const std::string& name : names) {
    const std::string directory = session.DataPath() + name + "/";
    const ListLock lock = session.LockList(name, directory);
    const std::optional<CycleRecord> cycle = ReadCycleRecord(directory);
    lists.push_back({{"list", name}, {"lastCycle", CycleJson(cycle)}});
    if (cycle)
      table.rows.push_back({name, cycle->start, Duration(cycle->durationMs),
                            std::to_string(cycle->handled), std::to_string(cycle->sent),
                            std::to_string(cycle->failed), cycle->lastError});
    else
      table.rows.push_back({name, "never", "", "", "", "", ""});
  }
  if (session.Json()) {
    Json service{{"running", running}, {"pid", pid == 0 ? Json(nullptr) : Json(pid)}};
    out << JsonText(Json{{"service", service}, {"lists", lists}}) << '\n';
  } else {
    out << "Service: "
        << (running ? "running" + (pid ? " (PID " + std::to_string(pid) + ")" : std::string())
                    : std::string("not running"))
        << "\n\n";
    PrintTable(out, table);
  }
  return kExitDone;
}

// ---- list settings
// ----------------------------------------------------------------------------------

int ListCreate(const Session& session, const CreateOptions& options, std::ostream& out) {
  session.RefuseWhileEditorOpen();
  if (!ValidListName(options.directoryName))
    throw AdminError(
        "\"" + options.directoryName +
        "\" cannot name a list directory; use letters, digits, \".\", \"-\" and \"_\"" +
        " (not starting with \".\").");
  const std::string target = session.DataPath() + options.directoryName;
  if (std::filesystem::exists(std::filesystem::symlink_status(target)))
    throw AdminError("The list \"" + options.directoryName +
                     "\" exists already; choose another name or delete it first.");
  if (TrimBlanks(options.name).empty() || options.name.find_first_of("\r\n") != std::string::npos)
    throw AdminError("Give the list a name on one line with --name.");
  IniFile settings = IniFile::FromText(DefaultListText());
  const std::pair<const char*, std::string> values[] = {
      {"Name", options.name},
      {"Address", CheckedAddress(options.address)},
      {"ControlAddress", CheckedAddress(options.control)},
      {"Moderator", CheckedAddress(options.moderator)},
      {"From", CheckedAddress(options.from.value_or(options.address))},
  };
  for (const auto& [key, value] : values) settings.WriteString(kGeneral, key, value);
  if (options.provider) {
    const ProviderPreset* preset = FindProviderPreset(*options.provider);
    if (preset == nullptr) {
      std::string names;
      for (const ProviderPreset& known : ProviderPresets())
        names += (names.empty() ? "" : ", ") + std::string(known.name);
      throw AdminError("There is no provider \"" + *options.provider + "\"; give one of " + names +
                       ".");
    }
    ApplyProviderPreset(settings, *preset, CheckedAddress(options.address));
    // The envelope sender stays the account unless the operator names another.
    if (options.from) settings.WriteString(kGeneral, "From", CheckedAddress(*options.from));
  }

  // Built under a hidden name (the service passes over those) and renamed into place in one
  // step, so the service never meets a half-made list.
  const std::string staging =
      session.DataPath() + "." + options.directoryName + ".new-" + std::to_string(::getpid());
  std::filesystem::remove_all(staging);
  try {
    if (!CreateDirectoryOnce(staging)) throw Error("Cannot create directory " + staging);
    ReplaceFileAtomically(staging + "/" + kSettingsFile, settings.Text(), FileMode::Private);
    for (const char* store : {kSubscribersFile, "pending.ini", "signatures.ini"})
      CreateNewFile(staging + "/" + store, "", FileMode::Private);
    for (const char* sub : {"Inbox", "Outbox", "Digest"})
      if (!CreateDirectoryOnce(staging + "/" + sub))
        throw Error(std::string("Cannot create ") + sub);
    if (!RenameWithoutReplacing(staging, target))
      throw Error("the list \"" + options.directoryName + "\" appeared meanwhile");
  } catch (const std::exception& e) {
    std::error_code ignored;
    std::filesystem::remove_all(staging, ignored);
    throw AdminError(std::string("The list was not created: ") + e.what() +
                     "; check the disk and the owner of " + session.DataPath() + ".");
  }
  PrintMessage(session, out, Json{{"list", options.directoryName}, {"result", "created"}},
               "Created list \"" + options.directoryName + "\" in " + target +
                   "/; add its mailboxes and relay with `orvex-admin list set`.");
  return kExitDone;
}

int ListShow(const Session& session, const std::string& list, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  const ListLock lock = session.LockList(list, directory);
  const IniFile config = LoadSettings(directory);
  Json json = Json::array();
  Table table{{"KEY", "FROM", "VALUE"}, {}};
  std::unordered_set<std::string> shown;
  auto present = [&](const std::string& section, const std::string& key) {
    for (const std::string& k : config.KeyNames(section))
      if (EqualsIgnoreCase(k, key)) return true;
    return false;
  };
  auto add = [&](const KeyInfo& key) {
    const bool inFile = present(key.section, key.key);
    std::string value = inFile ? config.ReadString(key.section, key.key, "") : key.defaultValue;
    if (key.type == KeyType::Password) value = value.empty() ? "(empty)" : "(set)";
    const std::string source =
        inFile
            ? "file"
            : (key.type == KeyType::NoticeText || key.section != kGeneral ? "absent" : "default");
    shown.insert(LowerCase(key.section + "/" + key.key));
    json.push_back({{"key", DisplayName(key)}, {"value", value}, {"from", source}});
    table.rows.push_back({DisplayName(key), source, value});
  };
  for (const KeyInfo& key : GeneralKeys()) add(key);
  const long long mailboxes = std::clamp(config.ReadInteger(kGeneral, "Pop3Count", 1), 0LL, 1000LL);
  for (long long n = 1; n <= mailboxes; ++n)
    for (const KeyInfo& key : MailboxKeys(n)) add(key);
  for (const std::string& key : config.KeyNames(kGeneral)) {
    if (shown.count(LowerCase(std::string(kGeneral) + "/" + key))) continue;
    const std::optional<KeyInfo> known = FindKey(key);
    add(known ? *known : KeyInfo{kGeneral, key, KeyType::Text, 0, 0, {}});
  }
  for (const NoticeSection& notice : NoticeSections()) {
    if (notice.hasSubject) add(KeyInfo{notice.name, "Subject", KeyType::Text, 0, 0, {}});
    add(KeyInfo{notice.name, "Text", KeyType::NoticeText, 0, 0, {}});
  }
  Print(session, out, Json{{"list", list}, {"settings", json}}, table);
  return kExitDone;
}

int ListSet(const Session& session, const std::string& list, const std::string& keyName,
            const std::optional<std::string>& value, bool passwordStdin, std::istream& in,
            std::ostream& out) {
  const std::optional<KeyInfo> key = FindKey(keyName);
  if (!key)
    throw AdminError("There is no key \"" + keyName + "\"; `orvex-admin list show " + list +
                     "` lists the keys.");
  if (key->type == KeyType::Password && !passwordStdin)
    throw AdminError(DisplayName(*key) +
                         " is a password: give it on standard input with --password-stdin, never " +
                         "on the command line (other users can read command lines).",
                     kExitUsage);
  if (passwordStdin && value)
    throw AdminError("Give the value either on the command line or with --password-stdin, " +
                         std::string("not both."),
                     kExitUsage);
  if (!passwordStdin && !value)
    throw AdminError("Give the value of " + DisplayName(*key) + ".", kExitUsage);
  session.RefuseWhileEditorOpen();
  const std::string directory = session.ListDirectory(list);
  const std::string raw = passwordStdin ? ReadPasswordLine(in, "Value: ") : *value;
  const std::string stored = CheckedValue(*key, raw);
  const ListLock lock = session.LockList(list, directory);
  ChangeSettings(directory + kSettingsFile, [&](IniFile& file) {
    if (key->type == KeyType::NoticeText)
      WriteNoticeTextForEditor(file, key->section, stored);
    else
      file.WriteString(key->section, key->key, stored);
  });
  const std::string shown =
      key->type == KeyType::Password ? (stored.empty() ? "(empty)" : "(set)") : stored;
  PrintMessage(session, out, Json{{"list", list}, {"key", DisplayName(*key)}, {"value", shown}},
               DisplayName(*key) + " = " + shown);
  return kExitDone;
}

int ListDelete(const Session& session, const std::string& list, bool yes, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  if (!yes)
    throw AdminError("Deleting \"" + list +
                         "\" removes its members and its queued mail for good; repeat with --yes.",
                     kExitUsage);
  session.RefuseWhileEditorOpen();
  const ListLock lock = session.LockList(list, directory);
  // A hidden name first (one step the service sees whole), then the files.
  const std::string aside =
      session.DataPath() + "." + list + ".deleted-" + std::to_string(::getpid());
  if (!RenameWithoutReplacing(directory.substr(0, directory.size() - 1), aside))
    throw AdminError("Cannot move " + directory + " aside; remove " + aside + " and repeat.");
  std::error_code error;
  std::filesystem::remove_all(aside, error);
  if (error)
    throw AdminError("The list is gone, but " + aside + " could not be removed (" +
                     error.message() + "); remove it by hand.");
  PrintMessage(session, out, Json{{"list", list}, {"result", "deleted"}},
               "Deleted list \"" + list + "\".");
  return kExitDone;
}

// ---- members
// ---------------------------------------------------------------------------------------

int Members(const Session& session, const std::string& list, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  const ListLock lock = session.LockList(list, directory);
  Json json = Json::array();
  Table table{{"ADDRESS", "DIGEST", "PAUSED", "POSTING"}, {}};
  for (const Member& m : MembersOf(LoadStore(directory + kSubscribersFile))) {
    const bool digest = m.flags & sfDigest, paused = m.flags & sfPaused,
               blocked = m.flags & sfPostingDisabled;
    json.push_back({{"address", m.address},
                    {"digest", digest},
                    {"paused", paused},
                    {"postingDisabled", blocked}});
    table.rows.push_back(
        {m.address, YesNo(digest), YesNo(paused), blocked ? "disabled" : "allowed"});
  }
  Print(session, out, Json{{"list", list}, {"members", json}}, table);
  return kExitDone;
}

int MemberAdd(const Session& session, const std::string& list, const std::string& input,
              const MemberFlags& flags, bool welcome, std::ostream& out) {
  const std::string address = CheckedAddress(input);
  bool added = false;
  ChangeMembers(session, list, [&](ProcessingContext& context) {
    TAccount& account = context.list;
    if (account.SubscriberFlags(address) & sfMember) return;
    context.commit.Protect(StoreKind::Subscribers);
    std::string letters;
    if (flags.digest.value_or(false)) letters += 'd';
    if (flags.paused.value_or(false)) letters += 'p';
    const std::string password = RandomLetters(context.env.random);
    account.Subscribers().Append(address + "=" + EntryValue(letters, password));
    if (welcome) QueueWelcome(context, address, password);
    added = true;
  });
  const std::string result = added ? "added" : "already a member";
  PrintMessage(session, out, Json{{"list", list}, {"address", address}, {"result", result}},
               address + ": " + result + (added && welcome ? " (welcome notice queued)" : ""));
  return kExitDone;
}

int MemberRemove(const Session& session, const std::string& list, const std::string& input,
                 std::ostream& out) {
  const std::string address = CheckedAddress(input);
  ChangeMembers(session, list, [&](ProcessingContext& context) {
    NameValueList& subscribers = context.list.Subscribers();
    if (subscribers.IndexOfName(address) == NameValueList::npos)
      throw AdminError(address + " is not a member of \"" + list + "\"; `orvex-admin members " +
                       list + "` lists them.");
    context.commit.Protect(StoreKind::Subscribers);
    // Every entry of the address, whatever its letter case: none may keep receiving mail.
    for (std::size_t i; (i = subscribers.IndexOfName(address)) != NameValueList::npos;)
      subscribers.Delete(i);
  });
  PrintMessage(session, out, Json{{"list", list}, {"address", address}, {"result", "removed"}},
               address + ": removed");
  return kExitDone;
}

int MemberSet(const Session& session, const std::string& list, const std::string& input,
              const MemberFlags& flags, std::ostream& out) {
  const std::string address = CheckedAddress(input);
  if (!flags.digest && !flags.paused)
    throw AdminError("Say what to change: --digest on|off and/or --paused on|off.", kExitUsage);
  std::uint8_t result = 0;
  ChangeMembers(session, list, [&](ProcessingContext& context) {
    TAccount& account = context.list;
    if (!(account.SubscriberFlags(address) & sfMember))
      throw AdminError(address + " is not a member of \"" + list + "\"; `orvex-admin members " +
                       list + "` lists them.");
    context.commit.Protect(StoreKind::Subscribers);
    ApplyFlag(account, address, 'd', flags.digest);
    ApplyFlag(account, address, 'p', flags.paused);
    result = account.SubscriberFlags(address);
  });
  const bool digest = result & sfDigest, paused = result & sfPaused;
  PrintMessage(
      session, out,
      Json{{"list", list}, {"address", address}, {"digest", digest}, {"paused", paused}},
      address + ": digest " + (digest ? "on" : "off") + ", paused " + (paused ? "on" : "off"));
  return kExitDone;
}

std::string ReadImportFile(const std::string& file, std::istream& in) {
  if (file == "-") {
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
      text.append(buffer, static_cast<std::size_t>(in.gcount()));
      if (text.size() > kMaximumImport)
        throw AdminError("The input is larger than 256 MiB; split it and import the parts.");
    }
    return text;
  }
  const RegularFileRead read = ReadRegularFile(file, kMaximumImport);
  switch (read.outcome) {
    case RegularFileRead::Outcome::Read:
      return read.content;
    case RegularFileRead::Outcome::TooLarge:
      throw AdminError("The file " + file +
                       " is larger than 256 MiB; split it and import the parts.");
    default:
      throw AdminError("Cannot read the file " + file + "; give a readable regular file.");
  }
}

int MembersImport(const Session& session, const std::string& list, const std::string& text,
                  bool welcome, std::ostream& out) {
  ImportPlan plan;
  ChangeMembers(session, list, [&](ProcessingContext& context) {
    plan = PlanImport(text, context.list.Subscribers());
    if (!plan.invalid.empty()) return;  // all or nothing
    context.commit.Protect(StoreKind::Subscribers);
    NameValueList& subscribers = context.list.Subscribers();
    subscribers.Lines().reserve(subscribers.Count() + plan.add.size());
    for (const ImportLine& line : plan.add) {
      const std::string password = RandomLetters(context.env.random);
      subscribers.Append(line.address + "=" + EntryValue(line.letters, password));
      if (welcome) QueueWelcome(context, line.address, password);
    }
  });
  const bool done = plan.invalid.empty();
  if (session.Json()) {
    Json present = Json::array(), invalid = Json::array();
    for (const ImportLine& line : plan.present)
      present.push_back({{"line", line.line}, {"address", line.address}});
    for (const auto& [line, content] : plan.invalid)
      invalid.push_back({{"line", line}, {"text", content}});
    out << JsonText(Json{{"list", list},
                         {"result", done ? "imported" : "refused"},
                         {"added", done ? plan.add.size() : 0},
                         {"alreadyMembers", present},
                         {"invalid", invalid}})
        << '\n';
  } else {
    for (const ImportLine& line : plan.present)
      out << "line " << line.line << ": " << line.address << " is already a member\n";
    for (const auto& [line, content] : plan.invalid)
      out << "line " << line << ": \"" << content << "\" is not a valid address or flags\n";
    if (done) out << plan.add.size() << " added, " << plan.present.size() << " already members\n";
  }
  if (!done)
    throw AdminError(std::to_string(plan.invalid.size()) +
                     " lines are invalid, so nobody was imported; correct them and repeat.");
  return kExitDone;
}

int MembersExport(const Session& session, const std::string& list, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  const ListLock lock = session.LockList(list, directory);
  const std::vector<Member> members = MembersOf(LoadStore(directory + kSubscribersFile));
  if (session.Json()) {
    Json json = Json::array();
    for (const Member& m : members) json.push_back({{"address", m.address}, {"flags", m.letters}});
    out << JsonText(json) << '\n';
    return kExitDone;
  }
  std::string text;
  for (const Member& m : members) {
    text += m.address;
    if (!m.letters.empty()) text += "," + m.letters;
    text += '\n';
  }
  out << text;
  return kExitDone;
}

// ---- Failed/
// ----------------------------------------------------------------------------------------

int Failed(const Session& session, const std::string& list, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  const ListLock lock = session.LockList(list, directory);
  const std::string failed = directory + "Failed/";
  Json json = Json::array();
  Table table{{"FILE", "WHEN", "FROM", "WHY"}, {}};
  for (const DirectoryEntry& entry : ListDirectory(failed)) {
    if (entry.isDirectory) continue;
    const std::optional<FailedReason> reason = ReadFailedReason(directory, entry.name);
    std::string when = reason ? reason->when : "";
    if (when.empty()) {
      struct stat st {};
      if (::lstat((failed + entry.name).c_str(), &st) == 0) {
        std::tm local{};
        localtime_r(&st.st_mtime, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        when = text;
      }
    }
    const std::string origin = reason ? reason->origin : "";
    const std::string why = reason ? reason->reason : "(not recorded)";
    json.push_back({{"file", entry.name}, {"when", when}, {"from", origin}, {"why", why}});
    table.rows.push_back({entry.name, when, origin, why});
  }
  Print(session, out, Json{{"list", list}, {"failed", json}}, table);
  return kExitDone;
}

int FailedRetry(const Session& session, const std::string& list, const std::string& file,
                const std::optional<std::string>& to, std::ostream& out) {
  session.RefuseWhileEditorOpen();
  const std::string directory = session.ListDirectory(list);
  if (file.empty() || file[0] == '.' || file.find('/') != std::string::npos)
    throw AdminError("\"" + file + "\" is not a file name in Failed/; `orvex-admin failed " + list +
                     "` lists them.");
  const ListLock lock = session.LockList(list, directory);
  const std::string path = directory + "Failed/" + file;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    throw AdminError("There is no file \"" + file + "\" in Failed/ of \"" + list +
                     "\"; `orvex-admin failed " + list + "` lists them.");
  std::string origin;
  if (to) {
    if (EqualsIgnoreCase(*to, "inbox")) origin = "Inbox";
    if (EqualsIgnoreCase(*to, "outbox")) origin = "Outbox";
    if (origin.empty()) throw AdminError("--to takes inbox or outbox.", kExitUsage);
  } else if (const auto reason = ReadFailedReason(directory, file);
             reason && (reason->origin == "Inbox" || reason->origin == "Outbox")) {
    origin = reason->origin;
  } else {
    throw AdminError("Where \"" + file + "\" came from was not recorded; say it with --to inbox" +
                     " or --to outbox.");
  }
  const std::string target = directory + origin + "/" + file;
  CreateDirectoryOnce(directory + origin);
  if (!RenameWithoutReplacing(path, target))
    throw AdminError(origin + "/ holds a file \"" + file + "\" already; move it aside first.");
  try {
    ForgetFailedReason(directory, file);
  } catch (const std::exception&) {
    // The file is back; its stale note is dropped with the next one written.
  }
  PrintMessage(session, out, Json{{"list", list}, {"file", file}, {"to", origin}},
               file + " moved back to " + origin + "/; the next cycle takes it.");
  return kExitDone;
}

// ---- Held/
// ------------------------------------------------------------------------------------------

std::string FormatDay(long long day) {
  const LocalDateTime t = FromDays(static_cast<double>(day));
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
  return text;
}

int Held(const Session& session, const std::string& list, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  const ListLock lock = session.LockList(list, directory);
  const long long days = LoadSettings(directory).ReadInteger(kGeneral, "Days", 7);
  Json json = Json::array();
  Table table{{"TOKEN", "KIND", "SENDER", "SUBJECT", "DATE", "SIZE", "EXPIRES"}, {}};
  for (const HeldEntry& entry :
       ReadHeldEntries(LoadStore(directory + std::string(kHeldStoreFile)))) {
    if (entry.state != HeldState::Held) continue;
    const std::string kind = entry.kind == HeldKind::Post ? "post" : "subscription";
    // Removed by the first pass on this day.
    const std::string expires = FormatDay(entry.day + days);
    json.push_back({{"token", entry.token},
                    {"kind", kind},
                    {"sender", entry.sender},
                    {"subject", entry.subject},
                    {"date", entry.date},
                    {"size", entry.size},
                    {"expires", expires}});
    table.rows.push_back({entry.token, kind, entry.sender, entry.subject, entry.date,
                          std::to_string(entry.size), expires});
  }
  Print(session, out, Json{{"list", list}, {"held", json}}, table);
  return kExitDone;
}

int HeldDecide(const Session& session, const std::string& list, const std::string& token,
               bool approve, const std::optional<std::string>& reason, std::ostream& out) {
  if (!IsModerationToken(token))
    throw AdminError("\"" + token + "\" is not a token (26 letters and digits 2-7); " +
                         "`orvex-admin held " + list + "` lists them.",
                     kExitUsage);
  if (approve && reason) throw AdminError("--reason goes with reject only.", kExitUsage);
  SystemTxtResolver resolver;
  DmarcPolicies dmarc(resolver);
  HeldDecision decision;
  ChangeMembers(
      session, list,
      [&](ProcessingContext& context) {
        decision = DecideHeld(context, token, approve ? Verdict::Approve : Verdict::Reject,
                              reason.value_or(""), "from the shell");
        switch (decision.outcome) {
          case DecisionOutcome::Done:
            return;
          case DecisionOutcome::AlreadyApproved:
            throw AdminError("The message under " + LowerCase(token) +
                             " was approved already; nothing was done.");
          case DecisionOutcome::AlreadyRejected:
            throw AdminError("The message under " + LowerCase(token) +
                             " was rejected already; nothing was done.");
          case DecisionOutcome::Unknown:
            break;
        }
        throw AdminError("Nothing waits under the token " + LowerCase(token) + " in \"" + list +
                         "\" (expired, or never issued); `orvex-admin held " + list +
                         "` lists what waits.");
      },
      &dmarc);
  const HeldEntry& entry = decision.entry;
  const bool post = entry.kind == HeldKind::Post;
  std::string result = approve ? "approved" : "rejected";
  std::string detail;
  if (approve && post)
    detail = decision.distributed ? "the post is queued for the members"
                                  : "the post was distributed before; not again";
  else if (approve)
    detail = entry.sender + " is subscribed";
  else if (decision.told)
    detail = "the sender is told the reason";
  else
    detail = "dropped";
  PrintMessage(session, out,
               Json{{"list", list},
                    {"token", entry.token},
                    {"kind", post ? "post" : "subscription"},
                    {"sender", entry.sender},
                    {"result", result},
                    {"distributed", decision.distributed},
                    {"senderTold", decision.told}},
               entry.token + ": " + result + " (" + detail + ")");
  return kExitDone;
}

// ---- passwords
// --------------------------------------------------------------------------------------

std::string ReadPasswordLine(std::istream& in, const char* prompt) {
  const bool terminal = &in == &std::cin && ::isatty(STDIN_FILENO);
  termios saved{};
  if (terminal) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
  }
  std::string line;
  bool tooLong = false;
  for (int c; (c = in.get()) != EOF && c != '\n';) {
    if (line.size() == kMaximumPassword) {
      tooLong = true;
      break;
    }
    line += static_cast<char>(c);
  }
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (tooLong)
    throw AdminError("The password is longer than " + std::to_string(kMaximumPassword) +
                     " characters.");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int Passwd(bool json, std::istream& in, std::ostream& out) {
  const std::string password = ReadPasswordLine(in, "Password: ");
  const std::string text = EncipherPassword(password);
  if (text.empty()) throw AdminError("The password could not be enciphered.");
  if (json)
    out << JsonText(Json{{"enciphered", text}}) << '\n';
  else
    out << text << '\n';
  return kExitDone;
}

}  // namespace orvex::admin
