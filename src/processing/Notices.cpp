// Templates from maillist.ini, placeholder substitution, the header block and private notices.
#include "processing/Notices.h"

#include <cstdio>

#include "message/Msg.h"
#include "processing/Address.h"
#include "processing/Inbox.h"
#include "processing/ListHeaders.h"
#include "store/DefaultList.h"
#include "store/IniFile.h"
#include "store/MessageNames.h"
#include "store/NoticeTexts.h"

namespace orvex {
namespace {

constexpr std::string_view kGeneral = "General";

std::string ReadGeneral(const TAccount& list, std::string_view key) {
  return list.Config().ReadString(kGeneral, key, "");
}

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

const IniFile& TemplateSource(const TAccount& list, std::string_view section) {
  return NoticeSource(list.Config(), section);
}

}  // namespace

void NoticeVariables::Set(std::string_view name, std::string value) {
  for (auto& entry : entries_) {
    if (EqualsIgnoreCase(entry.first, name)) {
      entry.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::string(name), std::move(value));
}

std::string NoticeVariables::Get(std::string_view name) const {
  for (const auto& entry : entries_)
    if (EqualsIgnoreCase(entry.first, name)) return entry.second;
  return {};
}

void NoticeVariables::AddSubscriber(const TAccount& list, std::string_view address) {
  Set("Password", list.SubscriberPassword(address));
  Set("Address", std::string(address));
}

void NoticeVariables::AddMessage(const TMsg& msg) {
  Set("Sender", ExtractAddress(msg.Headers.Value("From")));
  Set("Subject", msg.Headers.Value("Subject"));
  Set("Date", msg.Headers.Value("Date"));
  std::vector<std::string> lines = msg.Body;
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  Set("Text", std::move(text));
}

void NoticeVariables::AddList(const TAccount& list) {
  Set("Listname", ReadGeneral(list, "Name"));
  Set("Listaddress", ReadGeneral(list, "Address"));
  Set("controladdress", ControlAddress(list));
  Set("Moderator", ReadGeneral(list, "Moderator"));
}

std::string ListAddress(const TAccount& list) {
  return ReadGeneral(list, "Address");
}

std::string ControlAddress(const TAccount& list) {
  return list.Config().ReadString(kGeneral, "ControlAddress", ReadGeneral(list, "Address"));
}

std::string TemplateText(const TAccount& list, std::string_view section) {
  return ReadNoticeText(TemplateSource(list, section), section);
}

std::string TemplateSubject(const TAccount& list, std::string_view section) {
  return ReadNoticeSubject(TemplateSource(list, section), section);
}

std::string SubstitutePlaceholders(const TAccount& list, std::string_view text,
                                   NoticeVariables variables) {
  variables.AddList(list);
  std::string result;
  std::string_view rest = text;
  for (;;) {
    const auto open = rest.find('{');
    if (open == std::string_view::npos) {
      result.append(rest);
      return result;
    }
    result.append(rest.substr(0, open));
    rest.remove_prefix(open + 1);
    const auto close = rest.find('}');
    if (close == std::string_view::npos) {
      result.append(rest);
      return result;
    }
    result += variables.Get(rest.substr(0, close));
    rest.remove_prefix(close + 1);
  }
}

std::string SignatureText(const TAccount& list) {
  return SubstitutePlaceholders(list, TemplateText(list, "Signature"), NoticeVariables{});
}

std::string FormatMailDate(const LocalDateTime& time) {
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const long long days = DaysFromCivil(time.year, time.month, time.day);
  const int weekday = static_cast<int>(((days % 7) + 7 + 4) % 7);  // 1 January 1970: Thursday
  const int month = time.month >= 1 && time.month <= 12 ? time.month - 1 : 0;
  char zone[16];
  if (time.utcOffsetMinutes == 0) {
    std::snprintf(zone, sizeof zone, "GMT");
  } else {
    const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
    std::snprintf(zone, sizeof zone, "%c%02d%02d", time.utcOffsetMinutes < 0 ? '-' : '+',
                  offset / 60 % 100, offset % 60);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %s", kWeekdays[weekday],
                time.day % 100, kMonths[month], time.year % 10000, time.hour % 100,
                time.minute % 100, time.second % 100, zone);
  return text;
}

std::string ComposeNotice(const ProcessingContext& context, std::string_view to,
                          std::string_view subject, std::string_view contentType,
                          std::string_view body, NoticeSender sender) {
  const TAccount& list = context.list;
  const std::string from =
      sender == NoticeSender::ListAddress ? ListAddress(list) : ControlAddress(list);
  std::string text;
  text.reserve(body.size() + 512);
  text.append("From: \"").append(ReadGeneral(list, "Name")).append("\" <").append(from);
  text.append(">\r\nTo: ").append(to);
  text.append("\r\nContent-type: ").append(contentType);
  text.append("\r\nDate: ").append(FormatMailDate(context.env.clock.Now()));
  text.append("\r\nMime-version: 1.0\r\nSubject: ").append(subject);
  text.append("\r\nMessage-ID: ").append(context.env.namer.NewMessageId(ListAddress(list)));
  // The list address sends digests; the control address answers and forwards.
  const ListMessageKind kind = sender == NoticeSender::ListAddress  ? ListMessageKind::Digest
                               : sender == NoticeSender::Moderation ? ListMessageKind::Moderation
                                                                    : ListMessageKind::Notice;
  for (const auto& [name, value] : ListHeaderFields(list, kind))
    text.append("\r\n").append(name).append(": ").append(value);
  text.append("\r\n\r\n\r\n").append(body);
  return text;
}

void QueuePrivateNotice(ProcessingContext& context, std::string_view section,
                        const NoticeVariables& variables, std::string_view recipient,
                        std::string_view defaultSubject) {
  // The first line of a private file is its one recipient: an empty one would go out as
  // "RCPT TO:<>", one with a line break would name a second recipient.
  if (recipient.empty() || recipient.find_first_of("\r\n<>") != std::string_view::npos)
    throw EMessageRefused("no notice can be sent to the address \"" + std::string(recipient) +
                          "\"");
  const TAccount& list = context.list;
  std::string subjectTemplate = TemplateSubject(list, section);
  if (subjectTemplate.empty()) subjectTemplate = defaultSubject;
  const std::string body = SubstitutePlaceholders(list, TemplateText(list, section), variables) +
                           "\r\n" + SignatureText(list) + "\r\n";
  const std::string subject = SubstitutePlaceholders(list, subjectTemplate, variables);
  std::string file(recipient);
  file += "\r\n";
  file +=
      ComposeNotice(context, recipient, subject, "text/plain", body, NoticeSender::ControlAddress);
  file += "\r\n";
  context.commit.AddOutput(OutputDirectory::Outbox, ".pri", std::move(file));
}

}  // namespace orvex
