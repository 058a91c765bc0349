// The three digest formats: plain text, multipart/alternative and multipart/digest.
#include "processing/Digest.h"

#include <string>
#include <vector>

#include "message/Msg.h"
#include "platform/FileSystem.h"
#include "processing/Address.h"
#include "processing/Inbox.h"
#include "processing/Notices.h"
#include "store/FailedMail.h"

namespace orvex {
namespace {

constexpr std::string_view kGeneral = "General";
constexpr std::string_view kDelimiter = "--=-=-=-=-=";

// A Digest entry that can never be read as a post is moved to Failed, or passed over when it
// cannot be moved; either way with one log line.
void SetAside(const ProcessingContext& context, const std::string& path, const std::string& why) {
  try {
    const std::string moved = MoveToFailed(context.list.ListDir(), path);
    context.env.log.WriteLog("Digest file " + path + " moved to " + moved + ": " + why,
                             LogColour::Red);
  } catch (const std::exception& error) {
    context.env.log.WriteLog("Digest file " + path + " passed over: " + why + "; " + error.what(),
                             LogColour::Red);
  }
}

}  // namespace

bool DigestDue(const TAccount& list) {
  const std::string directory = list.ListDir() + "Digest/";
  CreateDirectoryOnce(directory);
  const long long wanted = list.Config().ReadInteger(kGeneral, "DigestCount", 20);
  if (wanted <= 0) return true;
  long long count = 0;
  for (const DirectoryEntry& entry : ListDirectory(directory))
    if (IsMessageFileName(entry.name) && ++count >= wanted) return true;
  return false;
}

void BuildDigest(ProcessingContext& context) {
  TAccount& list = context.list;
  const std::string directory = list.ListDir() + "Digest/";
  const long long format = list.Config().ReadInteger(kGeneral, "Digest mode", 1);
  const bool multipart = format == 2 || format == 3;
  NoticeVariables variables;

  std::vector<std::string> body;
  if (multipart) {
    body.emplace_back(kDelimiter);
    body.emplace_back("Content-Type: text/plain");
  }
  body.emplace_back();
  body.push_back(SubstitutePlaceholders(list, TemplateText(list, "Digest"), variables));
  body.push_back(SignatureText(list));
  if (multipart) body.emplace_back(kDelimiter);

  const std::string itemTemplate = TemplateText(list, "Digest message");
  std::size_t collected = 0;
  for (const DirectoryEntry& entry : ListDirectory(directory)) {
    if (!IsMessageFileName(entry.name)) continue;
    if (collected >= kMaximumDigestBytes) break;
    const std::string path = directory + entry.name;
    RegularFileRead read = ReadRegularFile(path, kMaximumMessageBytes);
    switch (read.outcome) {
      case RegularFileRead::Outcome::Read:
        break;
      case RegularFileRead::Outcome::Missing:
        continue;  // gone since the scan
      case RegularFileRead::Outcome::NotRegular:
        SetAside(context, path, "it is not a regular file");
        continue;
      case RegularFileRead::Outcome::TooLarge:
        SetAside(context, path,
                 "it is larger than " + std::to_string(kMaximumMessageBytes) + " bytes");
        continue;
      case RegularFileRead::Outcome::Failed:
        // The posts wait in Digest for the next pass; nothing is published without them.
        throw SystemError("Cannot read " + path, read.error);
    }
    const std::string* text = &read.content;
    collected += text->size();
    if (format == 3) {
      body.emplace_back("Content-Type: message/rfc822");
      body.emplace_back();
      for (std::string& line : SplitLines(*text)) body.push_back(std::move(line));
      body.emplace_back(kDelimiter);
    } else {
      TMsg post;
      post.Lines = SplitLines(*text);
      post.Parse();
      if (format == 2) {
        const std::string type = post.Headers.Value("Content-type");
        body.push_back(UpperCase(type).starts_with("TEXT/PLAIN") ? "Content-Type: " + type
                                                                 : "Content-Type: text/plain");
        body.emplace_back();
      }
      variables.AddMessage(post);
      body.push_back(SubstitutePlaceholders(list, itemTemplate, variables));
      if (format == 2) body.emplace_back(kDelimiter);
    }
    context.commit.RemoveOnCommit("Digest/" + entry.name);
  }
  if (multipart) body.back() += "--";

  const std::string subject =
      SubstitutePlaceholders(list, TemplateSubject(list, "Digest"), variables);
  const std::string contentType = format == 2   ? "multipart/alternative; boundary=\"=-=-=-=-=\""
                                  : format == 3 ? "multipart/digest; boundary=\"=-=-=-=-=\""
                                                : "text/plain";
  const std::string to =
      "\"" + list.Config().ReadString(kGeneral, "Name", "") + "\" <" + ListAddress(list) + ">";
  std::string file =
      ComposeNotice(context, to, subject, contentType, JoinLines(body), NoticeSender::ListAddress);
  file += "\r\n";
  context.commit.AddOutput(OutputDirectory::Outbox, ".dig", std::move(file));
  context.commit.Commit();
}

}  // namespace orvex
