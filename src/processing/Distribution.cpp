// Distribution of posts, the moderator forward and the non-subscriber policy.
#include "processing/Distribution.h"

#include "crypto/ModeratorSignature.h"
#include "message/Msg.h"
#include "processing/Address.h"
#include "processing/Notices.h"

namespace orvex {
namespace {

constexpr std::string_view kGeneral = "General";

bool Approved(ProcessingContext& context, TMsg& msg) {
  context.commit.Protect(StoreKind::Signatures);
  return CheckModeratorSignature(context.list.Signatures(), msg.Headers, Consume::Yes, context.env);
}

}  // namespace

void DistributePost(ProcessingContext& context, TMsg& msg) {
  TAccount& list = context.list;
  if (!Approved(context, msg)) {
    const std::string sender = ExtractAddress(msg.Headers.Value("From"));
    const std::uint8_t flags = list.SubscriberFlags(sender);
    if (list.Config().ReadInteger(kGeneral, "NonSubscribers", 0) != 2 && (flags & sfMember) == 0) {
      HandleNonSubscriber(context, msg);
      return;
    }
    if ((flags & sfPostingDisabled) != 0) return;
    if (list.Config().ReadBool(kGeneral, "Moderated", false) && !Approved(context, msg)) {
      ForwardToModerator(context, msg, "Moderate");
      return;
    }
  }
  msg.Headers.SetValue("Reply-To", ListAddress(list));
  msg.Body.push_back(SignatureText(list));
  msg.Compose();
  context.commit.AddOutput(OutputDirectory::Outbox, ".msg", JoinLines(msg.Lines));
  StoreForDigest(context, msg);
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

  std::string body = "---=-=-=-=-\r\ncontent-type: text/plain\r\n\r\n";
  body += SubstitutePlaceholders(list, TemplateText(list, section), variables);
  body += "\r\n";
  body += SignatureText(list);
  body += "\r\n---=-=-=-=-\r\ncontent-type: message/rfc822\r\n\r\n";
  body += JoinLines(msg.Lines);
  const std::string moderator = list.Config().ReadString(kGeneral, "Moderator", "");
  const std::string subject =
      SubstitutePlaceholders(list, TemplateSubject(list, section), variables);
  std::string file = moderator + "\r\n";
  file += ComposeNotice(context, moderator, subject, "multipart/mixed; boundary=\"-=-=-=-=-\"",
                        body, NoticeSender::ControlAddress);
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
