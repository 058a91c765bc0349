// The POP3 exchange: greeting, USER/PASS, STAT, then RETR and DELE for each message, and Quit.
#include "transport/Pop3Retrieval.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <unordered_set>

#include "message/Codecs.h"
#include "platform/Error.h"
#include "platform/FaultInjection.h"
#include "platform/FileMoves.h"
#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "store/NameValueList.h"
#include "transport/StageLog.h"

namespace orvex {
namespace {

constexpr int kPositive = 1;  // the code of a "+OK" reply

void CheckTerminated() {
  if (Terminated()) throw StopRequestedError();
}

// STLS after the greeting: a server that refuses it is a failure, never a reason to go on in
// plain text with the password.
void Pop3StartTls(MailClient& pop3) {
  if (pop3.SendCommand("STLS", {}) != kPositive)
    throw Error("TLS failure: " + pop3.host + " does not offer STLS\r\n" + pop3.LastReplyLine());
  pop3.StartTls();
}

// A POP3 command line is at most 255 octets with its CR LF; a longer initial response waits
// for the server's empty challenge instead.
constexpr std::size_t kMaxCommandLine = 255;

// The SASL mechanisms a CAPA reply lists on its "SASL" line; none when CAPA is refused.
std::vector<std::string> SaslMechanisms(MailClient& pop3) {
  std::vector<std::string> mechanisms;
  if (pop3.SendCommand("CAPA", {}) != kPositive) return mechanisms;
  std::vector<std::string> lines;
  pop3.CaptureLines(lines);
  for (const auto& line : lines) {
    if (line.size() < 5 || !EqualsIgnoreCase(std::string_view(line).substr(0, 5), "SASL "))
      continue;
    std::size_t i = 5;
    while (i < line.size()) {
      const std::size_t end = std::min(line.find(' ', i), line.size());
      if (end > i) mechanisms.push_back(line.substr(i, end - i));
      i = end + 1;
    }
  }
  return mechanisms;
}

// A continuation line: "+" alone or "+ " and a base64 text (never "+OK").
bool IsChallenge(const std::string& line) {
  return line == "+" || line.rfind("+ ", 0) == 0;
}

// AUTH with the access token in the password field. A refusal raises a ProtocolReplyError whose
// text is one readable line; an error challenge is answered with an empty line first, since the
// server gives its final reply only then.
void Pop3AuthenticateOAuth(MailClient& pop3) {
  const std::optional<OAuthMechanism> mechanism = ChooseOAuthMechanism(SaslMechanisms(pop3));
  if (!mechanism)
    throw ProtocolReplyError(0, "Authentication failed: " + pop3.host +
                                    " offers neither XOAUTH2 nor OAUTHBEARER (Pop3AuthMethod "
                                    "is oauth2)");
  const std::string response = Base64Encode(
      OAuthClientResponse(*mechanism, pop3.userName, pop3.password, pop3.host, pop3.port));
  const std::string command = std::string("AUTH ") + MechanismName(*mechanism);
  if (command.size() + 1 + response.size() + 2 <= kMaxCommandLine) {
    pop3.SendCommand(command + " " + response, {});
  } else {
    pop3.SendCommand(command, {});
    if (!IsChallenge(pop3.LastReplyLine())) throw ProtocolReplyError(0, pop3.LastReplyLine());
    pop3.SendCommand(response, {});
  }
  if (pop3.ReplyCode() == kPositive) return;
  const std::string last = pop3.LastReplyLine();
  if (!IsChallenge(last)) throw ProtocolReplyError(0, "Authentication failed: " + last);
  const OAuthErrorChallenge error = ParseOAuthErrorChallenge(
      std::string_view(last).substr(std::min<std::size_t>(2, last.size())));
  pop3.WriteLine("");
  pop3.ReadReply({});
  throw ProtocolReplyError(0,
                           "Authentication failed: " +
                               DescribeOAuthRefusal(pop3.userName, pop3.host, *mechanism, error));
}

// The count of "+OK <count> <size>": the text after "+OK " up to the next space.
int MessageCount(const std::string& statReply) {
  const std::size_t space = statReply.find(' ', 4);
  if (statReply.size() < 4 || statReply[3] != ' ' || space == std::string::npos)
    throw Error(statReply);
  int count = -1;
  const char* first = statReply.data() + 4;
  const char* last = statReply.data() + space;
  const auto [end, error] = std::from_chars(first, last, count);
  if (error != std::errc() || end != last || count < 0) throw Error(statReply);
  return count;
}

// The words of a one-line answer "+OK <number> <value>" to "LIST n" or "UIDL n": the value, or
// nothing when the answer is not of that form for message `number`.
std::optional<std::string> ScanListing(const std::string& reply, int number) {
  const std::vector<std::string_view> words = [&] {
    std::vector<std::string_view> out;
    std::string_view rest(reply);
    while (!rest.empty()) {
      const std::size_t start = rest.find_first_not_of(" \t");
      if (start == std::string_view::npos) break;
      rest.remove_prefix(start);
      const std::size_t stop = std::min(rest.find_first_of(" \t"), rest.size());
      out.push_back(rest.substr(0, stop));
      rest.remove_prefix(stop);
    }
    return out;
  }();
  if (words.size() < 3 || words[1] != std::to_string(number)) return std::nullopt;
  return std::string(words[2]);
}

// A unique id as the standard allows it: 1 to 70 printable characters without space. Anything
// else is not trusted to tell messages apart.
bool IsUsableId(std::string_view id) {
  if (id.empty() || id.size() > 70) return false;
  return std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

std::string Hex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    out += static_cast<char>(value);
  }
  return out;
}

// The ids of messages of one mailbox that are saved in Inbox but may still be on the server.
// Its first line names the mailbox, so that ids of another server are never taken for this
// one's (ids are only unique within one mailbox).
class SavedIds {
 public:
  SavedIds(std::string path, std::string mailbox)
      : path_(std::move(path)), header_("Mailbox " + std::move(mailbox)) {
    const RegularFileRead read = ReadRegularFile(path_, kMaximumFileSize);
    if (read.outcome == RegularFileRead::Outcome::Missing) return;
    if (read.outcome != RegularFileRead::Outcome::Read)
      throw Error("Cannot read file " + path_ + ": " +
                  (read.outcome == RegularFileRead::Outcome::Failed
                       ? std::string(std::strerror(read.error))
                       : std::string("not a regular file of sane size")));
    const std::vector<std::string> lines = SplitLines(read.content);
    if (lines.empty() || lines.front() != header_) return;  // another mailbox's: not ours
    for (std::size_t i = 1; i < lines.size(); ++i)
      if (IsUsableId(lines[i]) && set_.insert(lines[i]).second) order_.push_back(lines[i]);
  }

  bool Contains(const std::string& id) const { return set_.count(id) != 0; }

  // Adds the id and writes the file durably; throws when it cannot be written.
  void Add(const std::string& id) {
    if (!set_.insert(id).second) return;
    order_.push_back(id);
    // A bound on a file that only grows while a server keeps refusing to delete.
    while (order_.size() > kMaximumIds) {
      set_.erase(order_.front());
      order_.erase(order_.begin());
    }
    Save();
  }

  // Keeps only the ids in `present` (the server's ids of this session, all of them).
  void KeepOnly(const std::unordered_set<std::string>& present) {
    std::vector<std::string> kept;
    for (const auto& id : order_)
      if (present.count(id) != 0) kept.push_back(id);
    if (kept.size() == order_.size()) return;
    order_ = std::move(kept);
    set_ = std::unordered_set<std::string>(order_.begin(), order_.end());
    if (order_.empty()) {
      RemoveFile(path_);
    } else {
      Save();
    }
  }

 private:
  static constexpr std::size_t kMaximumFileSize = 16 * 1024 * 1024;
  static constexpr std::size_t kMaximumIds = 100000;

  void Save() const {
    std::vector<std::string> lines{header_};
    lines.insert(lines.end(), order_.begin(), order_.end());
    ReplaceFileAtomically(path_, JoinLines(lines), FileMode::Private);
  }

  std::string path_;
  std::string header_;
  std::vector<std::string> order_;
  std::unordered_set<std::string> set_;
};

// A message written straight from the connection into a file of its own, so that it is never
// held in memory. The file goes away unless it was handed on with Keep().
class PartialFile {
 public:
  explicit PartialFile(std::string path) : path_(std::move(path)) {
    ::unlink(
        path_.c_str());  // left over from an interrupted run; its message is still on the server
    if (const int fault = TakeFileFault(FileOperation::Write, path_)) Fail(fault);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) Fail(errno);
  }
  ~PartialFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  void Append(std::string_view line) {
    buffer_.append(line).append("\r\n");
    if (buffer_.size() >= kChunk) Flush();
  }
  // Writes what is left and makes the content durable.
  void Complete() {
    Flush();
    if (::fsync(fd_) != 0) Fail(errno);
    if (::close(fd_) != 0) {
      fd_ = -1;
      Fail(errno);
    }
    fd_ = -1;
  }
  void Keep() { kept_ = true; }
  const std::string& Path() const { return path_; }

 private:
  static constexpr std::size_t kChunk = 256 * 1024;

  [[noreturn]] void Fail(int error) const {
    throw Error("Cannot create file " + path_ + ": " + std::strerror(error));
  }
  void Flush() {
    std::string_view rest(buffer_);
    if (!rest.empty())
      if (const int fault = TakeFileFault(FileOperation::Write, path_)) Fail(fault);
    while (!rest.empty()) {
      const ssize_t n = ::write(fd_, rest.data(), rest.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail(errno);
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    buffer_.clear();
  }

  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
  std::string buffer_;
};

// Gives a partial file its Inbox name without replacing anything.
std::string NameInInbox(const std::string& partial, const std::string& inboxDir,
                        const MessageNameSource& names) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = names(inboxDir);
    if (RenameWithoutReplacing(partial, inboxDir + name)) return name;
  }
  throw Error("Cannot create file " + inboxDir + " (no free message name)");
}

// The partial file of mailbox `number` for a message with the id given: "retrieved-<n>-<hex id>
// .part". Not a "*.msg" name, so that inbox processing never takes a file still being written.
std::string PartialName(int number, const std::string& id) {
  return "retrieved-" + std::to_string(number) + "-" + Hex(id) + ".part";
}

// After a kill between writing the id and naming the message: the partial file of a recorded id
// is complete and synced, so it becomes a message; any other partial file of this mailbox (and
// one of a message without an id) is removed: its message is still on the server.
void RecoverPartialFiles(int number, const std::string& inboxDir, const SavedIds& saved,
                         const MessageNameSource& names, Logger& log) {
  const std::string prefix = "retrieved-" + std::to_string(number) + "-";
  RemoveFile(inboxDir + "retrieved.part");  // a message without an id: still on the server
  for (const auto& entry : ListDirectory(inboxDir)) {
    const std::string& name = entry.name;
    if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 5 ||
        name.compare(name.size() - 5, 5, ".part") != 0)
      continue;
    const auto id =
        FromHex(std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - 5));
    if (id && saved.Contains(*id)) {
      const std::string named = NameInInbox(inboxDir + name, inboxDir, names);
      LogProgress(log, "Saved message " + named + " completed after an interruption");
    } else {
      RemoveFile(inboxDir + name);
    }
  }
}

std::string MailboxName(const Pop3Mailbox& box) {
  return box.userName + "@" + box.host + ":" + std::to_string(box.port);
}

// What a server answers of the optional commands; learnt at the first message of a session.
enum class Answer { Unknown, Yes, No };

struct Visit {
  int number;
  const Pop3Mailbox& box;
  MailClient& pop3;
  const std::string& inboxDir;
  const std::string& listDir;
  const MessageNameSource& names;
  Logger& log;
  Pop3WorkItems& work;
  const Pop3Limits& limits;
};

// One optional command ("UIDL n", "LIST n"): its value, or nothing when the server does not
// answer it (it is then not asked again this session).
std::optional<std::string> AskOptional(MailClient& pop3, const std::string& command, int k,
                                       Answer& answer) {
  if (answer == Answer::No) return std::nullopt;
  if (pop3.SendCommand(command + " " + std::to_string(k), {}) != kPositive) {
    if (answer == Answer::Unknown) answer = Answer::No;
    return std::nullopt;
  }
  answer = Answer::Yes;
  return ScanListing(pop3.LastReplyLine(), k);
}

void Delete(MailClient& pop3, int k, Logger& log) {
  LogProgress(log, "Deleting message #" + std::to_string(k));
  // A refusal leaves the message, and its id in the saved list: the next session deletes it
  // without fetching it again. The other messages go on.
  if (pop3.SendCommand("DELE " + std::to_string(k), {}) != kPositive)
    LogFailure(log, pop3.LastReplyLine());
}

void VisitMailbox(const Visit& v) {
  const Pop3Mailbox& box = v.box;
  MailClient& pop3 = v.pop3;
  Logger& log = v.log;
  pop3.UseServer(box);
  const std::string savedName = "Pop3Saved" + std::to_string(v.number) + ".lst";
  // Temporary files of a replacement that a kill interrupted; the file itself is whole.
  for (const auto& entry : ListDirectory(v.listDir))
    if (entry.name.rfind(savedName + ".tmp", 0) == 0) RemoveFile(v.listDir + entry.name);
  SavedIds saved(v.listDir + savedName, MailboxName(box));
  RecoverPartialFiles(v.number, v.inboxDir, saved, v.names, log);
  LogProgress(log, "Connecting to " + box.host + " on port " + std::to_string(box.port) +
                       "\r\n(username=" + box.userName + ") ...");
  pop3.Connect();
  try {
    pop3.ReadReply({kPositive});
    if (pop3.security == MailSecurity::StartTls) Pop3StartTls(pop3);
    if (box.authMethod == AuthMethod::OAuth2) {
      Pop3AuthenticateOAuth(pop3);
    } else {
      pop3.SendCommand("USER " + box.userName, {kPositive});
      pop3.SendCommand("PASS " + box.password, {kPositive});
    }
  } catch (const ProtocolReplyError&) {
    try {
      pop3.Quit();
    } catch (const std::exception&) {
    }
    throw;
  }
  CheckTerminated();
  LogProgress(log, "Connected");
  pop3.SendCommand("STAT", {kPositive});
  const int count = MessageCount(pop3.LastReplyLine());
  LogProgress(log, std::to_string(count) + " messages in mailbox");
  Answer uidl = Answer::Unknown;
  Answer list = Answer::Unknown;
  std::unordered_set<std::string> present;  // the server's ids seen this session
  bool wholeMailbox = true;                 // every message's id was seen
  long long fetched = 0;
  long long passedOver = 0;
  const std::string where = box.userName + "@" + box.host;
  for (int k = 1; k <= count; ++k) {
    CheckTerminated();
    std::optional<std::string> id = AskOptional(pop3, "UIDL", k, uidl);
    if (id && !IsUsableId(*id)) id.reset();
    if (id) {
      present.insert(*id);
    } else {
      wholeMailbox = false;
    }
    if (id && saved.Contains(*id)) {
      LogProgress(log, "Message #" + std::to_string(k) + " was saved before");
      Delete(pop3, k, log);
      continue;
    }
    if (fetched >= v.limits.maxPerCycle || passedOver >= v.limits.maxPerCycle) {
      LogProgress(log, std::to_string(fetched) +
                           " messages fetched, the limit of one cycle (Pop3MaxPerCycle); the "
                           "rest waits for the next cycle");
      wholeMailbox = false;
      break;
    }
    const auto size = AskOptional(pop3, "LIST", k, list);
    unsigned long long bytes = 0;
    if (size &&
        std::from_chars(size->data(), size->data() + size->size(), bytes).ec == std::errc() &&
        bytes > v.limits.maxMessageSize) {
      LogFailure(log, "Message #" + std::to_string(k) + " in mailbox " + where + " (" +
                          std::to_string(bytes) + " bytes) is over Pop3MaxMessageSize (" +
                          std::to_string(v.limits.maxMessageSize) + " bytes): left on the server");
      ++passedOver;
      continue;
    }
    LogProgress(log, "Retrieving message #" + std::to_string(k));
    if (pop3.SendCommand("RETR " + std::to_string(k), {}) != kPositive) {
      LogFailure(log, "Cannot retrieve message # " + std::to_string(k));
      wholeMailbox = false;
      break;
    }
    ++fetched;
    PartialFile partial(v.inboxDir + (id ? PartialName(v.number, *id) : "retrieved.part"));
    try {
      pop3.CaptureLines([&](std::string_view line) { partial.Append(line); },
                        v.limits.maxMessageSize);
    } catch (const InputTooLongError&) {
      // The rest of the message is still coming; only closing the connection ends it. Nothing
      // of this session is deleted then (the server deletes at Quit), and what was saved is
      // known by its id.
      pop3.Disconnect();
      throw Error("Message #" + std::to_string(k) + " in mailbox " + where +
                  " is longer than Pop3MaxMessageSize (" + std::to_string(v.limits.maxMessageSize) +
                  " bytes): left on the server");
    }
    partial.Complete();
    if (id) saved.Add(*id);  // before the message has its name: see RecoverPartialFiles
    partial.Keep();
    try {
      v.work.currentFile = NameInInbox(partial.Path(), v.inboxDir, v.names);
    } catch (...) {
      if (!id) RemoveFile(partial.Path());
      throw;
    }
    Delete(pop3, k, log);
  }
  if (wholeMailbox && uidl != Answer::No) saved.KeepOnly(present);
}

}  // namespace

void Pop3SignInWithToken(MailClient& pop3) {
  Pop3AuthenticateOAuth(pop3);
}

Pop3Limits ReadPop3Limits(const IniFile& config) {
  Pop3Limits limits;
  const long long size = config.ReadInteger("General", "Pop3MaxMessageSize",
                                            static_cast<long long>(limits.maxMessageSize));
  // At least a small message, at most what a file read in one piece may hold.
  limits.maxMessageSize =
      static_cast<std::size_t>(std::clamp<long long>(size, 1024, 1024LL * 1024 * 1024));
  limits.maxPerCycle =
      std::clamp<long long>(config.ReadInteger("General", "Pop3MaxPerCycle", 500), 1, 100000);
  return limits;
}

std::string SaveInboxFile(const std::string& inboxDir, const std::string& content,
                          const MessageNameSource& names) {
  // Not a "*.msg" name, so that inbox processing never takes a file that is still being written.
  const std::string partial = inboxDir + "retrieved.part";
  RemoveFile(partial);  // left over from an interrupted run; its message is still on the server
  if (!CreateNewFile(partial, content)) throw Error("Cannot create file " + partial);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = names(inboxDir);
    if (RenameWithoutReplacing(partial, inboxDir + name)) return name;
  }
  RemoveFile(partial);
  throw Error("Cannot create file " + inboxDir + " (no free message name)");
}

void RetrieveMailboxes(TAccount& list, MailClient& pop3, const Environment& env) {
  RetrieveMailboxes(list, pop3, env, DecipherStoredPassword);
}

void RetrieveMailboxes(TAccount& list, MailClient& pop3, const Environment& env,
                       const PasswordDecipher& decipher, const AccessTokenSource& tokens) {
  if (Terminated()) return;
  const IniFile& config = list.Config();
  // Bounded, so that a mistyped count cannot keep the stage busy for ever.
  const long long count = std::min<long long>(config.ReadInteger("General", "Pop3Count", 1), 1000);
  auto mailbox = [&](int n) {
    const std::string number = std::to_string(n);
    Pop3Mailbox box{{config.ReadString("General", "Pop3Host" + number, ""),
                     PortSetting(config.ReadInteger("General", "Pop3Port" + number, 110)),
                     config.ReadString("General", "Name" + number, ""),
                     {},
                     SecuritySetting(config.ReadInteger("General", "Pop3Security" + number, 0)),
                     config.ReadString("General", "Pop3TlsFingerprint" + number, "")}};
    box.authMethod = ParseAuthMethod(config.ReadString("General", "Pop3AuthMethod" + number, ""));
    if (box.authMethod == AuthMethod::OAuth2) {
      std::optional<std::string> token;
      if (tokens) token = tokens(box.userName);
      if (!token)
        throw AccountPassedOver("Mailbox " + number + " (" + box.userName +
                                ") has no OAuth 2.0 token this cycle");
      box.password = std::move(*token);
    } else {
      box.password = decipher(config.ReadString("General", "Password" + number, ""));
    }
    return box;
  };
  Pop3WorkItems work;
  RetrieveMailboxes(
      static_cast<int>(count), mailbox, pop3, list.ListDir() + "Inbox/",
      [&env](const std::string& dir) { return env.namer.NewMessageFileName(dir); }, env.log, work,
      ReadPop3Limits(config));
}

void RetrieveMailboxes(int count, const std::function<Pop3Mailbox(int number)>& mailbox,
                       MailClient& pop3, const std::string& inboxDir,
                       const MessageNameSource& names, Logger& log, Pop3WorkItems& work,
                       const Pop3Limits& limits) {
  if (Terminated()) return;
  // The list's folder holds the saved ids; the Inbox is in it.
  std::string listDir = inboxDir;
  if (!listDir.empty() && listDir.back() == '/') listDir.pop_back();
  listDir = DirectoryOf(listDir);
  const std::string listName = FileNameOf(listDir);
  for (int n = 1; n <= count; ++n) {
    std::string server;
    try {
      CheckTerminated();
      const Pop3Mailbox box = mailbox(n);
      server = box.host + " port " + std::to_string(box.port);
      VisitMailbox({n, box, pop3, inboxDir, listDir, names, log, work, limits});
    } catch (const AccountPassedOver&) {
      // Its reason is in the log already; the other mailboxes go on.
    } catch (const StopRequestedError& error) {
      LogFailure(log, error.what());
    } catch (const std::exception& error) {
      LogFailure(log, error.what());
      // The line above is the server's or the socket's own words; this one says which of the
      // list's servers, so a POP3 failure never reads like an SMTP one.
      LogFailure(log, "Fetching failed: POP3 mailbox " + std::to_string(n) + " of list " +
                          listName + (server.empty() ? std::string() : " at " + server));
    }
    if (pop3.Connected()) {
      LogProgress(log, "Disconnecting");
      try {
        pop3.Quit();
      } catch (const std::exception& error) {
        LogFailure(log, error.what());
      }
    }
    if (Terminated()) return;
  }
}

}  // namespace orvex
