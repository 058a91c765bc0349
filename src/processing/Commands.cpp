// Command recognition and the subscriber and pending store changes the commands make.
#include "processing/Commands.h"

#include <cstdio>

#include "crypto/ModeratorSignature.h"
#include "message/Msg.h"
#include "processing/Address.h"
#include "processing/Bounces.h"
#include "processing/Distribution.h"
#include "processing/ListHeaders.h"
#include "processing/Moderation.h"
#include "processing/Notices.h"

namespace orvex {
namespace {

constexpr std::string_view kGeneral = "General";
constexpr std::string_view kConfirmMarker = "SUBSCRIBE-CONFIRM-";
constexpr std::string_view kUnsubscribeMarker = "UNSUBSCRIBE-CONFIRM-";
// The third item of a pending entry that waits for an unsubscription, not a subscription.
constexpr std::string_view kUnsubscribeEntry = "unsubscribe";

std::string_view CodeAfter(std::string_view subject, std::size_t index) {
  std::string_view code = subject.size() > index ? subject.substr(index, 9999) : std::string_view();
  const auto space = code.find(' ');
  return space == std::string_view::npos ? code : code.substr(0, space);
}

bool UnsubscribeEntry(std::string_view value) {
  return CommaItem(value, 2) == kUnsubscribeEntry;
}

UnsubscribeConfirmation ConfirmationSetting(const TAccount& list) {
  return ListHeadersSetting(list) == ListHeaders::On ? UnsubscribeConfirmation::On
                                                     : UnsubscribeConfirmation::Off;
}

void RemoveSubscriber(ProcessingContext& context, std::size_t index, std::string_view address,
                      const TMsg& msg) {
  context.commit.Protect(StoreKind::Subscribers);
  context.list.Subscribers().Delete(index);
  NoticeVariables variables;
  variables.AddSubscriber(context.list, address);
  variables.AddMessage(msg);
  QueuePrivateNotice(context, "Unsubscribe successfull", variables, address);
}

std::string_view From(std::string_view text, std::size_t index, std::size_t count) {
  if (index >= text.size()) return {};
  return text.substr(index, count);
}

bool Subscribed(const TAccount& list, std::string_view address) {
  return (list.SubscriberFlags(address) & sfMember) != 0;
}

void ChangeFlag(ProcessingContext& context, std::string_view address, std::string_view password,
                const TMsg& msg, char letter, Switch state, std::string_view onSection,
                std::string_view offSection) {
  TAccount& list = context.list;
  if (list.SubscriberPassword(address) != password) return;
  if (!Subscribed(list, address)) return;
  context.commit.Protect(StoreKind::Subscribers);
  if (state == Switch::On)
    list.SetSubscriberFlag(address, letter);
  else
    list.ClearSubscriberFlag(address, letter);
  NoticeVariables variables;
  variables.AddSubscriber(list, address);
  variables.AddMessage(msg);
  QueuePrivateNotice(context, state == Switch::On ? onSection : offSection, variables, address);
}

}  // namespace

Command RecognizeCommand(std::string_view subject, UnsubscribeConfirmation confirmation) {
  const std::string_view trimmed = TrimBlanks(subject);
  const std::string upper = UpperCase(trimmed);
  const std::string_view u = upper;
  auto trimmedCopy = [](std::string_view text) { return std::string(TrimBlanks(text)); };
  if (confirmation == UnsubscribeConfirmation::On) {
    const auto marker = UpperCase(subject).find(kUnsubscribeMarker);
    if (marker != std::string::npos)
      return {CommandKind::ConfirmUnsubscribe,
              std::string(CodeAfter(subject, marker + kUnsubscribeMarker.size()))};
  }
  if (u == "SUBSCRIBE") return {CommandKind::Subscribe, {}};
  if (u.starts_with("UNSUBSCRIBE"))
    return {CommandKind::Unsubscribe, trimmedCopy(From(subject, 12, 999))};
  if (u.starts_with("DIGEST-ON"))
    return {CommandKind::DigestOn, std::string(From(trimmed, 10, 999))};
  if (u.starts_with("DIGEST-OFF"))
    return {CommandKind::DigestOff, std::string(From(trimmed, 11, 999))};
  if (u.starts_with("PAUSE")) return {CommandKind::Pause, trimmedCopy(From(subject, 6, 999))};
  if (u.starts_with("RESUME")) return {CommandKind::Resume, trimmedCopy(From(subject, 6, 999))};
  const auto marker = u.find(kConfirmMarker);
  if (marker != std::string_view::npos)
    return {CommandKind::Confirm, std::string(CodeAfter(subject, marker + kConfirmMarker.size()))};
  return {};
}

bool ParseCommand(ProcessingContext& context, TMsg& msg) {
  // "approve <token>" / "reject <token>": the moderator's answer, whatever else the subject says.
  if (HandleModerationAnswer(context, msg)) return true;
  const Command command =
      RecognizeCommand(msg.Headers.Value("Subject"), ConfirmationSetting(context.list));
  if (command.kind == CommandKind::None) return false;
  const std::string address = ExtractAddress(msg.Headers.Value("From"));
  if (!StorableAddress(address)) {
    context.env.log.WriteLog("Command from <" + address +
                                 "> ignored: the address holds \"=\" or a blank, which the "
                                 "subscriber list cannot hold",
                             1, LogColour::White);
    return true;
  }
  const std::size_t outputsBefore = context.commit.OutputCount();
  switch (command.kind) {
    case CommandKind::Subscribe:
      Subscribe(context, address, msg);
      break;
    case CommandKind::Unsubscribe:
      Unsubscribe(context, address, command.argument, msg);
      break;
    case CommandKind::DigestOn:
      SetDigestMode(context, address, command.argument, msg, Switch::On);
      break;
    case CommandKind::DigestOff:
      SetDigestMode(context, address, command.argument, msg, Switch::Off);
      break;
    case CommandKind::Pause:
      SetPaused(context, address, command.argument, msg, Switch::On);
      break;
    case CommandKind::Resume:
      SetPaused(context, address, command.argument, msg, Switch::Off);
      break;
    case CommandKind::Confirm:
      ConfirmSubscription(context, address, command.argument, CheckCode::Yes, &msg);
      break;
    case CommandKind::ConfirmUnsubscribe:
      ConfirmUnsubscription(context, address, command.argument, msg);
      break;
    case CommandKind::None:
      break;
  }
  // Every command that succeeds answers; the answer shows that the sender's mailbox works.
  if (context.commit.OutputCount() != outputsBefore) ResetBounceCount(context, address);
  return true;
}

void Subscribe(ProcessingContext& context, std::string_view address, TMsg& msg) {
  TAccount& list = context.list;
  if (Subscribed(list, address)) return;
  const bool confirm = list.Config().ReadBool(kGeneral, "Confirm subscription", true);
  const bool moderate = list.Config().ReadBool(kGeneral, "Moderate subscription", false);
  if (confirm && !moderate) {
    const std::string code = MakeConfirmationCode(context.env.random);
    const auto day = DayNumber(context.env.clock.Now());
    NoticeVariables variables;
    variables.AddMessage(msg);
    variables.AddSubscriber(list, address);
    variables.Set("ConfirmCode", code);
    context.commit.Protect(StoreKind::Pending);
    list.Pending().SetValue(LowerCase(address), std::to_string(day) + "," + code);
    QueuePrivateNotice(context, "Subscribe confirmation", variables, address);
    context.env.log.WriteLog("<" + std::string(address) + "> subscribed to the list", 1,
                             LogColour::White);
  } else if (confirm) {
    context.commit.Protect(StoreKind::Signatures);
    if (CheckModeratorSignature(list.Signatures(), msg.Headers, Consume::Yes, context.env)) {
      SettleReturnedMessage(context, msg.Headers.Value("Message-Id"));
      ConfirmSubscription(context, address, "", CheckCode::No, nullptr);
    } else {
      ForwardToModerator(context, msg, "Subscription request");
    }
  } else {
    ConfirmSubscription(context, address, "", CheckCode::No, nullptr);
  }
}

void ConfirmSubscription(ProcessingContext& context, std::string_view address,
                         std::string_view code, CheckCode check, const TMsg* msg) {
  TAccount& list = context.list;
  if (check == CheckCode::Yes) {
    const auto index = list.Pending().IndexOfName(address);
    if (index == NameValueList::npos) return;
    if (UnsubscribeEntry(list.Pending().ValueAt(index))) return;
    if (CommaItem(list.Pending().ValueAt(index), 1) != code) return;
    context.commit.Protect(StoreKind::Pending);
    list.Pending().Delete(index);
  }
  if (Subscribed(list, address)) return;
  context.commit.Protect(StoreKind::Subscribers);
  AddSubscriber(list.Subscribers(), address, RandomLetters(context.env.random));
  context.env.log.WriteLog("<" + std::string(address) + "> is now a member of the list", 1,
                           LogColour::White);
  NoticeVariables variables;
  variables.AddSubscriber(list, address);
  if (msg != nullptr) variables.AddMessage(*msg);
  QueuePrivateNotice(context, "Subscribe successfull", variables, address);
}

void Unsubscribe(ProcessingContext& context, std::string_view address, std::string_view password,
                 const TMsg& msg) {
  TAccount& list = context.list;
  const std::string stored = list.SubscriberPassword(address);
  const auto index = list.Subscribers().IndexOfName(address);
  if (password.empty() && !stored.empty() && index != NameValueList::npos &&
      ConfirmationSetting(list) == UnsubscribeConfirmation::On) {
    const std::string code = MakeConfirmationCode(context.env.random);
    NoticeVariables variables;
    variables.AddMessage(msg);
    variables.AddSubscriber(list, address);
    variables.Set("ConfirmCode", code);
    context.commit.Protect(StoreKind::Pending);
    list.Pending().SetValue(LowerCase(address), std::to_string(DayNumber(context.env.clock.Now())) +
                                                    "," + code + "," +
                                                    std::string(kUnsubscribeEntry));
    QueuePrivateNotice(context, "Unsubscribe confirmation", variables, address,
                       "{ListName}  unsubscribe-confirm-{ConfirmCode}");
    return;
  }
  if (stored != password) return;
  if (index == NameValueList::npos) return;
  RemoveSubscriber(context, index, address, msg);
}

void ConfirmUnsubscription(ProcessingContext& context, std::string_view address,
                           std::string_view code, const TMsg& msg) {
  TAccount& list = context.list;
  const auto pending = list.Pending().IndexOfName(address);
  if (pending == NameValueList::npos) return;
  const std::string value = list.Pending().ValueAt(pending);
  if (!UnsubscribeEntry(value) || code.empty() || CommaItem(value, 1) != code) return;
  context.commit.Protect(StoreKind::Pending);
  list.Pending().Delete(pending);
  const auto index = list.Subscribers().IndexOfName(address);
  if (index != NameValueList::npos) RemoveSubscriber(context, index, address, msg);
}

void SetDigestMode(ProcessingContext& context, std::string_view address, std::string_view password,
                   const TMsg& msg, Switch state) {
  ChangeFlag(context, address, password, msg, 'd', state, "Digest on", "Digest off");
}

void SetPaused(ProcessingContext& context, std::string_view address, std::string_view password,
               const TMsg& msg, Switch state) {
  ChangeFlag(context, address, password, msg, 'p', state, "Paused", "Resumed");
}

std::string MakeConfirmationCode(RandomSource& random) {
  const std::uint32_t value = random.NextUInt32() + 2000u;  // wraps modulo 2^32
  char text[16];
  std::snprintf(text, sizeof text, "%012X", static_cast<unsigned>(value));
  return text;
}

std::string RandomLetters(RandomSource& random) {
  std::string letters(10, 'a');
  for (char& c : letters) c = static_cast<char>('a' + random.Below(25));
  return letters;
}

}  // namespace orvex
