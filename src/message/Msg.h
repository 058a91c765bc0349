// TMsg: one mail message as header fields, its decoded text and the untouched raw rest.
#pragma once

#include <string>
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
  // One name=value line per header field name, in order of first appearance.
  NameValueList Headers;
  // The whole message: the input of Parse and the output of Compose.
  std::vector<std::string> Lines;
  // The multipart boundary as written in the message header; empty when not multipart.
  std::string Boundary;
  // Raw lines before the text part, starting with the empty line that ends the header.
  std::vector<std::string> Head;
  // The decoded text of the first text/plain part, one line per text line.
  std::vector<std::string> Body;
  // Raw lines after the text part.
  std::vector<std::string> Tail;
  // The transfer encoding of the text part; Compose encodes Body back with it.
  TBodyEncoding BodyEncoding = TBodyEncoding::AsIs;

  // Empties Headers, Head, Body and Tail; Lines and Boundary are kept.
  void Clear();
  // Fills Headers, Boundary, Head, Body, Tail and BodyEncoding from Lines. Never rejects input:
  // whatever is not understood stays as raw lines.
  void Parse();
  // Rebuilds Lines from the parsed fields.
  void Compose();

 private:
  void HeaderLine();
  void HeaderEnd();
  void PartHeaderLine();
  void PartHeaderEnd();
  void PartLine(const char* data, std::size_t size);
  void PartEnd();
  void EnterTextIfPlain(const std::string& content_type, const std::string& encoding);
  std::vector<std::string>& RawTarget() { return State == TParseState::Head ? Head : Tail; }

  bool text_part_seen_ = false;
  std::string text_data_;  // the text part's encoded lines or decoded bytes, until it ends
};

}  // namespace orvex
