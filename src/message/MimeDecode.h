// TMimeDecode: follows a message's MIME structure line by line and reports it through events.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Whether OnPartLine receives part lines decoded by their transfer encoding or as they stand.
enum class TPartData { Decoded, Raw };

class TMimeDecode {
 public:
  using TMimeDecodeEvent = std::function<void(TMimeDecode& sender)>;
  // Data is followed by a zero byte; DataLen does not count it.
  using TMimeDecodePartLine =
      std::function<void(TMimeDecode& sender, const char* Data, std::size_t DataLen)>;
  using TInlineDecodeBegin = std::function<void(TMimeDecode& sender, const std::string& Filename)>;
  using TInlineDecodeLine = std::function<void(TMimeDecode& sender, std::string_view Line)>;
  using TInlineDecodeEnd = std::function<void(TMimeDecode& sender, const std::string& Filename)>;

  // Events; one without a handler is skipped.
  TMimeDecodeEvent OnHeaderBegin;
  TMimeDecodeEvent OnHeaderLine;
  TMimeDecodeEvent OnHeaderEnd;
  TMimeDecodeEvent OnPartHeaderBegin;
  TMimeDecodeEvent OnPartHeaderLine;
  TMimeDecodeEvent OnPartHeaderEnd;
  TMimeDecodeEvent OnPartBegin;
  TMimeDecodePartLine OnPartLine;
  TMimeDecodeEvent OnPartEnd;
  TInlineDecodeBegin OnInlineDecodeBegin;
  TInlineDecodeLine OnInlineDecodeLine;
  TInlineDecodeEnd OnInlineDecodeEnd;

  // A handler that keeps only raw lines for a while may switch decoding off meanwhile.
  TPartData PartData = TPartData::Decoded;

  // Reads the stream to its end; a line ends at LF, and a CR right before the LF is removed.
  void DecodeStream(std::istream& stream);
  // The same for a text held in memory.
  void DecodeText(std::string_view text);
  // The same for a text already cut into lines (each element one line, without its line end).
  void DecodeLines(const std::vector<std::string>& lines);

  // Values for the handlers while an event runs.
  // The line being processed without its line end; header lines unfolded (only the line breaks
  // removed). Empty for the events fired at the end of the stream.
  std::string_view CurrentData() const { return current_; }
  // The physical lines of the current header line as they stood, before unfolding.
  const std::vector<std::string>& CurrentRawLines() const { return raw_lines_; }
  // Where the current line stands in the input (0 for the first line), so that a handler can refer
  // to an input line instead of copying it; for a header line, where its first physical line
  // stands.
  std::size_t CurrentLineIndex() const { return line_index_; }
  std::size_t CurrentRawLinesIndex() const { return raw_index_; }
  // True for the events fired after the last line, when no line is current.
  bool AtEndOfStream() const { return at_end_; }
  // True in OnHeaderEnd / OnPartHeaderEnd when the header was ended by a line that is not a
  // header field; that line follows as the first body line.
  bool HeaderEndedByBodyLine() const { return ended_by_body_line_; }
  // True while a part header is being read: in OnPartEnd at the end of the stream, the stream
  // ended inside a part header (after a delimiter, before the empty line that ends the header).
  bool InPartHeader() const { return state_ == State::PartHeader; }

  const std::string& ContentType() const { return content_type_; }
  // "--" and the boundary, in lower case; empty when the message is not multipart.
  const std::string& MimeBoundary() const { return mime_boundary_; }
  // The boundary as written in the message header (letter case kept).
  const std::string& Boundary() const { return boundary_; }
  const std::string& Encoding() const { return encoding_; }
  const std::string& PartContentType() const { return part_content_type_; }
  const std::string& PartEncoding() const { return part_encoding_; }
  int PartNumber() const { return part_number_; }

  // Inner multiparts past this depth are not followed; their lines are delivered as part lines.
  static constexpr std::size_t kMaxNestedBoundaries = 100;

 private:
  enum class State {
    MessageHeader,
    MessageBody,
    WaitForBoundary,
    PartHeader,
    PartBody,
    InnerEpilogue,
    Epilogue
  };
  enum class BoundaryKind { None, Delimiter, InnerClose, OuterClose };

  void Reset();
  void Line(std::string_view line);
  void Finish();
  void HeaderStateLine(std::string_view line);
  void FlushHeaderLine();
  void EndHeader(std::string_view line, bool by_body_line);
  void BodyStateLine(std::string_view line);
  BoundaryKind MatchBoundary(std::string_view line) const;
  void StartPart(BoundaryKind kind);
  // The fields the decoder follows in a message or part header: the content type and the transfer
  // encoding. For a Content-Type line, gives the boundary of a multipart type (empty for any other
  // type or none given); nothing for any other line.
  std::optional<std::string> ExamineHeaderLine(std::string& contentType,
                                               std::string& encoding) const;
  void ExamineMessageHeaderLine();
  void ExaminePartHeaderLine();
  void Deliver(std::string_view line, const std::string& encoding);
  void DeliverRaw(std::string_view line);
  void FireLine();
  void Fire(const TMimeDecodeEvent& event) {
    if (event) event(*this);
  }

  State state_ = State::MessageHeader;
  std::string current_storage_;
  std::string_view current_;
  std::vector<std::string> raw_lines_;
  std::size_t lines_read_ = 0;
  std::size_t line_index_ = 0;
  std::size_t raw_index_ = 0;
  bool pending_ = false;  // a header line waits for its possible continuation lines
  bool header_begun_ = false;
  bool part_header_seen_ = false;
  bool part_data_seen_ = false;
  bool body_begun_ = false;
  int header_fields_ = 0;
  bool at_end_ = false;
  bool ended_by_body_line_ = false;
  bool uu_open_ = false;
  std::string decoded_;

  std::string content_type_, mime_boundary_, boundary_, encoding_;
  std::string part_content_type_, part_encoding_;
  int part_number_ = 0;
  std::vector<std::string> nested_boundaries_;
  std::string inline_file_name_;
};

}  // namespace orvex
