// The MIME decoder: line splitting, header unfolding, boundary recognition and part decoding.
#include "message/MimeDecode.h"

#include <optional>

#include "message/Codecs.h"
#include "platform/Text.h"

namespace orvex {
namespace {

// Blanks of header fields and their parameters.
bool IsBlank(char c) {
  return IsBlank(c, Blanks::SpacesAndBreaks);
}

std::string_view Trim(std::string_view text) {
  return Trim(text, Blanks::SpacesAndBreaks);
}

// Skips blanks and comments in parentheses (which may nest and hold quoted pairs).
void SkipBlanksAndComments(std::string_view text, size_t& pos) {
  while (pos < text.size()) {
    if (IsBlank(text[pos])) {
      ++pos;
    } else if (text[pos] == '(') {
      int depth = 0;
      for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '\\') {
          ++pos;
        } else if (c == '(') {
          ++depth;
        } else if (c == ')' && --depth == 0) {
          ++pos;
          break;
        }
      }
    } else {
      return;
    }
  }
}

bool EndsToken(char c) {
  return IsBlank(c) || c == ';' || c == '(' || c == '=';
}

struct Parameter {
  std::string name;  // lower case
  std::string value;
};

struct ContentValue {
  std::string token;  // lower case
  std::vector<Parameter> parameters;

  const std::string* Find(std::string_view name) const {
    for (const auto& p : parameters)
      if (p.name == name) return &p.value;
    return nullptr;
  }
};

// A value of the form token *(";" name "=" value), where a value is a quoted string (the text
// between the quotes) or a token. Every parameter is read, wherever it stands.
ContentValue ParseContentValue(std::string_view text) {
  ContentValue result;
  size_t pos = 0;
  SkipBlanksAndComments(text, pos);
  const size_t start = pos;
  while (pos < text.size() && !EndsToken(text[pos])) ++pos;
  result.token = LowerCase(text.substr(start, pos - start));
  while (pos < text.size()) {
    // Find the next ";" outside quotes and comments.
    while (pos < text.size() && text[pos] != ';') {
      if (text[pos] == '"') {
        for (++pos; pos < text.size() && text[pos] != '"'; ++pos)
          if (text[pos] == '\\') ++pos;
        if (pos < text.size()) ++pos;
      } else if (text[pos] == '(') {
        SkipBlanksAndComments(text, pos);
      } else {
        ++pos;
      }
    }
    if (pos >= text.size()) break;
    ++pos;  // the ";"
    SkipBlanksAndComments(text, pos);
    const size_t name_start = pos;
    while (pos < text.size() && !EndsToken(text[pos])) ++pos;
    Parameter parameter{LowerCase(text.substr(name_start, pos - name_start)), {}};
    SkipBlanksAndComments(text, pos);
    if (pos >= text.size() || text[pos] != '=') continue;
    ++pos;
    SkipBlanksAndComments(text, pos);
    if (pos < text.size() && text[pos] == '"') {
      for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
        if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
        parameter.value.push_back(text[pos]);
      }
      if (pos < text.size()) ++pos;
    } else {
      const size_t value_start = pos;
      while (pos < text.size() && !IsBlank(text[pos]) && text[pos] != ';' && text[pos] != '(')
        ++pos;
      parameter.value.assign(text.substr(value_start, pos - value_start));
    }
    if (!parameter.name.empty()) result.parameters.push_back(std::move(parameter));
  }
  return result;
}

// Splits "Name: value" into the lower-case name and the value; false without ":".
bool SplitField(std::string_view line, std::string& name, std::string_view& value) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  name = LowerCase(Trim(line.substr(0, colon)));
  value = line.substr(colon + 1);
  return true;
}

std::string FirstToken(std::string_view value) {
  return ParseContentValue(value).token;
}

// The text after the second space of a "begin mode name" line.
std::string TextAfterSecondSpace(std::string_view line) {
  const size_t first = line.find(' ');
  if (first == std::string_view::npos) return {};
  const size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return {};
  return std::string(line.substr(second + 1));
}

bool IsCutHereLine(std::string_view line) {
  return line.find("--") != std::string_view::npos && ContainsIgnoreCase(line, "cut here");
}

}  // namespace

void TMimeDecode::Reset() {
  state_ = State::MessageHeader;
  current_storage_.clear();
  current_ = {};
  raw_lines_.clear();
  lines_read_ = line_index_ = raw_index_ = 0;
  pending_ = header_begun_ = part_header_seen_ = part_data_seen_ = body_begun_ = false;
  at_end_ = ended_by_body_line_ = uu_open_ = false;
  header_fields_ = 0;
  content_type_.clear();
  mime_boundary_.clear();
  boundary_.clear();
  encoding_.clear();
  part_content_type_.clear();
  part_encoding_.clear();
  part_number_ = 0;
  nested_boundaries_.clear();
  inline_file_name_.clear();
}

void TMimeDecode::DecodeStream(std::istream& stream) {
  Reset();
  std::string buffer;
  std::string chunk(64 * 1024, '\0');
  while (stream) {
    stream.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<size_t>(stream.gcount());
    if (got == 0) break;
    buffer.append(chunk.data(), got);
    size_t start = 0;
    for (size_t lf; (lf = buffer.find('\n', start)) != std::string::npos; start = lf + 1) {
      size_t end = lf;
      if (end > start && buffer[end - 1] == '\r') --end;
      Line(std::string_view(buffer).substr(start, end - start));
    }
    buffer.erase(0, start);
  }
  if (!buffer.empty()) Line(buffer);
  Finish();
}

void TMimeDecode::DecodeText(std::string_view text) {
  Reset();
  size_t start = 0;
  for (size_t lf; (lf = text.find('\n', start)) != std::string_view::npos; start = lf + 1) {
    size_t end = lf;
    if (end > start && text[end - 1] == '\r') --end;
    Line(text.substr(start, end - start));
  }
  if (start < text.size()) Line(text.substr(start));
  Finish();
}

void TMimeDecode::DecodeLines(const std::vector<std::string>& lines) {
  Reset();
  for (const std::string& line : lines) Line(line);
  Finish();
}

void TMimeDecode::Line(std::string_view line) {
  line_index_ = lines_read_++;
  if (state_ == State::MessageHeader || state_ == State::PartHeader)
    HeaderStateLine(line);
  else
    BodyStateLine(line);
}

void TMimeDecode::HeaderStateLine(std::string_view line) {
  const bool message = state_ == State::MessageHeader;
  const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
  if (continuation && pending_) {
    // Unfolding removes only the line break, so folded values (also quoted ones) keep their text.
    current_storage_.append(line);
    raw_lines_.emplace_back(line);
    return;
  }
  FlushHeaderLine();
  if (line.empty()) {
    EndHeader(line, false);
    return;
  }
  const bool field = line.find(':') != std::string_view::npos;
  // A line that is no field ends the header and starts the body: mail readers take it so, and
  // dropping it would lose the text. Before the first field such a line is dropped.
  if ((!message && continuation) || (!field && !continuation && (!message || header_fields_ > 0))) {
    EndHeader(line, true);
    BodyStateLine(line);
    return;
  }
  if (message) {
    if (!header_begun_) {
      header_begun_ = true;
      current_ = line;
      Fire(OnHeaderBegin);
    }
  } else if (!part_header_seen_) {
    part_header_seen_ = true;
    ++part_number_;
    current_ = line;
    Fire(OnPartHeaderBegin);
  }
  if (field) ++header_fields_;
  current_storage_.assign(line);
  raw_lines_.clear();
  raw_lines_.emplace_back(line);
  raw_index_ = line_index_;
  pending_ = true;
}

void TMimeDecode::FlushHeaderLine() {
  if (!pending_) return;
  pending_ = false;
  current_ = current_storage_;
  if (state_ == State::MessageHeader) {
    ExamineMessageHeaderLine();
    Fire(OnHeaderLine);
  } else {
    ExaminePartHeaderLine();
    Fire(OnPartHeaderLine);
  }
}

void TMimeDecode::EndHeader(std::string_view line, bool by_body_line) {
  current_ = line;
  raw_lines_.clear();
  ended_by_body_line_ = by_body_line;
  if (state_ == State::MessageHeader) {
    Fire(OnHeaderEnd);
    if (!mime_boundary_.empty()) {
      Fire(OnPartBegin);
      state_ = State::WaitForBoundary;
    } else {
      state_ = State::MessageBody;
    }
  } else {
    if (!part_header_seen_) {
      part_header_seen_ = true;
      ++part_number_;
      Fire(OnPartHeaderBegin);
    }
    Fire(OnPartHeaderEnd);
    state_ = State::PartBody;
  }
  ended_by_body_line_ = false;
}

TMimeDecode::BoundaryKind TMimeDecode::MatchBoundary(std::string_view line) const {
  if (line.size() < 2 || line[0] != '-' || line[1] != '-' || mime_boundary_.empty())
    return BoundaryKind::None;
  // White space after a delimiter is transport padding.
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  auto matches = [&line](const std::string& boundary, bool closing) {
    const size_t size = boundary.size() + (closing ? 2 : 0);
    if (line.size() != size || !StartsWithIgnoreCase(line, boundary)) return false;
    return !closing || line.substr(boundary.size()) == "--";
  };
  if (matches(mime_boundary_, false)) return BoundaryKind::Delimiter;
  if (matches(mime_boundary_, true)) return BoundaryKind::OuterClose;
  for (const std::string& inner : nested_boundaries_) {
    if (matches(inner, false)) return BoundaryKind::Delimiter;
    if (matches(inner, true)) return BoundaryKind::InnerClose;
  }
  return BoundaryKind::None;
}

void TMimeDecode::BodyStateLine(std::string_view line) {
  current_ = line;
  switch (state_) {
    case State::MessageBody:
      if (!body_begun_) {
        body_begun_ = true;
        Fire(OnPartBegin);
      }
      Deliver(line, encoding_);
      return;
    case State::WaitForBoundary: {
      const BoundaryKind kind = MatchBoundary(line);
      if (kind == BoundaryKind::Delimiter || kind == BoundaryKind::OuterClose)
        StartPart(kind);
      else
        DeliverRaw(line);  // the preamble
      return;
    }
    case State::PartBody: {
      const BoundaryKind kind = MatchBoundary(line);
      if (kind != BoundaryKind::None) {
        StartPart(kind);
        return;
      }
      if (!part_data_seen_) {
        part_data_seen_ = true;
        Fire(OnPartBegin);
      }
      Deliver(line, part_encoding_);
      return;
    }
    case State::InnerEpilogue: {
      const BoundaryKind kind = MatchBoundary(line);
      if (kind != BoundaryKind::None)
        StartPart(kind);
      else
        DeliverRaw(line);
      return;
    }
    case State::Epilogue:
      DeliverRaw(line);
      return;
    case State::MessageHeader:
    case State::PartHeader:
      return;
  }
}

void TMimeDecode::StartPart(BoundaryKind kind) {
  Fire(OnPartEnd);
  part_content_type_.clear();
  part_encoding_.clear();
  part_header_seen_ = part_data_seen_ = uu_open_ = false;
  inline_file_name_.clear();
  switch (kind) {
    case BoundaryKind::Delimiter:
      state_ = State::PartHeader;
      break;
    case BoundaryKind::InnerClose:
      state_ = State::InnerEpilogue;
      break;
    case BoundaryKind::OuterClose:
    case BoundaryKind::None:
      state_ = State::Epilogue;
      break;
  }
}

void TMimeDecode::Finish() {
  if (state_ == State::MessageHeader || state_ == State::PartHeader) FlushHeaderLine();
  at_end_ = true;
  current_ = {};
  if (state_ == State::MessageHeader) EndHeader({}, false);
  // A part left open by a missing closing delimiter ends with the stream as well.
  if (state_ == State::MessageBody || state_ == State::PartHeader || state_ == State::PartBody)
    Fire(OnPartEnd);
  at_end_ = false;
}

std::optional<std::string> TMimeDecode::ExamineHeaderLine(std::string& contentType,
                                                          std::string& encoding) const {
  std::string name;
  std::string_view value;
  if (!SplitField(current_, name, value)) return std::nullopt;
  if (name == "content-transfer-encoding") encoding = FirstToken(value);
  if (name != "content-type") return std::nullopt;
  const ContentValue content = ParseContentValue(value);
  contentType = content.token;
  const std::string* boundary = content.Find("boundary");
  if (!contentType.starts_with("multipart/") || !boundary) return std::string();
  return *boundary;
}

void TMimeDecode::ExamineMessageHeaderLine() {
  if (const auto boundary = ExamineHeaderLine(content_type_, encoding_)) {
    boundary_ = *boundary;
    mime_boundary_ = boundary->empty() ? std::string() : "--" + LowerCase(*boundary);
  }
}

void TMimeDecode::ExaminePartHeaderLine() {
  const auto boundary = ExamineHeaderLine(part_content_type_, part_encoding_);
  if (boundary && !boundary->empty() && nested_boundaries_.size() < kMaxNestedBoundaries)
    nested_boundaries_.push_back("--" + LowerCase(*boundary));
}

void TMimeDecode::Deliver(std::string_view line, const std::string& encoding) {
  if (PartData == TPartData::Raw) {
    decoded_.assign(line);
  } else if (encoding == "base64") {
    decoded_.clear();
    AppendBase64DecodeLine(decoded_, line);
  } else if (encoding == "quoted-printable") {
    decoded_ = QPDecodeLine(line);
  } else if (encoding == "x-uuencode") {
    decoded_.clear();
    if (StartsWithIgnoreCase(line, "begin ") && !IsCutHereLine(line)) {
      uu_open_ = true;
    } else if (StartsWithIgnoreCase(line, "end") && !IsCutHereLine(line)) {
      uu_open_ = false;
    } else if (uu_open_) {
      decoded_ = UUDecodeLine(line);
    }
    // Marker lines and lines outside a block give no data, but are still reported.
    FireLine();
    return;
  } else {
    decoded_.assign(line);
  }
  if (!decoded_.empty()) {
    // Inline uuencoded blocks are reported; their lines are delivered all the same, since
    // nothing decodes them and the text must not lose them.
    const std::string_view data = decoded_;
    if (StartsWithIgnoreCase(data, "begin ") && !IsCutHereLine(data)) {
      inline_file_name_ = TextAfterSecondSpace(data);
      if (OnInlineDecodeBegin) OnInlineDecodeBegin(*this, inline_file_name_);
    } else if (!inline_file_name_.empty() && StartsWithIgnoreCase(data, "end") &&
               !IsCutHereLine(data)) {
      const std::string name = std::move(inline_file_name_);
      inline_file_name_.clear();
      if (OnInlineDecodeEnd) OnInlineDecodeEnd(*this, name);
    } else if (!inline_file_name_.empty()) {
      if (OnInlineDecodeLine) OnInlineDecodeLine(*this, data);
    }
  }
  FireLine();
}

void TMimeDecode::DeliverRaw(std::string_view line) {
  decoded_.assign(line);
  FireLine();
}

void TMimeDecode::FireLine() {
  if (OnPartLine) OnPartLine(*this, decoded_.c_str(), decoded_.size());
}

}  // namespace orvex
