#!/usr/bin/python3
"""Runs orvex-passwd as an operator would and reads its output back through the library."""
import subprocess
import sys

ALPHABET = set("+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")


def main():
    tool, driver = sys.argv[1], sys.argv[2]
    cases = [
        ("plain", b"secret\n", "secret", 86),
        ("crlf_line_end", b"secret\r\n", "secret", 86),
        ("no_line_end", b"pass word", "pass word", 86),
        ("only_first_line", b"first\nsecond\n", "first", 86),
        ("empty", b"\n", "", 86),
        ("63_characters", b"x" * 63 + b"\n", "x" * 63, 171),
    ]
    failures = 0
    for name, stdin, password, length in cases:
        run = subprocess.run([tool], input=stdin, capture_output=True, check=False)
        text = run.stdout.decode().rstrip("\n")
        back = subprocess.run([driver, "decipher", text], capture_output=True, text=True,
                              check=True).stdout.rstrip("\n")
        if run.returncode != 0 or len(text) != length or not set(text) <= ALPHABET \
                or back != password:
            failures += 1
            print("%s: exit %d, %r, deciphered %r" % (name, run.returncode, text, back))
    run = subprocess.run([tool], input=b"y" * 5000, capture_output=True, check=False)
    if run.returncode == 0 or run.stdout:
        failures += 1
        print("overlong password: exit %d, %r" % (run.returncode, run.stdout))
    # --help answers and enciphers nothing; any other argument is a usage error.
    for args, status, stream in ((["--help"], 0, "stdout"), (["-h"], 0, "stdout"),
                                 (["--frobnicate"], 2, "stderr")):
        run = subprocess.run([tool, *args], input=b"secret\n", capture_output=True, check=False)
        text = getattr(run, stream).decode()
        other = run.stderr if stream == "stdout" else run.stdout
        if run.returncode != status or "Usage: orvex-passwd" not in text or other:
            failures += 1
            print("%s: exit %d, stdout %r, stderr %r" % (args, run.returncode, run.stdout,
                                                          run.stderr))
    total = len(cases) + 4
    print("%d passed, %d failed" % (total - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
