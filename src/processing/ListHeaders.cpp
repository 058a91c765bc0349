// List-Id and its companions, and the header tests of the loop protection.
#include "processing/ListHeaders.h"

#include "message/Msg.h"
#include "processing/Address.h"
#include "processing/Notices.h"

namespace orvex {
namespace {

constexpr std::string_view kGeneral = "General";
constexpr std::size_t kMaximumHeaderLines = 2000;

bool IdentifierCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 32 || u >= 127) return false;
  // atext of a dot-atom; "." is handled by the caller.
  return std::string_view("()<>[]:;@\\,\"").find(c) == std::string_view::npos;
}

bool UriCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')) return true;
  return std::string_view("-._~!$'()*+,;=:@").find(c) != std::string_view::npos;
}

// A header value without "(...)" comments, trimmed.
std::string WithoutComments(std::string_view value) {
  std::string result;
  int depth = 0;
  for (const char c : value) {
    if (c == '(' && depth < 100) {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0) {
      result += c;
    }
  }
  return std::string(TrimBlanks(result));
}

}  // namespace

ListHeaders ListHeadersSetting(const TAccount& list) {
  return list.Config().ReadInteger(kGeneral, "ListHeaders", 0) == 1 ? ListHeaders::On
                                                                    : ListHeaders::Off;
}

std::string ListIdentifier(std::string_view address) {
  const std::string bare = ExtractAddress(address);
  const auto at = bare.rfind('@');
  if (at == std::string::npos || at == 0 || at + 1 == bare.size()) return {};
  const std::string joined = bare.substr(0, at) + "." + bare.substr(at + 1);
  std::string id;
  for (const char c : LowerCase(joined)) {
    if (c == '.') {
      if (!id.empty() && id.back() != '.') id += '.';
    } else {
      id += IdentifierCharacter(c) ? c : '-';
    }
  }
  while (!id.empty() && id.back() == '.') id.pop_back();
  return id;
}

std::string ListIdValue(std::string_view name, std::string_view address) {
  const std::string id = ListIdentifier(address);
  if (id.empty()) return {};
  std::string phrase;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) continue;  // no line breaks in a field
    if (c == '"' || c == '\\') phrase += '\\';
    phrase += c;
  }
  if (TrimBlanks(phrase).empty()) return "<" + id + ">";
  return "\"" + phrase + "\" <" + id + ">";
}

std::string MailtoUri(std::string_view address, std::string_view subject) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  auto encode = [](std::string_view text, std::string& out) {
    for (const char c : text) {
      if (UriCharacter(c)) {
        out += c;
      } else {
        const auto u = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[u >> 4];
        out += kHex[u & 15];
      }
    }
  };
  std::string uri = "<mailto:";
  encode(address, uri);
  if (!subject.empty()) {
    uri += "?subject=";
    encode(subject, uri);
  }
  return uri + ">";
}

HeaderFields ListHeaderFields(const TAccount& list, ListMessageKind kind) {
  HeaderFields fields;
  if (ListHeadersSetting(list) != ListHeaders::On) return fields;
  const std::string address = ListAddress(list);
  const std::string id = ListIdValue(list.Config().ReadString(kGeneral, "Name", ""), address);
  if (id.empty()) return fields;
  const std::string control = ControlAddress(list).empty() ? address : ControlAddress(list);
  const std::string moderator = list.Config().ReadString(kGeneral, "Moderator", "");
  fields.emplace_back("List-Id", id);
  fields.emplace_back("List-Post", MailtoUri(address));
  // No command answers "help"; a person does.
  fields.emplace_back("List-Help", MailtoUri(moderator.empty() ? control : moderator));
  fields.emplace_back("List-Subscribe", MailtoUri(control, "subscribe"));
  fields.emplace_back("List-Unsubscribe", MailtoUri(control, "unsubscribe"));
  if (kind == ListMessageKind::Notice) {
    fields.emplace_back("Auto-Submitted", "auto-replied");
  } else if (kind == ListMessageKind::Moderation) {
    fields.emplace_back("Auto-Submitted", "auto-generated");
  } else {
    fields.emplace_back("Precedence", "list");
    fields.emplace_back("X-Loop", address);
  }
  return fields;
}

std::vector<std::string> RawHeaderValues(const std::vector<std::string>& lines,
                                         std::string_view name) {
  std::vector<std::string> values;
  bool inField = false;
  const std::size_t end = std::min(lines.size(), kMaximumHeaderLines);
  for (std::size_t i = 0; i < end; ++i) {
    const std::string& line = lines[i];
    if (line.empty()) break;
    if (line.front() == ' ' || line.front() == '\t') {
      if (inField) values.back() += " " + std::string(TrimBlanks(line));
      continue;
    }
    const auto colon = line.find(':');
    inField = colon != std::string::npos &&
              EqualsIgnoreCase(TrimBlanks(std::string_view(line).substr(0, colon)), name);
    if (inField) values.emplace_back(TrimBlanks(std::string_view(line).substr(colon + 1)));
  }
  return values;
}

bool IsDeliveryReport(const TMsg& msg) {
  const std::vector<std::string> paths = RawHeaderValues(msg.Lines, "Return-Path");
  if (!paths.empty()) {
    std::string path = WithoutComments(paths.front());
    std::erase_if(path, [](char c) { return c == ' ' || c == '\t'; });
    if (path == "<>") return true;
  }
  const std::string type = LowerCase(msg.Headers.Value("Content-Type"));
  if (!TrimBlanks(type).starts_with("multipart/report")) return false;
  for (std::size_t at = type.find("report-type"); at != std::string::npos;
       at = type.find("report-type", at + 1)) {
    std::string_view rest = std::string_view(type).substr(at + 11);
    rest = TrimBlanks(rest);
    if (rest.empty() || rest.front() != '=') continue;
    rest = TrimBlanks(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') rest.remove_prefix(1);
    if (rest.starts_with("delivery-status")) return true;
  }
  return false;
}

LoopCheck CheckLoop(const TAccount& list, const TMsg& msg) {
  if (IsDeliveryReport(msg)) return {LoopVerdict::DeliveryReport, "it is a delivery report"};
  const std::string address = ListAddress(list);
  const std::string ownId = ListIdentifier(address);
  for (const std::string& value : RawHeaderValues(msg.Lines, "List-Id")) {
    const auto open = value.rfind('<');
    const auto close = value.rfind('>');
    const std::string_view id =
        open != std::string::npos && close != std::string::npos && close > open
            ? std::string_view(value).substr(open + 1, close - open - 1)
            : std::string_view(value);
    if (!ownId.empty() && EqualsIgnoreCase(TrimBlanks(id), ownId))
      return {LoopVerdict::OwnListId, "it carries this list's List-Id"};
  }
  for (const std::string& value : RawHeaderValues(msg.Lines, "X-Loop"))
    if (!address.empty() && ContainsIgnoreCase(value, address))
      return {LoopVerdict::OwnXLoop, "its X-Loop names this list"};
  for (const std::string& value : RawHeaderValues(msg.Lines, "Auto-Submitted")) {
    const std::string plain = LowerCase(WithoutComments(value));
    const std::string keyword = plain.substr(0, plain.find_first_of("; \t"));
    if (!keyword.empty() && keyword != "no")
      return {LoopVerdict::AutoSubmitted,
              "it is automatic mail (Auto-Submitted: " + keyword.substr(0, 40) + ")"};
  }
  return {};
}

}  // namespace orvex
