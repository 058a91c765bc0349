// The protocol client against scripted loopback servers: replies, codes, blocks, errors, limits.
#include "transport/MailClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/StopSignal.h"
#include "support/ScriptedServer.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Hangup;
using test::Hear;
using test::Say;
using test::SayRaw;
using test::ScriptedServer;
using test::Stall;

MailClient ClientFor(const ScriptedServer& server, MailTimeLimits limits = {}) {
  MailClient client(25, limits);
  client.host = "127.0.0.1";
  client.port = server.Port();
  return client;
}

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.what();
  }
  return "<no error>";
}

struct ReplyCase {
  const char* name;
  const char* bytes;  // what the server sends
  int code;
  const char* lastLine;
  std::size_t lineCount;
};

class ReadReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReadReplyTest, ReadsOneReplyAndItsCode) {
  const ReplyCase& c = GetParam();
  ScriptedServer server({{SayRaw(c.bytes), SayRaw("999 next reply\r\n"), Stall()}});
  MailClient client = ClientFor(server);
  client.Connect();
  EXPECT_EQ(client.ReadReply({}), c.code);
  EXPECT_EQ(client.LastReplyLine(), c.lastLine);
  EXPECT_EQ(client.ReplyLines().size(), c.lineCount);
  // The reply ended where it should: the next one is read whole.
  EXPECT_EQ(client.ReadReply({}), 999);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadReplyTest,
    testing::Values(ReplyCase{"MultiLine", "250-host greets you\r\n250-AUTH LOGIN\r\n250 HELP\r\n",
                              250, "250 HELP", 3},
                    ReplyCase{"BlankLinesAndSpacesSkipped", "\r\n  \r\n\t220  ready  \r\n", 220,
                              "220  ready", 1},
                    ReplyCase{"BlankLineInsideMultiLine", "250-a\r\n\r\n250 b\r\n", 250, "250 b",
                              2},
                    ReplyCase{"MarkerInOtherCaseEnds", "ABC-one\r\nabc two\r\n", 0, "abc two", 2},
                    ReplyCase{"ShortLineEndsMultiLine", "250-one\r\n250\r\n", 250, "250", 2},
                    ReplyCase{"LowerCaseOk", "+ok 2 320\r\n", 1, "+ok 2 320", 1},
                    ReplyCase{"Err", "-ERR no such message\r\n", 0, "-ERR no such message", 1},
                    ReplyCase{"BareLf", "354 go ahead\n", 354, "354 go ahead", 1},
                    ReplyCase{"NotANumber", "2x0 odd\r\n", 0, "2x0 odd", 1},
                    ReplyCase{"TooShortForACode", "25\r\n", 0, "25", 1}),
    [](const auto& info) { return info.param.name; });

TEST(MailClientTest, UnexpectedCodeRaisesTheReplyLine) {
  ScriptedServer server({{Say("220 ready"), Hear(), Say("421 busy  "), Stall()}});
  MailClient client = ClientFor(server);
  client.Connect();
  EXPECT_EQ(client.ReadReply({220}), 220);
  try {
    client.SendCommand("NOOP", {250});
    FAIL() << "no error";
  } catch (const ProtocolReplyError& error) {
    EXPECT_EQ(std::string(error.what()), "421 busy");
    EXPECT_EQ(error.Code(), 421);
  }
  client.Disconnect();
  EXPECT_EQ(server.Transcript(), (std::vector<std::string>{"<connect>", "NOOP"}));
}

TEST(MailClientTest, CaptureLinesUndoesDotStuffing) {
  ScriptedServer server(
      {{SayRaw("Subject: x\r\n\r\n..\r\n. \r\n...two\r\n.x\n  lead\r\n.\r\nafter\r\n"), Stall()}});
  MailClient client = ClientFor(server);
  client.Connect();
  std::vector<std::string> lines{"kept"};
  client.CaptureLines(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"kept", "Subject: x", "", ".", ". ", "..two", ".x",
                                             "  lead"}));
  EXPECT_EQ(client.ReadLine(), "after");
}

TEST(MailClientTest, DotStuffedDataDoublesLeadingDotsAndEndsWithDot) {
  EXPECT_EQ(MailClient::DotStuffedData({".", ".x", "", "a.", "..", " ."}),
            "..\r\n..x\r\n\r\na.\r\n...\r\n .\r\n.\r\n");
  EXPECT_EQ(MailClient::DotStuffedData({}), ".\r\n");
}

TEST(MailClientTest, ServerClosingMidLineEndsWithClosedGracefully) {
  ScriptedServer server({{SayRaw("+OK\r\npartial"), Hangup()}});
  MailClient client = ClientFor(server);
  client.Connect();
  EXPECT_EQ(client.ReadLine(), "+OK");
  EXPECT_EQ(client.ReadLine(), "");
  EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), "Connection Closed Gracefully.");
  EXPECT_FALSE(client.Connected());
  // A closed client connects afresh, with nothing left over from the old input.
  ScriptedServer second({{Say("+OK again"), Stall()}});
  client.port = second.Port();
  client.Connect();
  EXPECT_EQ(client.ReadReply({1}), 1);
  EXPECT_EQ(client.LastReplyLine(), "+OK again");
}

TEST(MailClientTest, CaptureStopsWhenTheServerCloses) {
  ScriptedServer server({{SayRaw("line one\r\nline two\r\n"), Hangup()}});
  MailClient client = ClientFor(server);
  client.Connect();
  std::vector<std::string> lines;
  EXPECT_EQ(ErrorText([&] { client.CaptureLines(lines); }), "Connection Closed Gracefully.");
}

TEST(MailClientTest, ConnectErrors) {
  int closedPort = 0;
  {
    ScriptedServer gone({});
    closedPort = gone.Port();
  }
  MailClient client(25);
  client.host = "127.0.0.1";
  client.port = closedPort;
  EXPECT_EQ(ErrorText([&] { client.Connect(); }), "Socket Error # 111\r\nConnection refused.");
  EXPECT_FALSE(client.Connected());

  ScriptedServer server({{Say("220 hi"), Stall()}});
  client.port = server.Port();
  client.Connect();
  EXPECT_EQ(ErrorText([&] { client.Connect(); }), "Already connected.");
  EXPECT_TRUE(client.Connected());
}

TEST(MailClientTest, ConnectsOverIpv6AndByName) {
  ScriptedServer v6({{Say("220 six"), Stall()}}, test::ServerFamily::IPv6);
  MailClient client(25);
  client.host = "::1";
  client.port = v6.Port();
  client.Connect();
  EXPECT_EQ(client.ReadReply({220}), 220);
  client.Disconnect();

  ScriptedServer v4({{Say("220 four"), Stall()}});
  client.host = "localhost";  // every resolved address is tried until one answers
  client.port = v4.Port();
  client.Connect();
  EXPECT_EQ(client.ReadReply({220}), 220);
  EXPECT_EQ(client.LastReplyLine(), "220 four");
}

TEST(MailClientTest, SilentServerRunsIntoTheReplyLimit) {
  ScriptedServer server({{Stall()}});
  MailClient client = ClientFor(server, {.connect = 5s, .reply = 300ms, .dataEnd = 5s});
  client.Connect();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorText([&] { client.ReadReply({220}); }),
            "Socket Error # 110\r\nConnection timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST(MailClientTest, ServerThatStopsReadingRunsIntoTheSendLimit) {
  ScriptedServer server({{test::Deaf()}});
  MailClient client = ClientFor(server, {.connect = 5s, .reply = 300ms, .dataEnd = 5s});
  client.Connect();
  const std::string block(64 * 1024 * 1024, 'x');  // far more than the socket buffers hold
  EXPECT_EQ(ErrorText([&] { client.WriteData(block); }),
            "Socket Error # 110\r\nConnection timed out.");
}

TEST(MailClientTest, StopRequestEndsAWaitWithinASecond) {
  ScriptedServer server({{Stall()}});
  MailClient client = ClientFor(server);  // default limits: minutes
  client.Connect();
  std::chrono::steady_clock::time_point requested;
  std::thread stopper([&] {
    std::this_thread::sleep_for(200ms);  // the event under test, not a wait for readiness
    requested = std::chrono::steady_clock::now();
    RequestStop();
  });
  EXPECT_EQ(ErrorText([&] { client.ReadReply({220}); }), "Program terminated");
  const auto ended = std::chrono::steady_clock::now();
  stopper.join();
  ResetStopRequest();
  EXPECT_LT(ended - requested, 1s);
}

struct FloodCase {
  const char* name;
  std::string greeting;  // sent once before the flood
  std::string flood;     // then sent again and again
};

class HostileReplyTest : public testing::TestWithParam<FloodCase> {};

// Bounded in bytes while it arrives: without the bound the reader would grow for ever.
TEST_P(HostileReplyTest, EndlessReplyEndsAsTooLong) {
  ScriptedServer server({{SayRaw(GetParam().greeting), test::Flood(GetParam().flood)}});
  MailClient client = ClientFor(server);
  client.Connect();
  EXPECT_EQ(ErrorText([&] { client.ReadReply({}); }), "Reply too long from server.");
  EXPECT_TRUE(client.ReplyLines().size() * 2 <= MailClient::kMaxReplyBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Floods, HostileReplyTest,
    testing::Values(FloodCase{"ContinuationLines", "250-first\r\n",
                              "250-" + std::string(1000, 'x') + "\r\n"},
                    FloodCase{"ShortContinuationLines", "", "250-x\r\n"},
                    FloodCase{"OneLineWithoutEnd", "250 ", std::string(4096, 'x')},
                    FloodCase{"BlankLines", "", "\r\n"},
                    FloodCase{"PopStyleLongLine", "+OK ", std::string(1000, 'y')}),
    [](const auto& info) { return info.param.name; });

TEST(MailClientTest, RepliesWithinTheBoundsAreRead) {
  std::string reply;
  for (int n = 0; n < 40; ++n) reply += "250-" + std::string(1000, 'a') + "\r\n";
  reply += "250 " + std::string(4000, 'b') + "\r\n";
  ScriptedServer server({{SayRaw(reply), Stall()}});
  MailClient client = ClientFor(server);
  client.Connect();
  EXPECT_EQ(client.ReadReply({250}), 250);
  EXPECT_EQ(client.ReplyLines().size(), 41u);
}

TEST(MailClientTest, StopRequestEndsAReadWhileDataKeepsArriving) {
  ScriptedServer server({{Say("+OK"), test::Flood("a line of a message without end\r\n")}});
  MailClient client = ClientFor(server);
  client.Connect();
  client.ReadReply({1});
  std::chrono::steady_clock::time_point requested;
  std::thread stopper([&] {
    std::this_thread::sleep_for(200ms);  // the event under test, not a wait for readiness
    requested = std::chrono::steady_clock::now();
    RequestStop();
  });
  std::size_t lines = 0;
  EXPECT_EQ(ErrorText([&] {
              client.CaptureLines([&](std::string_view) { ++lines; }, std::size_t(1) << 40);
            }),
            "Program terminated");
  const auto ended = std::chrono::steady_clock::now();
  stopper.join();
  ResetStopRequest();
  EXPECT_GT(lines, 0u);
  EXPECT_LT(ended - requested, 1s);
}

TEST(MailClientTest, CapturedBlockIsBoundedInBytesWhileItArrives) {
  // Unstuffed, the lines with their CR LF come to 29 bytes: a bound of 29 takes them, 28 not.
  const std::string block = "12345678\r\n..345678\r\n12345678\r\n.\r\n";
  for (const std::size_t bound : {std::size_t(29), std::size_t(28)}) {
    ScriptedServer server({{SayRaw(block), Stall()}});
    MailClient client = ClientFor(server);
    client.Connect();
    std::string kept;
    const std::string error = ErrorText([&] {
      client.CaptureLines([&](std::string_view line) { kept.append(line).append("\r\n"); }, bound);
    });
    if (bound == 29) {
      EXPECT_EQ(error, "<no error>");
      EXPECT_EQ(kept, "12345678\r\n.345678\r\n12345678\r\n");
    } else {
      EXPECT_EQ(error, "Message too long");
    }
  }
  // A line without end is cut at the bound too, long before it ends.
  ScriptedServer endless({{test::Flood(std::string(4096, 'z'))}});
  MailClient client = ClientFor(endless);
  client.Connect();
  EXPECT_EQ(ErrorText([&] { client.CaptureLines([](std::string_view) {}, 100000); }),
            "Line too long from server.");
}

}  // namespace
}  // namespace orvex
