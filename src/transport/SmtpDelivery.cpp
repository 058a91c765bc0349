// The walk over Outbox (the exchange of one transaction is in SmtpTransaction.cpp).
#include "transport/SmtpDelivery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_set>

#include <sys/stat.h>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "platform/Text.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/FailedMail.h"
#include "store/NameValueList.h"
#include "transport/DeliveryProgress.h"
#include "transport/SmtpSession.h"
#include "transport/StageLog.h"

namespace orvex {
namespace {

bool HasExtension(const std::string& name, std::string_view extension) {
  return name.size() > extension.size() &&
         EqualsIgnoreCase(std::string_view(name).substr(name.size() - extension.size()), extension);
}

bool IsMail(const std::string& name) {
  return HasExtension(name, ".msg") || HasExtension(name, ".dig") || HasExtension(name, ".pri");
}

// An Outbox file larger than this is not sent (far beyond any post or digest the list makes).
constexpr std::size_t kMaximumOutboxFile = 256 * 1024 * 1024;

std::string ReadFailure(const RegularFileRead& read) {
  using Outcome = RegularFileRead::Outcome;
  switch (read.outcome) {
    case Outcome::NotRegular:
      return "it is not a regular file";
    case Outcome::TooLarge:
      return "it is larger than " + std::to_string(kMaximumOutboxFile) + " bytes";
    default:
      return std::strerror(read.error);
  }
}

// The stored start of a run of deferrals is rounded to a tenth of a second or so.
constexpr double kDayTolerance = 1.0 / 86400;

std::string Recipients(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " recipient" : " recipients");
}

// Removes a record written only to learn that it can be written, once nothing was recorded in it.
struct DropIfEmpty {
  DeliveryProgress& progress;
  ~DropIfEmpty() {
    if (progress.IsEmpty()) progress.Remove();
  }
};

class OutboxWalk {
 public:
  OutboxWalk(const std::string& listDir, const SmtpSettings& settings, const DeliveryLimits& limits,
             const Clock& clock, MailClient& smtp, Logger& log)
      : listDir_(listDir),
        outbox_(listDir + "Outbox/"),
        settings_(settings),
        limits_(limits),
        clock_(clock),
        auth_(settings.userName.empty()                   ? SmtpAuth::None
              : settings.authMethod == AuthMethod::OAuth2 ? SmtpAuth::OAuth2
                                                          : SmtpAuth::Login),
        smtp_(smtp),
        log_(log),
        quota_(listDir, limits.maxRecipientsPerDay, clock),
        entries_(ListDirectory(outbox_)) {}

  // A progress file whose message file is gone belongs to a file that was finished (or moved)
  // just before a kill; so does a temporary file of an interrupted progress write.
  void RemoveStaleProgress() {
    std::unordered_set<std::string> names;
    for (const auto& entry : entries_) names.insert(entry.name);
    for (const auto& entry : entries_) {
      const auto& name = entry.name;
      if (entry.isDirectory || IsMail(name)) continue;
      const auto suffix = name.rfind(DeliveryProgress::kSuffix);
      if (suffix == std::string::npos) continue;
      const bool temporary =
          name.compare(suffix + DeliveryProgress::kSuffix.size(), 4, ".tmp") == 0;
      const bool orphan = suffix + DeliveryProgress::kSuffix.size() == name.size() &&
                          names.count(name.substr(0, suffix)) == 0;
      if (temporary || orphan) RemoveFile(outbox_ + name);
    }
  }

  // What looks like mail but is no regular file (a directory, a link, a FIFO) is never opened
  // for sending: it goes to Failed/, or stays with a log line at each cycle when it cannot be
  // moved. A scratch file of older versions (it may hold a member's password) goes as well.
  void SetAsideIrregularFiles() {
    if (RemoveFile(listDir_ + "tmp.tmp"))
      LogProgress(log_, "Removed the scratch file tmp.tmp left by an earlier delivery");
    std::vector<DirectoryEntry> kept;
    for (auto& entry : entries_) {
      if (!IsMail(entry.name)) {
        kept.push_back(std::move(entry));
        continue;
      }
      const IdentityKind kind = KindOf(outbox_ + entry.name);
      if (kind == IdentityKind::Regular) {
        kept.push_back(std::move(entry));
      } else if (kind == IdentityKind::Other) {
        FailOrPassOver(outbox_ + entry.name, "it is not a regular file");
      }
    }
    entries_ = std::move(kept);
  }

  void SendListMail(std::string_view extension, const std::vector<std::string>& recipients) {
    for (const auto& entry : entries_) {
      if (recipients.empty() || stopped_) return;
      if (!HasExtension(entry.name, extension)) continue;
      SendListFile(outbox_ + entry.name, recipients);
    }
  }

  void SendPrivateMessages() {
    for (const auto& entry : entries_) {
      if (stopped_) return;
      if (!HasExtension(entry.name, ".pri")) continue;
      const std::string path = outbox_ + entry.name;
      std::optional<DeliveryProgress> progress = LoadProgress(path);
      if (!progress) continue;
      if (progress->IsComplete()) {
        Finish(path, *progress);  // sent before; only its removal failed
        continue;
      }
      std::optional<std::vector<std::string>> lines = LoadLines(path);
      if (!lines) continue;
      if (lines->empty()) {
        // Without a first line there is no recipient; it must not go to anyone else.
        Fail(path, "it has no recipient line");
        continue;
      }
      if (!QuotaLeft()) return;
      const DropIfEmpty drop{*progress};
      if (!Record(path, *progress)) return;  // see SendListFile
      const std::string recipient = lines->front();
      lines->erase(lines->begin());
      const TransactionResult result =
          SendTransaction(smtp_, auth_, log_, settings_.controlAddress,
                          MailClient::DotStuffedData(*lines), {recipient});
      switch (result.outcome) {
        case TransactionResult::Outcome::Sent:
          quota_.Count(result.accepted.size());
          progress->MarkSent(recipient);
          progress->MarkComplete();
          if (!Record(path, *progress)) return;
          Finish(path, *progress);
          break;
        case TransactionResult::Outcome::NoRecipientAccepted:
          if (result.deferred.empty()) Fail(path, "no recipient was accepted");
          break;
        case TransactionResult::Outcome::Deferred:
          break;
        case TransactionResult::Outcome::MessageRefused:
          Fail(path, "the server refused it\r\n" + result.reply);
          break;
      }
    }
  }

 private:
  // False once the day's count is reached; says so once.
  bool QuotaLeft() {
    if (stopped_) return false;
    if (quota_.Remaining() > 0) return true;
    stopped_ = true;
    LogProgress(log_, "Daily limit of " + Recipients(limits_.maxRecipientsPerDay) +
                          " reached; the rest is sent tomorrow");
    return false;
  }

  void SendListFile(const std::string& path, const std::vector<std::string>& selection) {
    std::optional<DeliveryProgress> loaded = LoadProgress(path);
    if (!loaded) return;
    DeliveryProgress& progress = *loaded;
    // Sent to everybody before: never again, whoever subscribed since.
    if (progress.IsComplete()) return Finish(path, progress);
    const std::vector<std::string> waiting = progress.Waiting(selection);
    if (waiting.empty()) return Finish(path, progress);
    std::string data;
    {
      const std::optional<std::vector<std::string>> lines = LoadLines(path);
      if (!lines) return;
      data = MailClient::DotStuffedData(*lines);
    }
    std::size_t next = 0;
    std::size_t acceptedNow = 0;
    std::size_t deferredNow = 0;
    // A record that cannot be written now (a full disk, a read-only folder) stops the file before
    // anything goes out, rather than after a transaction that could then not be remembered.
    if (!QuotaLeft()) return;
    const DropIfEmpty drop{progress};
    if (!Record(path, progress)) return;
    while (next < waiting.size() && QuotaLeft()) {
      std::size_t size = std::min(waiting.size() - next, quota_.Remaining());
      if (limits_.maxRecipients != 0) size = std::min(size, limits_.maxRecipients);
      const std::vector<std::string> batch(
          waiting.begin() + static_cast<std::ptrdiff_t>(next),
          waiting.begin() + static_cast<std::ptrdiff_t>(next + size));
      next += size;
      const TransactionResult result =
          SendTransaction(smtp_, auth_, log_, settings_.from, data, batch);
      if (result.outcome == TransactionResult::Outcome::MessageRefused) {
        Fail(path, "the server refused it\r\n" + result.reply);
        progress.Remove();
        return;
      }
      if (result.outcome == TransactionResult::Outcome::Sent) {
        // The count first: after a kill between the two, the day's count errs on the safe side.
        quota_.Count(result.accepted.size());
        for (const auto& address : result.accepted) progress.MarkSent(address);
        acceptedNow += result.accepted.size();
      }
      for (const auto& address : result.refused) progress.MarkRefused(address);
      deferredNow += result.deferred.size();
      const bool changed =
          result.outcome == TransactionResult::Outcome::Sent || !result.refused.empty();
      // Recorded before anything else is tried (the next transaction, the file's removal), so
      // that a kill repeats at most this transaction and a file that cannot be removed is not
      // sent again.
      if (changed) {
        if (acceptedNow != 0) progress.SetRefusedSince(std::nullopt);
        if (next == waiting.size() && deferredNow == 0) progress.MarkComplete();
        if (!Record(path, progress)) return;
      }
    }
    if (next == waiting.size() && deferredNow == 0) return Finish(path, progress);
    if (acceptedNow != 0 || deferredNow == 0) return;
    // Nobody took it this cycle and the relay deferred those it was offered to.
    const double now = ToDays(clock_.Now());
    if (!progress.RefusedSince()) {
      progress.SetRefusedSince(now);
      Record(path, progress);
    } else if (now - *progress.RefusedSince() + kDayTolerance >= limits_.days) {
      Fail(path, Recipients(progress.Waiting(selection).size()) + " never got it");
      progress.Remove();
    }
  }

  // The file's progress; nothing (with a log line) when its record cannot be read, and then the
  // file is not sent: it might reach somebody twice.
  std::optional<DeliveryProgress> LoadProgress(const std::string& path) {
    try {
      return DeliveryProgress::Load(path);
    } catch (const std::exception& error) {
      LogFailure(log_,
                 "Message file " + path.substr(outbox_.size()) + " not sent\r\n" + error.what());
      return std::nullopt;
    }
  }

  // Writes the progress record; when it cannot be written, says why and stops the walk: a
  // transaction more would be one the service could not remember having made.
  bool Record(const std::string& path, const DeliveryProgress& progress) {
    try {
      progress.Save();
      return true;
    } catch (const std::exception& error) {
      LogFailure(log_, "Delivery of " + path.substr(outbox_.size()) +
                           " stopped: its progress cannot be recorded\r\n" + error.what());
      stopped_ = true;
      return false;
    }
  }

  // Nobody of the selection waits for the file any more.
  void Finish(const std::string& path, DeliveryProgress& progress) {
    if (progress.SentCount() == 0) {
      Fail(path, "no recipient was accepted");
    } else if (!RemoveFile(path) && errno != ENOENT) {
      // The record says it is done, so it is not sent again; the removal is tried next cycle.
      const std::string reason = std::strerror(errno);
      LogFailure(log_, "Cannot remove sent message file " + path.substr(outbox_.size()) + ": " +
                           reason + " (it is not sent again)");
      if (!progress.IsComplete()) {
        progress.MarkComplete();
        Record(path, progress);
      }
      return;
    }
    // The message file goes first: a kill in between leaves only a stale progress file.
    progress.Remove();
  }

  void Fail(const std::string& path, const std::string& reason) {
    const std::string moved = MoveToFailed(listDir_, path, reason);
    LogFailure(log_, "Message file " + path.substr(outbox_.size()) + " moved to " +
                         moved.substr(listDir_.size()) + ": " + reason);
  }

  // Fail(), or a log line when even the move fails (the file stays and is passed over).
  void FailOrPassOver(const std::string& path, const std::string& reason) {
    try {
      Fail(path, reason);
    } catch (const std::exception& error) {
      LogFailure(log_, "Message file " + path.substr(outbox_.size()) + " passed over: " + reason +
                           "\r\n" + error.what());
    }
  }

  // The lines of an Outbox file, read without following links or blocking; nothing (and the
  // file set aside) when it cannot be read as a regular file of sane size.
  std::optional<std::vector<std::string>> LoadLines(const std::string& path) {
    RegularFileRead read = ReadRegularFile(path, kMaximumOutboxFile);
    using Outcome = RegularFileRead::Outcome;
    if (read.outcome == Outcome::Read) {
      std::vector<std::string> lines = SplitLines(read.content);
      return lines;
    }
    if (read.outcome == Outcome::NotRegular || read.outcome == Outcome::TooLarge) {
      FailOrPassOver(path, ReadFailure(read));
    } else if (read.outcome == Outcome::Failed) {
      LogFailure(log_,
                 "Cannot read file " + path.substr(listDir_.size()) + ": " + ReadFailure(read));
    }
    return std::nullopt;
  }

  enum class IdentityKind { Regular, Missing, Other };
  static IdentityKind KindOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return IdentityKind::Missing;
    return S_ISREG(st.st_mode) ? IdentityKind::Regular : IdentityKind::Other;
  }

  std::string listDir_;
  std::string outbox_;
  const SmtpSettings& settings_;
  const DeliveryLimits& limits_;
  const Clock& clock_;
  SmtpAuth auth_;
  MailClient& smtp_;
  Logger& log_;
  SendingQuota quota_;
  std::vector<DirectoryEntry> entries_;
  bool stopped_ = false;  // the day's count is reached, or progress cannot be recorded
};

}  // namespace

std::string Base64(const std::string& text) {
  return Base64Encode(text);
}

SendResult SendOneMessage(MailClient& smtp, SmtpAuth auth, Logger& log, const std::string& sender,
                          const std::vector<std::string>& lines,
                          const std::vector<std::string>& recipients) {
  const TransactionResult result =
      SendTransaction(smtp, auth, log, sender, MailClient::DotStuffedData(lines), recipients);
  switch (result.outcome) {
    case TransactionResult::Outcome::Sent:
      return {SendOutcome::Sent, {}};
    case TransactionResult::Outcome::NoRecipientAccepted:
      if (!result.deferred.empty()) break;
      return {SendOutcome::NoRecipientAccepted, {}};
    case TransactionResult::Outcome::Deferred:
      break;
    case TransactionResult::Outcome::MessageRefused:
      return {SendOutcome::MessageRefused, result.reply};
  }
  throw ProtocolReplyError(result.code, result.reply);
}

void DeliverOutbox(TAccount& list, MailClient& smtp, const Environment& env) {
  DeliverOutbox(list, smtp, env, DecipherStoredPassword);
}

void DeliverOutbox(TAccount& list, MailClient& smtp, const Environment& env,
                   const PasswordDecipher& decipher, const AccessTokenSource& tokens) {
  const IniFile& config = list.Config();
  SmtpSettings settings{{config.ReadString("General", "SmtpHost", ""),
                         PortSetting(config.ReadInteger("General", "SmtpPort", 25)),
                         config.ReadString("General", "SMTPUser", ""),
                         {},
                         SecuritySetting(config.ReadInteger("General", "SmtpSecurity", 0)),
                         config.ReadString("General", "SmtpTlsFingerprint", "")},
                        config.ReadString("General", "From", ""),
                        config.ReadString("General", "ControlAddress", "")};
  settings.authMethod = ParseAuthMethod(config.ReadString("General", "SmtpAuthMethod", ""));
  if (settings.authMethod == AuthMethod::OAuth2 && !settings.userName.empty()) {
    // Without a token nothing can be sent; the Outbox stays as it is for the next cycle.
    std::optional<std::string> token;
    if (tokens) token = tokens(settings.userName);
    if (!token) return;
    settings.password = std::move(*token);
  } else {
    settings.password = decipher(config.ReadString("General", "SMTPPassword", ""));
  }
  OutboxRecipients recipients;
  NameValueList selected;
  list.SelectSubscribers(selected, sfMember, sfPaused | sfDigest);
  recipients.posts = selected.Lines();
  list.SelectSubscribers(selected, sfDigest, sfPaused);
  recipients.digests = selected.Lines();
  DeliverOutboxFiles(list.ListDir(), settings, recipients, ReadDeliveryLimits(config), env.clock,
                     smtp, env.log);
}

void DeliverOutboxFiles(const std::string& listDir, const SmtpSettings& settings,
                        const OutboxRecipients& recipients, MailClient& smtp, Logger& log) {
  const SystemClock clock;
  DeliverOutboxFiles(listDir, settings, recipients, DeliveryLimits{}, clock, smtp, log);
}

void DeliverOutboxFiles(const std::string& listDir, const SmtpSettings& settings,
                        const OutboxRecipients& recipients, const DeliveryLimits& limits,
                        const Clock& clock, MailClient& smtp, Logger& log) {
  smtp.UseServer(settings);
  if (DirectoryExists(listDir + "Outbox/")) {
    try {
      OutboxWalk walk(listDir, settings, limits, clock, smtp, log);
      walk.RemoveStaleProgress();
      walk.SetAsideIrregularFiles();
      walk.SendListMail(".msg", recipients.posts);
      walk.SendListMail(".dig", recipients.digests);
      walk.SendPrivateMessages();
    } catch (const StopRequestedError& error) {
      LogFailure(log, error.what());
    } catch (const std::exception& error) {
      LogFailure(log, error.what());
      // Names the stage, the list and the relay beside the server's or the socket's own words.
      LogFailure(log, "Delivery failed: SMTP relay of list " + FileNameOf(listDir) + " at " +
                          settings.host + " port " + std::to_string(settings.port));
    }
  }
  if (smtp.Connected()) {
    LogProgress(log, "Disconnecting");
    try {
      smtp.Quit();
    } catch (const std::exception& error) {
      LogFailure(log, error.what());
    }
  }
}

}  // namespace orvex
