// One SMTP transaction (MAIL FROM, RCPT TO for each recipient, DATA) and the reading of its
// replies: in one batch when the relay offers PIPELINING, one command at a time otherwise. Both
// ways give each recipient the same outcome.
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "transport/SmtpDelivery.h"
#include "transport/SmtpSession.h"

namespace orvex {
namespace {

using Outcome = TransactionResult::Outcome;

void LogProgress(Logger& log, const std::string& text) {
  log.WriteLog(text, 2, LogColour::Green);
}
void LogFailure(Logger& log, const std::string& text) {
  log.WriteLog(text, 1, LogColour::Red);
}

bool IsPermanentRefusal(int code) {
  return code >= 500 && code <= 599;
}
// 421 is not among them: the relay is closing the connection, which ends the stage.
bool IsTemporaryRefusal(int code) {
  return code >= 400 && code <= 499 && code != 421;
}

std::string Recipients(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " recipient" : " recipients");
}

void LogSending(Logger& log, const std::vector<std::string>& recipients) {
  LogProgress(log, recipients.size() == 1
                       ? "Sending message to <" + recipients.front() + ">"
                       : "Sending message to list: " + Recipients(recipients.size()));
}

// Files the relay's answer to one RCPT TO.
void TakeRecipientReply(MailClient& smtp, Logger& log, const std::string& address, int code,
                        TransactionResult& result) {
  if (code == 250 || code == 251) {
    result.accepted.push_back(address);
  } else if (IsPermanentRefusal(code)) {
    // One bad address must not keep the message from everybody else.
    LogFailure(log, "Recipient <" + address + "> refused\r\n" + smtp.LastReplyLine());
    result.refused.push_back(address);
  } else if (IsTemporaryRefusal(code)) {
    // A full mailbox, greylisting or the relay's own cap: this one waits for the next cycle.
    result.deferred.push_back(address);
    result.code = code;
    result.reply = smtp.LastReplyLine();
  } else {
    throw ProtocolReplyError(code, smtp.LastReplyLine());
  }
}

void LogDeferred(Logger& log, const TransactionResult& result) {
  if (result.deferred.empty()) return;
  LogFailure(log, (result.deferred.size() == 1 ? "Recipient <" + result.deferred.front() + ">"
                                               : Recipients(result.deferred.size())) +
                      " deferred\r\n" + result.reply);
}

// The relay refused the message for now: everybody it had accepted waits for the next cycle.
void DeferAll(MailClient& smtp, Logger& log, TransactionResult& result) {
  result.outcome = Outcome::Deferred;
  result.code = smtp.ReplyCode();
  result.reply = smtp.LastReplyLine();
  result.deferred.insert(result.deferred.end(), result.accepted.begin(), result.accepted.end());
  result.accepted.clear();
  LogFailure(log, "Message deferred\r\n" + result.reply);
}

// From the reply to DATA on, with at least one recipient accepted: the data goes out only after
// the relay's 354.
TransactionResult AfterData(MailClient& smtp, Logger& log, int dataCode, const std::string& data,
                            TransactionResult result) {
  if (IsPermanentRefusal(dataCode) || IsTemporaryRefusal(dataCode)) {
    if (IsPermanentRefusal(dataCode)) {
      result.outcome = Outcome::MessageRefused;
      result.code = dataCode;
      result.reply = smtp.LastReplyLine();
    } else {
      DeferAll(smtp, log, result);
    }
    smtp.SendCommand("RSET", {250});
    return result;
  }
  if (dataCode != 354) throw ProtocolReplyError(dataCode, smtp.LastReplyLine());
  smtp.WriteData(data);
  const int endCode = smtp.ReadReply({}, ReplyWait::EndOfData);
  if (endCode == 250) return result;
  if (IsPermanentRefusal(endCode)) {
    result.outcome = Outcome::MessageRefused;
    result.code = endCode;
    result.reply = smtp.LastReplyLine();
  } else if (IsTemporaryRefusal(endCode)) {
    DeferAll(smtp, log, result);
  } else {
    throw ProtocolReplyError(endCode, smtp.LastReplyLine());
  }
  return result;
}

TransactionResult Lockstep(MailClient& smtp, Logger& log, const std::string& mailFrom,
                           const std::string& data, const std::vector<std::string>& recipients) {
  smtp.SendCommand(mailFrom, {250});
  LogSending(log, recipients);
  TransactionResult result;
  for (const auto& address : recipients)
    TakeRecipientReply(smtp, log, address, smtp.SendCommand("RCPT TO: <" + address + ">", {}),
                       result);
  LogDeferred(log, result);
  if (result.accepted.empty()) {
    smtp.SendCommand("RSET", {250});
    result.outcome = Outcome::NoRecipientAccepted;
    return result;
  }
  return AfterData(smtp, log, smtp.SendCommand("DATA", {}), data, std::move(result));
}

// MAIL FROM, every RCPT TO and DATA go out in one write; the replies are then read in order.
// The write itself reads whatever the relay answers meanwhile (MailClient::WriteData), so a
// relay that answers each line at once cannot stall a long batch.
TransactionResult Pipelined(MailClient& smtp, Logger& log, const std::string& mailFrom,
                            const std::string& data, const std::vector<std::string>& recipients) {
  std::string batch;
  std::size_t size = mailFrom.size() + 8;
  for (const auto& address : recipients) size += address.size() + 13;
  batch.reserve(size);
  batch.append(mailFrom).append("\r\n");
  for (const auto& address : recipients) batch.append("RCPT TO: <").append(address).append(">\r\n");
  batch.append("DATA\r\n");
  smtp.WriteData(batch);
  // A refused sender ends the stage as it does one command at a time; the replies still owed
  // are left unread, since the connection is closed after it.
  smtp.ReadReply({250});
  LogSending(log, recipients);
  TransactionResult result;
  for (const auto& address : recipients)
    TakeRecipientReply(smtp, log, address, smtp.ReadReply({}), result);
  LogDeferred(log, result);
  const int dataCode = smtp.ReadReply({});
  if (!result.accepted.empty()) return AfterData(smtp, log, dataCode, data, std::move(result));
  result.outcome = Outcome::NoRecipientAccepted;
  if (dataCode == 354) {
    // A relay that opens the data without a recipient gets an empty message, which it cannot
    // deliver to anybody; its answer does not matter.
    smtp.SendCommand(".", {});
  } else if (dataCode == 421) {
    throw ProtocolReplyError(dataCode, smtp.LastReplyLine());
  } else {
    smtp.SendCommand("RSET", {250});
  }
  return result;
}

}  // namespace

TransactionResult SendTransaction(MailClient& smtp, SmtpAuth auth, Logger& log,
                                  const std::string& sender, const std::string& data,
                                  const std::vector<std::string>& recipients) {
  SmtpOpen(smtp, auth, log);
  const SmtpExtensions offered = ParseEhloReply(smtp.ehloReply);
  std::string mailFrom = "MAIL FROM: <" + sender + ">";
  if (offered.size) {
    // The message as it goes over the wire, without the closing dot line.
    const std::uint64_t size = data.size() >= 3 ? data.size() - 3 : data.size();
    if (offered.maxSize != 0 && size > offered.maxSize) {
      // The relay would take the whole message over the wire only to refuse it, at every cycle.
      TransactionResult result;
      result.outcome = Outcome::MessageRefused;
      result.code = 552;
      result.reply = "The message has " + std::to_string(size) + " bytes; " + smtp.host +
                     " takes at most " + std::to_string(offered.maxSize) + " (SIZE)";
      return result;
    }
    mailFrom += " SIZE=" + std::to_string(size);
  }
  return offered.pipelining ? Pipelined(smtp, log, mailFrom, data, recipients)
                            : Lockstep(smtp, log, mailFrom, data, recipients);
}

}  // namespace orvex
