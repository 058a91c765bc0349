#!/usr/bin/python3
"""A program directory of the real service beside the private mail servers of mailservers.py.

Used by the end-to-end scenarios and by the demo: it lays out a program directory with a list made
from the built-in configuration of a new list, starts `orvex` in it, mails the list as a member
would (by putting the message into the list's POP3 mailbox) and reads what Postfix delivered to
each member. Every wait is on a condition with a time limit.
"""
import email
import email.policy
import itertools
import os
import poplib
import re
import select
import shutil
import signal
import smtplib
import subprocess
import time

DOMAIN = "lists.test"
WAIT_LIMIT = 30.0  # seconds for one expected thing to happen
_counter = itertools.count(1)


class Timeout(AssertionError):
    pass


def wait_until(condition, what, limit=WAIT_LIMIT):
    """Returns condition()'s first true value; raises Timeout naming `what` after `limit`."""
    deadline = time.monotonic() + limit
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Timeout("timed out waiting for " + what)
        select.select([], [], [], 0.05)  # polling the condition


def default_list_text(source_root):
    """The built-in configuration of a new list, as the editor and orvex-admin start a list from it."""
    with open(os.path.join(source_root, "src/store/DefaultList.cpp")) as f:
        code = f.read()
    match = re.search(r'R"INI\((.*?)\)INI"', code, re.S)
    if not match:
        raise RuntimeError("no built-in list text in DefaultList.cpp")
    return match.group(1)


class Ini:
    """An INI text that keeps its order; names are compared without regard to case."""

    def __init__(self, text=""):
        self.sections = []  # [name, [[key, value], ...]]
        current = None
        for line in text.splitlines():
            if line.startswith("[") and line.rstrip().endswith("]"):
                current = [line.strip()[1:-1], []]
                self.sections.append(current)
            elif "=" in line and current is not None:
                key, value = line.split("=", 1)
                current[1].append([key, value])

    def _section(self, name):
        for section in self.sections:
            if section[0].lower() == name.lower():
                return section
        section = [name, []]
        self.sections.append(section)
        return section

    def set(self, section, key, value):
        entries = self._section(section)[1]
        for entry in entries:
            if entry[0].lower() == key.lower():
                entry[1] = str(value)
                return
        entries.append([key, str(value)])

    def get(self, section, key):
        for entry in self._section(section)[1]:
            if entry[0].lower() == key.lower():
                return entry[1]
        return None

    def text(self):
        out = []
        for name, entries in self.sections:
            out.append("[%s]" % name)
            out.extend("%s=%s" % (k, v) for k, v in entries)
            out.append("")
        return "\r\n".join(out) + "\r\n"


class Servers:
    """The mail servers that mailservers.py started, from the environment it passes."""

    def __init__(self):
        env = os.environ
        self.pop3_port = int(env["ORVEX_POP3_PORT"])
        self.pop3_maildirs = env["ORVEX_POP3_MAILDIRS"]
        self.pop3_accounts = dict(a.split(":", 1) for a in env["ORVEX_POP3_ACCOUNTS"].split(","))
        self.smtp_port = int(env["ORVEX_SMTP_PORT"])
        self.domain = env["ORVEX_SMTP_DOMAIN"]
        self.smtp_maildirs = env["ORVEX_SMTP_MAILDIRS"]

    def address(self, local):
        return "%s@%s" % (local, self.domain)

    def pop3_pending(self, account):
        """Files still waiting in a POP3 mailbox."""
        names = []
        for sub in ("new", "cur"):
            d = os.path.join(self.pop3_maildirs, account, "Maildir", sub)
            names += [os.path.join(d, n) for n in sorted(os.listdir(d))]
        return names

    def mail_to_list(self, account, text):
        """Puts a message into a POP3 mailbox as if it had been sent there (LF lines on disk)."""
        maildir = os.path.join(self.pop3_maildirs, account, "Maildir")
        name = "%d.%d.e2e" % (time.time_ns(), next(_counter))
        temporary = os.path.join(maildir, "tmp", name)
        with open(temporary, "w", newline="\n") as f:
            f.write(text.replace("\r\n", "\n"))
        os.chmod(temporary, 0o644)
        os.rename(temporary, os.path.join(maildir, "new", name))

    def send(self, sender, recipient, text):
        """Sends a message through Postfix's plain SMTP port, as a person's mail program does."""
        with smtplib.SMTP("127.0.0.1", self.smtp_port, timeout=30) as smtp:
            smtp.sendmail(sender, [recipient], text.replace("\r\n", "\n").encode("utf-8"))

    def fetch(self, account):
        """Every message in a POP3 account at Dovecot, read with POP3 and left there."""
        pop = poplib.POP3("127.0.0.1", self.pop3_port, timeout=30)
        try:
            pop.user(account)
            pop.pass_(self.pop3_accounts[account])
            messages = []
            for n in range(1, len(pop.list()[1]) + 1):
                raw = b"\r\n".join(pop.retr(n)[1]) + b"\r\n"
                message = email.message_from_bytes(raw, policy=email.policy.compat32)
                message.raw = raw.decode("latin-1")
                messages.append(message)
            return messages
        finally:
            pop.quit()

    def received(self, local):
        """Every message delivered to <local>@domain, oldest first, as email.message objects."""
        messages = []
        base = os.path.join(self.smtp_maildirs, local)
        for sub in ("new", "cur"):
            d = os.path.join(base, sub)
            if not os.path.isdir(d):
                continue
            for name in os.listdir(d):
                path = os.path.join(d, name)
                with open(path, "rb") as f:
                    raw = f.read()
                message = email.message_from_bytes(raw, policy=email.policy.compat32)
                message.raw = raw.decode("latin-1")
                messages.append((os.stat(path).st_mtime_ns, name, message))
        return [m for _, _, m in sorted(messages, key=lambda t: (t[0], t[1]))]

    def clear(self):
        """Empties every mailbox on both servers (between scenarios)."""
        for account in self.pop3_accounts:
            for path in self.pop3_pending(account):
                os.remove(path)
        for local in os.listdir(self.smtp_maildirs):
            for sub in ("new", "cur", "tmp"):
                d = os.path.join(self.smtp_maildirs, local, sub)
                if os.path.isdir(d):
                    for name in os.listdir(d):
                        os.remove(os.path.join(d, name))

    def await_message(self, local, subject_pattern, limit=WAIT_LIMIT):
        """The first message to <local> whose Subject matches the pattern."""
        pattern = re.compile(subject_pattern)

        def find():
            for m in self.received(local):
                if pattern.search(str(m.get("Subject", ""))):
                    return m
            return None

        return wait_until(find, "a message /%s/ to %s" % (subject_pattern, local), limit)


def encipher(build_dir, secret):
    result = subprocess.run([os.path.join(build_dir, "orvex-passwd")], input=secret + "\n",
                            capture_output=True, text=True, check=True)
    return result.stdout.strip()


class ProgramDirectory:
    """A program directory with links to the built programs and one list under Data/."""

    def __init__(self, path, build_dir, source_root):
        self.path = os.path.abspath(path)
        self.build_dir = os.path.abspath(build_dir)
        self.source_root = source_root
        if os.path.exists(self.path):
            shutil.rmtree(self.path)
        os.makedirs(os.path.join(self.path, "Data"))
        # A link makes the directory it stands in the program directory.
        os.symlink(os.path.join(self.build_dir, "orvex"), os.path.join(self.path, "orvex"))
        self.process = None
        self.log_path = os.path.join(self.path, "orvex.out")

    def list_dir(self, name):
        return os.path.join(self.path, "Data", name)

    def create_list(self, name, servers, mailboxes=(("alice", None),), settings=None,
                    notices=None, subscribers=None):
        """A list from the built-in defaults of a new list, pointed at the private servers.

        mailboxes: (account, password) pairs; None takes the account's right password.
        settings: further [General] keys; notices: {section: {key: value}};
        subscribers: {address: "flags,password"}."""
        ini = Ini(default_list_text(self.source_root))
        general = {
            "Name": name.capitalize(),
            "Address": servers.address(name),
            "ControlAddress": servers.address(name + "-request"),
            "Moderator": servers.address("joe"),
            "From": servers.address(name + "-owner"),
            "SmtpHost": "127.0.0.1",
            "SmtpPort": servers.smtp_port,
            "CheckInterval": 0,  # every pass of the main loop is a list cycle
            "Pop3Count": len(mailboxes),
        }
        for n, (account, password) in enumerate(mailboxes, 1):
            if password is None:
                password = servers.pop3_accounts[account]
            general.update({"Pop3Host%d" % n: "127.0.0.1", "Pop3Port%d" % n: servers.pop3_port,
                            "Name%d" % n: account,
                            "Password%d" % n: encipher(self.build_dir, password)})
        general.update(settings or {})
        for key, value in general.items():
            ini.set("General", key, value)
        for section, keys in (notices or {}).items():
            for key, value in keys.items():
                ini.set(section, key, value)
        directory = self.list_dir(name)
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, "maillist.ini"), "w", newline="") as f:
            f.write(ini.text())
        if subscribers:
            with open(os.path.join(directory, "subscribers.ini"), "w", newline="") as f:
                f.write("".join("%s=%s\r\n" % kv for kv in subscribers.items()))
        return directory

    def store(self, list_name, store):
        """A store of a list as {address: value}."""
        path = os.path.join(self.list_dir(list_name), store)
        if not os.path.exists(path):
            return {}
        with open(path, newline="") as f:
            return dict(line.split("=", 1) for line in f.read().split("\r\n") if "=" in line)

    def start(self):
        self.log_file = open(self.log_path, "wb")
        self.process = subprocess.Popen([os.path.join(self.path, "orvex")], cwd=self.path,
                                        stdin=subprocess.DEVNULL, stdout=self.log_file,
                                        stderr=subprocess.STDOUT)
        try:
            wait_until(lambda: "started" in self.log() or self.process.poll() is not None,
                       "the service's banner")
            if self.process.poll() is not None:
                raise RuntimeError("orvex ended at once:\n" + self.log())
        except BaseException:
            self.stop()  # whatever went wrong, nothing is left running
            raise

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def cycles(self):
        return self.log().count("Idle")

    def await_cycles(self, count, limit=WAIT_LIMIT):
        """Waits until `count` more list cycles have ended."""
        target = self.cycles() + count
        wait_until(lambda: self.cycles() >= target, "%d list cycles" % count, limit)

    def stop(self):
        """Stops the service as an operator does (Ctrl+C); returns its exit status."""
        if self.process is None:
            return None
        status = self.process.poll()
        if status is None:
            self.process.send_signal(signal.SIGINT)
            try:
                status = self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                status = self.process.wait()
        self.log_file.close()
        self.process = None
        return status


def command(servers, sender, to_local, subject, body=""):
    """A message from <sender>@domain to a list address."""
    return ("From: %s\nTo: %s\nSubject: %s\nDate: Thu, 10 Dec 2026 10:00:00 +0000\n"
            "Message-Id: <%d.%d@%s>\n\n%s\n" % (servers.address(sender),
                                                servers.address(to_local), subject,
                                                time.time_ns(), next(_counter), servers.domain,
                                                body))


def forwarded_original(forward):
    """The message a moderator forward carries, as it must be sent back to approve it."""
    raw = forward.raw.replace("\r\n", "\n")
    start = raw.find("content-type: message/rfc822\n\n")
    end = raw.rfind("\n---=-=-=-=---")
    if start < 0 or end < 0:
        raise AssertionError("not a moderator forward:\n" + raw)
    return raw[start + len("content-type: message/rfc822\n\n"):end + 1]


def body_text(message):
    """The text of a message, every text part of a multipart one joined."""
    if message.is_multipart():
        return "\n".join(body_text(part) for part in message.get_payload())
    payload = message.get_payload()
    if isinstance(payload, list):  # message/rfc822
        return "\n".join(body_text(part) for part in payload)
    return payload.replace("\r\n", "\n")


def _display_lines(message, depth=0):
    """A message's text for a reader: each post inside a digest under its own headers."""
    lines = []
    if message.get_content_type() == "message/rfc822":
        for inner in message.get_payload():
            lines.append("[post] Subject: %s   From: %s" % (inner.get("Subject", ""),
                                                          inner.get("From", "")))
            lines += ["    " + line for line in _display_lines(inner, depth + 1)]
    elif message.is_multipart():
        for part in message.get_payload():
            lines += _display_lines(part, depth + 1)
    else:
        lines += message.get_payload().replace("\r\n", "\n").split("\n")
    while lines and not lines[-1].strip():
        lines.pop()
    return lines


def _show(servers, local):
    """What one mailbox received, readably."""
    messages = servers.received(local)
    print("\n==== %s received %d message(s)" % (servers.address(local), len(messages)))
    for n, m in enumerate(messages, 1):
        print("\n  --- %d. %s" % (n, m.get("Subject", "")))
        for field in ("From", "To", "Reply-To", "Content-Type"):
            if m.get(field):
                print("  %-13s %s" % (field + ":", " ".join(str(m[field]).split())))
        lines = _display_lines(m)
        for line in lines[:60]:
            print("  | " + line)
        if len(lines) > 60:
            print("  | ... (%d more lines)" % (len(lines) - 60))


def demo(build_dir, source_root):
    """Two members join a list made from a new list's defaults, one posts, the other switches
    to digests, and everything each of them received is shown."""
    servers = Servers()
    program = ProgramDirectory(os.path.join(build_dir, "demo"), build_dir, source_root)
    ann, ben = "sub1", "sub2"
    print("Program directory: %s" % program.path)
    # A new list is moderated; the demo lets the members post directly.
    directory = program.create_list("demo", servers, settings={"Moderated": 0, "DigestCount": 2})
    print("List directory:    %s (from the built-in defaults of a new list)" % directory)
    print("List address %s, commands to %s" % (servers.address("demo"),
                                               servers.address("demo-request")))
    program.start()
    try:
        def send(sender, to, subject, text=""):
            print("> %s mails %s: \"%s\"" % (servers.address(sender), servers.address(to),
                                               subject))
            servers.mail_to_list("alice", command(servers, sender, to, subject, text))

        passwords = {}
        for member in (ann, ben):
            send(member, "demo-request", "subscribe")
            confirmation = servers.await_message(member, r"subscribe-confirm-")
            # The member answers with "Reply": to the notice's sender, the control address.
            send(member, "demo-request", "Re: " + " ".join(confirmation["Subject"].split()))
            welcome = servers.await_message(member, r"successfully subscribed")
            passwords[member] = re.search(r"Your password is (\w+)",
                                          body_text(welcome)).group(1)
            print("  %s is a member now (password %s)" % (servers.address(member),
                                                          passwords[member]))
        send(ann, "demo", "Hello everyone", "Hi, I am Ann. Glad to be here.")
        servers.await_message(ben, r"^Hello everyone$")
        send(ben, "demo-request", "digest-on " + passwords[ben])
        servers.await_message(ben, r"Digest mode turned on")
        send(ann, "demo", "Second post", "This one reaches Ben in a digest.")
        servers.await_message(ann, r"^Second post$")
        servers.await_message(ben, r"^Digest of ")
        print("\nThe service ran %d list cycles." % program.cycles())
        for member in (ann, ben):
            _show(servers, member)
    finally:
        status = program.stop()
        print("\n==== the service's console log (kept in %s)" % program.log_path)
        print(program.log().replace("\r", ""))
    print("The service stopped with status %s." % status)
    return 0 if status == 0 else 1


if __name__ == "__main__":
    import sys
    if len(sys.argv) == 4 and sys.argv[1] == "demo":
        sys.exit(demo(sys.argv[2], sys.argv[3]))
    sys.stderr.write("usage: orvexlab.py demo BUILD_DIR SOURCE_ROOT (under mailservers.py)\n")
    sys.exit(2)
