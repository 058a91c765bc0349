// Posts: distribution, moderation and its returns, the non-subscriber policy, dispatch by "To".
#include <gtest/gtest.h>

#include "ListFixture.h"
#include "crypto/SessionKeys.h"
#include "platform/SecureRandom.h"

namespace orvex::test {
namespace {

constexpr std::string_view kList = "birds@example.org";

class Posts : public ListFixture {
 protected:
  static void SetUpTestSuite() {
    RecordingLogger quiet;
    SystemRandom secure;
    MakeSessionKeys(quiet, secure);
  }
  void SetUp() override { Subscribe("ann@example.net"); }

  // The forwarded message inside a moderator forward: the lines between the rfc822 part
  // header and the empty line before the closing delimiter.
  static std::string ForwardedPart(const std::string& forward) {
    const std::string start = "content-type: message/rfc822\r\n\r\n";
    const auto begin = forward.find(start);
    const auto end = forward.rfind("\r\n\r\n---=-=-=-=---\r\n");
    if (begin == std::string::npos || end == std::string::npos) return {};
    return forward.substr(begin + start.size(), end + 2 - begin - start.size());
  }
  std::vector<std::string> Logged() const { return log.Texts(); }
};

TEST_F(Posts, SubscribersPostGoesToOutboxAndDigestWithReplyToAndSignature) {
  Process(Mail("Ann <ann@example.net>", kList, "Hello birds", "Hi all\r\n",
               "Reply-To: ann@example.net\r\n"));
  const std::string expected =
      "From: Ann <ann@example.net>\r\n"
      "To: birds@example.org\r\n"
      "Subject: Hello birds\r\n"
      "Reply-To: birds@example.org\r\n"
      "Date: Mon, 07 Dec 2026 01:00:00 +0100\r\n"
      "\r\n"
      "Hi all\r\n"
      "--\r\n"
      "Birds\r\n";
  EXPECT_EQ(Only("Outbox", ".msg"), expected);
  EXPECT_EQ(Only("Digest", ".msg"), expected);
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Logged(), (std::vector<std::string>{"Processing messages of \"Birds\"",
                                                "Processing message from <ann@example.net>"}));
}

TEST_F(Posts, EmptyBodyGetsTheSignatureAndEmptyAddressRemovesReplyTo) {
  Settings("Address=\r\nControlAddress=birds-request@example.org\r\n");
  Process(
      "From: ann@example.net\r\nTo: x@example.org\r\nReply-To: ann@example.net\r\n"
      "Subject: s\r\n\r\n");
  const std::string post = Only("Outbox", ".msg");
  EXPECT_EQ(HeaderOf(post, "Reply-To"), "");
  EXPECT_TRUE(post.ends_with("\r\n\r\n--\r\nBirds\r\n")) << post;
}

TEST_F(Posts, DisabledSubscribersPostLeavesNoFile) {
  Subscribe("ann@example.net", "b,secret");
  Process(Mail("ann@example.net", kList, "Hello"));
  EXPECT_EQ(Count("Outbox", ""), 0u);
  EXPECT_EQ(Count("Digest", ""), 0u);
  EXPECT_EQ(Logged(), (std::vector<std::string>{"Processing messages of \"Birds\"",
                                                "Processing message from <ann@example.net>"}));
}

TEST_F(Posts, ModeratedPostIsForwardedInTheExactLayout) {
  Settings("Moderated=1\r\n");
  Process(
      "Received: from a\r\nFrom: Ann <ann@example.net>\r\nDelivered-To: birds@example.org\r\n"
      "To: birds@example.org\r\nReceived: from b\r\nSubject: Hello birds\r\n"
      "Message-Id: <original@example.net>\r\n\r\nHi all\r\n");
  EXPECT_EQ(Count("Outbox", ".msg"), 0u);
  EXPECT_EQ(Count("Digest", ".msg"), 0u);
  const std::string forward = Only("Outbox", ".pri");
  const std::string signature = HeaderOf(ForwardedPart(forward), "X-Moderator-Signature");
  EXPECT_EQ(signature.size(), 86u);
  NameValueList held;
  held.LoadStoreFile(listDir + "held.ini");
  ASSERT_EQ(held.Count(), 1u);
  const std::string token = held.NameAt(0);
  EXPECT_EQ(token.size(), 26u);
  EXPECT_EQ(forward,
            "mod@example.org\r\n"
            "From: \"Birds\" <birds-request@example.org>\r\n"
            "To: mod@example.org\r\n"
            "Content-type: multipart/mixed; boundary=\"-=-=-=-=-\"\r\n"
            "Date: Mon, 07 Dec 2026 02:33:54 +0100\r\n"
            "Mime-version: 1.0\r\n"
            "Subject: moderate ann@example.net\r\n"
            "Message-ID: <20261207.023354124.birds@example.org>\r\n"
            "\r\n"
            "\r\n"
            "---=-=-=-=-\r\n"
            "content-type: text/plain\r\n"
            "\r\n"
            "post from ann@example.net\r\n"
            "\r\n"
            "Approve: mailto:birds-request@example.org?subject=approve%20" +
                token +
                "\r\n"
                "Reject: mailto:birds-request@example.org?subject=reject%20" +
                token +
                "\r\n"
                "--\r\n"
                "Birds\r\n"
                "---=-=-=-=-\r\n"
                "content-type: message/rfc822\r\n"
                "\r\n"
                "From: Ann <ann@example.net>\r\n"
                "To: birds@example.org\r\n"
                "Subject: Hello birds\r\n"
                "Message-Id: <20261207.023354123.ann@example.net>\r\n"
                "X-Moderator-Signature: " +
                signature +
                "\r\n"
                "\r\n"
                "Hi all\r\n"
                "\r\n"
                "---=-=-=-=---\r\n");
  EXPECT_EQ(CommaItem(account().Signatures().Value("<20261207.023354123.ann@example.net>"), 0),
            "46363");
  EXPECT_EQ(Logged(),
            (std::vector<std::string>{
                "Processing messages of \"Birds\"", "Processing message from <ann@example.net>",
                "Post from <ann@example.net> held for the moderator under " + token}));
}

TEST_F(Posts, ApprovedReturnIsDistributedOnceAndASecondReturnIsDropped) {
  Settings("Moderated=1\r\n");
  Process(Mail("Ann <ann@example.net>", kList, "Hello birds", "Hi all\r\n"));
  const std::string returned = ForwardedPart(Only("Outbox", ".pri"));
  RemoveFile(listDir + "Outbox/" + Files("Outbox", ".pri")[0]);

  Process(returned);
  const std::string post = Only("Outbox", ".msg");
  EXPECT_EQ(HeaderOf(post, "X-Moderator-Signature"), "");
  EXPECT_EQ(HeaderOf(post, "Message-Id"), "<20261207.023354123.ann@example.net>");
  EXPECT_EQ(HeaderOf(post, "Reply-To"), "birds@example.org");
  EXPECT_TRUE(account().Signatures().Empty());
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);

  Process(returned);  // the same post again: it went to every member already
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(Count("Outbox", ".pri"), 0u);
  EXPECT_TRUE(log.Contains(
      "Post <20261207.023354123.ann@example.net> was distributed by this list before; not "
      "distributed again"));
}

// One list per row: each row returns its own moderated post, so what one row leaves in the
// signature store or the Outbox cannot decide the next.
struct TamperCase {
  const char* name;
  std::string (*tamper)(std::string returned, const std::string& signature);
};

class PostsTamperedReturn : public Posts, public testing::WithParamInterface<TamperCase> {};

TEST_P(PostsTamperedReturn, IsANewPost) {
  Settings("Moderated=1\r\n");
  Process(Mail("Ann <ann@example.net>", kList, "Hello birds"));
  const std::string returned = ForwardedPart(Only("Outbox", ".pri"));
  RemoveFile(listDir + "Outbox/" + Files("Outbox", ".pri")[0]);
  Process(GetParam().tamper(returned, HeaderOf(returned, "X-Moderator-Signature")));
  EXPECT_EQ(Count("Outbox", ".msg"), 0u);
  EXPECT_EQ(Count("Outbox", ".pri"), 1u);
  EXPECT_EQ(account().Signatures().Count(), 2u);  // the original and the new forward wait
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PostsTamperedReturn,
    testing::Values(TamperCase{"changed_signature",
                               [](std::string t, const std::string& signature) {
                                 std::string other = signature;
                                 other[10] = other[10] == 'A' ? 'B' : 'A';
                                 t.replace(t.find(signature), signature.size(), other);
                                 return t;
                               }},
                    TamperCase{"changed_message_id",
                               [](std::string t, const std::string&) {
                                 t.replace(t.find("023354123"), 9, "023354999");
                                 return t;
                               }}),
    [](const testing::TestParamInfo<TamperCase>& info) { return std::string(info.param.name); });

// One list per row in the two tables below: a row's post, notice or changed flag must not decide
// what the next row sees.
struct NonSubscriberCase {
  const char* name;
  const char* settings;
  std::size_t posts;
  const char* recipient;  // of the one private message; nullptr: none
  const char* text;
};

class PostsFromNonSubscribers : public Posts,
                                public testing::WithParamInterface<NonSubscriberCase> {};

TEST_P(PostsFromNonSubscribers, FollowTheListsPolicy) {
  const NonSubscriberCase& c = GetParam();
  Settings(c.settings);
  Process(Mail("Bob <bob@example.net>", kList, "Hi"));
  EXPECT_EQ(Count("Outbox", ".msg"), c.posts);
  EXPECT_EQ(Count("Digest", ".msg"), c.posts);
  const auto notices = Contents("Outbox", ".pri");
  if (c.recipient == nullptr) {
    EXPECT_TRUE(notices.empty());
  } else {
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].starts_with(std::string(c.recipient) + "\r\n"));
    EXPECT_TRUE(Contains(notices[0], c.text)) << notices[0];
  }
  EXPECT_FALSE(account().Subscribers().Contains("bob@example.net"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PostsFromNonSubscribers,
    testing::Values(NonSubscriberCase{"zero_warns", "NonSubscribers=0\r\n", 0, "bob@example.net",
                                      "address=bob@example.net sender= subject=\r\n"},
                    NonSubscriberCase{"seven_warns_like_zero", "NonSubscribers=7\r\n", 0,
                                      "bob@example.net",
                                      "address=bob@example.net sender= subject=\r\n"},
                    NonSubscriberCase{"one_goes_to_the_moderator", "NonSubscribers=1\r\n", 0,
                                      "mod@example.org", "non-subscriber bob@example.net\r\n"},
                    NonSubscriberCase{"two_posts", "NonSubscribers=2\r\n", 1, nullptr, nullptr},
                    NonSubscriberCase{"two_on_a_moderated_list_uses_Moderate",
                                      "NonSubscribers=2\r\nModerated=1\r\n", 0, "mod@example.org",
                                      "post from bob@example.net\r\n"}),
    [](const testing::TestParamInfo<NonSubscriberCase>& info) {
      return std::string(info.param.name);
    });

struct DispatchCase {
  const char* name;
  const char* controlSetting;  // the ControlAddress line, or none
  const char* to;
  const char* subject;
  bool command;       // the digest flag was set
  std::size_t posts;  // distributed copies
};

class PostsDispatch : public Posts, public testing::WithParamInterface<DispatchCase> {};

TEST_P(PostsDispatch, LooksForTheExactControlAddressInTo) {
  const DispatchCase& c = GetParam();
  std::string settings(kBaseSettings);
  settings.erase(settings.find("ControlAddress="),
                 std::string("ControlAddress=birds-request@example.org\r\n").size());
  WriteSettings(settings, c.controlSetting);
  std::string mail = Mail("ann@example.net", c.to, c.subject);
  if (*c.to == '\0') mail.erase(mail.find("To: \r\n"), 6);
  Process(mail);
  EXPECT_EQ(account().SubscriberFlags("ann@example.net"),
            c.command ? sfMember | sfDigest : sfMember);
  EXPECT_EQ(Count("Outbox", ".msg"), c.posts);
  EXPECT_EQ(Count("Outbox", ".pri"), c.command ? 1u : 0u);
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PostsDispatch,
    testing::Values(DispatchCase{"control_absent_command_subject_is_a_command", "",
                                 "birds@example.org", "digest-on secret", true, 0},
                    DispatchCase{"control_absent_other_subject_is_a_post", "", "birds@example.org",
                                 "Hi", false, 1},
                    DispatchCase{"control_empty_never_a_command", "ControlAddress=\r\n",
                                 "birds@example.org", "digest-on secret", false, 1},
                    DispatchCase{"control_in_other_letter_case_is_a_post",
                                 "ControlAddress=birds-request@example.org\r\n",
                                 "Birds-Request@example.org", "digest-on secret", false, 1},
                    DispatchCase{"control_only_without_command_is_dropped",
                                 "ControlAddress=birds-request@example.org\r\n",
                                 "birds-request@example.org", "Hi", false, 0},
                    DispatchCase{"both_addresses_without_command_is_a_post",
                                 "ControlAddress=birds-request@example.org\r\n",
                                 "birds@example.org, birds-request@example.org", "Hi", false, 1},
                    DispatchCase{"no_To_at_all_is_a_post",
                                 "ControlAddress=birds-request@example.org\r\n", "",
                                 "digest-on secret", false, 1}),
    [](const testing::TestParamInfo<DispatchCase>& info) { return std::string(info.param.name); });

TEST_F(Posts, ModeratedSubscriptionGoesToTheModeratorAndItsReturnSubscribes) {
  Settings("Moderate subscription=1\r\n");
  Process(Mail("Carol <carol@example.net>", "birds-request@example.org", "subscribe"));
  EXPECT_TRUE(account().Pending().Empty());
  const std::string forward = Only("Outbox", ".pri");
  EXPECT_TRUE(forward.starts_with("mod@example.org\r\n"));
  EXPECT_TRUE(Contains(forward, "Subject: request carol@example.net\r\n"));
  EXPECT_TRUE(Contains(forward, "wants in: carol@example.net\r\n"));
  RemoveFile(listDir + "Outbox/" + Files("Outbox", ".pri")[0]);

  Process(ForwardedPart(forward));
  EXPECT_EQ(account().SubscriberFlags("carol@example.net"), sfMember);
  EXPECT_TRUE(account().Signatures().Empty());
  const std::string welcome = Only("Outbox", ".pri");
  EXPECT_TRUE(welcome.starts_with("carol@example.net\r\n"));
  EXPECT_TRUE(Contains(welcome, " address=carol@example.net sender=\r\n"));
}

}  // namespace
}  // namespace orvex::test
