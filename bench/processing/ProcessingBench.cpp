// Inbox processing throughput: 10,000 posts of 4 KB from members of a list of 10,000
// subscribers, handled into Outbox and Digest with the durability of the real service (group
// commits with one file system sync). Also shows where the time goes: reading and handling in
// memory without any write, and what one sync per output file would cost instead.
//
// usage: orvex_processing_bench [directory] [runs]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SecureRandom.h"
#include "processing/Commit.h"
#include "processing/Inbox.h"
#include "store/Account.h"
#include "store/MessageNames.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kSubscribers = 10000;
constexpr int kPosts = 10000;

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

void WriteFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

void Prepare(const std::string& list) {
  for (const char* sub : {"Inbox", "Outbox", "Digest", "Failed", "Staging"})
    std::filesystem::remove_all(list + sub);
  std::filesystem::create_directories(list + "Inbox");
  for (int i = 0; i < kPosts; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%014X.msg", i + 1);
    WriteFile(list + "Inbox/" + name, Post(i));
  }
  ::sync();
}

double Seconds(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// User and system processor time of this process so far.
double ProcessorSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string base = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::string list = base + "/orvex-processing-bench/Data/birds/";
  std::filesystem::create_directories(list);
  WriteFile(
      list + "maillist.ini",
      "[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n"
      "ControlAddress=birds-request@example.org\r\nDigestCount=1000000\r\n"
      "[Signature]\r\nText=\"____\\13\\10{Listname}\\13\\10Send posts to {listaddress}\"\r\n");
  std::string subscribers;
  for (int i = 0; i < kSubscribers; ++i)
    subscribers += "member" + std::to_string(i) + "@example.net=,abcdefghij\r\n";
  WriteFile(list + "subscribers.ini", subscribers);

  orvex::SystemClock clock;
  orvex::SystemRandom random;
  NullLog log;
  orvex::MessageNamer namer(clock);
  const orvex::Environment env{clock, random, log, namer};

  std::vector<double> full, handling, processor;
  for (int run = 0; run < runs; ++run) {
    // Reading and handling in memory only: every group is abandoned instead of committed.
    Prepare(list);
    {
      orvex::TAccount account;
      account.Load(list);
      orvex::CommitGroup group(account, env);
      orvex::ProcessingContext context{account, env, group};
      const auto start = Steady::now();
      for (const auto& entry : orvex::ListDirectory(list + "Inbox/")) {
        const auto text = orvex::ReadWholeFile(list + "Inbox/" + entry.name);
        group.BeginMessage();
        orvex::ProcessMessage(context, *text);
        group.EndMessage();
        if (group.MessageCount() >= orvex::kMessagesPerCommit) group.Abandon();
      }
      group.Abandon();
      handling.push_back(Seconds(start));
    }
    // The real pass.
    {
      orvex::TAccount account;
      account.Load(list);
      const auto start = Steady::now();
      const double cpu = ProcessorSeconds();
      orvex::ProcessInbox(account, env);
      full.push_back(Seconds(start));
      processor.push_back(ProcessorSeconds() - cpu);
    }
    const auto outbox = orvex::ListDirectory(list + "Outbox/").size();
    const auto digest = orvex::ListDirectory(list + "Digest/").size();
    const auto inbox = orvex::ListDirectory(list + "Inbox/").size();
    if (outbox != kPosts || digest != kPosts || inbox != 0) {
      std::fprintf(stderr, "run %d: Outbox %zu, Digest %zu, Inbox %zu\n", run, outbox, digest,
                   inbox);
      return 1;
    }
  }

  // One synced file per output, the way a message-at-a-time commit would write (1,000 posts).
  constexpr int kSyncedPosts = 1000;
  const std::string synced = base + "/orvex-processing-bench/synced/";
  std::filesystem::remove_all(synced);
  std::filesystem::create_directories(synced);
  const std::string post = Post(1);
  const auto start = Steady::now();
  for (int i = 0; i < kSyncedPosts; ++i) {
    orvex::CreateNewFile(synced + std::to_string(i) + ".msg", post);
    orvex::CreateNewFile(synced + std::to_string(i) + ".dig", post);
  }
  const double perPostSynced = Seconds(start) / kSyncedPosts;
  std::filesystem::remove_all(base + "/orvex-processing-bench");

  const double fullMedian = Median(full);
  const double handlingMedian = Median(handling);
  std::printf("posts: %d of 4 KB, subscribers: %d, runs: %d\n", kPosts, kSubscribers, runs);
  std::printf("full pass (group commits)    median %.3f s  %.0f posts/s\n", fullMedian,
              kPosts / fullMedian);
  std::printf(
      "full pass, processor time     median %.3f s  (the rest is waiting for the disk and the "
      "CPU)\n",
      Median(processor));
  std::printf("read + handle, no writes     median %.3f s  %.0f posts/s  (%.0f%% of the pass)\n",
              handlingMedian, kPosts / handlingMedian, 100.0 * handlingMedian / fullMedian);
  std::printf("writes, syncs, renames       median %.3f s  (rest of the pass)\n",
              fullMedian - handlingMedian);
  std::printf("one synced file per output   %.3f ms per post  -> %.0f posts/s at best\n",
              perPostSynced * 1000, 1 / perPostSynced);
  return 0;
}
