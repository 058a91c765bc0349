#!/usr/bin/python3
"""Crash test of inbox processing: kills the real service with SIGKILL at random moments while
it works through a large Inbox, restarts it, and repeats; then checks that every message was
handled (distributed, answered, or set aside in Failed), how many were handled twice, and that
no store file is torn.

usage: crash_test.py BUILD_DIR [KILLS] [BATCH]
"""
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

BUILD = os.path.abspath(sys.argv[1])
KILLS = int(sys.argv[2]) if len(sys.argv) > 2 else 200
BATCH = int(sys.argv[3]) if len(sys.argv) > 3 else 600
MEMBERS = 100

ROOT = os.path.join(BUILD, "crash-test")
LIST = os.path.join(ROOT, "Data", "birds")

SETTINGS = (
    "[General]\r\nName=Birds\r\nAddress=birds@example.org\r\n"
    "ControlAddress=birds-request@example.org\r\nPop3Count=0\r\nCheckInterval=0\r\n"
    "DigestCount=40\r\nDigest mode=3\r\n"
    "[Signature]\r\nText=\"-- {Listname}\"\r\n"
    "[Subscribe confirmation]\r\nSubject=subscribe-confirm-{ConfirmCode}\r\n"
    "Text=\"code {ConfirmCode}\"\r\n"
    "[Nonsubscriber]\r\nSubject=Not allowed\r\nText=\"Subscribe first\"\r\n"
    "[Digest]\r\nSubject=Digest\r\nText=\"Preamble\"\r\n")


def message(i):
    kind = i % 3
    if kind == 0:
        sender, to = "member%d@example.net" % (i % MEMBERS), "birds@example.org"
        subject = "m%d" % i
    elif kind == 1:
        sender, to, subject = "sub%d@example.net" % i, "birds-request@example.org", "subscribe"
    else:
        sender, to, subject = "ns%d@example.net" % i, "birds@example.org", "m%d" % i
    body = "".join("line %d of message %d\r\n" % (n, i) for n in range(40))
    return ("From: %s\r\nTo: %s\r\nSubject: %s\r\nMessage-Id: <i%d@example.net>\r\n\r\n%s"
            % (sender, to, subject, i, body))


def add_batch(first):
    inbox = os.path.join(LIST, "Inbox")
    for i in range(first, first + BATCH):
        path = os.path.join(inbox, "%014X.msg" % (0x100000 + i))
        with open(path + ".part", "w", newline="") as handle:
            handle.write(message(i))
        os.rename(path + ".part", path)
    return first + BATCH


def inbox_count():
    return len([n for n in os.listdir(os.path.join(LIST, "Inbox")) if n.endswith(".msg")])


def files(sub, extension):
    directory = os.path.join(LIST, sub)
    if not os.path.isdir(directory):
        return []
    return [os.path.join(directory, n) for n in os.listdir(directory) if n.endswith(extension)]


def read(path):
    with open(path, "rb") as handle:
        return handle.read().decode("latin-1")


def main():
    shutil.rmtree(ROOT, ignore_errors=True)
    os.makedirs(os.path.join(LIST, "Inbox"))
    shutil.copy(os.path.join(BUILD, "orvex"), os.path.join(ROOT, "orvex"))
    with open(os.path.join(LIST, "maillist.ini"), "w", newline="") as handle:
        handle.write(SETTINGS)
    with open(os.path.join(LIST, "subscribers.ini"), "w", newline="") as handle:
        handle.write("".join("member%d@example.net=,secret\r\n" % m for m in range(MEMBERS)))

    total = add_batch(0)
    kills = 0
    rng = random.Random(int(os.environ.get("SEED", "1")))
    started = time.time()
    while kills < KILLS:
        if inbox_count() == 0:
            total = add_batch(total)
        child = subprocess.Popen([os.path.join(ROOT, "orvex")], cwd=ROOT,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.005, 0.4))
        child.send_signal(signal.SIGKILL)
        child.wait()
        kills += 1

    # A last run without a kill finishes whatever is left.
    child = subprocess.Popen([os.path.join(ROOT, "orvex")], cwd=ROOT,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    limit = time.time() + 300
    while time.time() < limit and (inbox_count() or
                                   os.path.exists(os.path.join(LIST, "Staging", "commit.lst"))):
        time.sleep(0.2)
    time.sleep(1.5)  # one more pass, so that its digest check has run
    child.send_signal(signal.SIGINT)
    child.wait(timeout=60)

    posts, copies, notices = {}, {}, {}
    for path in files("Outbox", ".msg"):
        number = re.search(r"\r\nSubject: m(\d+)\r\n", read(path)).group(1)
        posts[int(number)] = posts.get(int(number), 0) + 1
    for path in files("Digest", ".msg") + files("Outbox", ".dig"):
        for number in re.findall(r"\r\nSubject: m(\d+)\r\n", read(path)):
            copies[int(number)] = copies.get(int(number), 0) + 1
    for path in files("Outbox", ".pri"):
        recipient = read(path).split("\r\n", 1)[0]
        notices[recipient] = notices.get(recipient, 0) + 1
    failed = set()
    for path in files("Failed", ".msg"):
        failed.add(int(re.search(r"Message-Id: <i(\d+)@", read(path)).group(1)))

    torn = []
    stores = {}
    for store in ("subscribers.ini", "pending.ini", "signatures.ini"):
        text = read(os.path.join(LIST, store)) if os.path.exists(os.path.join(LIST, store)) else ""
        if text and not text.endswith("\r\n"):
            torn.append(store)
        lines = [line for line in text.split("\r\n") if line]
        if any("=" not in line for line in lines):
            torn.append(store)
        stores[store] = dict(line.split("=", 1) for line in lines if "=" in line)
    for name, value in stores["pending.ini"].items():
        if not re.fullmatch(r"\d+,0000[0-9A-F]{8}", value):
            torn.append("pending.ini: " + name)

    lost, twice = [], 0
    for i in range(total):
        if i in failed:
            continue
        kind = i % 3
        if kind == 0:
            count = posts.get(i, 0)
            ok = count >= 1 and copies.get(i, 0) == count
        elif kind == 1:
            address = "sub%d@example.net" % i
            count = notices.get(address, 0)
            ok = count >= 1 and address in stores["pending.ini"]
        else:
            count = notices.get("ns%d@example.net" % i, 0)
            ok = count >= 1
        if not ok:
            lost.append(i)
        twice += count > 1

    print("messages %d, kills %d, %.0f s; set aside in Failed %d; handled twice %d; lost %d; "
          "torn stores %s; left in Inbox %d" % (total, kills, time.time() - started, len(failed),
                                                twice, len(lost), torn or "none", inbox_count()))
    if lost:
        print("lost messages:", lost[:20])
    return 0 if not lost and not torn and inbox_count() == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
