// Delivery speed: fills a list's Outbox with `messages` posts for `recipients` subscribers and
// times DeliverOutbox against the SMTP server at 127.0.0.1:<port> (a sink). Prints one line per
// run with the seconds taken by the delivery alone.
//
//   orvex_transport_bench <port> <recipients> <messages> <body bytes> <runs> <work dir> [security]
//
// `security` is the list's SmtpSecurity (0 plain, the default; 1 STARTTLS; 2 implicit TLS); the
// server's certificate must be trusted for 127.0.0.1 (SSL_CERT_FILE).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/DateTime.h"
#include "platform/Logger.h"
#include "platform/SecureRandom.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "transport/SmtpDelivery.h"

namespace {

class CountingLogger final : public orvex::Logger {
 public:
  void WriteLog(std::string_view text, orvex::LogColour colour) override {
    if (colour == orvex::LogColour::Red)
      std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    ++entries;
  }
  void WriteAtCursor(std::string_view) override {}
  int entries = 0;
};

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// A post of about `bytes` body bytes in lines of 72 characters, a few of them starting with a dot.
std::string Post(int number, int bytes) {
  std::string text = "From: writer@bench.test\r\nTo: list@bench.test\r\nSubject: post " +
                     std::to_string(number) + "\r\nMessage-ID: <" + std::to_string(number) +
                     "@bench.test>\r\n\r\n";
  int written = 0;
  for (int line = 0; written < bytes; ++line) {
    std::string row = line % 20 == 7 ? "." : "";
    row += std::string(72 - row.size(), static_cast<char>('a' + line % 26));
    text += row + "\r\n";
    written += static_cast<int>(row.size()) + 2;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 && argc != 8) {
    std::fprintf(stderr, "usage: %s port recipients messages body-bytes runs work-dir [security]\n",
                 argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int recipients = std::atoi(argv[2]);
  const int messages = std::atoi(argv[3]);
  const int bytes = std::atoi(argv[4]);
  const int runs = std::atoi(argv[5]);
  const int security = argc == 8 ? std::atoi(argv[7]) : 0;
  const std::filesystem::path list = std::filesystem::path(argv[6]) / "Data" / "Bench";
  std::filesystem::remove_all(list);
  std::filesystem::create_directories(list / "Outbox");
  WriteFile(list / "maillist.ini",
            "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(port) +
                "\r\nFrom=list@bench.test\r\nControlAddress=list-request@bench.test\r\n" +
                "SmtpSecurity=" + std::to_string(security) + "\r\n");
  std::string subscribers;
  for (int n = 1; n <= recipients; ++n)
    subscribers += "member" + std::to_string(n) + "@bench.test=\r\n";
  WriteFile(list / "subscribers.ini", subscribers);

  orvex::SystemClock clock;
  orvex::SystemRandom random;
  CountingLogger log;
  orvex::MessageNamer namer(clock);
  const orvex::Environment env{clock, random, log, namer};
  orvex::MailClient smtp(25);
  for (int run = 0; run < runs; ++run) {
    for (int m = 0; m < messages; ++m)
      WriteFile(list / "Outbox" / namer.NewMessageFileName((list / "Outbox").string() + "/"),
                Post(m, bytes));
    orvex::TAccount account;
    account.Load(list.string() + "/");
    const auto start = std::chrono::steady_clock::now();
    orvex::DeliverOutbox(account, smtp, env, [](const std::string& s) { return s; });
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!std::filesystem::is_empty(list / "Outbox")) {
      std::fprintf(stderr, "delivery left files in Outbox\n");
      return 1;
    }
    std::printf("%.6f\n", took.count());
    std::fflush(stdout);
  }
  return 0;
}
