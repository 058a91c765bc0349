// orvex-msgroundtrip: parses a message file, appends a signature to its text, sets "Reply-To",
// composes it and writes the result, as the list distribution does. Used by the corpus check.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "message/Msg.h"
#include "platform/FileSystem.h"
#include "store/NameValueList.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: orvex-msgroundtrip INPUT OUTPUT REPLY-TO [SIGNATURE-LINE...]\n");
    return 2;
  }
  try {
    const std::optional<std::string> text = orvex::ReadWholeFile(argv[1]);
    if (!text) {
      std::fprintf(stderr, "orvex-msgroundtrip: cannot read %s\n", argv[1]);
      return 1;
    }
    orvex::TMsg msg;
    msg.Lines = orvex::SplitLines(*text);
    msg.Parse();
    for (int i = 4; i < argc; ++i) msg.Body.emplace_back(argv[i]);
    msg.Headers.SetValue("Reply-To", argv[3]);
    msg.Compose();
    orvex::ReplaceFileAtomically(argv[2], orvex::JoinLines(msg.Lines));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvex-msgroundtrip: %s\n", e.what());
    return 1;
  }
  return 0;
}
