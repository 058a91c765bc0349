// Held messages, their tokens and records, and the decisions that come by mail or from the shell.
#include "processing/Moderation.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "message/Codecs.h"
#include "message/Msg.h"
#include "platform/FileSystem.h"
#include "processing/Address.h"
#include "processing/Commands.h"
#include "processing/Distribution.h"
#include "processing/Inbox.h"
#include "processing/ListHeaders.h"
#include "processing/Notices.h"

namespace orvex {
namespace {

constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz234567";
constexpr std::size_t kMaximumReason = 1000;
// Of an HTML reply only the start is read: the moderator's own line comes first.
constexpr std::size_t kMaximumHtml = 64 * 1024;
constexpr std::size_t kMaximumRecordedSubject = 200;
constexpr std::size_t kMaximumRecordedField = 200;
// An encoded word is at most 75 characters; a longer run without its end is no encoded word.
constexpr std::size_t kMaximumEncodedWord = 256;
// Only the start of a subject is searched for an answer: a link's subject is short, and a
// crafted subject of many megabytes must cost no more than this.
constexpr std::size_t kMaximumAnswerSubject = 4096;

bool AsciiAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool SubjectBlank(char c) {
  return c == ' ' || c == '\t';
}

// One encoded word "=?charset?Q|B?text?=" starting at `at`: its decoded bytes and its length;
// nothing when none starts there. The charset is not converted: a token is ASCII in any of them.
std::optional<std::pair<std::string, std::size_t>> EncodedWordAt(std::string_view text,
                                                                 std::size_t at) {
  if (text.substr(at, 2) != "=?") return std::nullopt;
  text = text.substr(0, std::min(text.size(), at + kMaximumEncodedWord));
  const auto charsetEnd = text.find('?', at + 2);
  if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= text.size() ||
      text[charsetEnd + 2] != '?')
    return std::nullopt;
  const char encoding = LowerChar(text[charsetEnd + 1]);
  if (encoding != 'q' && encoding != 'b') return std::nullopt;
  const std::size_t start = charsetEnd + 3;
  const auto end = text.find("?=", start);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view encoded = text.substr(start, end - start);
  std::string decoded;
  if (encoding == 'b') {
    decoded = Base64DecodeLine(encoded);
  } else {
    std::string qp(encoded);
    for (char& c : qp)
      if (c == '_') c = ' ';
    decoded = QPDecode(qp);
  }
  return std::make_pair(std::move(decoded), end + 2 - at);
}

// The subject with its encoded words decoded; blanks between two encoded words go, as they do
// for a reader.
std::string DecodeEncodedWords(std::string_view text) {
  std::string result;
  std::size_t i = 0;
  bool afterWord = false;
  while (i < text.size()) {
    if (const auto word = EncodedWordAt(text, i)) {
      result += word->first;
      i += word->second;
      afterWord = true;
      continue;
    }
    if (afterWord && SubjectBlank(text[i])) {
      std::size_t j = i;
      while (j < text.size() && SubjectBlank(text[j])) ++j;
      if (EncodedWordAt(text, j)) {
        i = j;
        continue;
      }
    }
    afterWord = false;
    result += text[i++];
  }
  return result;
}

// A record item: no control characters (a line break would end the store line), bounded.
std::string Clean(std::string_view text, std::size_t limit) {
  std::string result;
  for (const char c : text) {
    if (result.size() >= limit) break;
    result += static_cast<unsigned char>(c) < 32 || c == 127 ? ' ' : c;
  }
  return result;
}

const char* KindName(HeldKind kind) {
  return kind == HeldKind::Post ? "post" : "subscription";
}

const char* StateName(HeldState state) {
  switch (state) {
    case HeldState::Held:
      return "held";
    case HeldState::Approved:
      return "approved";
    case HeldState::Rejected:
      break;
  }
  return "rejected";
}

std::string EntryLine(const HeldEntry& entry) {
  return entry.token + "=" +
         WriteCommaList({std::to_string(entry.day), KindName(entry.kind), StateName(entry.state),
                         entry.sender, entry.subject, entry.date, std::to_string(entry.size),
                         entry.messageId});
}

long long WholeNumber(std::string_view text, long long fallback) {
  long long value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : fallback;
}

HeldEntry ParseEntry(const std::string& name, const std::string& value, long long today) {
  const std::vector<std::string> items = ReadCommaList(value);
  auto item = [&](std::size_t i) { return i < items.size() ? items[i] : std::string(); };
  HeldEntry entry;
  entry.token = LowerCase(name);
  entry.day = WholeNumber(item(0), today);
  entry.kind = item(1) == "subscription" ? HeldKind::Subscription : HeldKind::Post;
  const std::string state = item(2);
  entry.state = state == "approved"   ? HeldState::Approved
                : state == "rejected" ? HeldState::Rejected
                                      : HeldState::Held;
  entry.sender = item(3);
  entry.subject = item(4);
  entry.date = item(5);
  entry.size = static_cast<std::size_t>(std::max(0LL, WholeNumber(item(6), 0)));
  entry.messageId = item(7);
  return entry;
}

long long Today(const ProcessingContext& context) {
  return static_cast<long long>(DayNumber(context.env.clock.Now()));
}

bool StartsWithAny(std::string_view text, std::initializer_list<std::string_view> prefixes) {
  for (const std::string_view prefix : prefixes)
    if (StartsWithIgnoreCase(text, prefix)) return true;
  return false;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// Where the reply's own text ends: a signature separator or the divider above a forwarded or
// quoted original that mail programs write without ">".
bool EndOfOwnText(std::string_view line) {
  if (line == "--") return true;
  if (line.size() >= 10 && line.find_first_not_of('_') == std::string_view::npos) return true;
  return line.starts_with("-----") && (ContainsIgnoreCase(line, "original message") ||
                                       ContainsIgnoreCase(line, "forwarded message"));
}

// The footers phone mail programs add on their own.
bool ProgramFooter(std::string_view line) {
  return StartsWithAny(line, {"Sent from my ", "Sent from Mail for ", "Get Outlook for ",
                              "Sent with ", "Von meinem ", "Gesendet von "});
}

bool HasDigitOrAddressMark(std::string_view line) {
  for (const char c : line)
    if ((c >= '0' && c <= '9') || c == '@' || c == '<') return true;
  return false;
}

// ---- the text of an HTML reply ----

bool HtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The character an entity at the start of `text` ("&amp;", "&#233;", "&#xE9;") stands for and
// the entity's length; nothing for an unknown or unfinished one, which then stays as written.
std::optional<std::pair<std::string, std::size_t>> HtmlEntityAt(std::string_view text) {
  const std::size_t end = text.substr(0, 12).find(';');
  if (end == std::string_view::npos || end < 2) return std::nullopt;
  const std::string_view name = text.substr(1, end - 1);
  std::string out;
  if (name.front() == '#') {
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    const std::string_view digits = name.substr(hex ? 2 : 1);
    std::uint32_t code = 0;
    const auto [ptr, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size())
      return std::nullopt;
    AppendUtf8(out, code);
  } else {
    static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
    for (const auto& [entity, character] : kNamed)
      if (EqualsIgnoreCase(name, entity)) out = character;
    if (out.empty()) return std::nullopt;
  }
  return std::pair{std::move(out), end + 1};
}

bool HtmlLineTag(std::string_view name) {
  static constexpr std::string_view kTags[] = {"br", "p",  "div", "tr", "li", "hr", "table",
                                               "h1", "h2", "h3",  "h4", "h5", "h6", "blockquote"};
  for (const std::string_view tag : kTags)
    if (name == tag) return true;
  return false;
}

// The HTML part of a reply, read while its message is decoded: only the first text/html part,
// and of it at most kMaximumHtml bytes. `plain` tells whether the reply has a text/plain part.
struct HtmlReplyPart {
  std::string html;
  bool plain = false;
};

HtmlReplyPart ReadHtmlReplyPart(const TMsg& reply) {
  HtmlReplyPart part;
  TMimeDecode decoder;
  std::string type;  // of the part whose lines come now; empty between parts
  std::string encoding;
  bool html_done = false;
  auto enter = [&](const std::string& content_type, const std::string& content_encoding) {
    type = content_type.empty() ? "text/plain" : content_type;
    encoding = content_encoding;
    if (type == "text/plain") part.plain = true;
  };
  decoder.OnHeaderEnd = [&](TMimeDecode& d) {
    if (d.MimeBoundary().empty()) enter(d.ContentType(), d.Encoding());
  };
  decoder.OnPartHeaderEnd = [&](TMimeDecode& d) { enter(d.PartContentType(), d.PartEncoding()); };
  decoder.OnPartEnd = [&](TMimeDecode&) {
    if (type == "text/html" && !part.html.empty()) html_done = true;
    type.clear();
  };
  decoder.OnPartLine = [&](TMimeDecode& d, const char* data, std::size_t size) {
    if (type != "text/html" || html_done || part.html.size() >= kMaximumHtml) return;
    std::string_view line(data, std::min(size, kMaximumHtml - part.html.size()));
    // A quoted-printable line ending in "=" goes on with the next one.
    if (encoding == "quoted-printable" && d.CurrentData().ends_with('=') && line.ends_with("\r\n"))
      line.remove_suffix(2);
    part.html.append(line);
    if (encoding != "quoted-printable" && encoding != "base64") part.html += '\n';
  };
  decoder.DecodeLines(reply.Lines);
  return part;
}

std::string NoticeForModerator(const TAccount& list, std::string_view answer,
                               DecisionOutcome outcome) {
  std::string why;
  switch (outcome) {
    case DecisionOutcome::AlreadyApproved:
      why = "the message under this token was approved already.";
      break;
    case DecisionOutcome::AlreadyRejected:
      why = "the message under this token was rejected already.";
      break;
    case DecisionOutcome::Unknown:
    case DecisionOutcome::Done:
      why = "nothing waits for moderation under this token. It expired after " +
            std::to_string(list.Config().ReadInteger("General", "Days", 7)) +
            " days, or it was never issued by this list.";
      break;
  }
  return "Your answer \"" + std::string(answer) + "\" was not applied: " + why +
         "\r\nNothing was sent to the list.";
}

// Mail that says it is bulk or list mail is never answered, even when it passed the loop rules.
bool BulkMail(const TMsg& msg) {
  for (const std::string& value : RawHeaderValues(msg.Lines, "Precedence")) {
    const std::string word = LowerCase(TrimBlanks(value));
    if (word == "bulk" || word == "junk" || word == "list") return true;
  }
  return false;
}

void QueueModeratorNotice(ProcessingContext& context, std::string_view moderator,
                          std::string_view text) {
  const TAccount& list = context.list;
  const std::string subject =
      list.Config().ReadString("General", "Name", "") + ": moderation answer not applied";
  const std::string body = std::string(text) + "\r\n" + SignatureText(list) + "\r\n";
  std::string file(moderator);
  file += "\r\n";
  file += ComposeNotice(context, moderator, subject, "text/plain", body, NoticeSender::Moderation);
  file += "\r\n";
  context.commit.AddOutput(OutputDirectory::Outbox, ".pri", std::move(file));
}

}  // namespace

std::string MakeModerationToken(RandomSource& random) {
  std::array<unsigned char, 16> bytes{};
  random.Fill(bytes.data(), bytes.size());
  std::string token;
  token.reserve(kTokenLength);
  unsigned buffer = 0;
  int bits = 0;
  for (const unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      token += kAlphabet[(buffer >> bits) & 31];
    }
  }
  if (bits > 0) token += kAlphabet[(buffer << (5 - bits)) & 31];
  return token;
}

bool IsModerationToken(std::string_view text) {
  if (text.size() != kTokenLength) return false;
  for (const char c : text)
    if (kAlphabet.find(LowerChar(c)) == std::string_view::npos) return false;
  return true;
}

std::optional<ModerationAnswer> RecognizeModerationAnswer(std::string_view subject) {
  const std::string text = LowerCase(
      DecodeEncodedWords(subject.substr(0, std::min(subject.size(), kMaximumAnswerSubject))));
  static constexpr std::array<std::pair<std::string_view, Verdict>, 2> kVerbs = {
      {{"approve", Verdict::Approve}, {"reject", Verdict::Reject}}};
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i > 0 && AsciiAlphanumeric(text[i - 1])) continue;
    for (const auto& [verb, verdict] : kVerbs) {
      if (text.compare(i, verb.size(), verb) != 0) continue;
      std::size_t j = i + verb.size();
      if (j >= text.size() || !SubjectBlank(text[j])) continue;
      while (j < text.size() && SubjectBlank(text[j])) ++j;
      const std::string_view candidate = std::string_view(text).substr(j, kTokenLength);
      if (!IsModerationToken(candidate)) continue;
      const std::size_t after = j + kTokenLength;
      if (after < text.size() && AsciiAlphanumeric(text[after])) continue;
      return ModerationAnswer{verdict, std::string(candidate)};
    }
  }
  return std::nullopt;
}

std::string RejectionReason(const std::vector<std::string>& body) {
  std::vector<std::string_view> lines;
  for (const std::string& line : body) {
    const std::string_view trimmed = TrimBlanks(line);
    if (EndOfOwnText(trimmed)) break;
    lines.push_back(trimmed);
  }
  auto quotedAfter = [&](std::size_t index) {
    for (std::size_t k = index + 1; k < lines.size(); ++k)
      if (!lines[k].empty()) return lines[k].front() == '>';
    return false;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty() || line.front() == '>' || ProgramFooter(line)) continue;
    // "On Mon, 7 Dec 2026, Birds <...> wrote:" above the quotation.
    if (EndsWithIgnoreCase(line, "wrote:") || (line.back() == ':' && quotedAfter(i))) continue;
    // The same line wrapped by the mail program: a first half with a date or an address.
    if (i + 1 < lines.size() && !lines[i + 1].empty() && lines[i + 1].back() == ':' &&
        quotedAfter(i + 1) && HasDigitOrAddressMark(line) && line.back() != '.' &&
        line.back() != '!' && line.back() != '?') {
      ++i;
      continue;
    }
    std::string reason;
    for (const char c : line) {
      if (reason.size() >= kMaximumReason) break;
      if (static_cast<unsigned char>(c) >= 32 && c != 127) reason += c;
    }
    return reason;
  }
  return {};
}

std::vector<std::string> HtmlTextLines(std::string_view html) {
  html = html.substr(0, kMaximumHtml);
  std::vector<std::string> lines(1);
  int quote_depth = 0;      // open <blockquote> elements
  int quote_div_depth = 0;  // <div> elements open inside a quoting one, itself included
  bool space = false;       // blanks were passed since the last character
  auto end_line = [&] {
    if (!lines.back().empty()) lines.emplace_back();
    space = false;
  };
  auto put = [&](std::string_view text) {
    if (lines.back().empty() && (quote_depth > 0 || quote_div_depth > 0))
      lines.back() = "> ";
    else if (space && !lines.back().empty())
      lines.back() += ' ';
    space = false;
    lines.back() += text;
  };
  std::size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '&') {
      if (const auto entity = HtmlEntityAt(html.substr(i))) {
        if (entity->first == " ")
          space = true;
        else
          put(entity->first);
        i += entity->second;
      } else {
        put("&");
        ++i;
      }
      continue;
    }
    if (c != '<') {
      if (HtmlSpace(c))
        space = true;
      else
        put(html.substr(i, 1));
      ++i;
      continue;
    }
    if (html.substr(i).starts_with("<!--")) {
      const std::size_t close = html.find("-->", i + 4);
      if (close == std::string_view::npos) break;
      i = close + 3;
      continue;
    }
    const std::size_t close = html.find('>', i);
    if (close == std::string_view::npos) break;
    const std::string_view tag = html.substr(i + 1, close - i - 1);
    i = close + 1;
    const bool closing = tag.starts_with('/');
    std::size_t name_end = closing ? 1 : 0;
    while (name_end < tag.size() && AsciiAlphanumeric(tag[name_end])) ++name_end;
    const std::string name = LowerCase(tag.substr(closing ? 1 : 0, name_end - (closing ? 1 : 0)));
    const std::string_view attributes = tag.substr(name_end);
    if (!closing && (name == "style" || name == "script" || name == "head" || name == "title")) {
      // Their content is no text of the reply.
      const std::string end = "</" + name;
      std::size_t at = i;
      while (at < html.size() && !StartsWithIgnoreCase(html.substr(at), end)) ++at;
      const std::size_t after = html.find('>', at);
      if (after == std::string_view::npos) break;
      i = after + 1;
      continue;
    }
    if (name == "blockquote") quote_depth = std::max(0, quote_depth + (closing ? -1 : 1));
    if (name == "div") {
      if (quote_div_depth > 0)
        quote_div_depth += closing ? -1 : 1;
      else if (!closing && (ContainsIgnoreCase(attributes, "gmail_quote") ||
                            ContainsIgnoreCase(attributes, "moz-cite-prefix")))
        quote_div_depth = 1;
    }
    if (name == "hr") {
      // A rule stands above a forwarded or quoted original, like a line of underscores.
      end_line();
      lines.back() = std::string(10, '_');
      end_line();
    } else if (HtmlLineTag(name)) {
      end_line();
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

std::string ReplyRejectionReason(const TMsg& reply) {
  std::string reason = RejectionReason(reply.Body);
  if (!reason.empty()) return reason;
  const HtmlReplyPart part = ReadHtmlReplyPart(reply);
  if (part.plain || part.html.empty()) return reason;
  return RejectionReason(HtmlTextLines(part.html));
}

std::vector<HeldEntry> ReadHeldEntries(const NameValueList& store) {
  std::vector<HeldEntry> entries;
  for (std::size_t i = 0; i < store.Count(); ++i) {
    const std::string name = store.NameAt(i);
    if (!IsModerationToken(name)) continue;
    entries.push_back(ParseEntry(name, store.ValueAt(i), 0));
  }
  return entries;
}

std::optional<HeldEntry> FindHeldEntry(const NameValueList& store, std::string_view token) {
  if (!IsModerationToken(token)) return std::nullopt;
  const auto index = store.IndexOfName(token);
  if (index == NameValueList::npos) return std::nullopt;
  return ParseEntry(store.NameAt(index), store.ValueAt(index), 0);
}

std::string HeldFileName(std::string_view token) {
  return std::string(kHeldDirectory) + "/" + LowerCase(token) + ".msg";
}

std::string HoldForModeration(ProcessingContext& context, HeldKind kind, const TMsg& msg,
                              std::string_view text, std::string_view sender) {
  HeldEntry entry;
  entry.token = MakeModerationToken(context.env.random);
  entry.day = Today(context);
  entry.kind = kind;
  entry.sender = Clean(sender, kMaximumRecordedField);
  entry.subject = Clean(msg.Headers.Value("Subject"), kMaximumRecordedSubject);
  entry.date = Clean(msg.Headers.Value("Date"), kMaximumRecordedField);
  entry.size = text.size();
  entry.messageId = Clean(TrimBlanks(msg.Headers.Value("Message-Id")), kMaximumRecordedField);
  context.commit.AddHeldFile(entry.token, std::string(text));
  context.commit.Protect(StoreKind::Held);
  context.commit.Held().Append(EntryLine(entry));
  context.env.log.WriteLog(std::string(kind == HeldKind::Post ? "Post" : "Subscription request") +
                               " from <" + std::string(sender) + "> held for the moderator under " +
                               entry.token,
                           LogColour::White);
  return entry.token;
}

void SettleReturnedMessage(ProcessingContext& context, std::string_view messageId) {
  const std::string id(TrimBlanks(messageId));
  if (id.empty()) return;
  NameValueList& store = context.commit.Held();
  for (std::size_t i = 0; i < store.Count(); ++i) {
    const std::string name = store.NameAt(i);
    if (!IsModerationToken(name)) continue;
    HeldEntry entry = ParseEntry(name, store.ValueAt(i), Today(context));
    if (entry.state != HeldState::Held || entry.messageId != id) continue;
    entry.state = HeldState::Approved;
    context.commit.Protect(StoreKind::Held);
    store.Lines()[i] = EntryLine(entry);
    context.commit.RemoveOnCommit(HeldFileName(entry.token));
    context.env.log.WriteLog("Held message " + entry.token + " from <" + entry.sender +
                                 "> approved by its returned copy",
                             LogColour::White);
  }
}

void ForgetExpiredHolds(ProcessingContext& context) {
  const long long days = context.list.Config().ReadInteger("General", "Days", 7);
  const double now = ToDays(context.env.clock.Now());
  NameValueList& store = context.commit.Held();
  std::size_t index = 0;
  while (index < store.Count()) {
    const std::string name = store.NameAt(index);
    const HeldEntry entry = ParseEntry(name, store.ValueAt(index), Today(context));
    if (now - static_cast<double>(entry.day) <= static_cast<double>(days)) {
      ++index;
      continue;
    }
    context.commit.Protect(StoreKind::Held);
    if (entry.state == HeldState::Held && IsModerationToken(name)) {
      context.commit.RemoveOnCommit(HeldFileName(name));
      context.env.log.WriteLog("Held message " + entry.token + " from <" + entry.sender +
                                   "> expired undecided after " + std::to_string(days) +
                                   " days; removed",
                               LogColour::White);
    }
    store.Delete(index);
  }
}

HeldDecision DecideHeld(ProcessingContext& context, std::string_view tokenText, Verdict verdict,
                        std::string_view reason, std::string_view by) {
  HeldDecision decision;
  const std::string token = LowerCase(tokenText);
  if (!IsModerationToken(token)) return decision;
  NameValueList& store = context.commit.Held();
  const auto index = store.IndexOfName(token);
  if (index == NameValueList::npos) return decision;
  HeldEntry entry = ParseEntry(store.NameAt(index), store.ValueAt(index), Today(context));
  decision.entry = entry;
  if (entry.state == HeldState::Approved) {
    decision.outcome = DecisionOutcome::AlreadyApproved;
    return decision;
  }
  if (entry.state == HeldState::Rejected) {
    decision.outcome = DecisionOutcome::AlreadyRejected;
    return decision;
  }
  decision.outcome = DecisionOutcome::Done;

  TAccount& list = context.list;
  const std::string path = list.ListDir() + HeldFileName(token);
  const RegularFileRead read = ReadRegularFile(path, kMaximumMessageBytes);
  switch (read.outcome) {
    case RegularFileRead::Outcome::Read:
      break;
    case RegularFileRead::Outcome::Failed:
      throw SystemError("Cannot read the held message " + path, read.error);
    default:
      // Not a fault of the machine: retrying would meet the same record without its file.
      throw Error("The held message " + path + " is missing or not a regular file");
  }
  TMsg msg;
  msg.Lines = SplitLines(read.content);
  msg.Parse();

  // The decision is final: the signature goes with it, so that the copy the moderator received
  // is no approval any more when it is sent back later.
  const std::string id(TrimBlanks(msg.Headers.Value("Message-Id")));
  context.commit.Protect(StoreKind::Signatures);
  if (!id.empty()) list.Signatures().SetValue(id, "");
  msg.Headers.SetValue("X-Moderator-Signature", "");

  entry.state = verdict == Verdict::Approve ? HeldState::Approved : HeldState::Rejected;
  context.commit.Protect(StoreKind::Held);
  store.Lines()[index] = EntryLine(entry);
  context.commit.RemoveOnCommit(HeldFileName(token));

  const std::string what =
      std::string(entry.kind == HeldKind::Post ? "Held post " : "Subscription request ") + token +
      " from <" + entry.sender + "> ";
  if (verdict == Verdict::Approve) {
    if (entry.kind == HeldKind::Post) {
      decision.distributed = DistributeApprovedPost(context, msg);
      context.env.log.WriteLog(
          what + "approved " + std::string(by) +
              (decision.distributed ? "; distributed" : "; not distributed again"),
          LogColour::White);
    } else {
      context.env.log.WriteLog(what + "approved " + std::string(by), LogColour::White);
      ConfirmSubscription(context, entry.sender, "", CheckCode::No, nullptr);
    }
    return decision;
  }
  const std::string told(TrimBlanks(reason));
  decision.told =
      entry.kind == HeldKind::Post && !told.empty() && !TemplateText(list, "Post rejected").empty();
  if (decision.told) {
    NoticeVariables variables;
    variables.AddSubscriber(list, entry.sender);
    variables.AddMessage(msg);
    variables.Set("Reason", told);
    QueuePrivateNotice(context, "Post rejected", variables, entry.sender);
  }
  context.env.log.WriteLog(
      what + "rejected " + std::string(by) + (decision.told ? "; the sender is told why" : ""),
      LogColour::White);
  return decision;
}

bool HandleModerationAnswer(ProcessingContext& context, const TMsg& msg) {
  const std::optional<ModerationAnswer> answer =
      RecognizeModerationAnswer(msg.Headers.Value("Subject"));
  if (!answer) return false;
  const std::string words =
      std::string(answer->verdict == Verdict::Approve ? "approve " : "reject ") + answer->token;
  const std::string sender = ExtractAddress(msg.Headers.Value("From"));
  const std::string moderator =
      ExtractAddress(context.list.Config().ReadString("General", "Moderator", ""));
  if (moderator.empty() || !EqualsIgnoreCase(sender, moderator)) {
    context.env.log.WriteLog("Moderation answer \"" + words + "\" from <" + sender +
                                 "> ignored: not the moderator of this list",
                             LogColour::White);
    return true;
  }
  const std::string reason =
      answer->verdict == Verdict::Reject ? ReplyRejectionReason(msg) : std::string();
  const DecisionOutcome outcome =
      DecideHeld(context, answer->token, answer->verdict, reason, "by the moderator's answer")
          .outcome;
  if (outcome == DecisionOutcome::Done) return true;
  const bool answered = !BulkMail(msg);
  if (answered)
    QueueModeratorNotice(context, moderator, NoticeForModerator(context.list, words, outcome));
  const char* state = outcome == DecisionOutcome::AlreadyApproved   ? "was approved already"
                      : outcome == DecisionOutcome::AlreadyRejected ? "was rejected already"
                                                                    : "is unknown or expired";
  context.env.log.WriteLog("Moderation answer \"" + words + "\" not applied: the token " + state +
                               (answered ? "; the moderator is told" : ""),
                           LogColour::White);
  return true;
}

}  // namespace orvex
