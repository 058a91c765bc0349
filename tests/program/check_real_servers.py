#!/usr/bin/env python3
"""`orvex-admin check` against the private Dovecot and Postfix of mailservers.py.

Usage: check_real_servers.py ORVEX_ADMIN (run under tests/support/mailservers.py, which
supplies the servers' ports, accounts and test certificate authority in the environment).

Each case configures one list's POP3 mailbox and relay through `orvex-admin list set` and reads
back the rows of `check --json`: the plain, STARTTLS and implicit-TLS ports, a wrong password and
an untrusted certificate each give their own row. A message waiting in the mailbox shows that a
check deletes nothing.
"""
import json
import os
import subprocess
import sys
import tempfile

ADMIN = sys.argv[1]
ENV = os.environ
DOMAIN = ENV["ORVEX_SMTP_DOMAIN"]
USER, PASSWORD = ENV["ORVEX_POP3_ACCOUNTS"].split(",")[0].split(":")

failures = []


def admin(directory, *args, stdin=None, env=None):
    return subprocess.run([ADMIN, "--dir", directory, *args], input=stdin, capture_output=True,
                          text=True, env=env, timeout=120)


def configure(directory, pop3_port, pop3_security, pop3_password, smtp_port, smtp_security,
              smtp_user, smtp_password):
    # The servers' certificate names "localhost" only.
    keys = [("Pop3Count", "1"), ("Pop3Host1", "localhost"), ("Pop3Port1", str(pop3_port)),
            ("Pop3Security1", str(pop3_security)), ("Name1", USER), ("SMTPHOST", "localhost"),
            ("SMTPPort", str(smtp_port)), ("SmtpSecurity", str(smtp_security)),
            ("SMTPUser", smtp_user)]
    for key, value in keys:
        result = admin(directory, "list", "set", "shop", key, value)
        assert result.returncode == 0, (key, value, result.stderr)
    for key, value in (("Password1", pop3_password), ("SMTPPassword", smtp_password)):
        result = admin(directory, "list", "set", "shop", key, "--password-stdin",
                       stdin=value + "\n")
        assert result.returncode == 0, (key, result.stderr)


def expect(case, what, condition, detail):
    if not condition:
        failures.append("%s: %s\n    %s" % (case, what, detail))


# (name, POP3 port key, POP3 security, POP3 password, SMTP port key, SMTP security,
#  SMTP user, SMTP password, other authority, expected POP3 (ok, step), expected SMTP (ok, step))
CASES = [
    ("plain", "ORVEX_POP3_PORT", 0, PASSWORD, "ORVEX_SMTP_PORT", 0, "", "", False,
     (True, "done"), (True, "done")),
    ("STARTTLS", "ORVEX_POP3_PORT", 1, PASSWORD, "ORVEX_SMTP_STARTTLS_PORT", 1, USER, PASSWORD,
     False, (True, "done"), (True, "done")),
    ("implicit TLS", "ORVEX_POP3S_PORT", 2, PASSWORD, "ORVEX_SMTPS_PORT", 2, USER, PASSWORD,
     False, (True, "done"), (True, "done")),
    ("wrong password", "ORVEX_POP3_PORT", 1, "not-" + PASSWORD, "ORVEX_SMTP_STARTTLS_PORT", 1,
     USER, "not-" + PASSWORD, False, (False, "PASS"), (False, "AUTH")),
    ("untrusted certificate", "ORVEX_POP3S_PORT", 2, PASSWORD, "ORVEX_SMTP_STARTTLS_PORT", 1,
     USER, PASSWORD, True, (False, "connect"), (False, "EHLO")),
]


def main():
    maildir = os.path.join(ENV["ORVEX_POP3_MAILDIRS"], USER, "Maildir")
    temporary = os.path.join(maildir, "tmp", "1.check.test")
    with open(temporary, "w") as f:
        f.write("From: ann@example.net\nSubject: waits\n\nstays on the server\n")
    os.chmod(temporary, 0o644)
    os.rename(temporary, os.path.join(maildir, "new", "1.check.test"))

    def waiting():  # the server may move a message from new/ to cur/ once it has seen it
        return [n for sub in ("new", "cur") for n in os.listdir(os.path.join(maildir, sub))]

    with tempfile.TemporaryDirectory() as directory:
        os.mkdir(os.path.join(directory, "Data"))
        created = admin(directory, "list", "create", "shop", "--name", "Shop", "--address",
                        "shop@" + DOMAIN, "--control", "shop-request@" + DOMAIN, "--moderator",
                        "joe@" + DOMAIN)
        assert created.returncode == 0, created.stderr
        for (name, pop3_port, pop3_security, pop3_password, smtp_port, smtp_security, smtp_user,
             smtp_password, other_authority, pop3_expected, smtp_expected) in CASES:
            configure(directory, ENV[pop3_port], pop3_security, pop3_password, ENV[smtp_port],
                      smtp_security, smtp_user, smtp_password)
            env = dict(ENV)
            if other_authority:
                env["SSL_CERT_FILE"] = ENV["ORVEX_TLS_OTHER_CA"]
            result = admin(directory, "--json", "check", "shop", env=env)
            try:
                rows = json.loads(result.stdout)["servers"]
            except (ValueError, KeyError) as error:
                expect(name, "JSON output", False, "%s: %r %r" % (error, result.stdout,
                                                                   result.stderr))
                continue
            expect(name, "one row per server", len(rows) == 2, rows)
            if len(rows) != 2:
                continue
            pop3, smtp = rows
            for row, kind, (ok, step) in ((pop3, "POP3", pop3_expected),
                                          (smtp, "SMTP", smtp_expected)):
                expect(name, kind + " row names its server",
                       row["server"].startswith(kind) and "localhost" in row["server"], row)
                expect(name, "%s ok is %s at step %s" % (kind, ok, step),
                       row["ok"] == ok and row["step"] == step, row)
                if other_authority:
                    expect(name, kind + " detail names the certificate",
                           "certificate" in row["detail"].lower(), row)
            if pop3_expected[0]:
                expect(name, "STAT counted the waiting message", "+OK 1 " in pop3["detail"],
                       pop3)
            everything_ok = pop3_expected[0] and smtp_expected[0]
            expect(name, "exit status", result.returncode == (0 if everything_ok else 1),
                   (result.returncode, result.stderr))

    expect("all", "the waiting message is still on the server", len(waiting()) == 1,
           waiting())
    for failure in failures:
        print("FAILED " + failure)
    print("%d cases, %d failures" % (len(CASES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
