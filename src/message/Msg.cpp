// Parsing a message into TMsg's fields through the MIME decoder's events, and composing it again.
#include "message/Msg.h"

#include <stdexcept>
#include <unordered_map>

#include "message/Codecs.h"
#include "platform/Text.h"

namespace orvex {
namespace {

constexpr size_t kBase64LineLength = 76;

}  // namespace

std::string TMsg::StoredFieldName(std::string_view name) {
  std::string stored(name);
  for (char& c : stored)
    if (c == '=') c = ':';
  return stored;
}

std::string TMsg::WrittenFieldName(std::string_view name) {
  std::string written(name);
  for (char& c : written)
    if (c == ':') c = '=';
  return written;
}

void TMsg::Clear() {
  BodyEncoding = TBodyEncoding::AsIs;
  Headers.Clear();
  head_.clear();
  Body.clear();
  tail_.clear();
  parsed_lines_ = 0;
  State = TParseState::Head;
  text_part_seen_ = false;
  text_header_open_ = false;
  text_data_.clear();
}

void TMsg::Parse() {
  Clear();
  Boundary.clear();
  parsed_lines_ = Lines.size();
  // Field name (lower case) -> its line in Headers, so that many fields stay fast to parse.
  std::unordered_map<std::string, size_t> index;
  std::vector<std::string>& header_lines = Headers.Lines();

  Decoder = TMimeDecode();
  // Only raw lines are kept or collected: the text part is decoded as a whole when it ends.
  Decoder.PartData = TPartData::Raw;
  Decoder.OnHeaderLine = [&index, &header_lines](TMimeDecode& d) {
    const std::string_view line = d.CurrentData();
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    // Blanks before the colon belong to no name: "Reply-To :" is the Reply-To field to readers
    // that take the older syntax, so it must not stand beside the one the list sets.
    std::string_view written = line.substr(0, colon);
    while (!written.empty() && (written.back() == ' ' || written.back() == '\t'))
      written.remove_suffix(1);
    const std::string_view value = Trim(line.substr(colon + 1), Blanks::SpacesAndBreaks);
    // An empty occurrence neither gives a value nor removes one that the message gave before.
    if (value.empty()) return;
    const std::string name = StoredFieldName(written);
    std::string key = LowerCase(name);
    std::string entry;
    entry.reserve(name.size() + 1 + value.size());
    entry.append(name).append("=").append(value);
    const auto found = index.find(key);
    if (found != index.end()) {
      header_lines[found->second] = std::move(entry);  // the place of the first occurrence
    } else {
      index.emplace(std::move(key), header_lines.size());
      header_lines.push_back(std::move(entry));
    }
  };
  Decoder.OnHeaderEnd = [this](TMimeDecode&) { HeaderEnd(); };
  Decoder.OnPartHeaderLine = [this](TMimeDecode&) { PartHeaderLine(); };
  Decoder.OnPartHeaderEnd = [this](TMimeDecode&) { PartHeaderEnd(); };
  Decoder.OnPartLine = [this](TMimeDecode&, const char* data, std::size_t size) {
    PartLine(data, size);
  };
  Decoder.OnPartEnd = [this](TMimeDecode&) { PartEnd(); };
  Decoder.DecodeLines(Lines);
  Decoder = TMimeDecode();  // drop the handlers, which refer to this parse
}

void TMsg::HeaderEnd() {
  Boundary = Decoder.Boundary();
  // The separator is written even when the header was ended by a body line instead.
  head_.push_back(kEmptyLine);
  const std::string& type = Decoder.ContentType();
  EnterTextIfPlain(type, Decoder.Encoding());
}

void TMsg::EnterTextIfPlain(const std::string& content_type, const std::string& encoding) {
  if (text_part_seen_ || State != TParseState::Head) return;
  if (!content_type.empty() && content_type != "text/plain") return;
  text_part_seen_ = true;
  if (encoding == "base64")
    BodyEncoding = TBodyEncoding::Base64;
  else if (encoding == "quoted-printable")
    BodyEncoding = TBodyEncoding::QuotedPrintable;
  else
    BodyEncoding = TBodyEncoding::AsIs;
  State = TParseState::Text;
}

void TMsg::PartHeaderLine() {
  // Part headers are raw lines: they are kept as written, folding included.
  auto& target = RawTarget();
  const size_t first = Decoder.CurrentRawLinesIndex();
  for (size_t i = 0; i < Decoder.CurrentRawLines().size(); ++i) target.push_back(first + i);
}

void TMsg::PartHeaderEnd() {
  // A header ended by a line that is no field has no empty line to keep.
  const bool open = Decoder.HeaderEndedByBodyLine();
  if (!open) RawTarget().push_back(kEmptyLine);
  const bool was_text = text_part_seen_;
  EnterTextIfPlain(Decoder.PartContentType(), Decoder.PartEncoding());
  if (text_part_seen_ && !was_text) text_header_open_ = open;
}

void TMsg::PartLine(const char*, std::size_t) {
  if (State != TParseState::Text) {
    RawTarget().push_back(Decoder.CurrentLineIndex());
    return;
  }
  // A line of the part follows its header directly: whatever Compose writes comes after it.
  text_header_open_ = false;
  switch (BodyEncoding) {
    case TBodyEncoding::QuotedPrintable:
      text_data_.append(Decoder.CurrentData()).append("\r\n");
      break;
    case TBodyEncoding::Base64:
      // The four-character groups may run across lines: the part is decoded as one stream.
      text_data_.append(Decoder.CurrentData());
      break;
    case TBodyEncoding::AsIs:
      // The line as it stands, whatever other encoding was declared: Compose writes it back as is.
      Body.emplace_back(Decoder.CurrentData());
      break;
  }
}

void TMsg::PartEnd() {
  if (State == TParseState::Text) {
    if (BodyEncoding == TBodyEncoding::QuotedPrintable)
      Body = SplitLines(QPDecode(text_data_));
    else if (BodyEncoding == TBodyEncoding::Base64)
      Body = SplitLines(Base64DecodeLine(text_data_));
    text_data_.clear();
    text_data_.shrink_to_fit();
    State = TParseState::Tail;
  } else if (State == TParseState::Head && Decoder.AtEndOfStream() && Decoder.InPartHeader()) {
    // The message ends inside a part header: a text written after it needs the empty line that
    // ends that header, or readers take its first line for a header field.
    text_header_open_ = true;
  }
  // The boundary line that ended the part, as it stood.
  if (!Decoder.AtEndOfStream()) RawTarget().push_back(Decoder.CurrentLineIndex());
}

std::vector<std::string> TMsg::RawLines(const std::vector<std::size_t>& refs) const {
  std::vector<std::string> lines;
  lines.reserve(refs.size());
  for (const size_t ref : refs) lines.push_back(ref == kEmptyLine ? std::string() : Lines.at(ref));
  return lines;
}

void TMsg::MoveRawLines(std::vector<std::size_t>& refs, std::vector<std::string>& out) {
  for (size_t& ref : refs) {
    if (ref == kEmptyLine) {
      out.emplace_back();
    } else {
      out.push_back(std::move(Lines[ref]));
      ref = out.size() - 1;
    }
  }
}

void TMsg::Compose() {
  // The raw lines are taken from Lines: they must still be the ones Parse read.
  if ((!head_.empty() || !tail_.empty()) && Lines.size() != parsed_lines_)
    throw std::logic_error("TMsg::Compose: Lines changed since Parse");
  size_t count = Headers.Count() + head_.size() + Body.size() + tail_.size() + 1;
  std::string encoded;
  if (BodyEncoding == TBodyEncoding::Base64) {
    encoded = Base64Encode(JoinLines(Body));
    count += encoded.size() / kBase64LineLength + 1;
  } else if (BodyEncoding == TBodyEncoding::QuotedPrintable) {
    encoded = QPEncode(JoinLines(Body));
  }
  std::vector<std::string> out;
  out.reserve(count);
  for (size_t i = 0; i < Headers.Count(); ++i) {
    const std::string& line = Headers.Lines()[i];
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string field = WrittenFieldName(std::string_view(line).substr(0, eq));
    field.reserve(line.size() + 1);
    field.append(": ").append(line, eq + 1);
    out.push_back(std::move(field));
  }
  MoveRawLines(head_, out);
  if (text_header_open_ && !Body.empty()) out.emplace_back();
  switch (BodyEncoding) {
    case TBodyEncoding::Base64:
      for (size_t pos = 0; pos < encoded.size(); pos += kBase64LineLength)
        out.emplace_back(encoded.substr(pos, kBase64LineLength));
      break;
    case TBodyEncoding::QuotedPrintable:
      for (std::string& line : SplitLines(encoded)) out.push_back(std::move(line));
      break;
    case TBodyEncoding::AsIs:
      out.insert(out.end(), Body.begin(), Body.end());
      break;
  }
  MoveRawLines(tail_, out);
  while (!out.empty() && out.back().empty()) out.pop_back();
  Lines.swap(out);
  std::vector<std::string>().swap(out);
  // Raw lines cut off with the trailing empty lines are empty lines of their own now.
  for (auto* refs : {&head_, &tail_})
    for (size_t& ref : *refs)
      if (ref != kEmptyLine && ref >= Lines.size()) ref = kEmptyLine;
  parsed_lines_ = Lines.size();
}

}  // namespace orvex
