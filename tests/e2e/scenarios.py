#!/usr/bin/python3
"""Whole scenarios of the real service against the private Dovecot and Postfix.

    mailservers.py --dir DIR -- scenarios.py BUILD_DIR SOURCE_ROOT [unittest arguments]

Each scenario lays out a program directory of its own with a list made from the built-in defaults
of a new list, starts build/orvex in it (CheckInterval 0: every pass is a list cycle), mails the
list as members and the moderator would, and checks what Postfix delivered to every mailbox.
"""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import orvexlab  # noqa: E402

BUILD_DIR = SOURCE_ROOT = None
LIST = "birds"
CONTROL = LIST + "-request"


def subscribe(servers, member):
    """Subscribes a member by mail and confirms the code; returns the member's password."""
    servers.mail_to_list("alice", orvexlab.command(servers, member, CONTROL, "subscribe"))
    confirmation = servers.await_message(member, r"subscribe-confirm-")
    code = re.search(r"subscribe-confirm-([0-9A-F]{12})", confirmation["Subject"]).group(1)
    # Answering the confirmation is what a member's "Reply" does: to its sender, the control
    # address.
    assert confirmation["From"].endswith("<%s>" % servers.address(CONTROL)), confirmation["From"]
    servers.mail_to_list("alice", orvexlab.command(servers, member, CONTROL, "Re: " +
                                                   confirmation["Subject"]))
    welcome = servers.await_message(member, r"successfully subscribed")
    return re.search(r"Your password is (\w+)", orvexlab.body_text(welcome)).group(1)


class Scenario(unittest.TestCase):
    def setUp(self):
        self.servers = orvexlab.Servers()
        self.servers.clear()
        self.program = orvexlab.ProgramDirectory(
            os.path.join(BUILD_DIR, "e2e", self.id().rsplit(".", 1)[-1]), BUILD_DIR, SOURCE_ROOT)
        self.addCleanup(self.stop)

    def stop(self):
        status = self.program.stop()
        if status not in (None, 0):
            self.fail("orvex ended with status %s:\n%s" % (status, self.program.log()))

    def start(self, **list_options):
        self.program.create_list(LIST, self.servers, **list_options)
        self.program.start()

    def post(self, member, subject, text):
        self.servers.mail_to_list("alice",
                                  orvexlab.command(self.servers, member, LIST, subject, text))

    def subjects(self, local):
        return [str(m["Subject"]) for m in self.servers.received(local)]

    def assertLogged(self, line):
        self.assertIn(line, self.program.log())


class MembershipTest(Scenario):
    def test_subscribe_confirm_post_reaches_every_member(self):
        self.start(settings={"Moderated": 0})
        passwords = {m: subscribe(self.servers, m) for m in ("sub1", "sub2")}
        self.assertEqual(sorted(self.program.store(LIST, "subscribers.ini")),
                         ["sub1@lists.test", "sub2@lists.test"])
        self.assertEqual(self.program.store(LIST, "subscribers.ini")["sub2@lists.test"],
                         "," + passwords["sub2"])
        self.assertEqual(self.program.store(LIST, "pending.ini"), {})

        self.post("sub1", "Spring migration", "The swallows are back.")
        for member in ("sub1", "sub2"):
            post = self.servers.await_message(member, r"^Spring migration$")
            self.assertEqual(post["From"], "sub1@lists.test")
            self.assertEqual(post["Reply-To"], "birds@lists.test")
            text = orvexlab.body_text(post)
            self.assertIn("The swallows are back.\n", text)
            self.assertIn("Send posts to birds@lists.test", text)  # the list's signature
        self.assertLogged("<sub1@lists.test> subscribed to the list")

    def test_a_wrong_code_subscribes_nobody(self):
        self.start(settings={"Moderated": 0})
        self.servers.mail_to_list("alice",
                                  orvexlab.command(self.servers, "sub3", CONTROL, "subscribe"))
        confirmation = self.servers.await_message("sub3", r"subscribe-confirm-")
        self.servers.mail_to_list("alice", orvexlab.command(self.servers, "sub3", CONTROL,
                                                            "subscribe-confirm-000000000000"))
        # A later command from someone else shows that the wrong code has been handled.
        subscribe(self.servers, "sub4")
        self.assertNotIn("sub3@lists.test", self.program.store(LIST, "subscribers.ini"))
        self.assertIn("sub3@lists.test", self.program.store(LIST, "pending.ini"))
        self.assertIn(confirmation["Subject"].split("-")[-1],
                      self.program.store(LIST, "pending.ini")["sub3@lists.test"])

    def test_unsubscribed_member_gets_no_more_posts(self):
        self.start(settings={"Moderated": 0},
                   subscribers={"sub2@lists.test": ",kept", "sub3@lists.test": ",kept"})
        password = subscribe(self.servers, "sub1")
        # A wrong password changes nothing; the right one ends the membership.
        self.servers.mail_to_list("alice", orvexlab.command(self.servers, "sub1", CONTROL,
                                                            "unsubscribe nottheword"))
        orvexlab.wait_until(lambda: not self.servers.pop3_pending("alice"), "the fetch")
        self.program.await_cycles(1)  # the fetching cycle has committed its changes by then
        self.assertIn("sub1@lists.test", self.program.store(LIST, "subscribers.ini"))
        self.servers.mail_to_list("alice", orvexlab.command(self.servers, "sub1", CONTROL,
                                                            "unsubscribe " + password))
        self.servers.await_message("sub1", r"successfully unsubscribed")
        self.assertNotIn("sub1@lists.test", self.program.store(LIST, "subscribers.ini"))

        self.post("sub2", "After the leave", "Only two of us now.")
        self.servers.await_message("sub2", r"^After the leave$")
        self.servers.await_message("sub3", r"^After the leave$")
        self.assertNotIn("After the leave", self.subjects("sub1"))
        self.assertEqual(len([s for s in self.subjects("sub1") if "unsubscribed" in s]), 1)


class ModerationTest(Scenario):
    members = {"sub1@lists.test": ",one", "sub2@lists.test": ",two"}

    def test_moderator_approves_a_post_by_sending_the_forward_back(self):
        self.start(settings={"Moderated": 1}, subscribers=self.members)
        self.post("sub1", "Owl sighting", "A barn owl at dusk.")
        forward = self.servers.await_message("joe", r"Message from +Birds subscriber")
        self.assertIn("As you are the moderator of Birds", orvexlab.body_text(forward))
        original = orvexlab.forwarded_original(forward)
        self.assertIn("X-Moderator-Signature:", original)
        self.assertEqual(self.subjects("sub2"), [])

        # A return whose identifier was changed carries no valid signature: it goes back to the
        # moderator instead of to the list.
        message_id = re.search(r"(?im)^Message-Id: *(<[^>]*>)", original).group(1)
        self.servers.mail_to_list("alice", original.replace(message_id, "<forged@lists.test>"))
        wait = orvexlab.wait_until
        wait(lambda: len(self.servers.received("joe")) == 2, "the second forward")
        self.assertEqual(self.subjects("sub2"), [])

        self.servers.mail_to_list("alice", original)
        for member in ("sub1", "sub2"):
            post = self.servers.await_message(member, r"^Owl sighting$")
            self.assertIn("A barn owl at dusk.", orvexlab.body_text(post))
            self.assertIsNone(post["X-Moderator-Signature"])
        # The same approval sent once more is not distributed again: the list remembers the posts
        # it distributed, so the replay is dropped with a log line.
        self.servers.mail_to_list("alice", original)
        # (the log wraps long lines, so only the start of the line is looked for)
        wait(lambda: "was distributed by" in self.program.log(), "the replay to be dropped")
        self.assertEqual(self.subjects("sub2"), ["Owl sighting"])
        self.assertEqual(len(self.servers.received("joe")), 2)

    def test_moderator_approves_a_post_by_replying(self):
        # The moderator reads mail at Dovecot and answers through Postfix, as any mail program
        # (a phone's included) does: no resending of the forward, only a reply.
        moderator = self.servers.address("moderator")
        self.start(settings={"Moderated": 1, "Moderator": moderator}, subscribers=self.members)
        self.post("sub1", "Heron at the pond", "A grey heron, fishing.")
        find = lambda: [m for m in self.servers.fetch("bob")
                        if "Birds subscriber" in str(m["Subject"])]
        forward = orvexlab.wait_until(find, "the moderation mail at Dovecot")[0]
        self.assertEqual(forward["Auto-Submitted"], "auto-generated")
        text = orvexlab.body_text(forward)
        token = re.search(r"mailto:birds-request@lists\.test\?subject=approve%20([a-z2-7]{26})",
                          text).group(1)
        self.assertIn("reject%20" + token, text)
        held = os.path.join(self.program.list_dir(LIST), "Held")
        self.assertEqual(os.listdir(held), [token + ".msg"])
        self.assertEqual(self.subjects("sub2"), [])

        reply = ("From: Moderator <%s>\nTo: %s\nSubject: Re: %s approve %s\n"
                 "In-Reply-To: %s\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/alternative; boundary=\"r1\"\n\n"
                 "--r1\nContent-Type: text/plain; charset=utf-8\n\nYes\n\n"
                 "On Thu, 10 Dec 2026, Birds wrote:\n> As you are the moderator of Birds\n"
                 "--r1\nContent-Type: text/html; charset=utf-8\n\n<p>Yes</p>\n--r1--\n"
                 % (moderator, forward["From"], forward["Subject"], token,
                    forward["Message-ID"]))
        self.servers.send(moderator, self.servers.address(CONTROL), reply)
        for member in ("sub1", "sub2"):
            post = self.servers.await_message(member, r"^Heron at the pond$")
            self.assertIn("A grey heron, fishing.", orvexlab.body_text(post))
            self.assertNotIn("Yes", orvexlab.body_text(post))
            self.assertIsNone(post["X-Moderator-Signature"])
        self.assertEqual(os.listdir(held), [])
        self.assertLogged("Held post " + token)  # long lines wrap: only their start
        self.assertEqual(self.program.store(LIST, "held.ini")[token].split(",")[2], "approved")

    def test_moderated_subscription_waits_for_the_moderator(self):
        self.start(settings={"Moderated": 0, "Moderate subscription": 1})
        self.servers.mail_to_list("alice",
                                  orvexlab.command(self.servers, "sub5", CONTROL, "subscribe"))
        request = orvexlab.wait_until(lambda: self.servers.received("joe"),
                                      "the subscription request")[0]
        self.assertEqual(self.program.store(LIST, "subscribers.ini"), {})
        self.assertEqual(self.subjects("sub5"), [])

        self.servers.mail_to_list("alice", orvexlab.forwarded_original(request))
        welcome = self.servers.await_message("sub5", r"successfully subscribed")
        password = re.search(r"Your password is (\w+)", orvexlab.body_text(welcome)).group(1)
        self.assertEqual(self.program.store(LIST, "subscribers.ini"),
                         {"sub5@lists.test": "," + password})

    def test_non_member_is_warned_and_the_post_goes_nowhere(self):
        self.start(settings={"Moderated": 0, "NonSubscribers": 0}, subscribers=self.members)
        self.post("sub9", "Cheap seeds", "Buy now.")
        warning = self.servers.await_message("sub9", r"not allowed to post messages to Birds")
        self.assertIn("send a message with a single word", orvexlab.body_text(warning))
        self.assertIn("birds-request@lists.test", orvexlab.body_text(warning))
        self.assertEqual(os.listdir(os.path.join(self.program.list_dir(LIST), "Digest")), [])
        self.assertEqual(self.subjects("sub1"), [])
        self.assertEqual(self.subjects("joe"), [])


class DigestTest(Scenario):
    def test_digest_in_each_format_reaches_the_digest_member(self):
        # mode, the digest's content type, the content types of its parts
        cases = [
            (1, "text/plain", []),
            (2, "multipart/alternative", ["text/plain", "text/plain", "text/plain"]),
            (3, "multipart/digest", ["text/plain", "message/rfc822", "message/rfc822"]),
        ]
        for mode, content_type, parts in cases:
            with self.subTest(mode=mode):
                self.program.stop()
                self.servers.clear()
                self.program = orvexlab.ProgramDirectory(
                    os.path.join(BUILD_DIR, "e2e", "digest%d" % mode), BUILD_DIR, SOURCE_ROOT)
                self.start(settings={"Moderated": 0, "Digest mode": mode, "DigestCount": 2},
                           notices={"Digest message": {"Text": "* {Subject}\\13\\10{Text}"}},
                           subscribers={"sub1@lists.test": ",one", "digest1@lists.test": ",two"})
                password = "two"
                self.servers.mail_to_list("alice", orvexlab.command(
                    self.servers, "digest1", CONTROL, "digest-on " + password))
                self.servers.await_message("digest1", r"Digest mode turned on")
                self.post("sub1", "Heron", "Grey heron on the pond.")
                self.post("sub1", "Kingfisher", "Blue flash by the river.")
                digest = self.servers.await_message("digest1", r"^Digest of Birds$")
                self.assertEqual(digest.get_content_type(), content_type)
                self.assertEqual([p.get_content_type() for p in digest.get_payload()]
                                 if digest.is_multipart() else [], parts)
                text = orvexlab.body_text(digest)
                for line in ("Grey heron on the pond.", "Blue flash by the river.",
                             "This is digest of Birds"):
                    self.assertIn(line, text)
                self.servers.await_message("sub1", r"^Kingfisher$")
                self.assertEqual(sorted(self.subjects("sub1")), ["Heron", "Kingfisher"])
                self.assertEqual(sorted(self.subjects("digest1")),
                                 ["Birds : Digest mode turned on", "Digest of Birds"])
                self.assertEqual(self.program.stop(), 0)


class MailboxFailureTest(Scenario):
    def test_wrong_pop3_password_spares_the_rest_of_the_cycle(self):
        self.servers.mail_to_list("bob", orvexlab.command(self.servers, "sub7", CONTROL,
                                                          "subscribe"))
        self.start(mailboxes=(("bob", "not-bobs-password"), ("alice", None)),
                   settings={"Moderated": 0})
        # alice's mailbox is still fetched and answered in the same cycles.
        self.servers.mail_to_list("alice",
                                  orvexlab.command(self.servers, "sub6", CONTROL, "subscribe"))
        self.servers.await_message("sub6", r"subscribe-confirm-")
        self.program.await_cycles(1)
        self.assertEqual(len(self.servers.pop3_pending("bob")), 1)
        self.assertEqual(self.subjects("sub7"), [])
        log = self.program.log()
        self.assertRegex(log, r"Connecting to 127\.0\.0\.1 on port %d" % self.servers.pop3_port)
        self.assertRegex(log, r"(?i)-ERR.*auth")


if __name__ == "__main__":
    BUILD_DIR, SOURCE_ROOT = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
