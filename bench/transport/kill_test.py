#!/usr/bin/python3
"""Kill test of the whole cycle against scripted mail servers on 127.0.0.1: a POP3 server (with
UIDL; deletions take effect at QUIT, as on a real server) holds posts from a member, an SMTP sink
records every delivery. The real service is killed with SIGKILL at random instants while it
fetches, processes and delivers, started again, and so on; at the end it runs without kills until
the mailbox and the Outbox are empty. Reported: posts lost for a member (must be 0), torn
deliveries (a post without its last line, must be 0), and duplicate deliveries per kill.

usage: kill_test.py BUILD_DIR [KILLS] [POSTS] [MEMBERS]

The service is started by this script and killed by its PID only.
"""
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
KILLS = int(sys.argv[2]) if len(sys.argv) > 2 else 100
POSTS = int(sys.argv[3]) if len(sys.argv) > 3 else 200
MEMBERS = int(sys.argv[4]) if len(sys.argv) > 4 else 30

ROOT = os.path.join(BUILD, "kill-test")
LIST = os.path.join(ROOT, "Data", "sales")
LOCK = threading.Lock()


def post(i):
    body = "".join("line %d of post %d\r\n" % (n, i) for n in range(30))
    return ("From: m1@x.test\r\nTo: sales@x.test\r\nSubject: post %d\r\n"
            "Message-Id: <p%d@x.test>\r\n\r\n%sEND OF POST %d\r\n" % (i, i, body, i))


class Mailbox:
    def __init__(self):
        self.messages = {i: post(i) for i in range(1, POSTS + 1)}  # id -> text
        self.retrieved = {}  # id -> times fetched
        self.dele_sent = set()  # ids whose DELE the client sent (it had saved them)
        self.fetched_after_dele = 0  # RETR of a message the client had already saved

    def serve(self, conn):
        reader = conn.makefile("rb")
        with LOCK:
            ids = sorted(self.messages)
        deleted = set()
        conn.sendall(b"+OK ready\r\n")
        while True:
            line = reader.readline(1000)
            if not line:
                return  # dropped: nothing deleted
            words = line.decode().split()
            verb = words[0].upper() if words else ""
            n = int(words[1]) if len(words) > 1 and words[1].isdigit() else 0
            valid = 1 <= n <= len(ids) and ids[n - 1] not in deleted
            if verb == "STAT":
                conn.sendall(b"+OK %d 0\r\n" % len(ids))
            elif verb == "UIDL" and valid:
                conn.sendall(b"+OK %d id-%d\r\n" % (n, ids[n - 1]))
            elif verb == "LIST" and valid:
                conn.sendall(b"+OK %d %d\r\n" % (n, len(self.messages[ids[n - 1]])))
            elif verb == "RETR" and valid:
                with LOCK:
                    self.retrieved[ids[n - 1]] = self.retrieved.get(ids[n - 1], 0) + 1
                    if ids[n - 1] in self.dele_sent:
                        self.fetched_after_dele += 1
                text = self.messages[ids[n - 1]].replace("\r\n.", "\r\n..")
                conn.sendall(b"+OK\r\n" + text.encode() + b".\r\n")
            elif verb == "DELE" and valid:
                deleted.add(ids[n - 1])
                with LOCK:
                    self.dele_sent.add(ids[n - 1])
                conn.sendall(b"+OK\r\n")
            elif verb == "QUIT":
                with LOCK:
                    for i in deleted:
                        self.messages.pop(i, None)
                conn.sendall(b"+OK bye\r\n")
                return
            elif verb in ("USER", "PASS"):
                conn.sendall(b"+OK\r\n")
            else:
                conn.sendall(b"-ERR\r\n")


class Sink:
    def __init__(self):
        self.counts = {}  # (post, member) -> deliveries
        self.torn = 0

    def serve(self, conn):
        reader = conn.makefile("rb")
        conn.sendall(b"220 sink\r\n")
        recipients = []
        while True:
            line = reader.readline(100000)
            if not line:
                return
            verb = line[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                conn.sendall(b"250 sink\r\n")
            elif verb == b"MAIL":
                recipients = []
                conn.sendall(b"250 ok\r\n")
            elif verb == b"RCPT":
                recipients.append(re.search(rb"<([^>]*)>", line).group(1).decode().lower())
                conn.sendall(b"250 ok\r\n")
            elif verb == b"DATA":
                conn.sendall(b"354 go\r\n")
                data = []
                while True:
                    row = reader.readline(100000)
                    if not row or row == b".\r\n":
                        break
                    data.append(row)
                if not row:
                    return  # the client died mid-data: nothing delivered
                text = b"".join(data).decode(errors="replace")
                found = re.search(r"Subject: .*post (\d+)", text)
                with LOCK:
                    if found:
                        i = int(found.group(1))
                        if "END OF POST %d" % i not in text:
                            self.torn += 1
                        for r in recipients:
                            self.counts[(i, r)] = self.counts.get((i, r), 0) + 1
                conn.sendall(b"250 queued\r\n")
            elif verb == b"QUIT":
                conn.sendall(b"221 bye\r\n")
                return
            else:
                conn.sendall(b"250 ok\r\n")


def listen(handler):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(16)

    def loop():
        while True:
            conn, _ = server.accept()

            def one(c=conn):
                try:
                    handler(c)
                except (OSError, ValueError, AttributeError):
                    pass
                c.close()
            threading.Thread(target=one, daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()
    return server.getsockname()[1]


def settings(pop3, smtp):
    return ("[General]\r\nName=Sales\r\nAddress=sales@x.test\r\nControlAddress=sales-request@x.test"
            "\r\nFrom=sales@x.test\r\nCheckInterval=0\r\nMaxRecipients=7\r\nPop3MaxPerCycle=25"
            "\r\nPop3Count=1\r\nPop3Host1=127.0.0.1\r\nPop3Port1=%d\r\nName1=box\r\n"
            "SmtpHost=127.0.0.1\r\nSmtpPort=%d\r\n" % (pop3, smtp))


def start(log):
    return subprocess.Popen(["./orvex"], cwd=ROOT, stdout=log, stderr=subprocess.STDOUT)


def busy():
    outbox = os.path.join(LIST, "Outbox")
    inbox = os.path.join(LIST, "Inbox")
    return bool(mailbox.messages) or bool(any(n.endswith(".msg") for n in os.listdir(inbox))
            or any(n.endswith(".msg") for n in os.listdir(outbox)))


if __name__ == "__main__":
    shutil.rmtree(ROOT, ignore_errors=True)
    os.makedirs(os.path.join(LIST, "Inbox"))
    os.makedirs(os.path.join(LIST, "Outbox"))
    shutil.copy(os.path.join(BUILD, "orvex"), ROOT)
    mailbox, sink = Mailbox(), Sink()
    pop3_port, smtp_port = listen(mailbox.serve), listen(sink.serve)
    with open(os.path.join(LIST, "maillist.ini"), "w", newline="") as f:
        f.write(settings(pop3_port, smtp_port))
    with open(os.path.join(LIST, "subscribers.ini"), "w", newline="") as f:
        f.write("".join("m%d@x.test=\r\n" % n for n in range(1, MEMBERS + 1)))
    rng = random.Random(16)
    log = open(os.path.join(ROOT, "service.log"), "ab")
    kills = 0
    while kills < KILLS and busy():
        service = start(log)
        time.sleep(rng.uniform(0.05, 0.8))
        service.send_signal(signal.SIGKILL)
        service.wait()
        kills += 1
    service = start(log)
    deadline = time.monotonic() + 300
    while busy() and time.monotonic() < deadline:
        time.sleep(0.5)
    time.sleep(1)
    alive = service.poll() is None
    service.send_signal(signal.SIGTERM)
    status = service.wait(timeout=30)
    log.close()
    print("final run: %s, exit status %d" % ("ran to the end" if alive else "ENDED EARLY", status))

    lost = sum(1 for i in range(1, POSTS + 1) for m in range(1, MEMBERS + 1)
               if sink.counts.get((i, "m%d@x.test" % m), 0) == 0)
    duplicates = sum(c - 1 for c in sink.counts.values() if c > 1)
    fetched_twice = sum(t - 1 for t in mailbox.retrieved.values() if t > 1)
    # A post distributed twice reaches every member at least twice; a repeated batch does not.
    twice = sum(1 for i in range(1, POSTS + 1)
                if min(sink.counts.get((i, "m%d@x.test" % m), 0) for m in range(1, MEMBERS + 1)) > 1)
    print("kills: %d  posts: %d  members: %d" % (kills, POSTS, MEMBERS))
    print("left on the server: %d  left in Inbox/Outbox: %s" % (len(mailbox.messages), busy()))
    print("temporary files left in the list folder: %d"
          % sum(1 for n in os.listdir(LIST) if ".tmp" in n or n.endswith(".part")))
    print("lost (post, member) pairs: %d (must be 0)" % lost)
    print("torn deliveries: %d (must be 0)" % sink.torn)
    print("RETR repeated: %d (transfers cut by a kill before the message was saved, and these:)"
          % fetched_twice)
    print("messages fetched again after they were saved: %d" % mailbox.fetched_after_dele)
    print("posts that reached every member twice or more: %d" % twice)
    print("duplicate deliveries: %d, %.2f per kill (a batch is %d recipients)"
          % (duplicates, duplicates / max(kills, 1), 7))
    failed = os.path.join(LIST, "Failed")
    print("files in Failed/: %d" % (len(os.listdir(failed)) if os.path.isdir(failed) else 0))
