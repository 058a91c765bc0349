// Settings text is bytes; widgets show QString. These helpers cross that boundary so that a value
// the operator did not edit goes back to the file byte for byte.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace orvex {

// How stored bytes were turned into the text shown: UTF-8 where the bytes are valid UTF-8,
// otherwise one character per byte (so every byte survives and can be given back).
enum class TextEncoding { Utf8, Latin1 };

TextEncoding EncodingOf(std::string_view bytes);
QString DecodeText(std::string_view bytes);
// Text of a value that was stored with `encoding`: an 8-bit value stays 8-bit as long as every
// character fits in a byte; anything else is written as UTF-8.
std::string EncodeText(const QString& text, TextEncoding encoding = TextEncoding::Utf8);

// One stored value and the text a widget showed for it.
class FieldText {
 public:
  FieldText() = default;
  // `shown` is what the widget holds right after it was given the decoded bytes.
  FieldText(std::string bytes, QString shown);
  static FieldText FromBytes(std::string bytes);

  const std::string& Bytes() const { return bytes_; }
  const QString& Shown() const { return shown_; }
  // The bytes to store for the widget's current text: the stored bytes while the text is what
  // was shown, otherwise the new text in the value's encoding.
  std::string BytesFor(const QString& current) const;

 private:
  std::string bytes_;
  QString shown_;
};

}  // namespace orvex
