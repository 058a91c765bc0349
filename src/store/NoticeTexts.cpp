// Notice texts are stored on one line with their line breaks written as "\13\10".
#include "store/NoticeTexts.h"

namespace orvex {
namespace {

constexpr std::string_view kEncodedBreak = "\\13\\10";

std::string DecodeBreaks(std::string_view stored) {
  std::string text;
  text.reserve(stored.size());
  std::size_t i = 0;
  while (i < stored.size()) {
    if (stored.substr(i, kEncodedBreak.size()) == kEncodedBreak) {
      text += "\r\n";
      i += kEncodedBreak.size();
    } else {
      text += stored[i++];
    }
  }
  return text;
}

}  // namespace

std::string ReadNoticeText(const IniFile& file, std::string_view section) {
  std::string text = ReadNoticeTextForEditor(file, section);
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
    text.resize(text.size() - 2);
  return text;
}

std::string ReadNoticeSubject(const IniFile& file, std::string_view section) {
  return file.ReadString(section, "Subject", "");
}

std::string ReadNoticeTextForEditor(const IniFile& file, std::string_view section) {
  return DecodeBreaks(file.ReadString(section, "Text", ""));
}

void WriteNoticeTextForEditor(IniFile& file, std::string_view section, std::string_view text) {
  std::string stored = "\"";
  stored.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      stored += kEncodedBreak;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      stored += c;
    }
  }
  stored += '"';
  file.WriteString(section, "Text", stored);
}

}  // namespace orvex
