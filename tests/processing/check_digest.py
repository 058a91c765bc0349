#!/usr/bin/python3
"""Checks that a digest file parses as the intended MIME structure.

usage: check_digest.py FILE FORMAT POSTS
"""
import email
import email.policy
import sys


def fail(text):
    print("digest check failed:", text)
    sys.exit(1)


def main():
    path, form, posts = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    with open(path, "rb") as handle:
        message = email.message_from_binary_file(handle, policy=email.policy.compat32)
    if message.defects:
        fail("defects %r" % message.defects)
    if not message["Subject"] or not message["Message-ID"] or not message["Date"]:
        fail("missing header fields")
    if form == 1:
        if message.is_multipart() or message.get_content_type() != "text/plain":
            fail("expected one text/plain part, got %s" % message.get_content_type())
        if b"Preamble" not in message.get_payload(decode=True):
            fail("preamble missing")
        return
    expected = "multipart/alternative" if form == 2 else "multipart/digest"
    if message.get_content_type() != expected or message.get_boundary() != "=-=-=-=-=":
        fail("expected %s, got %s" % (expected, message.get_content_type()))
    parts = message.get_payload()
    if len(parts) != posts + 1:
        fail("expected %d parts, got %d" % (posts + 1, len(parts)))
    first = parts[0]
    if first.get_content_type() != "text/plain" or "Preamble" not in first.get_payload():
        fail("first part is not the preamble")
    for part in parts[1:]:
        if part.defects:
            fail("part defects %r" % part.defects)
        if form == 2:
            if part.get_content_type() != "text/plain":
                fail("item of type %s" % part.get_content_type())
        else:
            if part.get_content_type() != "message/rfc822":
                fail("item of type %s" % part.get_content_type())
            inner = part.get_payload()[0]
            if not inner["From"] or not inner["Subject"]:
                fail("enclosed post lost its header")


if __name__ == "__main__":
    main()
