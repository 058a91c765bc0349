// Parsing a message into TMsg's fields through the MIME decoder's events, and composing it again.
#include "message/Msg.h"

#include <unordered_map>

#include "message/Codecs.h"

namespace orvex {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

constexpr size_t kBase64LineLength = 76;

}  // namespace

void TMsg::Clear() {
  BodyEncoding = TBodyEncoding::AsIs;
  Headers.Clear();
  Head.clear();
  Body.clear();
  Tail.clear();
  State = TParseState::Head;
  text_part_seen_ = false;
  text_data_.clear();
}

void TMsg::Parse() {
  Clear();
  Boundary.clear();
  // Field name (lower case) -> its line in Headers, so that many fields stay fast to parse.
  std::unordered_map<std::string, size_t> index;
  std::vector<std::string>& header_lines = Headers.Lines();

  Decoder = TMimeDecode();
  // Outside the text part only raw lines are kept: their data need not be decoded.
  Decoder.PartData = TPartData::Raw;
  Decoder.OnHeaderLine = [&index, &header_lines](TMimeDecode& d) {
    const std::string_view line = d.CurrentData();
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    const std::string key = LowerCase(name);
    const auto found = index.find(key);
    if (value.empty()) {
      if (found == index.end()) return;
      header_lines.erase(header_lines.begin() + static_cast<std::ptrdiff_t>(found->second));
      index.clear();
      for (size_t i = 0; i < header_lines.size(); ++i)
        index.emplace(
            LowerCase(std::string_view(header_lines[i]).substr(0, header_lines[i].find('='))), i);
      return;
    }
    std::string entry;
    entry.reserve(name.size() + 1 + value.size());
    entry.append(name).append("=").append(value);
    if (found != index.end()) {
      header_lines[found->second] = std::move(entry);  // the place of the first occurrence
    } else {
      index.emplace(key, header_lines.size());
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
  Head.emplace_back();
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
  Decoder.PartData = TPartData::Decoded;
}

void TMsg::PartHeaderLine() {
  // Part headers are raw lines: they are kept as written, folding included.
  auto& target = RawTarget();
  for (const std::string& raw : Decoder.CurrentRawLines()) target.push_back(raw);
}

void TMsg::PartHeaderEnd() {
  // A header ended by a line that is no field has no empty line to keep.
  if (!Decoder.HeaderEndedByBodyLine()) RawTarget().emplace_back();
  EnterTextIfPlain(Decoder.PartContentType(), Decoder.PartEncoding());
}

void TMsg::PartLine(const char* data, std::size_t size) {
  if (State != TParseState::Text) {
    RawTarget().emplace_back(Decoder.CurrentData());
    return;
  }
  switch (BodyEncoding) {
    case TBodyEncoding::QuotedPrintable:
      text_data_.append(Decoder.CurrentData()).append("\r\n");
      break;
    case TBodyEncoding::Base64:
      text_data_.append(data, size);
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
      Body = SplitLines(text_data_);
    text_data_.clear();
    text_data_.shrink_to_fit();
    State = TParseState::Tail;
    Decoder.PartData = TPartData::Raw;
  }
  // The boundary line that ended the part, as it stood.
  if (!Decoder.AtEndOfStream()) RawTarget().emplace_back(Decoder.CurrentData());
}

void TMsg::Compose() {
  std::vector<std::string>().swap(Lines);  // free the old lines before the new ones are built
  size_t count = Headers.Count() + Head.size() + Body.size() + Tail.size();
  std::string encoded;
  if (BodyEncoding == TBodyEncoding::Base64) {
    encoded = Base64Encode(JoinLines(Body));
    count += encoded.size() / kBase64LineLength + 1;
  } else if (BodyEncoding == TBodyEncoding::QuotedPrintable) {
    encoded = QPEncode(JoinLines(Body));
  }
  Lines.reserve(count);
  for (size_t i = 0; i < Headers.Count(); ++i) {
    const std::string& line = Headers.Lines()[i];
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string field;
    field.reserve(line.size() + 1);
    field.append(line, 0, eq).append(": ").append(line, eq + 1);
    Lines.push_back(std::move(field));
  }
  Lines.insert(Lines.end(), Head.begin(), Head.end());
  switch (BodyEncoding) {
    case TBodyEncoding::Base64:
      for (size_t pos = 0; pos < encoded.size(); pos += kBase64LineLength)
        Lines.emplace_back(encoded.substr(pos, kBase64LineLength));
      break;
    case TBodyEncoding::QuotedPrintable:
      for (std::string& line : SplitLines(encoded)) Lines.push_back(std::move(line));
      break;
    case TBodyEncoding::AsIs:
      Lines.insert(Lines.end(), Body.begin(), Body.end());
      break;
  }
  Lines.insert(Lines.end(), Tail.begin(), Tail.end());
  while (!Lines.empty() && Lines.back().empty()) Lines.pop_back();
}

}  // namespace orvex
