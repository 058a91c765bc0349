// What list mail costs per post: 10,000 posts of 4 KB handled in memory (no writes) with the list
// mail keys absent and with ListHeaders 1, BounceLimit 5 and FromRewrite 2 (no DNS), the two
// measured side by side in alternating runs; and the reading of a delivery report.
//
// usage: orvex_listmail_bench [directory] [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "message/Msg.h"
#include "platform/FileSystem.h"
#include "platform/SecureRandom.h"
#include "processing/Bounces.h"
#include "processing/Commit.h"
#include "processing/Inbox.h"
#include "store/Account.h"
#include "store/MessageNames.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kPosts = 10000;
constexpr int kSubscribers = 10000;

class NullLog final : public orvex::Logger {
 public:
  void WriteLog(std::string_view, orvex::LogColour) override {}
  void WriteAtCursor(std::string_view) override {}
};

std::string Post(int i) {
  const std::string member = std::to_string(i % kSubscribers);
  std::string text = "Received: from mx.example.net by pop.example.org\r\nFrom: Member " + member +
                     " <member" + member +
                     "@example.net>\r\nTo: birds@example.org\r\nSubject: Post number " +
                     std::to_string(i) + "\r\nDate: Mon, 07 Dec 2026 01:00:00 +0100\r\n" +
                     "Message-Id: <post" + std::to_string(i) + "@example.net>\r\n\r\n";
  while (text.size() < 4096) text += "Sixty-odd characters of text that stand for the post.\r\n";
  return text;
}

std::string Report() {
  std::string text =
      "Return-Path: <>\r\nFrom: MAILER-DAEMON@relay.example.org\r\nTo: birds@example.org\r\n"
      "Subject: Undelivered Mail\r\nContent-Type: multipart/report; report-type=delivery-status;"
      " boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n";
  for (int i = 0; i < 10; ++i)
    text += "I'm sorry to have to inform you that your message could not\r\n";
  text +=
      "--b\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; relay\r\n\r\n"
      "Final-Recipient: rfc822; member7@example.net\r\nAction: failed\r\nStatus: 5.1.1\r\n\r\n"
      "--b\r\nContent-Type: message/rfc822\r\n\r\n" +
      Post(7) + "--b--\r\n";
  return text;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string base = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string list = base + "/orvex-listmail-bench/Data/birds/";
  std::filesystem::create_directories(list);
  std::string subscribers;
  for (int i = 0; i < kSubscribers; ++i)
    subscribers += "member" + std::to_string(i) + "@example.net=,abcdefghij\r\n";
  WriteFile(list + "subscribers.ini", subscribers);
  std::vector<std::string> posts;
  for (int i = 0; i < kPosts; ++i) posts.push_back(Post(i));
  const std::string settings =
      "[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n"
      "ControlAddress=birds-request@example.org\r\nDigestCount=1000000\r\n";

  orvex::SystemClock clock;
  orvex::SystemRandom random;
  NullLog log;
  orvex::MessageNamer namer(clock);
  const orvex::Environment env{clock, random, log, namer};

  auto handleAll = [&](const std::string& keys) {
    WriteFile(list + "maillist.ini", settings + keys);
    orvex::TAccount account;
    account.Load(list);
    orvex::CommitGroup group(account, env);
    orvex::ProcessingContext context{account, env, group};
    const auto start = Steady::now();
    for (const std::string& post : posts) {
      group.BeginMessage();
      orvex::ProcessMessage(context, post);
      group.EndMessage();
      if (group.MessageCount() >= orvex::kMessagesPerCommit) group.Abandon();
    }
    group.Abandon();
    return std::chrono::duration<double>(Steady::now() - start).count();
  };
  std::vector<double> off, on;
  for (int run = 0; run < runs; ++run) {
    off.push_back(handleAll(""));
    on.push_back(handleAll("ListHeaders=1\r\nBounceLimit=5\r\nFromRewrite=2\r\n"));
  }

  const std::string report = Report();
  std::vector<double> reading;
  for (int run = 0; run < runs; ++run) {
    const auto start = Steady::now();
    std::size_t found = 0;
    for (int i = 0; i < kPosts; ++i) {
      orvex::TMsg msg;
      msg.Lines = orvex::SplitLines(report);
      msg.Parse();
      found += orvex::FailedRecipients(msg).size();
    }
    if (found != kPosts) return 1;
    reading.push_back(std::chrono::duration<double>(Steady::now() - start).count());
  }
  std::filesystem::remove_all(base + "/orvex-listmail-bench");

  const double offMedian = Median(off), onMedian = Median(on);
  std::printf("posts: %d of 4 KB handled in memory, runs: %d (alternating)\n", kPosts, runs);
  std::printf("list mail keys absent        median %.3f s  %.0f posts/s\n", offMedian,
              kPosts / offMedian);
  std::printf("ListHeaders, BounceLimit, FromRewrite 2  median %.3f s  %.0f posts/s  ratio %.3f\n",
              onMedian, kPosts / onMedian, onMedian / offMedian);
  std::printf("delivery report parse + read median %.1f us per report\n",
              Median(reading) / kPosts * 1e6);
  return 0;
}
