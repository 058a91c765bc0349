// Benchmark of TMsg parse + compose: (a) a 4 KB plain post, (b) a 20 MB message with a base64
// attachment. Prints medians of several runs and the peak memory of (b). Not a test.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "message/Codecs.h"
#include "message/Msg.h"
#include "store/NameValueList.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string PlainPost() {
  std::string text =
      "Received: from mail.example.org (mail.example.org [192.0.2.1])\r\n\tby mx.example.net with "
      "ESMTP id 12345\r\n"
      "\tfor <list@example.net>; Mon, 1 Jan 2024 10:00:00 +0000\r\n"
      "Received: from [10.0.0.2] by mail.example.org; Mon, 1 Jan 2024 09:59:59 +0000\r\n"
      "From: Ann Example <ann@example.org>\r\nTo: list@example.net\r\nSubject: Re: the meeting "
      "next week\r\n"
      "Date: Mon, 1 Jan 2024 10:00:00 +0000\r\nMessage-ID: <20240101100000.12345@example.org>\r\n"
      "MIME-Version: 1.0\r\nContent-Type: text/plain; "
      "charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
  int n = 0;
  while (text.size() < 4096 - 80)
    text += "Line " + std::to_string(++n) +
            " of the post: some ordinary words that people write to lists.\r\n";
  return text;
}

std::string BigMessage(std::size_t attachment_bytes) {
  std::string text =
      "From: Ann Example <ann@example.org>\r\nTo: list@example.net\r\nSubject: the "
      "file\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"=_b1\"\r\n\r\n--=_b1\r\nContent-Type: "
      "text/plain\r\n\r\n"
      "Here is the file.\r\n--=_b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n";
  std::string data(attachment_bytes, '\0');
  unsigned state = 12345;
  for (char& c : data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  const std::string encoded = orvex::Base64Encode(data);
  text.reserve(text.size() + encoded.size() + encoded.size() / 76 * 2 + 64);
  for (std::size_t pos = 0; pos < encoded.size(); pos += 76)
    text.append(encoded, pos, 76).append("\r\n");
  text += "--=_b1--\r\n";
  return text;
}

// One message as the list distribution handles it: text -> lines -> parse -> change -> compose ->
// text.
std::size_t RoundTrip(const std::string& text) {
  orvex::TMsg msg;
  msg.Lines = orvex::SplitLines(text);
  msg.Parse();
  msg.Body.emplace_back("-- ");
  msg.Body.emplace_back("Sent through the list");
  msg.Headers.SetValue("Reply-To", "list@example.net");
  msg.Compose();
  return orvex::JoinLines(msg.Lines).size();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  return 0;
}

// Peak memory of one round trip, measured in a process of its own: everything the message costs
// while it is handled (its text, its lines, the parsed fields and the composed lines) and what
// parse + compose add to the lines the caller holds.
int PeakMemory() {
  const long before = StatusKb("VmRSS:");
  std::string text = BigMessage(15 * 1024 * 1024);
  const double size = static_cast<double>(text.size());
  orvex::TMsg msg;
  msg.Lines = orvex::SplitLines(text);
  std::string().swap(text);  // the caller keeps the lines, not the file text
  const long loaded = StatusKb("VmRSS:");
  const long peak_loading = StatusKb("VmHWM:");
  // Start the peak again from what is held now, so that the second figure is parse + compose's
  // own (without it, the loading peak, when text and lines were both held, would count there).
  {
    std::ofstream clear_refs("/proc/self/clear_refs");
    clear_refs << "5\n";
  }
  msg.Parse();
  msg.Body.emplace_back("-- ");
  msg.Headers.SetValue("Reply-To", "list@example.net");
  msg.Compose();
  const long peak = StatusKb("VmHWM:");
  std::printf(
      "(b) peak memory: %.2fx the message size in all (text, lines, parse, compose); "
      "parse + compose add %.2fx to the lines held (%.2fx); loading (text and lines) %.2fx\n",
      (std::max(peak, peak_loading) - before) * 1024.0 / size, (peak - loaded) * 1024.0 / size,
      (loaded - before) * 1024.0 / size, (peak_loading - before) * 1024.0 / size);
  return msg.Lines.empty() ? 1 : 0;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--peak-memory") return PeakMemory();
  const std::string post = PlainPost();
  std::vector<double> rates, cpu_rates;
  std::size_t sink = 0;
  for (int run = 0; run < 7; ++run) {
    const int count = 20000;
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    for (int i = 0; i < count; ++i) sink += RoundTrip(post);
    rates.push_back(count / std::chrono::duration<double>(Clock::now() - start).count());
    cpu_rates.push_back(count / (CpuSeconds() - cpu));
  }
  std::printf(
      "(a) %zu-byte plain post: median %.0f messages/s wall, %.0f per CPU second (7 runs of "
      "20000)\n",
      post.size(), Median(rates), Median(cpu_rates));

  const std::string big = BigMessage(15 * 1024 * 1024);
  const std::vector<std::string> big_lines = orvex::SplitLines(big);
  std::vector<double> parse_speeds, parse_cpu_speeds;
  for (int run = 0; run < 5; ++run) {
    orvex::TMsg msg;
    msg.Lines = big_lines;
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    msg.Parse();
    msg.Body.emplace_back("-- ");
    msg.Headers.SetValue("Reply-To", "list@example.net");
    msg.Compose();
    const double size = static_cast<double>(big.size()) / 1e6;
    parse_speeds.push_back(size / std::chrono::duration<double>(Clock::now() - start).count());
    parse_cpu_speeds.push_back(size / (CpuSeconds() - cpu));
    sink += msg.Lines.size();
  }
  std::printf(
      "(b) %.1f MB message with a base64 attachment, Parse + Compose: median %.0f MB/s wall, %.0f "
      "MB per CPU "
      "second (5 runs)\n",
      static_cast<double>(big.size()) / 1e6, Median(parse_speeds), Median(parse_cpu_speeds));
  std::vector<double> speeds, cpu_speeds;
  for (int run = 0; run < 5; ++run) {
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    sink += RoundTrip(big);
    const double size = static_cast<double>(big.size()) / 1e6;
    speeds.push_back(size / std::chrono::duration<double>(Clock::now() - start).count());
    cpu_speeds.push_back(size / (CpuSeconds() - cpu));
  }
  std::printf(
      "(b) the same from text to text (split, parse, compose, join): median %.0f MB/s wall, %.0f "
      "MB per "
      "CPU second (5 runs)\n",
      Median(speeds), Median(cpu_speeds));
  std::fflush(stdout);

  const pid_t child = fork();
  if (child == 0) {
    execl("/proc/self/exe", argv[0], "--peak-memory", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return sink == 0 ? 1 : 0;
}
