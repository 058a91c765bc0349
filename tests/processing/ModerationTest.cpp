// Moderation by answer: tokens, the answer in a subject, the reason in a reply, and whole inbox
// passes that hold, approve, reject and expire messages.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <set>

#include "ListFixture.h"
#include "crypto/SessionKeys.h"
#include "platform/SecureRandom.h"
#include "processing/Commit.h"
#include "processing/Moderation.h"

namespace orvex::test {
namespace {

constexpr std::string_view kList = "birds@example.org";
constexpr std::string_view kControl = "birds-request@example.org";

// ---- tokens, subjects, reasons --------------------------------------------------------------

TEST(ModerationToken, Base32OfSixteenSecureBytes) {
  FakeRandom zeros;
  zeros.Queue(std::vector<std::uint8_t>(16, 0));
  EXPECT_EQ(MakeModerationToken(zeros), "aaaaaaaaaaaaaaaaaaaaaaaaaa");
  FakeRandom ones;
  ones.Queue(std::vector<std::uint8_t>(16, 0xFF));
  // 125 one bits, then the last three padded with two zero bits: 11100.
  EXPECT_EQ(MakeModerationToken(ones), "77777777777777777777777774");
  FakeRandom pattern;  // "foobar" and ten more bytes: the RFC 4648 vector starts it
  pattern.Queue({'f', 'o', 'o', 'b', 'a', 'r', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(MakeModerationToken(pattern), "mzxw6ytboiaaaaaaaaaaaaaaaa");

  SystemRandom secure;
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string token = MakeModerationToken(secure);
    EXPECT_TRUE(IsModerationToken(token)) << token;
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 100u);

  for (const char* bad : {"", "aaaaaaaaaaaaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaaaaaaaaaaaaaa",
                          "aaaaaaaaaaaaaaaaaaaaaaaaa1", "aaaaaaaaaaaaaaaaaaaaaaaaa8",
                          "aaaaaaaaaaaaaaaaaaaaaaaa-a", "aaaaaaaaaaaa aaaaaaaaaaaaa"})
    EXPECT_FALSE(IsModerationToken(bad)) << bad;
  EXPECT_TRUE(IsModerationToken("MZXW6YTBOIaaaaaaaaaaaaaaaa"));
}

constexpr const char* kToken = "mzxw6ytboiaaaaaaaaaaaaaaaa";

TEST(ModerationAnswerSubject, FindsTheAnswerWhateverSurroundsIt) {
  struct Case {
    const char* subject;
    bool found;
    Verdict verdict;
  } cases[] = {
      {"approve mzxw6ytboiaaaaaaaaaaaaaaaa", true, Verdict::Approve},
      {"Re: approve mzxw6ytboiaaaaaaaaaaaaaaaa", true, Verdict::Approve},
      {"RE: Re: AW: Fwd: Fw: SV: reject mzxw6ytboiaaaaaaaaaaaaaaaa", true, Verdict::Reject},
      {"Re: Message from Birds subscriber APPROVE MZXW6YTBOIAAAAAAAAAAAAAAAA please", true,
       Verdict::Approve},
      {"aw:Reject\tmzxw6ytboiaaaaaaaaaaaaaaaa", true, Verdict::Reject},
      {"approve   mzxw6ytboiaaaaaaaaaaaaaaaa.", true, Verdict::Approve},
      {"(approve mzxw6ytboiaaaaaaaaaaaaaaaa)", true, Verdict::Approve},
      // The first answer counts.
      {"reject mzxw6ytboiaaaaaaaaaaaaaaaa approve mzxw6ytboiaaaaaaaaaaaaaaaa", true,
       Verdict::Reject},
      // Encoded words, also split across two with a blank between them.
      {"=?UTF-8?Q?AW:_approve_mzxw6ytboiaaaaaaaaaaaaaaaa?=", true, Verdict::Approve},
      {"=?utf-8?B?UmU6IGFwcHJvdmUg?= =?utf-8?B?bXp4dzZ5dGJvaWFhYWFhYWFhYWFhYWFhYWE=?=", true,
       Verdict::Approve},
      // Not an answer.
      {"approve", false, Verdict::Approve},
      {"approvemzxw6ytboiaaaaaaaaaaaaaaaa", false, Verdict::Approve},
      {"disapprove mzxw6ytboiaaaaaaaaaaaaaaaa", false, Verdict::Approve},
      {"approved mzxw6ytboiaaaaaaaaaaaaaaaa", false, Verdict::Approve},
      {"approve mzxw6ytboiaaaaaaaaaaaaaaa", false, Verdict::Approve},    // 25 characters
      {"approve mzxw6ytboiaaaaaaaaaaaaaaaaa", false, Verdict::Approve},  // 27 characters
      {"approve mzxw6ytboiaaaaaaaaaaaaaaa1", false, Verdict::Approve},   // "1" is not base32
      {"approve mzxw6ytboiaaaaaaaaaaaa aaaa", false, Verdict::Approve},  // broken in two
      {"subscribe-confirm-0000ABCD1A04", false, Verdict::Approve},
  };
  // A long subject of encoded-word starts without ends costs a bounded search, and an answer
  // past the first 4096 bytes is not looked for.
  std::string crafted;
  while (crafted.size() < 4 * 1024 * 1024) crafted += "=?a?q?approve ";
  EXPECT_FALSE(RecognizeModerationAnswer(crafted + "approve " + kToken));
  for (const Case& c : cases) {
    const auto answer = RecognizeModerationAnswer(c.subject);
    ASSERT_EQ(answer.has_value(), c.found) << c.subject;
    if (!answer) continue;
    EXPECT_EQ(answer->verdict, c.verdict) << c.subject;
    EXPECT_EQ(answer->token, kToken) << c.subject;
  }
}

TEST(ModerationReason, FirstLineOfTheReplysOwnText) {
  struct Case {
    const char* name;
    const char* body;
    const char* reason;
    bool html = false;  // the body is an HTML part
  } cases[] = {
      {"top posted",
       "Off topic, sorry.\r\n\r\nOn Mon, 7 Dec 2026 at 02:33, Birds wrote:\r\n> Hi\r\n",
       "Off topic, sorry."},
      {"leading blanks and spaces", "\r\n \r\n   Too long  \r\n", "Too long"},
      {"nothing but the quotation", "\r\nOn Mon, 7 Dec 2026, Birds wrote:\r\n> Hi all\r\n>\r\n",
       ""},
      {"attribution wrapped in two",
       "On Mon, Dec 7, 2026 at 2:33 AM Birds <\r\nbirds-request@example.org> wrote:\r\n"
       "> Hi all\r\n\r\nAdvertising\r\n",
       "Advertising"},
      {"attribution in another language", "Am 07.12.2026 um 02:33 schrieb Birds:\r\n> Hi\r\n", ""},
      {"bottom posted", "> Hi all\r\n> more\r\n\r\nNot for this list\r\n", "Not for this list"},
      {"a reason ending in a colon above the quotation stays when it has no date",
       "Off topic\r\nOn Mon, 7 Dec 2026, Birds wrote:\r\n> Hi\r\n", "Off topic"},
      {"phone footer only",
       "\r\nSent from my iPhone\r\n\r\n> On 7 Dec 2026 Birds wrote:\r\n> Hi\r\n", ""},
      {"signature only", "\r\n-- \r\nJoe Moderator\r\n", ""},
      {"outlook divider", "\r\n-----Original Message-----\r\nFrom: Birds\r\n", ""},
      {"outlook web divider", "________________________________\r\nFrom: Birds\r\n", ""},
      {"control characters go", "Spam\x01\x7f here\r\n", "Spam here"},
      // Replies written in HTML alone.
      {"html above a gmail quote",
       "<div dir=\"ltr\">Not about birds &amp; off topic<br></div><br>\r\n<div "
       "class=\"gmail_quote\"><div dir=\"ltr\" class=\"gmail_attr\">On Mon, 7 Dec 2026 at "
       "02:33, Birds &lt;<a href=\"mailto:b@example.org\">b@example.org</a>&gt; "
       "wrote:<br></div><blockquote class=\"gmail_quote\">Hi all<br></blockquote></div>\r\n",
       "Not about birds & off topic", true},
      {"html head, style and script are no text; entities decoded",
       "<html><head><STYLE>p{color:red}</STYLE><title>Re: x</title></head><body><script>x()"
       "</script><p>&quot;Spam&quot; &#8211; &#x41;&lt;3&#39;s&nbsp;no</p></body></html>",
       "\"Spam\" \xE2\x80\x93 A<3's no", true},
      {"html words joined across source lines, lines ended by p",
       "<p>\r\n  Too\r\n  long</p><p>second</p>", "Too long", true},
      {"html with nothing but a blockquote",
       "<div><br></div><blockquote type=\"cite\">On Mon, Birds wrote:<br>Hi</blockquote>", "",
       true},
      {"html rule above the original",
       "<div>&nbsp;</div><hr style=\"display:inline-block\"><div id=\"divRplyFwdMsg\"><b>From:"
       "</b> Birds</div>",
       "", true},
      {"html comment, unknown entity, unfinished tag",
       "<!-- <p>hidden</p> -->&copy; a &amp b &#xZZ;<span", "&copy; a &amp b &#xZZ;", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RejectionReason(c.html ? HtmlTextLines(c.body) : SplitLines(c.body)), c.reason)
        << c.name;
  const std::string longLine(5000, 'x');
  EXPECT_EQ(RejectionReason({longLine}).size(), 1000u);
  // Only the start of an HTML part is read.
  std::string longHtml;
  while (longHtml.size() < 100 * 1024) longHtml += "<b></b>";
  EXPECT_TRUE(HtmlTextLines(longHtml + "Too late").empty());
}

// ---- whole passes ---------------------------------------------------------------------------

class Moderation : public ListFixture {
 protected:
  static void SetUpTestSuite() {
    RecordingLogger quiet;
    SystemRandom secure;
    MakeSessionKeys(quiet, secure);
  }
  void SetUp() override {
    Settings("Moderated=1\r\nListHeaders=1\r\n");
    Subscribe("ann@example.net");
  }

  // Ann's post goes to the moderator; returns its token and forgets the forward.
  std::string HoldPost(std::string_view subject = "Hello birds") {
    Process(Mail("Ann <ann@example.net>", kList, subject, "Hi all\r\n",
                 "Message-Id: <hello@example.net>\r\n"));
    forward = Only("Outbox", ".pri");
    TakeOutbox(".pri");
    return LastToken();
  }
  std::string LastToken() {
    const NameValueList held = LoadHeld();
    return held.Empty() ? std::string() : held.NameAt(held.Count() - 1);
  }
  NameValueList LoadHeld() const {
    NameValueList held;
    held.LoadStoreFile(listDir + "held.ini");
    return held;
  }
  std::string HeldState(const std::string& token) const {
    return CommaItem(LoadHeld().Value(token), 2);
  }
  bool HeldFileThere(const std::string& token) const {
    return FileExists(listDir + "Held/" + token + ".msg");
  }
  std::vector<std::string> TakeOutbox(std::string_view extension) {
    auto texts = Contents("Outbox", extension);
    for (const auto& name : Files("Outbox", extension)) RemoveFile(listDir + "Outbox/" + name);
    return texts;
  }
  // The forwarded message as the moderator's mail program sends it back unchanged.
  std::string ReturnedCopy() const {
    const std::string start = "content-type: message/rfc822\r\n\r\n";
    const auto begin = forward.find(start) + start.size();
    return forward.substr(begin, forward.rfind("\r\n\r\n---=-=-=-=---\r\n") + 2 - begin);
  }
  // An answer at the control address.
  void Answer(std::string_view subject, std::string_view body = "\r\n",
              std::string_view from = "Joe Moderator <Mod@Example.org>",
              std::string_view extra = "") {
    Process(Mail(from, kControl, subject, body, extra));
  }

  std::string forward;
};

TEST_F(Moderation, ForwardHoldsTheMessageUnderATokenWithLinksAndAutoSubmitted) {
  const std::string token = HoldPost();
  ASSERT_TRUE(IsModerationToken(token)) << token;
  struct stat st {};
  ASSERT_EQ(::stat((listDir + "Held/" + token + ".msg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The held file is the forwarded message, signature included.
  const std::string held = *ReadWholeFile(listDir + "Held/" + token + ".msg");
  EXPECT_NE(forward.find("content-type: message/rfc822\r\n\r\n" + held), std::string::npos);
  EXPECT_NE(HeaderOf(held, "X-Moderator-Signature"), "");
  const std::vector<std::string> record = ReadCommaList(LoadHeld().Value(token));
  EXPECT_EQ(record,
            (std::vector<std::string>{"46363", "post", "held", "ann@example.net", "Hello birds",
                                      "Mon, 07 Dec 2026 01:00:00 +0100",
                                      std::to_string(held.size()), HeaderOf(held, "Message-Id")}));
  // The fixture's template names no placeholder: the links follow its text.
  EXPECT_TRUE(Contains(forward,
                       "post from ann@example.net\r\n\r\n"
                       "Approve: mailto:birds-request@example.org?subject=approve%20" +
                           token +
                           "\r\n"
                           "Reject: mailto:birds-request@example.org?subject=reject%20" +
                           token + "\r\n--\r\nBirds\r\n"))
      << forward;
  EXPECT_EQ(HeaderOf(forward.substr(forward.find("\r\n") + 2), "Auto-Submitted"), "auto-generated");
  EXPECT_TRUE(log.Contains("Post from <ann@example.net> held for the moderator under " + token));
}

TEST_F(Moderation, TemplatesThatNameAPlaceholderGetNoSecondCopyOfTheLinks) {
  struct Case {
    const char* name;
    std::string section;  // "" : no [Moderate] section, the built-in text
    std::size_t approveLinks;
  } cases[] = {
      {"names {ApproveLink}", "[Moderate]\r\nSubject=m\r\nText=\"Yes: {APPROVELINK}\"\r\n", 1},
      {"names {Token} only", "[Moderate]\r\nSubject=m\r\nText=\"Answer about {token}\"\r\n", 0},
      {"built-in text", "", 1},
  };
  for (const Case& c : cases) {
    std::string settings(kBaseSettings);
    const auto begin = settings.find("[Moderate]");
    settings.erase(begin, settings.find("[NS-Moderate]") - begin);
    WriteSettings(settings + c.section, "Moderated=1\r\n");
    const std::string token = HoldPost();
    const std::string link = "mailto:birds-request@example.org?subject=approve%20" + token;
    std::size_t links = 0;
    for (auto at = forward.find(link); at != std::string::npos; at = forward.find(link, at + 1))
      ++links;
    EXPECT_EQ(links, c.approveLinks) << c.name << "\n" << forward;
    EXPECT_FALSE(Contains(forward, "Approve: ")) << c.name;
    EXPECT_TRUE(Contains(forward, token)) << c.name;
  }
}

TEST_F(Moderation, PhoneStyleReplyApprovesExactlyAsAnApprovedReturn) {
  const std::string token = HoldPost();
  const std::string held = *ReadWholeFile(listDir + "Held/" + token + ".msg");
  // A phone's reply: "Re:" before the link's subject, HTML alternative, quotation below, and
  // the threading fields a reply carries.
  Answer("Re: approve " + token,
         "--alt\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nOk\r\n\r\n"
         "On Mon, 7 Dec 2026, Birds <birds-request@example.org> wrote:\r\n> post from "
         "ann@example.net\r\n--alt\r\nContent-Type: text/html\r\n\r\n<p>Ok</p>\r\n--alt--\r\n",
         "Joe Moderator <MOD@example.org>",
         "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=alt\r\n"
         "In-Reply-To: <20261207.023354124.birds@example.org>\r\n"
         "References: <20261207.023354124.birds@example.org>\r\n");
  const std::string post = Only("Outbox", ".msg");
  EXPECT_EQ(Only("Digest", ".msg"), post);
  // The held message, its signature header gone, with the list's fields and signature.
  const std::string messageId = HeaderOf(held, "Message-Id");
  EXPECT_EQ(HeaderOf(post, "Message-Id"), messageId);
  EXPECT_EQ(HeaderOf(post, "X-Moderator-Signature"), "");
  EXPECT_EQ(HeaderOf(post, "Reply-To"), "birds@example.org");
  EXPECT_EQ(HeaderOf(post, "List-Id"), "\"Birds\" <birds.example.org>");
  EXPECT_TRUE(post.ends_with("\r\n\r\nHi all\r\n--\r\nBirds\r\n")) << post;
  EXPECT_FALSE(Contains(post, "Ok")) << post;
  EXPECT_EQ(TakeOutbox(".pri").size(), 0u);  // nobody else hears of it
  EXPECT_EQ(HeldState(token), "approved");
  EXPECT_FALSE(HeldFileThere(token));
  EXPECT_FALSE(account().Signatures().Contains(messageId));
  EXPECT_TRUE(Contains(*ReadWholeFile(listDir + "distributed.ini"), messageId));
  EXPECT_TRUE(log.Contains("Held post " + token +
                           " from <ann@example.net> approved by the moderator's answer; "
                           "distributed"));
  EXPECT_EQ(Count("Failed", ".msg"), 0u);

  // The same answer again, and the returned copy: nothing goes out a second time; the answer
  // gets one notice to the moderator.
  Answer("Re: approve " + token);
  Process(ReturnedCopy());
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  const auto notices = TakeOutbox(".pri");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].starts_with("mod@example.org\r\n")) << notices[0];
  EXPECT_TRUE(Contains(notices[0], "Your answer \"approve " + token +
                                       "\" was not applied: the message under this token was "
                                       "approved already."));
  EXPECT_EQ(HeaderOf(notices[0].substr(notices[0].find("\r\n") + 2), "Auto-Submitted"),
            "auto-generated");
  EXPECT_FALSE(
      Contains(HeaderOf(notices[0].substr(notices[0].find("\r\n") + 2), "Subject"), token));
}

TEST_F(Moderation, RejectionTellsThePosterOnlyWhenTheModeratorWroteAReason) {
  struct Case {
    const char* name;
    const char* body;
    const char* told;         // nullptr: no notice to Ann
    const char* fields = "";  // header fields of the answer
  } cases[] = {
      {"reason", "Please keep to birds.\r\n\r\nOn Mon, 7 Dec 2026, Birds wrote:\r\n> Hi\r\n",
       "Please keep to birds."},
      {"no reason", "\r\nOn Mon, 7 Dec 2026, Birds wrote:\r\n> Hi\r\n", nullptr},
      {"html only",
       "<div dir=3D\"ltr\">Please keep to birds &amp; be=\r\nes.</div><div class=3D\"gmail_quo=\r\n"
       "te\">On Mon, 7 Dec 2026, Birds wrote:<blockquote>Hi</blockquote></div>\r\n",
       "Please keep to birds & bees.",
       "MIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"},
      {"html only, base64 in a mixed part",
       "--mix\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: base64\r\n\r\n"
       "PHA+T2ZmIHRvcGljPC9w\r\nPjxibG9ja3F1b3RlPkhpPC9ibG9ja3F1b3RlPg==\r\n--mix--\r\n",
       "Off topic", "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=mix\r\n"},
      // The plain-text version is the reply's text, even when only its HTML has a line.
      {"html beside a plain part without a reason",
       "--alt\r\nContent-Type: text/plain\r\n\r\n> Hi\r\n--alt\r\nContent-Type: text/html\r\n"
       "\r\n<p>Spam</p>\r\n--alt--\r\n",
       nullptr, "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=alt\r\n"},
  };
  WriteSettings(std::string(kBaseSettings) +
                    "[Post rejected]\r\nSubject=not posted: {Subject}\r\n"
                    "Text=\"{Sender}: {Reason}\"\r\n",
                "Moderated=1\r\n");
  for (const Case& c : cases) {
    const std::string token = HoldPost();
    Answer("AW: reject " + token, c.body, "Joe Moderator <Mod@Example.org>", c.fields);
    EXPECT_EQ(Count("Outbox", ".msg"), 0u) << c.name;
    EXPECT_EQ(HeldState(token), "rejected") << c.name;
    EXPECT_FALSE(HeldFileThere(token)) << c.name;
    const auto notices = TakeOutbox(".pri");
    if (c.told == nullptr) {
      EXPECT_TRUE(notices.empty()) << c.name;
    } else {
      ASSERT_EQ(notices.size(), 1u) << c.name;
      EXPECT_TRUE(notices[0].starts_with("ann@example.net\r\n")) << notices[0];
      EXPECT_EQ(HeaderOf(notices[0].substr(notices[0].find("\r\n") + 2), "Subject"),
                "not posted: Hello birds");
      EXPECT_TRUE(Contains(notices[0], std::string("ann@example.net: ") + c.told)) << notices[0];
    }
    // A copy sent back after the rejection is no approval: it is a new post to moderate.
    Process(ReturnedCopy());
    EXPECT_EQ(Count("Outbox", ".msg"), 0u) << c.name;
    EXPECT_EQ(TakeOutbox(".pri").size(), 1u) << c.name;
  }
  // An empty template sends nothing, even with a reason.
  WriteSettings(std::string(kBaseSettings) + "[Post rejected]\r\nSubject=x\r\nText=\r\n",
                "Moderated=1\r\n");
  const std::string token = HoldPost();
  Answer("reject " + token, "Off topic\r\n");
  EXPECT_TRUE(TakeOutbox(".pri").empty());
  EXPECT_EQ(HeldState(token), "rejected");
}

TEST_F(Moderation, AnswersThatDecideNothing) {
  const std::string token = HoldPost();
  // From an address that is not the moderator's: a log line, nothing else.
  Answer("approve " + token, "\r\n", "ann@example.net");
  EXPECT_EQ(Count("Outbox", ""), 0u);
  EXPECT_EQ(HeldState(token), "held");
  EXPECT_TRUE(HeldFileThere(token));
  EXPECT_TRUE(log.Contains("Moderation answer \"approve " + token +
                           "\" from <ann@example.net> ignored: not the moderator of this list"));

  // A token this list never issued: one notice to the moderator.
  const std::string unknown = "abcdefghijklmnopqrstuvwxyz";
  Answer("Re: approve " + unknown);
  auto notices = TakeOutbox(".pri");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].starts_with("mod@example.org\r\n"));
  EXPECT_TRUE(Contains(notices[0], "nothing waits for moderation under this token"));
  EXPECT_TRUE(log.Contains("Moderation answer \"approve " + unknown +
                           "\" not applied: the token is unknown or expired; the moderator is "
                           "told"));
  // ... but never to bulk mail, and automatic mail is refused before it is read at all.
  Answer("Re: approve " + unknown, "\r\n", "mod@example.org", "Precedence: bulk\r\n");
  EXPECT_TRUE(TakeOutbox(".pri").empty());
  Answer("Auto: approve " + token, "\r\n", "mod@example.org", "Auto-Submitted: auto-replied\r\n");
  EXPECT_TRUE(TakeOutbox(".pri").empty());
  EXPECT_EQ(Count("Outbox", ".msg"), 0u);
  EXPECT_EQ(Count("Failed", ".msg"), 1u);
  EXPECT_EQ(HeldState(token), "held");
  for (const auto& name : Files("Failed", ".msg")) RemoveFile(listDir + "Failed/" + name);

  // After `Days` days the held message and its record are gone; an answer then is told so.
  clock.Set({2026, 12, 15, 2, 33, 54, 0, 60});
  Run();
  EXPECT_FALSE(HeldFileThere(token));
  EXPECT_FALSE(LoadHeld().Contains(token));
  EXPECT_TRUE(log.Contains("Held message " + token +
                           " from <ann@example.net> expired undecided after 7 days; removed"));
  Answer("approve " + token);
  EXPECT_EQ(Count("Outbox", ".msg"), 0u);
  notices = TakeOutbox(".pri");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(Contains(notices[0], "It expired after 7 days"));
  EXPECT_EQ(Count("Failed", ".msg"), 0u);
}

TEST_F(Moderation, ResendUnchangedStillApprovesAndSettlesTheToken) {
  const std::string token = HoldPost();
  Process(ReturnedCopy());
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(HeldState(token), "approved");
  EXPECT_FALSE(HeldFileThere(token));
  Answer("approve " + token);
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  const auto notices = TakeOutbox(".pri");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(Contains(notices[0], "approved already"));
}

TEST_F(Moderation, SubscriptionRequestApprovedByAnswer) {
  Settings("Moderate subscription=1\r\n");
  Process(Mail("Bob <bob@example.net>", kControl, "subscribe"));
  const std::string token = LastToken();
  ASSERT_TRUE(IsModerationToken(token));
  EXPECT_EQ(CommaItem(LoadHeld().Value(token), 1), "subscription");
  const auto requests = TakeOutbox(".pri");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(Contains(requests[0], "wants in: bob@example.net\r\n\r\nApprove: mailto:"));
  EXPECT_EQ(account().SubscriberFlags("bob@example.net"), 0u);

  Answer("Re: request bob@example.net - approve " + token);
  EXPECT_EQ(account().SubscriberFlags("bob@example.net") & sfMember, sfMember);
  const auto welcome = TakeOutbox(".pri");
  ASSERT_EQ(welcome.size(), 1u);
  EXPECT_TRUE(welcome[0].starts_with("bob@example.net\r\n"));
  EXPECT_EQ(HeaderOf(welcome[0].substr(welcome[0].find("\r\n") + 2), "Subject"), "welcome");
  EXPECT_EQ(HeldState(token), "approved");
  EXPECT_TRUE(account().Signatures().Empty());
}

TEST_F(Moderation, FaultDuringTheApprovalsCommitKeepsEverythingAndARerunSendsOnce) {
  const std::string token = HoldPost();
  FileFault full;
  full.operation = FileOperation::Write;
  full.failingCalls = 0;
  full.errorNumber = ENOSPC;
  full.pathContains = "/Staging/";
  InjectFileFault(full);
  Answer("approve " + token);
  ClearFileFaults();
  EXPECT_EQ(Count("Outbox", ".msg"), 0u);
  EXPECT_EQ(Count("Inbox", ".msg"), 1u);  // the answer waits for the next cycle
  EXPECT_EQ(HeldState(token), "held");
  EXPECT_TRUE(HeldFileThere(token));

  // The commit point is passed, then removing the held file fails: the next pass finishes it.
  FileFault stuck;
  stuck.operation = FileOperation::Remove;
  stuck.errorNumber = EIO;
  stuck.pathContains = "/Held/";
  InjectFileFault(stuck);
  Run();
  ClearFileFaults();
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  Run();
  EXPECT_FALSE(HeldFileThere(token));
  EXPECT_EQ(Count("Inbox", ".msg"), 0u);
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_EQ(HeldState(token), "approved");
  Run();
  EXPECT_EQ(Count("Outbox", ".msg"), 1u);
  EXPECT_TRUE(TakeOutbox(".pri").empty());
}

TEST_F(Moderation, MissingHeldFileSetsTheAnswerAsideAndSendsNothing) {
  const std::string token = HoldPost();
  RemoveFile(listDir + "Held/" + token + ".msg");
  Answer("approve " + token);
  EXPECT_EQ(Count("Outbox", ""), 0u);
  EXPECT_EQ(Count("Failed", ".msg"), 1u);
  EXPECT_EQ(HeldState(token), "held");
}

}  // namespace
}  // namespace orvex::test
