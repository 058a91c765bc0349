// The POP3 exchange: greeting, USER/PASS, STAT, then RETR and DELE for each message, and Quit.
#include "transport/Pop3Retrieval.h"

#include <algorithm>
#include <charconv>

#include "platform/Error.h"
#include "platform/FileMoves.h"
#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "store/NameValueList.h"

namespace orvex {
namespace {

constexpr int kPositive = 1;  // the code of a "+OK" reply

void LogProgress(Logger& log, const std::string& text) {
  log.WriteLog(text, 2, LogColour::Green);
}
void LogFailure(Logger& log, const std::string& text) {
  log.WriteLog(text, 1, LogColour::Red);
}

void CheckTerminated() {
  if (Terminated()) throw StopRequestedError();
}

// "Quit" needs no answer: the server commits the deletions when it reads it.
void Pop3Disconnect(MailClient& pop3) {
  try {
    pop3.WriteLine("Quit");
  } catch (...) {
    pop3.Disconnect();
    throw;
  }
  pop3.Disconnect();
}

// STLS after the greeting: a server that refuses it is a failure, never a reason to go on in
// plain text with the password.
void Pop3StartTls(MailClient& pop3) {
  if (pop3.SendCommand("STLS", {}) != kPositive)
    throw Error("TLS failure: " + pop3.host + " does not offer STLS\r\n" + pop3.LastReplyLine());
  pop3.StartTls();
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

void VisitMailbox(const Pop3Mailbox& box, MailClient& pop3, const std::string& inboxDir,
                  const MessageNameSource& names, Logger& log, Pop3WorkItems& work) {
  pop3.host = box.host;
  pop3.port = box.port;
  pop3.userName = box.userName;
  pop3.password = box.password;
  pop3.security = box.security;
  pop3.tlsFingerprint = box.tlsFingerprint;
  LogProgress(log, "Connecting to " + box.host + " on port " + std::to_string(box.port) +
                       "\r\n(username=" + box.userName + ") ...");
  pop3.Connect();
  try {
    pop3.ReadReply({kPositive});
    if (pop3.security == MailSecurity::StartTls) Pop3StartTls(pop3);
    pop3.SendCommand("USER " + box.userName, {kPositive});
    pop3.SendCommand("PASS " + box.password, {kPositive});
  } catch (const ProtocolReplyError&) {
    try {
      Pop3Disconnect(pop3);
    } catch (const std::exception&) {
    }
    throw;
  }
  CheckTerminated();
  LogProgress(log, "Connected");
  try {
    pop3.SendCommand("STAT", {kPositive});
    const int count = MessageCount(pop3.LastReplyLine());
    LogProgress(log, std::to_string(count) + " messages in mailbox");
    for (int k = 1; k <= count; ++k) {
      LogProgress(log, "Retrieving message #" + std::to_string(k));
      work.messageLines.clear();
      if (pop3.SendCommand("RETR " + std::to_string(k), {}) != kPositive) {
        LogFailure(log, "Cannot retrieve message # " + std::to_string(k));
        break;
      }
      pop3.CaptureLines(work.messageLines);
      work.currentFile = SaveInboxFile(inboxDir, JoinLines(work.messageLines), names);
      LogProgress(log, "Deleting message #" + std::to_string(k));
      pop3.SendCommand("DELE " + std::to_string(k), {kPositive});
    }
  } catch (const std::exception& error) {
    LogFailure(log, error.what());
  }
}

}  // namespace

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
                       const PasswordDecipher& decipher) {
  if (Terminated()) return;
  const IniFile& config = list.Config();
  // Bounded, so that a mistyped count cannot keep the stage busy for ever.
  const long long count = std::min<long long>(config.ReadInteger("General", "Pop3Count", 1), 1000);
  auto mailbox = [&](int n) {
    const std::string number = std::to_string(n);
    return Pop3Mailbox{config.ReadString("General", "Pop3Host" + number, ""),
                       PortSetting(config.ReadInteger("General", "Pop3Port" + number, 110)),
                       config.ReadString("General", "Name" + number, ""),
                       decipher(config.ReadString("General", "Password" + number, "")),
                       SecuritySetting(config.ReadInteger("General", "Pop3Security" + number, 0)),
                       config.ReadString("General", "Pop3TlsFingerprint" + number, "")};
  };
  Pop3WorkItems work;
  RetrieveMailboxes(
      static_cast<int>(count), mailbox, pop3, list.ListDir() + "Inbox/",
      [&env](const std::string& dir) { return env.namer.NewMessageFileName(dir); }, env.log, work);
}

void RetrieveMailboxes(int count, const std::function<Pop3Mailbox(int number)>& mailbox,
                       MailClient& pop3, const std::string& inboxDir,
                       const MessageNameSource& names, Logger& log, Pop3WorkItems& work) {
  if (Terminated()) return;
  for (int n = 1; n <= count; ++n) {
    try {
      CheckTerminated();
      VisitMailbox(mailbox(n), pop3, inboxDir, names, log, work);
    } catch (const std::exception& error) {
      LogFailure(log, error.what());
    }
    if (pop3.Connected()) {
      LogProgress(log, "Disconnecting");
      try {
        Pop3Disconnect(pop3);
      } catch (const std::exception& error) {
        LogFailure(log, error.what());
      }
    }
    if (Terminated()) return;
  }
}

}  // namespace orvex
