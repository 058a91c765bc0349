#!/usr/bin/python3
"""Peak memory of the real service against hostile servers on 127.0.0.1.

    bench/transport/hostile_rss.py [BUILD_DIR] [SECONDS]

Three runs of BUILD_DIR/orvex (default: build) in a temporary program directory:
  idle  - one list without mailboxes or mail: the service's idle size;
  pop3  - a POP3 server that streams one message for ever (LIST says 10 bytes), once under the
          default Pop3MaxMessageSize (64 MiB) and once with a bound of 1 GiB for SECONDS seconds;
  smtp  - a relay that answers EHLO with 1 MB "250-" continuation lines for ever.
For each: peak RSS (VmHWM of /proc/PID/status), and the time from SIGTERM to the exit. The
service is started by this script and stopped by its PID only.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0


def listener():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    return server


def flood(conn, chunk):
    try:
        while True:
            conn.sendall(chunk)
    except OSError:
        pass


def pop3_server(server):
    line = b"a line of a message that never ends, sent again and again\r\n" * 1000
    while True:
        try:
            conn, _ = server.accept()
        except OSError:
            return
        reader = conn.makefile("rb")
        try:
            conn.sendall(b"+OK ready\r\n")
            while True:
                command = reader.readline(1000).upper()
                if not command:
                    break
                if command.startswith(b"STAT"):
                    conn.sendall(b"+OK 1 10\r\n")
                elif command.startswith(b"LIST"):
                    conn.sendall(b"+OK 1 10\r\n")
                elif command.startswith(b"UIDL"):
                    conn.sendall(b"-ERR\r\n")
                elif command.startswith(b"RETR"):
                    conn.sendall(b"+OK\r\n")
                    flood(conn, line)
                    break
                else:
                    conn.sendall(b"+OK\r\n")
        except OSError:
            pass
        conn.close()


def smtp_server(server):
    line = b"250-" + b"x" * (1 << 20) + b"\r\n"
    while True:
        try:
            conn, _ = server.accept()
        except OSError:
            return
        try:
            conn.sendall(b"220 relay\r\n")
            conn.recv(1000)
            flood(conn, line)
        except OSError:
            pass
        conn.close()


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for row in status:
            if row.startswith("VmHWM:"):
                return int(row.split()[1])
    return 0


def run(name, ini, files, awaited, seconds):
    work = tempfile.mkdtemp(prefix="orvex-rss.")
    try:
        shutil.copy(os.path.join(BUILD, "orvex"), work)
        listdir = os.path.join(work, "Data", "bench")
        os.makedirs(os.path.join(listdir, "Outbox"))
        with open(os.path.join(listdir, "maillist.ini"), "w", newline="") as f:
            f.write("[General]\r\nName=Bench\r\nFrom=bench@x.test\r\n" + ini)
        with open(os.path.join(listdir, "subscribers.ini"), "w", newline="") as f:
            f.write("m1@x.test=\r\n")
        for relative, content in files.items():
            with open(os.path.join(listdir, relative), "w", newline="") as f:
                f.write(content)
        log = open(os.path.join(work, "out.log"), "wb")
        service = subprocess.Popen(["./orvex"], cwd=work, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        text = ""
        while time.monotonic() < deadline:
            with open(os.path.join(work, "out.log"), "rb") as f:
                text = f.read().decode(errors="replace")
            if awaited in text:
                break
            time.sleep(0.05)
        time.sleep(seconds)  # the hostile server goes on meanwhile
        peak = peak_rss_kib(service.pid)
        started = time.monotonic()
        service.send_signal(signal.SIGTERM)
        try:
            service.wait(timeout=30)
        except subprocess.TimeoutExpired:
            service.kill()
            service.wait()
        stop = time.monotonic() - started
        log.close()
        left = sorted(os.listdir(os.path.join(listdir, "Inbox"))) if os.path.isdir(
            os.path.join(listdir, "Inbox")) else []
        print(f"{name:28s} peak RSS {peak / 1024:8.1f} MiB   stop after SIGTERM {stop:5.2f} s"
              f"   Inbox files left: {len(left)}")
        return peak
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    pop3 = listener()
    smtp = listener()
    threading.Thread(target=pop3_server, args=(pop3,), daemon=True).start()
    threading.Thread(target=smtp_server, args=(smtp,), daemon=True).start()
    pop3_ini = (f"Pop3Count=1\r\nPop3Host1=127.0.0.1\r\nPop3Port1={pop3.getsockname()[1]}"
                "\r\nName1=box\r\n")
    idle = run("idle", "Pop3Count=0\r\n", {}, "Idle", 1.0)
    bound = 64 * 1024 * 1024
    pop_default = run("pop3, default bound (64 MiB)", pop3_ini, {}, "Idle", 0.5)
    pop_big = run(f"pop3, 1 GiB bound, {SECONDS:.0f} s", pop3_ini +
                  "Pop3MaxMessageSize=1073741824\r\n", {}, "Retrieving message #1", SECONDS)
    smtp_ini = f"Pop3Count=0\r\nSmtpHost=127.0.0.1\r\nSmtpPort={smtp.getsockname()[1]}\r\n"
    smtp_peak = run("smtp, 250- lines for ever", smtp_ini,
                    {"Outbox/A.msg": "Subject: x\r\n\r\nbody\r\n"}, "Reply too long", 0.5)
    target = 2 * bound / 1024 + idle
    print(f"target (twice the 64 MiB bound plus the idle size): {target / 1024:.1f} MiB")
    worst = max(pop_default, pop_big, smtp_peak)
    print("within target" if worst <= target else "OVER TARGET")
    pop3.close()
    smtp.close()


if __name__ == "__main__":
    main()
