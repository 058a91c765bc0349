// Distribution of posts, the moderator forward and the non-subscriber policy.
#include "processing/Distribution.h"

#include "crypto/ModeratorSignature.h"
#include "message/Msg.h"
#include "processing/Address.h"
#include "processing/Commit.h"
#include "processing/FromRewrite.h"
#include "processing/ListHeaders.h"
#include "processing/Moderation.h"
#include "processing/Notices.h"
#include "processing/Retention.h"

namespace orvex {
namespace {

constexpr std::string_view kGeneral = "General";

bool Approved(ProcessingContext& context, TMsg& msg) {
  context.commit.Protect(StoreKind::Signatures);
  return CheckModeratorSignature(context.list.Signatures(), msg.Headers, Consume::Yes, context.env);
}

bool FromRewriteWanted(ProcessingContext& context, const TMsg& msg) {
  switch (FromRewriteSetting(context.list)) {
    case FromRewriteMode::Never:
      return false;
    case FromRewriteMode::Always:
      return true;
    case FromRewriteMode::WhenPolicyAsks:
      break;
  }
  if (context.dmarc == nullptr) return false;
  const std::string sender = ExtractAddress(msg.Headers.Value("From"));
  const auto at = sender.rfind('@');
  if (at == std::string::npos) return false;
  return context.dmarc->For(std::string_view(sender).substr(at + 1)) != DmarcPolicy::None;
}

std::string MessageIdOf(const TMsg& msg) {
  return std::string(TrimBlanks(msg.Headers.Value("Message-ID")));
}

// The line of the record that holds `key`, compared exactly; npos when there is none.
std::size_t DistributedIndex(const NameValueList& record, const std::string& key) {
  const auto& lines = record.Lines();
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].size() > key.size() && lines[i][key.size()] == '=' && lines[i].starts_with(key))
      return i;
  return NameValueList::npos;
}

void RecordDistribution(ProcessingContext& context, const std::string& messageId) {
  if (messageId.empty()) return;
  context.commit.Protect(StoreKind::Distributed);
  NameValueList& record = context.commit.Distributed();
  const std::string key = DistributedKey(messageId);
  std::string line = key + "=" + std::to_string(DayNumber(context.env.clock.Now()));
  const std::size_t index = DistributedIndex(record, key);
  if (index == NameValueList::npos)
    record.Append(std::move(line));
  else
    record.Lines()[index] = std::move(line);
}

}  // namespace

std::string DistributedKey(std::string_view messageId) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string key;
  key.reserve(messageId.size());
  for (const char c : messageId) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u >= 127 || c == '=' || c == '%') {
      key += '%';
      key += kHex[u >> 4];
      key += kHex[u & 15];
    } else {
      key += c;
    }
  }
  return key;
}

void ForgetOldDistributions(ProcessingContext& context) {
  const long long days = context.list.Config().ReadInteger(kGeneral, "Days", 7);
  NameValueList& record = context.commit.Distributed();
  NameValueList kept = record;
  PurgeOlderThan(kept, context.env.clock.Now(), days);
  if (kept.Count() == record.Count()) return;
  context.commit.Protect(StoreKind::Distributed);
  record = std::move(kept);
}

namespace {

// The same post can come in twice: fetched again after a kill, left on the server by a refused
// DELE, or approved both ways. It went to every member the first time.
bool DistributedBefore(ProcessingContext& context, const std::string& messageId) {
  if (messageId.empty() || DistributedIndex(context.commit.Distributed(),
                                            DistributedKey(messageId)) == NameValueList::npos)
    return false;
  context.env.log.WriteLog(
      "Post " + messageId + " was distributed by this list before; not distributed again", 1,
      LogColour::White);
  return true;
}

void Publish(ProcessingContext& context, TMsg& msg, const std::string& messageId) {
  TAccount& list = context.list;
  msg.Headers.SetValue("Reply-To", ListAddress(list));
  if (FromRewriteWanted(context, msg))
    RewriteFrom(msg, list.Config().ReadString(kGeneral, "Name", ""), ListAddress(list));
  for (const auto& [name, value] : ListHeaderFields(list, ListMessageKind::Post))
    msg.Headers.SetValue(name, value);
  msg.Body.push_back(SignatureText(list));
  msg.Compose();
  context.commit.AddOutput(OutputDirectory::Outbox, ".msg", JoinLines(msg.Lines));
  StoreForDigest(context, msg);
  RecordDistribution(context, messageId);
}

// The link of a moderation notice: "mailto:<control address>?subject=<verb>%20<token>".
std::string AnswerLink(const TAccount& list, std::string_view verb, std::string_view token) {
  const std::string uri =
      MailtoUri(ControlAddress(list), std::string(verb) + " " + std::string(token));
  return uri.substr(1, uri.size() - 2);  // without the angle brackets
}

bool NamesAnswerPlaceholder(std::string_view text) {
  for (const std::string_view name : {"{ApproveLink}", "{RejectLink}", "{Token}"})
    if (ContainsIgnoreCase(text, name)) return true;
  return false;
}

}  // namespace

bool DistributeApprovedPost(ProcessingContext& context, TMsg& msg) {
  const std::string messageId = MessageIdOf(msg);
  if (DistributedBefore(context, messageId)) return false;
  Publish(context, msg, messageId);
  return true;
}

void DistributePost(ProcessingContext& context, TMsg& msg) {
  TAccount& list = context.list;
  const std::string messageId = MessageIdOf(msg);
  if (DistributedBefore(context, messageId)) return;
  if (Approved(context, msg)) {
    SettleReturnedMessage(context, messageId);
  } else {
    const std::string sender = ExtractAddress(msg.Headers.Value("From"));
    const std::uint8_t flags = list.SubscriberFlags(sender);
    if (list.Config().ReadInteger(kGeneral, "NonSubscribers", 0) != 2 && (flags & sfMember) == 0) {
      HandleNonSubscriber(context, msg);
      return;
    }
    if ((flags & sfPostingDisabled) != 0) return;
    if (list.Config().ReadBool(kGeneral, "Moderated", false)) {
      ForwardToModerator(context, msg, "Moderate");
      return;
    }
  }
  Publish(context, msg, messageId);
}

void StoreForDigest(ProcessingContext& context, const TMsg& msg) {
  context.commit.AddOutput(OutputDirectory::Digest, ".msg", JoinLines(msg.Lines));
}

void ForwardToModerator(ProcessingContext& context, TMsg& msg, std::string_view section) {
  TAccount& list = context.list;
  const std::string sender = ExtractAddress(msg.Headers.Value("From"));
  NoticeVariables variables;
  variables.AddSubscriber(list, sender);
  variables.AddMessage(msg);
  context.commit.Protect(StoreKind::Signatures);
  IssueModeratorSignature(list.Signatures(), msg.Headers, sender, context.env);
  msg.Headers.SetValue("Delivered-To", "");
  msg.Headers.SetValue("Received", "");
  msg.Compose();
  const std::string forwarded = JoinLines(msg.Lines);
  const std::string token = HoldForModeration(
      context, section == "Subscription request" ? HeldKind::Subscription : HeldKind::Post, msg,
      forwarded, sender);
  const std::string approve = AnswerLink(list, "approve", token);
  const std::string reject = AnswerLink(list, "reject", token);
  variables.Set("Token", token);
  variables.Set("ApproveLink", approve);
  variables.Set("RejectLink", reject);

  const std::string text = TemplateText(list, section);
  std::string body = "---=-=-=-=-\r\ncontent-type: text/plain\r\n\r\n";
  body += SubstitutePlaceholders(list, text, variables);
  // A list made before answers existed still tells its moderator how to answer.
  if (!NamesAnswerPlaceholder(text))
    body += "\r\n\r\nApprove: " + approve + "\r\nReject: " + reject;
  body += "\r\n";
  body += SignatureText(list);
  body += "\r\n---=-=-=-=-\r\ncontent-type: message/rfc822\r\n\r\n";
  body += forwarded;
  const std::string moderator = list.Config().ReadString(kGeneral, "Moderator", "");
  const std::string subject =
      SubstitutePlaceholders(list, TemplateSubject(list, section), variables);
  std::string file = moderator + "\r\n";
  file += ComposeNotice(context, moderator, subject, "multipart/mixed; boundary=\"-=-=-=-=-\"",
                        body, NoticeSender::Moderation);
  file += "\r\n---=-=-=-=---\r\n";
  context.commit.AddOutput(OutputDirectory::Outbox, ".pri", std::move(file));
}

void HandleNonSubscriber(ProcessingContext& context, TMsg& msg) {
  if (context.list.Config().ReadInteger(kGeneral, "NonSubscribers", 0) == 1) {
    ForwardToModerator(context, msg, "NS-Moderate");
    return;
  }
  const std::string sender = ExtractAddress(msg.Headers.Value("From"));
  NoticeVariables variables;
  variables.AddSubscriber(context.list, sender);
  QueuePrivateNotice(context, "Nonsubscriber", variables, sender);
}

}  // namespace orvex
