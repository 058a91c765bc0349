// TXT answers: the reply parser on hand-made replies, and the system resolver against a stub
// name server on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "platform/DnsResolver.h"

namespace orvex {
namespace {

using Bytes = std::vector<unsigned char>;

// Header with one question and `answers` answers, then the question "_dmarc.a.example" TXT IN.
Bytes ReplyStart(unsigned answers, unsigned id = 0x1234, unsigned flags = 0x8180) {
  Bytes reply = {static_cast<unsigned char>(id >> 8),
                 static_cast<unsigned char>(id),
                 static_cast<unsigned char>(flags >> 8),
                 static_cast<unsigned char>(flags),
                 0,
                 1,
                 0,
                 static_cast<unsigned char>(answers),
                 0,
                 0,
                 0,
                 0};
  for (const unsigned char c : std::string("\x06_dmarc\x01"
                                           "a\x07"
                                           "example"))
    reply.push_back(c);
  for (const unsigned char c : {0, 0, 16, 0, 1}) reply.push_back(c);
  return reply;
}

// An answer whose name points back at the question, holding `strings`.
void AddTxt(Bytes& reply, const std::vector<std::string>& strings, unsigned type = 16) {
  std::size_t length = 0;
  for (const auto& s : strings) length += 1 + s.size();
  for (const unsigned char c : {0xC0, 0x0C, 0, static_cast<int>(type), 0, 1, 0, 0, 1, 0,
                                static_cast<int>(length >> 8), static_cast<int>(length & 255)})
    reply.push_back(c);
  for (const auto& s : strings) {
    reply.push_back(static_cast<unsigned char>(s.size()));
    reply.insert(reply.end(), s.begin(), s.end());
  }
}

TEST(TxtReplies, ParseRecordsAndRefuseTornReplies) {
  Bytes reply = ReplyStart(3);
  AddTxt(reply, {"v=DMARC1; ", "p=reject"});
  AddTxt(reply, {"\x7f\x00\x00\x01"}, 1);  // an A record is skipped
  AddTxt(reply, {""});
  const auto records = ParseTxtAnswer(reply.data(), reply.size());
  ASSERT_TRUE(records);
  EXPECT_EQ(*records, (std::vector<std::string>{"v=DMARC1; p=reject", ""}));

  for (const std::size_t cut : {std::size_t{5}, std::size_t{20}, reply.size() - 1}) {
    EXPECT_FALSE(ParseTxtAnswer(reply.data(), cut)) << cut;
  }
  Bytes lying = ReplyStart(1);
  AddTxt(lying, {"abc"});
  lying[lying.size() - 4] = 200;  // a string longer than its record
  EXPECT_FALSE(ParseTxtAnswer(lying.data(), lying.size()));
}

// Answers one query on 127.0.0.1 with `answer` built around the query's identifier.
class StubNameServer {
 public:
  StubNameServer() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~StubNameServer() { ::close(fd_); }
  unsigned short Port() const { return port_; }

  // Waits for a query (bounded), answers with `rcode` and the TXT strings; the question asked.
  std::string AnswerOne(const std::vector<std::string>& strings, unsigned rcode = 0) {
    pollfd wait{fd_, POLLIN, 0};
    if (::poll(&wait, 1, 5000) != 1) return {};
    unsigned char query[512];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t n =
        ::recvfrom(fd_, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 12) return {};
    std::string asked;
    for (std::size_t at = 12; at < static_cast<std::size_t>(n) && query[at] != 0;
         at += query[at] + 1)
      asked += (asked.empty() ? "" : ".") +
               std::string(reinterpret_cast<const char*>(query + at + 1), query[at]);
    Bytes reply(query, query + n);  // header and question as asked
    reply[2] = 0x81;
    reply[3] = static_cast<unsigned char>(0x80 | rcode);
    reply[7] = rcode == 0 ? 1 : 0;
    if (rcode == 0) AddTxt(reply, strings);
    ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
    return asked;
  }

 private:
  int fd_ = -1;
  unsigned short port_ = 0;
};

TEST(SystemTxtResolver, AsksTheNameServerAndReadsItsAnswer) {
  StubNameServer stub;
  SystemTxtResolver resolver(std::chrono::seconds(2),
                             SystemTxtResolver::Server{"127.0.0.1", stub.Port()});
  auto lookup =
      std::async(std::launch::async, [&] { return resolver.LookupTxt("_dmarc.a.example"); });
  EXPECT_EQ(stub.AnswerOne({"v=DMARC1; p=quarantine"}), "_dmarc.a.example");
  const auto records = lookup.get();
  ASSERT_TRUE(records);
  EXPECT_EQ(*records, (std::vector<std::string>{"v=DMARC1; p=quarantine"}));

  auto missing =
      std::async(std::launch::async, [&] { return resolver.LookupTxt("_dmarc.b.example"); });
  EXPECT_EQ(stub.AnswerOne({}, 3), "_dmarc.b.example");  // NXDOMAIN: an answer with no record
  const auto none = missing.get();
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(SystemTxtResolver, ServerThatNeverAnswersIsAFailureWithinTheLimit) {
  StubNameServer silent;
  SystemTxtResolver resolver(std::chrono::seconds(1),
                             SystemTxtResolver::Server{"127.0.0.1", silent.Port()});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(resolver.LookupTxt("_dmarc.c.example"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace orvex
