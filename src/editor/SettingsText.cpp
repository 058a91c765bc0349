// Conversion between stored bytes and widget text.
#include "editor/SettingsText.h"

#include <QStringDecoder>

namespace orvex {

TextEncoding EncodingOf(std::string_view bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text =
      decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return decoder.hasError() ? TextEncoding::Latin1 : TextEncoding::Utf8;
}

QString DecodeText(std::string_view bytes) {
  const auto size = static_cast<qsizetype>(bytes.size());
  return EncodingOf(bytes) == TextEncoding::Utf8 ? QString::fromUtf8(bytes.data(), size)
                                                 : QString::fromLatin1(bytes.data(), size);
}

std::string EncodeText(const QString& text, TextEncoding encoding) {
  if (encoding == TextEncoding::Latin1) {
    bool fits = true;
    for (QChar c : text)
      if (c.unicode() > 0xFF) fits = false;
    if (fits) return text.toLatin1().toStdString();
  }
  return text.toUtf8().toStdString();
}

FieldText::FieldText(std::string bytes, QString shown)
    : bytes_(std::move(bytes)), shown_(std::move(shown)) {}

FieldText FieldText::FromBytes(std::string bytes) {
  QString shown = DecodeText(bytes);
  return FieldText(std::move(bytes), std::move(shown));
}

std::string FieldText::BytesFor(const QString& current) const {
  if (current == shown_) return bytes_;
  return EncodeText(current, EncodingOf(bytes_));
}

}  // namespace orvex
