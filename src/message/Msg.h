// TMsg: one mail message as header fields, its decoded text and the untouched raw rest.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "message/MimeDecode.h"
#include "store/NameValueList.h"

namespace orvex {

enum class TBodyEncoding { AsIs, Base64, QuotedPrintable };

class TMsg {
 public:
  // Where the next body line goes while parsing.
  enum class TParseState { Head, Text, Tail };

  TMimeDecode Decoder;
  TParseState State = TParseState::Head;
  // One name=value line per header field name, in order of first appearance. A "=" in a field
  // name is held as ":" (which no field name can hold), so that the line's name stays whole.
  NameValueList Headers;
  // The whole message: the input of Parse and the output of Compose. Parse keeps the raw lines
  // where they are instead of copying them, so Lines must hold what Parse read until Compose.
  std::vector<std::string> Lines;
  // The multipart boundary as written in the message header; empty when not multipart.
  std::string Boundary;
  // The decoded text of the first text/plain part, one line per text line.
  std::vector<std::string> Body;
  // The transfer encoding of the text part; Compose encodes Body back with it.
  TBodyEncoding BodyEncoding = TBodyEncoding::AsIs;

  // Empties Headers, the raw lines, Body; Lines and Boundary are kept.
  void Clear();
  // Fills Headers, Boundary, Body, BodyEncoding and the raw lines from Lines. Never rejects
  // input: whatever is not understood stays as raw lines.
  void Parse();
  // Rebuilds Lines from the parsed fields. The raw lines move from the old Lines into the new
  // ones, so Compose may be called again after further changes.
  void Compose();

  // Raw lines before the text part, starting with the empty line that ends the header.
  std::vector<std::string> Head() const { return RawLines(head_); }
  // Raw lines after the text part.
  std::vector<std::string> Tail() const { return RawLines(tail_); }

  // The stored form of a field name as written in a message, and the reverse.
  static std::string StoredFieldName(std::string_view name);
  static std::string WrittenFieldName(std::string_view name);

 private:
  void HeaderLine();
  void HeaderEnd();
  void PartHeaderLine();
  void PartHeaderEnd();
  void PartLine(const char* data, std::size_t size);
  void PartEnd();
  void EnterTextIfPlain(const std::string& content_type, const std::string& encoding);
  // A raw line is the index of its line in Lines, or kEmptyLine for an empty line of its own.
  static constexpr std::size_t kEmptyLine = static_cast<std::size_t>(-1);
  std::vector<std::size_t>& RawTarget() { return State == TParseState::Head ? head_ : tail_; }
  std::vector<std::string> RawLines(const std::vector<std::size_t>& refs) const;
  void MoveRawLines(std::vector<std::size_t>& refs, std::vector<std::string>& out);

  std::vector<std::size_t> head_;
  std::vector<std::size_t> tail_;
  std::size_t parsed_lines_ = 0;  // the size of Lines that head_ and tail_ refer to
  bool text_part_seen_ = false;
  // The text part's header was ended by no empty line (the next delimiter followed at once), and
  // no line of the part came yet: a text written there needs that empty line first.
  bool text_header_open_ = false;
  std::string text_data_;  // the text part's encoded lines or decoded bytes, until it ends
};

}  // namespace orvex
