// Pipelined transactions against relays that offer PIPELINING, the same outcomes as one command
// at a time, and messages over a relay's announced SIZE.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/Socket.h"
#include "store/Account.h"
#include "store/Environment.h"
#include "store/MessageNames.h"
#include "support/FakeSmtpRelay.h"
#include "support/Fakes.h"
#include "support/ScriptedServer.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"
#include "transport/SmtpDelivery.h"
#include "transport/SmtpSession.h"
#include "transport/StageFixture.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::FakeSmtpRelay;
using test::Hear;
using test::HearData;
using test::Say;
using test::ScriptedServer;
using Script = std::vector<test::ServerStep>;
using Lines = std::vector<std::string>;

Script Join(std::initializer_list<Script> parts) {
  Script all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Script Hears(std::size_t count) {
  return Script(count, Hear());
}
Script Says(const Lines& replies) {
  Script s;
  for (const auto& reply : replies) s.push_back(Say(reply));
  return s;
}
// A relay whose EHLO reply offers `extensions`.
Script Greeted(const Lines& extensions) {
  Script s{Say("220 relay ready"), Hear(), Say(extensions.empty() ? "250 relay" : "250-relay")};
  for (std::size_t i = 0; i < extensions.size(); ++i)
    s.push_back(Say((i + 1 == extensions.size() ? "250 " : "250-") + extensions[i]));
  return s;
}

class SmtpPipeliningTest : public test::StageFixture {
 protected:
  SmtpPipeliningTest() : StageFixture({"Outbox"}) {
    me_ = LocalHostName();
    clock_.Set({2026, 12, 7, 10, 0, 0, 0, 60});
  }

  void Deliver(const ScriptedServer& server, const Lines& members) {
    MailClient smtp(25, kLimits);
    SmtpSettings settings{{"127.0.0.1", server.Port()}, "sales@lists.test", "req@lists.test"};
    DeliverOutboxFiles(list_, settings, {members, {}}, {}, clock_, smtp, log_);
  }

  std::string me_;
};

// The fake reads the whole batch before it answers anything: a client that waited for the reply
// to MAIL FROM would stall until its time limit. The answers give the same progress record as
// the same answers one command at a time.
TEST_F(SmtpPipeliningTest, BatchArrivesWholeBeforeTheFirstReplyAndDeclaresTheSize) {
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n.dot\r\n");
  ScriptedServer server(
      {Join({Greeted({"PIPELINING", "SIZE 1000000"}),
             Hears(5),
             Says({"250 ok", "250 ok", "452 4.2.2 mailbox full", "550 5.1.1 unknown", "354 go"}),
             {HearData(), Say("250 queued"), Hear()}})});
  Deliver(server, {"a@x.test", "B@x.test", "c@x.test"});
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "ehlo " + me_, "MAIL FROM: <sales@lists.test> SIZE=13",
                   "RCPT TO: <a@x.test>", "RCPT TO: <B@x.test>", "RCPT TO: <c@x.test>", "DATA",
                   "post", "..dot", ".", "Quit"}));
  EXPECT_EQ(temp_.Read("Data/Sales/Outbox/A.msg.progress"),
            "Sent a@x.test\r\nRefused c@x.test\r\n");
  EXPECT_EQ(log_.Texts(LogColour::Red),
            (Lines{"Recipient <c@x.test> refused\r\n550 5.1.1 unknown",
                   "Recipient <B@x.test> deferred\r\n452 4.2.2 mailbox full"}));
}

// Mixed answers over several batches and two cycles: pipelined and one command at a time leave
// the same deliveries, progress records, files and red lines.
TEST_F(SmtpPipeliningTest, MixedAnswersGiveTheSameOutcomesAsOneCommandAtATime) {
  struct Run {
    std::map<std::string, int> firstCounts, finalCounts;
    std::string progress;
    Lines outbox, red;
    int sentAhead;
  };
  const auto member = [](int n) { return "m" + std::to_string(n) + "@x.test"; };
  const auto deliver = [&](bool pipelining) {
    const std::string name = pipelining ? "Piped" : "Lockstep";
    const std::string dir = temp_.MakeList(name);
    std::filesystem::create_directories(dir + "Outbox");
    std::string members;
    for (int n = 1; n <= 12; ++n) members += member(n) + "=\r\n";
    FakeSmtpRelay relay({.refusedForGood = {member(3), member(9)},
                         .deferred = {member(5), member(6), member(7), member(8)},
                         .pipelining = pipelining});
    temp_.Write("Data/" + name + "/maillist.ini",
                "[General]\r\nSmtpHost=127.0.0.1\r\nSmtpPort=" + std::to_string(relay.Port()) +
                    "\r\nFrom=sales@lists.test\r\nMaxRecipients=4\r\n");
    temp_.Write("Data/" + name + "/subscribers.ini", members);
    temp_.Write("Data/" + name + "/Outbox/A.msg", "post\r\n");
    test::RecordingLogger log;
    test::FakeRandom random;
    MessageNamer namer(clock_);
    const Environment env{clock_, random, log, namer};
    const auto cycle = [&] {
      TAccount list;
      list.Load(dir);
      MailClient smtp(25, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
      DeliverOutbox(list, smtp, env);
    };
    Run run;
    cycle();
    run.firstCounts = relay.CountsByRecipient();
    run.progress = temp_.Read("Data/" + name + "/Outbox/A.msg.progress");
    run.outbox = test::FileNamesIn(dir + "Outbox");
    run.red = log.Texts(LogColour::Red);
    relay.SetPolicy({.refusedForGood = {member(3), member(9)}, .pipelining = pipelining});
    cycle();
    run.finalCounts = relay.CountsByRecipient();
    EXPECT_EQ(test::FileNamesIn(dir + "Outbox"), Lines{}) << name;
    run.sentAhead = relay.CommandsSentAhead();
    return run;
  };
  const Run lockstep = deliver(false);
  const Run piped = deliver(true);
  // The second batch (m5..m8) was deferred whole: the relay got nothing for it.
  EXPECT_EQ(lockstep.firstCounts, (std::map<std::string, int>{{member(1), 1},
                                                              {member(2), 1},
                                                              {member(4), 1},
                                                              {member(10), 1},
                                                              {member(11), 1},
                                                              {member(12), 1}}));
  EXPECT_EQ(lockstep.progress,
            "Sent m1@x.test\r\nSent m2@x.test\r\nSent m4@x.test\r\nRefused m3@x.test\r\n"
            "Sent m10@x.test\r\nSent m11@x.test\r\nSent m12@x.test\r\nRefused m9@x.test\r\n");
  EXPECT_EQ(lockstep.outbox, (Lines{"A.msg", "A.msg.progress"}));
  EXPECT_EQ(lockstep.red.size(), 3u) << testing::PrintToString(lockstep.red);
  EXPECT_EQ(lockstep.sentAhead, 0) << "a relay without PIPELINING gets one command at a time";
  EXPECT_GT(piped.sentAhead, 0);
  EXPECT_EQ(piped.firstCounts, lockstep.firstCounts);
  EXPECT_EQ(piped.progress, lockstep.progress);
  EXPECT_EQ(piped.outbox, lockstep.outbox);
  EXPECT_EQ(piped.red, lockstep.red);
  EXPECT_EQ(piped.finalCounts, lockstep.finalCounts);
  EXPECT_EQ(piped.finalCounts.size(), 10u);
}

// Each row: the answers to a batch of MAIL FROM, one RCPT TO and DATA, and what follows.
struct RefusalCase {
  const char* name;
  Lines replies;      // to MAIL FROM, RCPT TO, DATA
  Script rest;        // the relay's side after those
  Lines after;        // what the client sends after DATA
  Lines outbox;       // left in Outbox
  std::string moved;  // the red line of the file moved to Failed, or empty
};

class PipelinedRefusalTest : public SmtpPipeliningTest,
                             public testing::WithParamInterface<RefusalCase> {};

// No byte of the message goes out unless the relay opened the data with accepted recipients.
TEST_P(PipelinedRefusalTest, NoDataUnlessTheRelayTakesIt) {
  const RefusalCase& row = GetParam();
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  ScriptedServer server(
      {Join({Greeted({"PIPELINING"}), Hears(3), Says(row.replies), row.rest, {Hear()}})});
  Deliver(server, {"a@x.test"});
  Lines expected{"<connect>", "ehlo " + me_, "MAIL FROM: <sales@lists.test>", "RCPT TO: <a@x.test>",
                 "DATA"};
  expected.insert(expected.end(), row.after.begin(), row.after.end());
  expected.push_back("Quit");
  EXPECT_EQ(server.Transcript(), expected);
  EXPECT_EQ(Files("Outbox"), row.outbox);
  EXPECT_EQ(Files("Failed"), row.moved.empty() ? Lines{} : Lines{"A.msg"});
  if (!row.moved.empty()) {
    EXPECT_EQ(log_.Texts(LogColour::Red).back(), row.moved);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PipelinedRefusalTest,
    testing::Values(
        RefusalCase{"DataRefusedForGood",
                    {"250 ok", "250 ok", "554 5.3.0 no thanks"},
                    {Hear(), Say("250 reset")},
                    {"RSET"},
                    {},
                    "Message file A.msg moved to Failed/A.msg: the server refused it\r\n"
                    "554 5.3.0 no thanks"},
        RefusalCase{"DataDeferred",
                    {"250 ok", "250 ok", "451 4.3.0 try later"},
                    {Hear(), Say("250 reset")},
                    {"RSET"},
                    {"A.msg", "A.msg.progress"},
                    ""},
        RefusalCase{"NoRecipientAccepted",
                    {"250 ok", "550 5.1.1 unknown", "554 5.5.1 no valid recipients"},
                    {Hear(), Say("250 reset")},
                    {"RSET"},
                    {},
                    "Message file A.msg moved to Failed/A.msg: no recipient was accepted"},
        // A relay that opens the data anyway gets only the end of an empty message.
        RefusalCase{"DataOpenedWithoutRecipients",
                    {"250 ok", "550 5.1.1 unknown", "354 go"},
                    {Hear(), Say("554 5.5.1 no valid recipients")},
                    {"."},
                    {},
                    "Message file A.msg moved to Failed/A.msg: no recipient was accepted"}),
    [](const auto& info) { return info.param.name; });

// A message over the relay's announced maximum goes to Failed before anything of it is sent,
// instead of going over the wire at every cycle only to be refused at its end.
TEST_F(SmtpPipeliningTest, MessageOverTheAnnouncedSizeFailsBeforeAnythingIsSent) {
  temp_.Write("Data/Sales/Outbox/A.msg", std::string(200, 'x') + "\r\n");
  temp_.Write("Data/Sales/Outbox/B.pri", "joe@x.test\r\nshort\r\n");
  ScriptedServer server({Join({Greeted({"PIPELINING", "SIZE 100"}),
                               Hears(3),
                               Says({"250 ok", "250 ok", "354 go"}),
                               {HearData(), Say("250 queued"), Hear()}})});
  Deliver(server, {"a@x.test"});
  EXPECT_EQ(server.Transcript(),
            (Lines{"<connect>", "ehlo " + me_, "MAIL FROM: <req@lists.test> SIZE=7",
                   "RCPT TO: <joe@x.test>", "DATA", "short", ".", "Quit"}));
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_EQ(Files("Failed"), Lines{"A.msg"});
  EXPECT_EQ(log_.Texts(LogColour::Red),
            (Lines{"Message file A.msg moved to Failed/A.msg: the server refused it\r\n"
                   "The message has 202 bytes; 127.0.0.1 takes at most 100 (SIZE)"}));
}

// A relay on small socket buffers that answers each line at once, with a long reply, and reads
// no further until its reply is taken. It counts the RCPT TO lines and the messages it took.
class AnsweringRelay {
 public:
  // With `pem` (certificate and key), the relay speaks TLS from the start.
  explicit AnsweringRelay(std::size_t replyBytes, std::string pem = {})
      : reply_("250 2.1.5 ok " + std::string(replyBytes, 'r') + "\r\n"), pem_(std::move(pem)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;  // inherited by the accepted socket
    ::setsockopt(listen_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ::setsockopt(listen_, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listen_, 1) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~AnsweringRelay() {
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }
  int Port() const { return port_; }
  // Waits for the client's QUIT (up to 20 seconds) and returns the counts.
  std::pair<int, int> RecipientsAndMessages() {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, 20s, [this] { return finished_; });
    return {recipients_, messages_};
  }

 private:
  void Serve() {
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      const timeval limit{20, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      if (pem_.empty() || StartTls(fd)) Converse(fd);
      ssl_.reset();
      ::close(fd);
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    done_.notify_all();
  }
  void Converse(int fd) {
    std::string input;
    bool inData = false;
    if (!Say(fd, "220 relay\r\n")) return;
    for (;;) {
      const auto lf = input.find('\n');
      if (lf == std::string::npos) {
        char chunk[4096];
        const ssize_t n =
            ssl_ ? SSL_read(ssl_.get(), chunk, sizeof chunk) : ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        input.append(chunk, static_cast<std::size_t>(n));
        continue;
      }
      const std::string line = input.substr(0, lf);
      input.erase(0, lf + 1);
      bool said = true;
      if (inData) {
        if (line == ".\r") {
          inData = false;
          std::lock_guard lock(mutex_);
          ++messages_;
          said = Say(fd, "250 queued\r\n");
        }
      } else if (line.rfind("ehlo", 0) == 0) {
        said = Say(fd, "250-relay\r\n250 PIPELINING\r\n");
      } else if (line.rfind("DATA", 0) == 0) {
        inData = true;
        said = Say(fd, "354 go\r\n");
      } else if (line.rfind("Quit", 0) == 0) {
        return;
      } else {
        if (line.rfind("RCPT", 0) == 0) {
          std::lock_guard lock(mutex_);
          ++recipients_;
        }
        said = Say(fd, reply_);
      }
      if (!said) return;
    }
  }
  bool StartTls(int fd) {
    context_.reset(SSL_CTX_new(TLS_server_method()));
    BIO* in = BIO_new_mem_buf(pem_.data(), static_cast<int>(pem_.size()));
    X509* certificate = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    const bool loaded = certificate != nullptr && key != nullptr &&
                        SSL_CTX_use_certificate(context_.get(), certificate) == 1 &&
                        SSL_CTX_use_PrivateKey(context_.get(), key) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    if (!loaded) return false;
    ssl_.reset(SSL_new(context_.get()));
    SSL_set_fd(ssl_.get(), fd);
    return SSL_accept(ssl_.get()) == 1;
  }
  bool Say(int fd, std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ssl_ ? SSL_write(ssl_.get(), text.data(), static_cast<int>(text.size()))
                             : ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };
  struct SessionFree {
    void operator()(SSL* session) const { SSL_free(session); }
  };
  std::string reply_;
  std::string pem_;
  std::unique_ptr<SSL_CTX, ContextFree> context_;
  std::unique_ptr<SSL, SessionFree> ssl_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  int recipients_ = 0;
  int messages_ = 0;
};

// 1,000 recipient lines in one batch to a relay that answers each line at once with a long reply:
// every recipient gets the message once. (On loopback the kernel buffers hide a client that reads
// no replies while it writes for a batch of this size; the test below takes one large enough.)
TEST_F(SmtpPipeliningTest, LongBatchAgainstARelayThatAnswersEachLineAtOnce) {
  constexpr int kRecipients = 1000;
  temp_.Write("Data/Sales/Outbox/A.msg", "post\r\n");
  Lines members;
  for (int n = 0; n < kRecipients; ++n)
    members.push_back("member" + std::to_string(n) + "-" + std::string(60, 'm') + "@x.test");
  AnsweringRelay relay(1000);
  MailClient smtp(25, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
  SmtpSettings settings{{"127.0.0.1", relay.Port()}, "sales@lists.test", "req@lists.test"};
  DeliverOutboxFiles(list_, settings, {members, {}}, {}, clock_, smtp, log_);
  EXPECT_EQ(relay.RecipientsAndMessages(), std::make_pair(kRecipients, 1));
  EXPECT_EQ(Files("Outbox"), Lines{});
  EXPECT_EQ(log_.Texts(LogColour::Red), Lines{});
}

// The same relay at the client's level, in plain text and over TLS: a batch of megabytes of
// commands, each answered at once. Whatever the kernel buffers on both sides, the client must
// take the replies while it writes.
class MailClientBatchTest : public testing::TestWithParam<bool> {};

TEST_P(MailClientBatchTest, RepliesAreTakenWhileAHugeBatchIsWritten) {
  constexpr int kCommands = 200000;
  const bool tls = GetParam();
  const test::ServerIdentity identity =
      tls ? test::TestCertificateAuthority::SelfSigned("IP:127.0.0.1") : test::ServerIdentity{};
  AnsweringRelay relay(50, identity.pem);
  MailClient client(25, {.connect = 5s, .reply = 5s, .dataEnd = 5s});
  client.host = "127.0.0.1";
  client.port = relay.Port();
  if (tls) {
    client.security = MailSecurity::ImplicitTls;
    client.tlsFingerprint = test::HexDigits(identity.sha256);  // the pin alone decides
  }
  client.Connect();
  client.ReadReply({220});
  std::string batch;
  for (int n = 0; n < kCommands; ++n) batch += "NOOP " + std::string(55, 'n') + "\r\n";
  client.WriteData(batch);
  for (int n = 0; n < kCommands; ++n) ASSERT_EQ(client.ReadReply({}), 250) << n;
  client.WriteLine("Quit");
  client.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Security, MailClientBatchTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST(SmtpExtensionsTest, PipeliningAndSizeFromTheEhloReply) {
  struct Row {
    Lines lines;
    bool pipelining, size;
    std::uint64_t maxSize;
  };
  const Row rows[] = {
      {{"250-relay", "250-PIPELINING", "250 SIZE 10240000"}, true, true, 10240000},
      {{"250-relay", "250-pipelining", "250 size"}, true, true, 0},
      {{"250-relay", "250-SIZE 0", "250 8BITMIME"}, false, true, 0},
      {{"250-relay", "250 SIZE 12x"}, false, true, 0},
      {{"250-relay", "250 SIZE 99999999999999999999"}, false, true, 0},
      {{"250-PIPELINING relay", "250 HELP"}, false, false, 0},  // the first line is the name
  };
  for (const auto& row : rows) {
    const SmtpExtensions offered = ParseEhloReply(row.lines);
    EXPECT_EQ(offered.pipelining, row.pipelining) << testing::PrintToString(row.lines);
    EXPECT_EQ(offered.size, row.size) << testing::PrintToString(row.lines);
    EXPECT_EQ(offered.maxSize, row.maxSize) << testing::PrintToString(row.lines);
  }
}

}  // namespace
}  // namespace orvex
