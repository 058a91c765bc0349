// Fuzz target: any input parses and composes without crashing, and parsing loses no line: the
// raw lines before and after the text part are the message body's own lines, in order, and the
// text is the decoding of exactly the lines between them.
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

  // One value per name, the last one; an empty value removes the field.
  std::map<std::string, std::string> expected;
  bool plain_names = true;
  for (const std::string& field : fields) {
    const std::size_t colon = field.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = Lower(field.substr(0, colon));
    if (name.find('=') != std::string::npos) plain_names = false;
    const std::string value(Trim(std::string_view(field).substr(colon + 1)));
    if (value.empty())
      expected.erase(name);
    else
      expected[name] = value;
  }
  if (plain_names) {
    Check(msg.Headers.Count() == expected.size());
    for (const auto& [name, value] : expected) Check(msg.Headers.Value(name) == value);
  }

  // Head (after its separator) is a prefix of the body lines, Tail a suffix.
  Check(!msg.Head.empty() && msg.Head[0].empty());
  const std::size_t body_lines = input.size() - body;
  const std::size_t head = msg.Head.size() - 1;
  Check(head + msg.Tail.size() <= body_lines);
  for (std::size_t i = 0; i < head; ++i) Check(msg.Head[1 + i] == input[body + i]);
  for (std::size_t i = 0; i < msg.Tail.size(); ++i)
    Check(msg.Tail[i] == input[input.size() - msg.Tail.size() + i]);
  const std::vector<std::string> middle(input.begin() + static_cast<std::ptrdiff_t>(body + head),
                                        input.end() - static_cast<std::ptrdiff_t>(msg.Tail.size()));
  switch (msg.BodyEncoding) {
    case TBodyEncoding::AsIs:
      Check(msg.Body == middle);
      break;
    case TBodyEncoding::QuotedPrintable:
      Check(msg.Body == orvex::SplitLines(orvex::QPDecode(orvex::JoinLines(middle))));
      break;
    case TBodyEncoding::Base64: {
      std::string decoded;
      for (const std::string& line : middle) decoded += orvex::Base64DecodeLine(line);
      Check(msg.Body == orvex::SplitLines(decoded));
      break;
    }
  }

  // What Compose writes parses again, with the header fields it was given.
  msg.Body.emplace_back("-- ");
  msg.Body.emplace_back("list signature");
  msg.Headers.SetValue("Reply-To", "list@example.org");
  msg.Compose();
  orvex::TMsg again;
  again.Lines = msg.Lines;
  again.Parse();
  Check(again.Headers.Value("Reply-To") == "list@example.org");
  return 0;
}
