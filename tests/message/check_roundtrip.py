#!/usr/bin/python3
"""Checks that a message rewritten by orvex-msgroundtrip keeps everything it carried.

For every *.eml file of the given directories the driver parses the message, appends a signature
to its text, sets "Reply-To" and composes it. Python's email package then parses the original and
the result independently and compares: the header fields (one per name, the last value, empty
ones ignored, Reply-To added), the MIME tree with every part header, preamble and epilogue, every
part's decoded payload, and the text, which must be the original text followed by the signature.
The signature must land in the first text/plain part, or after the raw body when there is none.
"""
import argparse
import email
import email.policy
import os
import re
import subprocess
import sys

REPLY_TO = "list-reply@example.org"
# The first line holds a colon: a reader that finds it where a part header may stand takes it for a
# header field, so a signature written without the empty line that ends a header is caught.
SIGNATURE = ["Unsubscribe: <mailto:list-leave@example.org>", "-- ",
             "Sent through the example list <list@example.org>"]

# Messages that the reference parser itself reads wrongly; they are checked line by line instead.
PARSER_QUIRKS = {
    # A delimiter directly followed by the closing delimiter: the parser takes the epilogue as
    # the empty part's body.
    "mime4j-multipartemptypart.eml",
    # Only a closing delimiter: the parser drops everything after it, the epilogue included.
    "mime4j-multipartnopart.eml",
}


def norm_ws(value):
    return re.sub(r"\s+", " ", str(value)).strip()


def norm_eol(data):
    return data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")


def as_bytes(payload):
    if payload is None:
        return b""
    if isinstance(payload, bytes):
        return payload
    return str(payload).encode("utf-8", "surrogateescape")


def appended(original, result):
    """True when result is original followed by the signature lines (line ends normalised).

    Inside a multipart the line break before a delimiter belongs to the delimiter, so a raw
    payload lacks its last line end while a decoded one keeps it: either form is accepted.
    """
    text = norm_eol(original)
    signature = "\n".join(SIGNATURE).encode()
    result = norm_eol(result).rstrip(b"\n")
    # A decoded payload carries its own last line end, a raw one inside a multipart does not.
    candidates = [text + b"\n" + signature]
    if not text or text.endswith(b"\n"):
        candidates.append(text + signature)
    return result in candidates


def tolerant_files(manifest):
    """Manifest rows that tolerate the signature in another place."""
    names = set()
    if os.path.exists(manifest):
        with open(manifest, encoding="utf-8") as f:
            for line in f:
                m = re.match(r"\| `([^`]+)` \|", line)
                if m and "Tolerated:" in line:
                    names.add(m.group(1))
    return names


class Comparison:
    def __init__(self, last_leaf):
        self.last_leaf = last_leaf
        self.errors = []
        self.changes = []  # where the signature went: (kind, path)
        self.candidate = None  # path of the first text/plain leaf outside attached messages

    def same(self, a, b, at_end=False):
        a, b = as_bytes(a), as_bytes(b)
        if at_end:  # empty lines at the very end of a message are not kept
            a, b = a.rstrip(b"\r\n"), b.rstrip(b"\r\n")
        return a == b

    def headers(self, orig, out, path):
        a = [(k.lower(), norm_ws(v)) for k, v in orig.items()]
        b = [(k.lower(), norm_ws(v)) for k, v in out.items()]
        if a != b:
            self.errors.append(f"{path}: part header changed: {a} -> {b}")

    def walk(self, orig, out, path, inside_message):
        if orig.get_content_type() != out.get_content_type():
            self.errors.append(f"{path}: type {orig.get_content_type()} -> {out.get_content_type()}")
            return
        if orig.is_multipart() != out.is_multipart():
            self.errors.append(f"{path}: multipart structure changed")
            return
        if orig.is_multipart():
            if orig.get_boundary() != out.get_boundary():
                self.errors.append(f"{path}: boundary {orig.get_boundary()} -> {out.get_boundary()}")
            if not self.same((orig.preamble or "").rstrip(), (out.preamble or "").rstrip()):
                self.errors.append(f"{path}: preamble {orig.preamble!r} -> {out.preamble!r}")
            a_epi, b_epi = (orig.epilogue or ""), (out.epilogue or "")
            if not self.same(a_epi.rstrip(), b_epi.rstrip()):
                if appended(as_bytes(a_epi), as_bytes(b_epi)):
                    self.changes.append(("epilogue", path))
                else:
                    self.errors.append(f"{path}: epilogue {a_epi!r} -> {b_epi!r}")
            a_parts, b_parts = orig.get_payload(), out.get_payload()
            if len(a_parts) != len(b_parts):
                self.errors.append(f"{path}: {len(a_parts)} parts -> {len(b_parts)}")
                return
            inner = inside_message or orig.get_content_maintype() == "message"
            for i, (a, b) in enumerate(zip(a_parts, b_parts)):
                self.headers(a, b, f"{path}.{i + 1}")
                self.walk(a, b, f"{path}.{i + 1}", inner)
            return
        if self.candidate is None and not inside_message and orig.get_content_type() == "text/plain":
            self.candidate = path
        raw_a, raw_b = orig.get_payload(), out.get_payload()
        if self.same(raw_a, raw_b, path == self.last_leaf):
            return
        if appended(as_bytes(orig.get_payload(decode=True)), as_bytes(out.get_payload(decode=True))):
            self.changes.append(("text", path))
        elif appended(as_bytes(raw_a), as_bytes(raw_b)):
            self.changes.append(("raw", path))
        else:
            self.errors.append(f"{path}: payload changed: {as_bytes(raw_a)[:300]!r} -> {as_bytes(raw_b)[:300]!r}")


def end_chain(msg, path="1"):
    """The paths from the root through every last child: the places after the raw body."""
    paths = [path]
    if msg.is_multipart():
        parts = msg.get_payload()
        if parts:
            paths += end_chain(parts[-1], f"{path}.{len(parts)}")
    return paths


def check(original_bytes, result_bytes, tolerant, quirk):
    # CR LF, LF and CR all end a line of a stored message: the original is compared in CR LF form.
    original_bytes = norm_eol(original_bytes).replace(b"\n", b"\r\n")
    orig = email.message_from_bytes(original_bytes, policy=email.policy.default)
    out = email.message_from_bytes(result_bytes, policy=email.policy.default)
    chain = end_chain(orig)
    cmp = Comparison(chain[-1])

    expected = {}
    for name, value in orig.items():
        key, value = name.lower(), norm_ws(value)
        # An empty occurrence neither gives a value nor takes away one given before.
        if value:
            expected[key] = value
    expected["reply-to"] = REPLY_TO
    got = {}
    for name, value in out.items():
        if name.lower() in got:
            cmp.errors.append(f"header field {name} written twice")
        got[name.lower()] = norm_ws(value)
    if got != expected:
        missing = {k: v for k, v in expected.items() if got.get(k) != v}
        extra = {k: v for k, v in got.items() if expected.get(k) != v}
        cmp.errors.append(f"header fields differ: expected {missing}, got {extra}")

    if quirk:
        # The body, line for line, with the signature inserted in one place.
        a = norm_eol(original_bytes).split(b"\n\n", 1)[-1].rstrip(b"\n").split(b"\n")
        b = norm_eol(result_bytes).split(b"\n\n", 1)[-1].rstrip(b"\n").split(b"\n")
        signature = [line.encode() for line in SIGNATURE]
        # Right after a delimiter line the signature needs the empty line that ends the (empty)
        # part header, or it would be read as one.
        def inserted(k):
            lead = [b""] if k > 0 and a[k - 1].startswith(b"--") else []
            return b == a[:k] + lead + signature + a[k:]

        if not any(inserted(k) for k in range(len(a) + 1)):
            cmp.errors.append(f"body lines changed: {a} -> {b}")
        return cmp.errors
    cmp.walk(orig, out, "1", False)
    if not cmp.changes:
        cmp.errors.append("the signature is nowhere")
    elif len(cmp.changes) > 1:
        cmp.errors.append(f"changed in several places: {cmp.changes}")
    elif not tolerant:
        kind, path = cmp.changes[0]
        if cmp.candidate is not None:
            if path != cmp.candidate or kind == "epilogue":
                cmp.errors.append(f"signature in {kind} {path}, expected in text part {cmp.candidate}")
        elif not ((kind == "epilogue" and path in chain) or path == chain[-1]):
            cmp.errors.append(f"signature in {kind} {path}, expected after the raw body")
    return cmp.errors


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--skip-if-missing", action="store_true")
    parser.add_argument("directories", nargs="+")
    args = parser.parse_args()

    files = []
    for directory in args.directories:
        if not os.path.isdir(directory):
            if args.skip_if_missing:
                print(f"SKIPPED: the message directory {directory} is not there; "
                      "the project's own messages in tests/data/mail set the same traps")
                return 77
            print(f"message directory {directory} is missing")
            return 1
        tolerated = tolerant_files(os.path.join(directory, "MANIFEST.md"))
        files += [(os.path.join(directory, n), n in tolerated) for n in sorted(os.listdir(directory)) if n.endswith(".eml")]
    if not files:
        print("no messages found")
        return 1
    os.makedirs(args.work, exist_ok=True)
    passed = failed = 0
    for path, tolerant in files:
        name = os.path.basename(path)
        out_path = os.path.join(args.work, name)
        run = subprocess.run([args.driver, path, out_path, REPLY_TO] + SIGNATURE, capture_output=True, timeout=120)
        if run.returncode != 0:
            errors = [f"driver failed ({run.returncode}): {run.stderr.decode(errors='replace')}"]
        else:
            with open(path, "rb") as f:
                original = f.read()
            with open(out_path, "rb") as f:
                result = f.read()
            errors = check(original, result, tolerant, os.path.basename(path) in PARSER_QUIRKS)
        if errors:
            failed += 1
            print(f"FAIL {name}")
            for e in errors:
                print(f"    {e[:2000]}")
        else:
            passed += 1
            print(f"ok   {name}")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
