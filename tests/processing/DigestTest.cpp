// Digests in the three formats; the multipart ones are checked by Python's email package too.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "ListFixture.h"
#include "platform/FaultInjection.h"

namespace orvex::test {
namespace {

// A post as distribution stores it for the digest.
std::string StoredPost(std::string_view subject, std::string_view body,
                       std::string_view contentType = "") {
  std::string text =
      "From: Ann <ann@example.net>\r\nTo: birds@example.org\r\nSubject: " + std::string(subject) +
      "\r\nMessage-Id: <" + std::string(subject) + "@example.net>\r\n";
  if (!contentType.empty()) text += "Content-Type: " + std::string(contentType) + "\r\n";
  return text + "Reply-To: birds@example.org\r\n\r\n" + std::string(body);
}

class Digests : public ListFixture {
 protected:
  void Collect(std::string_view name, std::string_view text) {
    tmp.Write("Data/birds/Digest/" + std::string(name), text);
  }
  // Runs python's email package over the one digest.
  void ExpectParses(int format, int posts) {
    const auto names = Files("Outbox", ".dig");
    ASSERT_EQ(names.size(), 1u);
    const std::string command =
        "/usr/bin/python3 " ORVEX_SOURCE_DIR "/tests/processing/check_digest.py '" + listDir +
        "Outbox/" + names[0] + "' " + std::to_string(format) + " " + std::to_string(posts);
    EXPECT_EQ(std::system(command.c_str()), 0) << Only("Outbox", ".dig");
  }
};

TEST_F(Digests, PlainTextDigestIsPreambleSignatureAndOneItemPerPost) {
  Settings("DigestCount=1\r\n");
  Collect("A.msg", StoredPost("First", "one\r\n--\r\nBirds\r\n"));
  Run();
  EXPECT_TRUE(log.entries.empty());  // an empty Inbox logs nothing
  EXPECT_EQ(Only("Outbox", ".dig"),
            "From: \"Birds\" <birds@example.org>\r\n"
            "To: \"Birds\" <birds@example.org>\r\n"
            "Content-type: text/plain\r\n"
            "Date: Mon, 07 Dec 2026 02:33:54 +0100\r\n"
            "Mime-version: 1.0\r\n"
            "Subject: Digest of Birds last First\r\n"
            "Message-ID: <20261207.023354123.birds@example.org>\r\n"
            "\r\n"
            "\r\n"
            "\r\n"
            "Preamble Birds\r\n"
            "--\r\n"
            "Birds\r\n"
            "* First from ann@example.net\r\n"
            "one\r\n"
            "--\r\n"
            "Birds\r\n"
            "\r\n");
  EXPECT_EQ(Count("Digest", ".msg"), 0u);
  ExpectParses(1, 1);
}

TEST_F(Digests, MultipartDigestEnclosesEachPostWhole) {
  Settings("DigestCount=1\r\nDigest mode=3\r\n");
  const std::string post = StoredPost("First", "one\r\n");
  Collect("A.msg", post);
  Run();
  EXPECT_EQ(Only("Outbox", ".dig"),
            "From: \"Birds\" <birds@example.org>\r\n"
            "To: \"Birds\" <birds@example.org>\r\n"
            "Content-type: multipart/digest; boundary=\"=-=-=-=-=\"\r\n"
            "Date: Mon, 07 Dec 2026 02:33:54 +0100\r\n"
            "Mime-version: 1.0\r\n"
            "Subject: Digest of Birds last \r\n"
            "Message-ID: <20261207.023354123.birds@example.org>\r\n"
            "\r\n"
            "\r\n"
            "--=-=-=-=-=\r\n"
            "Content-Type: text/plain\r\n"
            "\r\n"
            "Preamble Birds\r\n"
            "--\r\n"
            "Birds\r\n"
            "--=-=-=-=-=\r\n"
            "Content-Type: message/rfc822\r\n"
            "\r\n" +
                post +
                "--=-=-=-=-=--\r\n"
                "\r\n");
  ExpectParses(3, 1);
}

TEST_F(Digests, EveryFormatParsesWithSeveralPosts) {
  for (int format : {1, 2, 3}) {
    Settings("DigestCount=3\r\nDigest mode=" + std::to_string(format) + "\r\n");
    Collect("A.msg", StoredPost("First", "one\r\n", "text/plain; charset=iso-8859-1"));
    Collect("B.msg",
            StoredPost("Second", "--x\r\n\r\ntwo\r\n--x--\r\n", "multipart/mixed; boundary=x"));
    Run();
    EXPECT_EQ(Count("Outbox", ".dig"), 0u) << "two posts are fewer than DigestCount";
    Collect("C.msg", StoredPost("Third", "three\r\n"));
    Run();
    ExpectParses(format, 3);
    const std::string digest = Only("Outbox", ".dig");
    if (format == 2) {
      EXPECT_TRUE(
          Contains(digest, "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n* First"));
      EXPECT_TRUE(Contains(digest, "\r\nContent-Type: text/plain\r\n\r\n* Second"));
    }
    EXPECT_EQ(Count("Digest", ".msg"), 0u);
    RemoveFile(listDir + "Outbox/" + Files("Outbox", ".dig")[0]);
  }
}

TEST_F(Digests, CountZeroMakesADigestEveryCycleAndOtherModesArePlainText) {
  for (const char* mode : {"3", "0", "4"}) {
    Settings(std::string("DigestCount=0\r\nDigest mode=") + mode + "\r\n");
    Run();
    const std::string digest = Only("Outbox", ".dig");
    if (mode == std::string("3")) {
      ExpectParses(3, 0);
    } else {
      EXPECT_EQ(HeaderOf(digest, "Content-type"), "text/plain") << mode;
      EXPECT_TRUE(digest.ends_with("\r\n\r\n\r\n\r\nPreamble Birds\r\n--\r\nBirds\r\n\r\n"))
          << digest;
    }
    RemoveFile(listDir + "Outbox/" + Files("Outbox", ".dig")[0]);
  }
}

TEST_F(Digests, EntriesThatAreNoRegularFilesGoToFailedAndTheRestIsDigested) {
  Settings("DigestCount=1\r\n");
  Collect("A.msg", StoredPost("First", "one\r\n"));
  tmp.Write("Data/birds/secret.txt", "the-password\r\n");
  ASSERT_TRUE(CreateDirectoryOnce(listDir + "Digest/B.msg"));
  // A link is never followed: its target must not go out in a digest.
  ASSERT_EQ(::symlink("../secret.txt", (listDir + "Digest/C.msg").c_str()), 0);
  ASSERT_EQ(::mkfifo((listDir + "Digest/D.msg").c_str(), 0600), 0);  // a read would block
  Run();
  const std::string digest = Only("Outbox", ".dig");
  EXPECT_TRUE(Contains(digest, "First")) << digest;
  EXPECT_FALSE(Contains(digest, "the-password")) << digest;
  EXPECT_EQ(Count("Digest", ".msg"), 0u);
  EXPECT_TRUE(DirectoryExists(listDir + "Failed/B.msg"));
  EXPECT_EQ(Files("Failed", ".msg"), (std::vector<std::string>{"C.msg", "D.msg"}));
  std::size_t red = 0;
  for (const auto& entry : log.entries)
    if (entry.colour == LogColour::Red && Contains(entry.text, "not a regular file")) ++red;
  EXPECT_EQ(red, 3u);
  EXPECT_EQ(*ReadWholeFile(listDir + "secret.txt"), "the-password\r\n");  // target untouched
}

TEST_F(Digests, ReadFaultKeepsEveryCollectedPostForTheNextDigest) {
  Settings("DigestCount=1\r\n");
  Collect("A.msg", StoredPost("First", "one\r\n"));
  Collect("B.msg", StoredPost("Second", "two\r\n"));
  InjectFileFault({FileOperation::Read, 1, 1, EIO, "Digest/B.msg"});
  Run();
  EXPECT_EQ(Count("Outbox", ".dig"), 0u);
  EXPECT_EQ(Count("Digest", ".msg"), 2u);
  ASSERT_FALSE(log.entries.empty());
  EXPECT_EQ(log.entries.back().colour, LogColour::Red);
  EXPECT_TRUE(Contains(log.entries.back().text, "Input/output error")) << log.entries.back().text;
  Run();  // the fault has passed: one digest of both, made once
  EXPECT_EQ(Count("Outbox", ".dig"), 1u);
  EXPECT_EQ(Count("Digest", ".msg"), 0u);
}

}  // namespace
}  // namespace orvex::test
