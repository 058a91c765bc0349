// The SMTP exchange and the walk over Outbox.
#include "transport/SmtpDelivery.h"

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/FailedMail.h"
#include "store/NameValueList.h"

namespace orvex {
namespace {

void LogProgress(Logger& log, const std::string& text) {
  log.WriteLog(text, 2, LogColour::Green);
}
void LogFailure(Logger& log, const std::string& text) {
  log.WriteLog(text, 1, LogColour::Red);
}

bool IsPermanentRefusal(int code) {
  return code >= 500 && code <= 599;
}

// "Quit" needs no answer.
void SmtpDisconnect(MailClient& smtp) {
  if (!smtp.Connected()) return;
  try {
    smtp.WriteLine("Quit");
  } catch (...) {
    smtp.Disconnect();
    throw;
  }
  smtp.Disconnect();
}

bool HasExtension(const std::string& name, std::string_view extension) {
  return name.size() > extension.size() &&
         EqualsIgnoreCase(std::string_view(name).substr(name.size() - extension.size()), extension);
}

std::vector<std::string> LoadLines(const std::string& path) {
  const auto content = ReadWholeFile(path);
  if (!content) throw Error("Cannot open file " + path);
  return SplitLines(*content);
}

class OutboxWalk {
 public:
  OutboxWalk(const std::string& listDir, const SmtpSettings& settings, MailClient& smtp,
             Logger& log)
      : listDir_(listDir),
        outbox_(listDir + "Outbox/"),
        settings_(settings),
        auth_(settings.userName.empty() ? SmtpAuth::None : SmtpAuth::Login),
        smtp_(smtp),
        log_(log),
        entries_(ListDirectory(outbox_)) {}

  void SendListMail(std::string_view extension, const std::vector<std::string>& recipients) {
    for (const auto& entry : entries_) {
      if (recipients.empty()) return;
      if (entry.isDirectory || !HasExtension(entry.name, extension)) continue;
      const std::string path = outbox_ + entry.name;
      const SendResult result =
          SendOneMessage(smtp_, auth_, log_, settings_.from, LoadLines(path), recipients);
      Settle(path, result);
    }
  }

  void SendPrivateMessages() {
    const std::string scratch = listDir_ + "tmp.tmp";
    for (const auto& entry : entries_) {
      if (entry.isDirectory || !HasExtension(entry.name, ".pri")) continue;
      const std::string path = outbox_ + entry.name;
      std::vector<std::string> lines = LoadLines(path);
      if (lines.empty()) {
        // Without a first line there is no recipient; it must not go to anyone else.
        Fail(path, "it has no recipient line");
        continue;
      }
      const std::string recipient = lines.front();
      lines.erase(lines.begin());
      ReplaceFileAtomically(scratch, JoinLines(lines));
      const SendResult result = SendOneMessage(smtp_, auth_, log_, settings_.controlAddress,
                                               LoadLines(scratch), {recipient});
      Settle(path, result);
      RemoveFile(scratch);
    }
  }

 private:
  void Settle(const std::string& path, const SendResult& result) {
    switch (result.outcome) {
      case SendOutcome::Sent:
        RemoveFile(path);  // a file that stays is sent again next cycle; not reported
        break;
      case SendOutcome::NoRecipientAccepted:
        Fail(path, "no recipient was accepted");
        break;
      case SendOutcome::MessageRefused:
        Fail(path, "the server refused it\r\n" + result.reply);
        break;
    }
  }

  void Fail(const std::string& path, const std::string& reason) {
    const std::string moved = MoveToFailed(listDir_, path);
    LogFailure(log_, "Message file " + path.substr(outbox_.size()) + " moved to " +
                         moved.substr(listDir_.size()) + ": " + reason);
  }

  std::string listDir_;
  std::string outbox_;
  const SmtpSettings& settings_;
  SmtpAuth auth_;
  MailClient& smtp_;
  Logger& log_;
  std::vector<DirectoryEntry> entries_;
};

}  // namespace

std::string Base64(const std::string& text) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(text[i]) << 16 |
                       static_cast<unsigned char>(text[i + 1]) << 8 |
                       static_cast<unsigned char>(text[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  if (i < text.size()) {
    unsigned v = static_cast<unsigned char>(text[i]) << 16;
    if (i + 1 < text.size()) v |= static_cast<unsigned char>(text[i + 1]) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < text.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

SendResult SendOneMessage(MailClient& smtp, SmtpAuth auth, Logger& log, const std::string& sender,
                          const std::vector<std::string>& lines,
                          const std::vector<std::string>& recipients) {
  SmtpOpen(smtp, auth, log);
  smtp.SendCommand("MAIL FROM: <" + sender + ">", {250});
  LogProgress(log, recipients.size() == 1 ? "Sending message to <" + recipients.front() + ">"
                                          : std::string("Sending message to list"));
  std::size_t accepted = 0;
  for (const auto& address : recipients) {
    const int code = smtp.SendCommand("RCPT TO: <" + address + ">", {});
    if (code == 250 || code == 251) {
      ++accepted;
    } else if (IsPermanentRefusal(code)) {
      // One bad address must not keep the message from everybody else.
      LogFailure(log, "Recipient <" + address + "> refused\r\n" + smtp.LastReplyLine());
    } else {
      throw ProtocolReplyError(code, smtp.LastReplyLine());
    }
  }
  if (accepted == 0) {
    smtp.SendCommand("RSET", {250});
    return {SendOutcome::NoRecipientAccepted, {}};
  }
  const int dataCode = smtp.SendCommand("DATA", {});
  if (IsPermanentRefusal(dataCode)) {
    SendResult refused{SendOutcome::MessageRefused, smtp.LastReplyLine()};
    smtp.SendCommand("RSET", {250});
    return refused;
  }
  if (dataCode != 354) throw ProtocolReplyError(dataCode, smtp.LastReplyLine());
  smtp.WriteData(MailClient::DotStuffedData(lines));
  const int endCode = smtp.ReadReply({}, ReplyWait::EndOfData);
  if (endCode == 250) return {SendOutcome::Sent, {}};
  if (IsPermanentRefusal(endCode)) return {SendOutcome::MessageRefused, smtp.LastReplyLine()};
  throw ProtocolReplyError(endCode, smtp.LastReplyLine());
}

void DeliverOutbox(TAccount& list, MailClient& smtp, const Environment& env) {
  DeliverOutbox(list, smtp, env, DecipherStoredPassword);
}

void DeliverOutbox(TAccount& list, MailClient& smtp, const Environment& env,
                   const PasswordDecipher& decipher) {
  const IniFile& config = list.Config();
  SmtpSettings settings{config.ReadString("General", "SmtpHost", ""),
                        PortSetting(config.ReadInteger("General", "SmtpPort", 25)),
                        config.ReadString("General", "SMTPUser", ""),
                        decipher(config.ReadString("General", "SMTPPassword", "")),
                        config.ReadString("General", "From", ""),
                        config.ReadString("General", "ControlAddress", "")};
  settings.security = SecuritySetting(config.ReadInteger("General", "SmtpSecurity", 0));
  settings.tlsFingerprint = config.ReadString("General", "SmtpTlsFingerprint", "");
  OutboxRecipients recipients;
  NameValueList selected;
  list.SelectSubscribers(selected, sfMember, sfPaused | sfDigest);
  recipients.posts = selected.Lines();
  list.SelectSubscribers(selected, sfDigest, sfPaused);
  recipients.digests = selected.Lines();
  DeliverOutboxFiles(list.ListDir(), settings, recipients, smtp, env.log);
}

void DeliverOutboxFiles(const std::string& listDir, const SmtpSettings& settings,
                        const OutboxRecipients& recipients, MailClient& smtp, Logger& log) {
  smtp.userName = settings.userName;
  smtp.password = settings.password;
  smtp.host = settings.host;
  smtp.port = settings.port;
  smtp.security = settings.security;
  smtp.tlsFingerprint = settings.tlsFingerprint;
  if (DirectoryExists(listDir + "Outbox/")) {
    try {
      OutboxWalk walk(listDir, settings, smtp, log);
      walk.SendListMail(".msg", recipients.posts);
      walk.SendListMail(".dig", recipients.digests);
      walk.SendPrivateMessages();
    } catch (const std::exception& error) {
      LogFailure(log, error.what());
    }
  }
  if (smtp.Connected()) {
    LogProgress(log, "Disconnecting");
    try {
      SmtpDisconnect(smtp);
    } catch (const std::exception& error) {
      LogFailure(log, error.what());
    }
  }
}

}  // namespace orvex
