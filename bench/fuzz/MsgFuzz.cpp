// Fuzz target: any input parses and composes without crashing, parsing loses no line (the raw
// lines before and after the text part are the message body's own lines, in order, and the text
// is the decoding of exactly the lines between them), every header field keeps its whole name,
// and the list's Reply-To survives compose and parse as the only Reply-To of the copy.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "message/Codecs.h"
#include "message/Msg.h"
#include "store/NameValueList.h"

namespace {

using orvex::TBodyEncoding;

void Fail(int line) {
  std::fprintf(stderr, "invariant broken at line %d\n", line);
  std::abort();
}

#define Check(condition) \
  if (!(condition)) Fail(__LINE__)

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool Blank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> input =
      orvex::SplitLines(std::string_view(reinterpret_cast<const char*>(data), size));
  orvex::TMsg msg;
  msg.Lines = input;
  msg.Parse();

  // Where the message header ends: at an empty line, or at a line that is neither a field nor a
  // continuation once a field has been seen. Fields are unfolded by removing the line breaks.
  std::size_t body = input.size();
  std::vector<std::string> fields;
  bool seen_field = false;
  for (std::size_t i = 0; i < input.size(); ++i) {
    const std::string& line = input[i];
    if (line.empty()) {
      body = i + 1;
      break;
    }
    if (Blank(line[0]) && !fields.empty()) {
      fields.back() += line;
      continue;
    }
    const bool field = line.find(':') != std::string::npos;
    if (!field && !Blank(line[0]) && seen_field) {
      body = i;
      break;
    }
    seen_field = seen_field || field;
    fields.push_back(line);
  }

  // One value per name, the last one; an empty value neither gives nor removes one. Blanks before
  // the colon are no part of the name.
  std::map<std::string, std::string> expected;
  for (const std::string& field : fields) {
    const std::size_t colon = field.find(':');
    if (colon == std::string::npos) continue;
    std::string_view name = std::string_view(field).substr(0, colon);
    while (!name.empty() && Blank(name.back())) name.remove_suffix(1);
    const std::string value(Trim(std::string_view(field).substr(colon + 1)));
    if (!value.empty()) expected[Lower(name)] = value;
  }
  Check(msg.Headers.Count() == expected.size());
  for (const auto& [name, value] : expected)
    Check(msg.Headers.Value(orvex::TMsg::StoredFieldName(name)) == value);

  // Head (after its separator) is a prefix of the body lines, Tail a suffix.
  const std::vector<std::string> head_lines = msg.Head();
  const std::vector<std::string> tail_lines = msg.Tail();
  Check(!head_lines.empty() && head_lines[0].empty());
  const std::size_t body_lines = input.size() - body;
  const std::size_t head = head_lines.size() - 1;
  Check(head + tail_lines.size() <= body_lines);
  for (std::size_t i = 0; i < head; ++i) Check(head_lines[1 + i] == input[body + i]);
  for (std::size_t i = 0; i < tail_lines.size(); ++i)
    Check(tail_lines[i] == input[input.size() - tail_lines.size() + i]);
  const std::vector<std::string> middle(
      input.begin() + static_cast<std::ptrdiff_t>(body + head),
      input.end() - static_cast<std::ptrdiff_t>(tail_lines.size()));
  switch (msg.BodyEncoding) {
    case TBodyEncoding::AsIs:
      Check(msg.Body == middle);
      break;
    case TBodyEncoding::QuotedPrintable:
      Check(msg.Body == orvex::SplitLines(orvex::QPDecode(orvex::JoinLines(middle))));
      break;
    case TBodyEncoding::Base64: {
      // One stream: the four-character groups may run across lines.
      std::string encoded;
      for (const std::string& line : middle) encoded += line;
      Check(msg.Body == orvex::SplitLines(orvex::Base64DecodeLine(encoded)));
      break;
    }
  }

  // What Compose writes parses again, with the header fields it was given, and the list's
  // Reply-To is the only field that any reader takes for Reply-To (also with blanks before the
  // colon, as the older syntax allows).
  msg.Body.emplace_back("-- ");
  msg.Body.emplace_back("list signature");
  msg.Headers.SetValue("Reply-To", "list@example.org");
  msg.Compose();
  std::size_t reply_to = 0;
  for (const std::string& line : msg.Lines) {
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || Blank(line[0])) continue;
    std::string_view name = std::string_view(line).substr(0, colon);
    while (!name.empty() && Blank(name.back())) name.remove_suffix(1);
    if (Lower(name) != "reply-to") continue;
    ++reply_to;
    Check(Trim(std::string_view(line).substr(colon + 1)) == "list@example.org");
  }
  Check(reply_to == 1);
  orvex::TMsg again;
  again.Lines = msg.Lines;
  again.Parse();
  Check(again.Headers.Value("Reply-To") == "list@example.org");
  return 0;
}
