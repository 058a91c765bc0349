// The inbox pass: dispatch by the "To" header, message groups, failed messages set aside.
#include "processing/Inbox.h"

#include <cerrno>
#include <string>
#include <vector>

#include "message/Msg.h"
#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "processing/Address.h"
#include "processing/Bounces.h"
#include "processing/Commands.h"
#include "processing/Digest.h"
#include "processing/Distribution.h"
#include "processing/FromRewrite.h"
#include "processing/ListHeaders.h"
#include "processing/Moderation.h"
#include "processing/Notices.h"
#include "processing/Retention.h"
#include "store/FailedMail.h"

namespace orvex {
namespace {

bool Occurs(std::string_view to, std::string_view address) {
  return !address.empty() && to.find(address) != std::string_view::npos;
}

long long ReadBounceLimit(const TAccount& list) {
  return list.Config().ReadInteger("General", "BounceLimit", 0);
}

// An error of the machine rather than of the message: the same message will go through once
// the operator has freed space or mended the folder, so it must not be set aside for good.
bool FaultOfTheMachine(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EIO:
    case EROFS:
    case EACCES:
    case EPERM:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
    case EBUSY:
    case ENOTDIR:
    case EISDIR:
    case EEXIST:
    case ENOENT:
    case EAGAIN:
    case ETXTBSY:
      return true;
    default:
      return false;
  }
}

// Thrown inside the pass to end it: nothing of the open group is published.
class EPassStopped : public Error {
 public:
  using Error::Error;
};

class InboxPass {
 public:
  InboxPass(TAccount& list, const Environment& env, TxtResolver& resolver)
      : list_(list),
        env_(env),
        group_(list, env),
        dmarc_(resolver),
        context_{list, env, group_, &dmarc_} {}

  void Run(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      if (Terminated()) break;
      Handle(name);
      if (group_.MessageCount() >= kMessagesPerCommit || group_.PendingBytes() >= kBytesPerCommit)
        CommitGroup();
    }
    CommitGroup();
  }

  ProcessingContext& Context() { return context_; }

 private:
  std::string InboxPath(const std::string& name) const { return list_.ListDir() + "Inbox/" + name; }

  // Ends the pass for a fault of the machine: the open group is dropped, so every message it
  // held stays in Inbox for the next cycle and nothing of it goes out.
  [[noreturn]] void Stop(const std::string& reason) {
    group_.Abandon();
    names_.clear();
    throw EPassStopped(reason);
  }

  // Handles one message into the open group; false when it failed (and was set aside).
  bool Handle(const std::string& name) {
    const std::string path = InboxPath(name);
    RegularFileRead read = ReadRegularFile(path, kMaximumMessageBytes);
    switch (read.outcome) {
      case RegularFileRead::Outcome::Read:
        break;
      case RegularFileRead::Outcome::Missing:
        return true;  // gone since the scan
      case RegularFileRead::Outcome::NotRegular:
        SetAside(name, "it is not a regular file");
        return false;
      case RegularFileRead::Outcome::TooLarge:
        SetAside(name,
                 "the message is larger than " + std::to_string(kMaximumMessageBytes) + " bytes");
        return false;
      case RegularFileRead::Outcome::Failed:
        if (FaultOfTheMachine(read.error))
          Stop(SystemError("Cannot read " + path, read.error).what());
        SetAside(name, SystemError("the file cannot be read", read.error).what());
        return false;
    }
    group_.BeginMessage();
    try {
      ProcessMessage(context_, read.content);
      group_.RemoveOnCommit("Inbox/" + name);
      group_.EndMessage();
      names_.push_back(name);
      return true;
    } catch (const EMessageRefused& refusal) {
      group_.AbandonMessage();
      env_.log.WriteLog("Message " + name + " refused: " + refusal.what() + "; moved to Failed", 1,
                        LogColour::White);
      MoveAside(name, std::string("refused: ") + refusal.what());
      return false;
    } catch (const SystemError& error) {
      group_.AbandonMessage();
      if (FaultOfTheMachine(error.ErrorNumber())) Stop(error.what());
      SetAside(name, error.what());
      return false;
    } catch (const std::exception& error) {
      group_.AbandonMessage();
      SetAside(name, error.what());
      return false;
    }
  }

  void CommitGroup() {
    try {
      group_.Commit();
      names_.clear();
      return;
    } catch (const ECommitFailed& error) {
      // A full disk or a read-only folder is no fault of the messages: they stay in Inbox.
      if (FaultOfTheMachine(error.ErrorNumber())) Stop(error.what());
      std::vector<std::string> names;
      names.swap(names_);
      if (names.size() <= 1) {
        if (names.empty())
          env_.log.WriteLog(error.what(), 1, LogColour::Red);
        else
          SetAside(names.front(), error.what());
        return;
      }
      env_.log.WriteLog(std::string("Cannot commit processed messages: ") + error.what() +
                            "; handling them one by one",
                        1, LogColour::Red);
      // Alone, a message whose outputs cannot be written is found out and set aside.
      for (const std::string& name : names) {
        if (!Handle(name)) continue;
        try {
          group_.Commit();
        } catch (const ECommitFailed& single) {
          if (FaultOfTheMachine(single.ErrorNumber())) Stop(single.what());
          SetAside(name, single.what());
        }
        names_.clear();
      }
    }
  }

  void SetAside(const std::string& name, const std::string& reason) {
    env_.log.WriteLog("Message " + name + " failed: " + reason + "; moved to Failed", 1,
                      LogColour::Red);
    MoveAside(name, reason);
  }

  // A file that cannot be moved stays where it is and is passed over; it is met again (with
  // the same outcome, and nothing sent) at the next pass.
  void MoveAside(const std::string& name, const std::string& reason) {
    try {
      MoveToFailed(list_.ListDir(), InboxPath(name), reason);
    } catch (const std::exception& error) {
      env_.log.WriteLog(std::string(error.what()) + "; " + name + " left in Inbox", 1,
                        LogColour::Red);
    }
  }

  TAccount& list_;
  const Environment& env_;
  orvex::CommitGroup group_;
  DmarcPolicies dmarc_;
  ProcessingContext context_;
  std::vector<std::string> names_;  // Inbox files of the open group
};

}  // namespace

bool IsMessageFileName(std::string_view name) {
  if (name.size() <= 4) return false;
  // The commit record holds names one per line; a name with a line break cannot be listed.
  for (const char c : name)
    if (c == '\r' || c == '\n' || c == '\t') return false;
  return EqualsIgnoreCase(name.substr(name.size() - 4), ".msg");
}

bool ProcessMessage(ProcessingContext& context, std::string_view text) {
  TMsg msg;
  msg.Lines = SplitLines(text);
  msg.Parse();
  context.env.log.WriteLog(
      "Processing message from " + ExtractAddress(msg.Headers.Value("From"), AddressForm::Wrapped),
      1, LogColour::White);
  const std::string listAddress = ListAddress(context.list);
  const std::string controlAddress = ControlAddress(context.list);
  const std::string to = msg.Headers.Value("To");
  // Automatic mail is never distributed, answered or forwarded: answering it is how loops start.
  const LoopCheck loop = CheckLoop(context.list, msg);
  if (loop.verdict == LoopVerdict::DeliveryReport) {
    if (!HandleDeliveryReport(context, msg))
      throw EMessageRefused(ReadBounceLimit(context.list) > 0
                                ? "it is a delivery report that names no subscriber"
                                : "it is a delivery report and bounce counting is off");
    return true;
  }
  if (loop.verdict != LoopVerdict::Pass) throw EMessageRefused(loop.reason);
  // Every path below may answer the sender; an answer to nobody would go out as "RCPT TO:<>".
  const std::string sender = ExtractAddress(msg.Headers.Value("From"));
  if (!UsableAddress(sender))
    throw EMessageRefused(sender.empty() ? "it has no sender address"
                                         : "its sender address \"" + sender + "\" is not usable");
  if (!Occurs(to, controlAddress)) {
    DistributePost(context, msg);
  } else if (!ParseCommand(context, msg) && Occurs(to, listAddress)) {
    DistributePost(context, msg);
  }
  return true;
}

void ProcessInbox(TAccount& list, const Environment& env) {
  SystemTxtResolver resolver;
  ProcessInbox(list, env, resolver);
}

void ProcessInbox(TAccount& list, const Environment& env, TxtResolver& resolver) {
  if (Terminated()) return;
  try {
    for (const char* directory : {"Digest", "Inbox", "Outbox"})
      CreateDirectoryOnce(list.ListDir() + directory);
    RecoverInterruptedCommit(list, env);
    PurgeExpiredEntries(list, env.clock.Now());

    std::vector<std::string> names;
    for (const DirectoryEntry& entry : ListDirectory(list.ListDir() + "Inbox/"))
      if (IsMessageFileName(entry.name)) names.push_back(entry.name);
    if (!names.empty())
      env.log.WriteLog("Processing messages of \"" +
                           list.Config().ReadString("General", "Name", "Unnamed mailing list") +
                           "\"",
                       2, LogColour::Green);
    InboxPass pass(list, env, resolver);
    ForgetOldDistributions(pass.Context());
    ForgetExpiredHolds(pass.Context());
    pass.Run(names);
    if (!Terminated() && DigestDue(list)) BuildDigest(pass.Context());
  } catch (const EPassStopped& stop) {
    env.log.WriteLog("Processing of this list stopped: " + std::string(stop.what()) +
                         "; the messages stay in Inbox for the next cycle",
                     1, LogColour::Red);
  } catch (const std::exception& error) {
    env.log.WriteLog(error.what(), 1, LogColour::Red);
  }
}

}  // namespace orvex
