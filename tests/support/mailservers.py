#!/usr/bin/python3
"""Private Dovecot (POP3) and Postfix (SMTP) instances for the integration tests.

    mailservers.py --dir DIR [--postfix-option NAME=VALUE]... -- COMMAND...

configures both servers under DIR (configuration, spool, mailboxes, logs; never the system's
/etc setup), starts them on free loopback high ports, waits until each one greets, runs COMMAND
with the environment below, stops both servers and exits with COMMAND's status. Each
--postfix-option line is added to Postfix's main.cf (for example smtpd_recipient_limit=20: a
relay that defers the recipients of a message past the 20th). The environment:

    ORVEX_POP3_PORT      Dovecot's POP3 port on 127.0.0.1
    ORVEX_POP3_MAILDIRS  DIR/pop3: <user>/Maildir for the accounts in ORVEX_POP3_ACCOUNTS
    ORVEX_POP3_ACCOUNTS  "user:password,..."
    ORVEX_SMTP_PORT      Postfix's SMTP port on 127.0.0.1
    ORVEX_SMTP_DOMAIN    the virtual mail domain Postfix delivers for
    ORVEX_SMTP_MAILDIRS  DIR/vmail: <local part>/ is the Maildir of <local part>@<domain>
    ORVEX_POP3_ROUTES    "address=account,..." as given with --pop3-route

Each --pop3-route ADDRESS=ACCOUNT makes Postfix deliver mail for ADDRESS (in the virtual domain)
into the Maildir of that POP3 account, so that a message sent through Postfix can be fetched
from Dovecot.

and for TLS (certificates made with the openssl command under DIR/tls; the servers' certificate
is for the name "localhost" only, signed by a test authority):

    ORVEX_POP3S_PORT           Dovecot's implicit-TLS POP3 port (ORVEX_POP3_PORT offers STLS)
    ORVEX_SMTP_STARTTLS_PORT   Postfix with STARTTLS; AUTH (PLAIN only) after STARTTLS only,
                               relaying for authenticated clients only
    ORVEX_SMTPS_PORT           Postfix with implicit TLS; AUTH PLAIN and LOGIN, relaying for
                               authenticated clients only (ORVEX_SMTP_PORT stays plain, without
                               STARTTLS and without AUTH)
    ORVEX_SASL_ACCOUNTS        "user:password,..." for AUTH (Dovecot's accounts)
    ORVEX_TLS_CA               the test authority's certificate; SSL_CERT_FILE names it too
    ORVEX_TLS_OTHER_CA         another authority's certificate, which signed nothing in use
    ORVEX_TLS_FINGERPRINT      the servers' certificate's SHA-256 fingerprint ("AB:CD:...")
    ORVEX_OAUTH_TOKENS         "user:token,..." access tokens that Dovecot (POP3, and Postfix's AUTH
                               through it, on ORVEX_SMTPS_PORT) takes by XOAUTH2 and OAUTHBEARER:
                               its oauth2 passdb asks a scripted introspection endpoint here,
                               which knows these tokens and no other
"""
import argparse
import grp
import http.server
import json
import os
import pwd
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

POP3_ACCOUNTS = {"alice": "alice-secret", "bob": "bob-secret", "empty": "empty-secret"}
OAUTH_TOKENS = {user: "orvex-test-token-" + user for user in POP3_ACCOUNTS}
SMTP_DOMAIN = "lists.test"
SMTP_MAILBOXES = ["sub%d" % n for n in range(1, 51)] + [
    "joe", "digest1", "digest2", "paused", "oauth"]
START_LIMIT = 60.0  # seconds for a server to answer


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_greeting(port, prefix, process, log):
    """Waits until a connection to the port gets a greeting line that starts with prefix."""
    deadline = time.monotonic() + START_LIMIT
    last = None
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            break
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                s.settimeout(5)
                greeting = s.recv(512)
                if greeting.startswith(prefix):
                    return
                last = greeting
        except OSError as error:
            last = error
        # A refused connection returns at once; give the server a moment before the next try.
        select_wait(0.05)
    sys.stderr.write("server on port %d did not answer (%r); log follows\n" % (port, last))
    if os.path.exists(log):
        sys.stderr.write(open(log, errors="replace").read()[-4000:])
    raise SystemExit(2)


def wait_for_tls_greeting(port, prefix, process, log, ca):
    """The same through TLS, checking the certificate as a client would."""
    context = ssl.create_default_context(cafile=ca)
    deadline = time.monotonic() + START_LIMIT
    last = None
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            break
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as raw:
                with context.wrap_socket(raw, server_hostname="localhost") as s:
                    s.settimeout(5)
                    greeting = s.recv(512)
                    if greeting.startswith(prefix):
                        return
                    last = greeting
        except (OSError, ssl.SSLError) as error:
            last = error
        select_wait(0.05)
    sys.stderr.write("TLS server on port %d did not answer (%r); log follows\n" % (port, last))
    if os.path.exists(log):
        sys.stderr.write(open(log, errors="replace").read()[-4000:])
    raise SystemExit(2)


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, stdout=subprocess.PIPE,
                   stderr=subprocess.PIPE)


def make_certificates(base):
    """A test authority, the servers' certificate for "localhost" that it signs, and a second
    authority that signs nothing in use. Returns the paths and the servers' fingerprint."""
    d = os.path.join(base, "tls")
    os.makedirs(d, exist_ok=True)
    paths = {name: os.path.join(d, name) for name in
             ("ca.key", "ca.pem", "other-ca.key", "other-ca.pem", "server.key", "server.csr",
              "server.pem", "server.ext")}
    for ca, key, subject in (("ca.pem", "ca.key", "/CN=Orvex Test CA"),
                             ("other-ca.pem", "other-ca.key", "/CN=Orvex Other CA")):
        openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-keyout", paths[key], "-out", paths[ca], "-days", "30",
                "-subj", subject, "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", paths["server.key"], "-out", paths["server.csr"], "-subj", "/CN=localhost")
    write(paths["server.ext"], "basicConstraints=critical,CA:FALSE\n"
          "extendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost\n")
    openssl("x509", "-req", "-in", paths["server.csr"], "-CA", paths["ca.pem"],
            "-CAkey", paths["ca.key"], "-CAcreateserial", "-days", "30",
            "-extfile", paths["server.ext"], "-out", paths["server.pem"])
    os.chmod(paths["server.key"], 0o600)
    printed = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in",
                              paths["server.pem"]], check=True, capture_output=True,
                             text=True).stdout.strip()
    fingerprint = printed.split("=", 1)[1]
    return paths, fingerprint


def select_wait(seconds):
    import select
    select.select([], [], [], seconds)


def write(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def chown_tree(path, uid, gid):
    for root, dirs, files in os.walk(path):
        os.chown(root, uid, gid)
        for name in files:
            os.chown(os.path.join(root, name), uid, gid)


def make_accessible(path):
    """Lets the servers' unprivileged users reach their directories under the build tree: the
    directory itself becomes readable and searchable, the directories above it only searchable
    (nothing of them can be listed), and only where they were not already."""
    path = os.path.abspath(path)
    wanted = 0o005
    while path != "/":
        mode = os.stat(path).st_mode
        if mode & wanted != wanted:
            os.chmod(path, mode | wanted)
        wanted = 0o001
        path = os.path.dirname(path)


class Introspection(http.server.BaseHTTPRequestHandler):
    """RFC 7662 token introspection for Dovecot's oauth2 passdb: active for the known tokens."""

    def do_POST(self):
        length = min(int(self.headers.get("Content-Length", "0")), 65536)
        form = urllib.parse.parse_qs(self.rfile.read(length).decode("ascii", "replace"))
        token = form.get("token", [""])[0]
        users = [u for u, t in OAUTH_TOKENS.items() if t == token]
        body = json.dumps({"active": True, "username": users[0]} if users else {"active": False})
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body.encode())

    def log_message(self, *args):
        pass


def start_introspection():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Introspection)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def start_dovecot(base, tls, introspection_port):
    d = os.path.join(base, "dovecot")
    for sub in ("run", "state", "log"):
        os.makedirs(os.path.join(d, sub), exist_ok=True)
    mail_root = os.path.join(base, "pop3")
    # Dovecot refuses to serve mail as root; the mailboxes belong to nobody, and the tests (root)
    # may still put messages into them.
    nobody = pwd.getpwnam("nobody")
    uid, gid = nobody.pw_uid, nobody.pw_gid
    for user in POP3_ACCOUNTS:
        for sub in ("new", "cur", "tmp"):
            os.makedirs(os.path.join(mail_root, user, "Maildir", sub), exist_ok=True)
    chown_tree(mail_root, uid, gid)
    passwd = os.path.join(d, "passwd")
    write(passwd, "".join("%s:{PLAIN}%s::::::\n" % (u, p) for u, p in POP3_ACCOUNTS.items()))
    port = free_port()
    pop3s_port = free_port()
    log = os.path.join(d, "log", "dovecot.log")
    oauth2_conf = os.path.join(d, "oauth2.conf")
    write(oauth2_conf, f"""
introspection_mode = post
introspection_url = http://127.0.0.1:{introspection_port}/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
""")
    conf = os.path.join(d, "dovecot.conf")
    write(conf, f"""
base_dir = {d}/run
state_dir = {d}/state
log_path = {log}
info_log_path = {log}
protocols = pop3
listen = 127.0.0.1
ssl = yes
ssl_cert = <{tls["server.pem"]}
ssl_key = <{tls["server.key"]}
disable_plaintext_auth = no
auth_mechanisms = plain login xoauth2 oauthbearer
auth_failure_delay = 0
mail_location = maildir:{mail_root}/%u/Maildir
mail_uid = {uid}
mail_gid = {gid}
pop3_uidl_format = %f
passdb {{
  driver = passwd-file
  mechanisms = plain login
  args = scheme=PLAIN username_format=%u {passwd}
}}
passdb {{
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = {oauth2_conf}
}}
userdb {{
  driver = static
  args = home={mail_root}/%u
}}
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener pop3s {{
    address = 127.0.0.1
    port = {pop3s_port}
    ssl = yes
  }}
}}
# Postfix's SMTP AUTH asks Dovecot.
service auth {{
  unix_listener auth-postfix {{
    mode = 0666
  }}
}}
service imap-login {{
  inet_listener imap {{
    port = 0
  }}
}}
service anvil {{
  chroot =
}}
service stats {{
  unix_listener stats-reader {{
    mode = 0666
  }}
  unix_listener stats-writer {{
    mode = 0666
  }}
}}
""")
    make_accessible(d)
    process = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", conf],
                               stdout=open(os.path.join(d, "log", "stdout"), "w"),
                               stderr=subprocess.STDOUT)
    wait_for_greeting(port, b"+OK", process, log)
    wait_for_tls_greeting(pop3s_port, b"+OK", process, log, tls["ca.pem"])
    return process, port, pop3s_port, mail_root, os.path.join(d, "run", "auth-postfix")


def start_postfix(base, tls, sasl_socket, options=(), routes=()):
    d = os.path.join(base, "postfix")
    conf = os.path.join(d, "etc")
    queue = os.path.join(d, "queue")
    data = os.path.join(d, "data")
    vmail = os.path.join(base, "vmail")
    for path in (conf, queue, data, vmail):
        os.makedirs(path, exist_ok=True)
    postfix_user = pwd.getpwnam("postfix")
    postdrop = grp.getgrnam("postdrop").gr_gid
    nobody = pwd.getpwnam("nobody")
    for sub in ("active", "bounce", "corrupt", "defer", "deferred", "flush", "hold", "incoming",
                "private", "saved", "trace"):
        path = os.path.join(queue, sub)
        os.makedirs(path, exist_ok=True)
        os.chown(path, postfix_user.pw_uid, 0)
        os.chmod(path, 0o700)
    for sub, mode in (("maildrop", 0o730), ("public", 0o710)):
        path = os.path.join(queue, sub)
        os.makedirs(path, exist_ok=True)
        os.chown(path, postfix_user.pw_uid, postdrop)
        os.chmod(path, mode)
    os.makedirs(os.path.join(queue, "pid"), exist_ok=True)
    os.chown(data, postfix_user.pw_uid, 0)
    for name in SMTP_MAILBOXES:
        os.makedirs(os.path.join(vmail, name), exist_ok=True)
    chown_tree(vmail, nobody.pw_uid, nobody.pw_gid)
    # A route's mailbox is a POP3 account's Maildir; the map names it relative to the base.
    pop3_root = os.path.join(base, "pop3")
    write(os.path.join(conf, "vmailbox"),
          "".join("%s@%s %s/\n" % (n, SMTP_DOMAIN, n) for n in SMTP_MAILBOXES) +
          "".join("%s %s/\n" % (address, os.path.relpath(
              os.path.join(pop3_root, account, "Maildir"), vmail)) for address, account in routes))
    port = free_port()
    starttls_port = free_port()
    smtps_port = free_port()
    log = os.path.join(d, "maillog")
    write(os.path.join(conf, "main.cf"), f"""
compatibility_level = 3.6
queue_directory = {queue}
data_directory = {data}
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
meta_directory = {conf}
mail_owner = postfix
setgid_group = postdrop
myhostname = relay.{SMTP_DOMAIN}
mydomain = {SMTP_DOMAIN}
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_relay_restrictions = permit_mynetworks, reject
smtpd_recipient_restrictions = permit_mynetworks, reject
local_recipient_maps =
alias_maps =
alias_database =
virtual_mailbox_domains = {SMTP_DOMAIN}
virtual_mailbox_base = {vmail}
virtual_mailbox_maps = texthash:{conf}/vmailbox
virtual_minimum_uid = 1
virtual_uid_maps = static:{nobody.pw_uid}
virtual_gid_maps = static:{nobody.pw_gid}
maillog_file = {log}
maillog_file_prefixes = {d}
smtputf8_enable = no
# Deliver what the client sent: no headers added for local clients.
local_header_rewrite_clients =
always_add_missing_headers = no
biff = no
shlib_directory = /usr/lib/postfix
# TLS and AUTH only where master.cf turns them on.
smtpd_tls_cert_file = {tls["server.pem"]}
smtpd_tls_key_file = {tls["server.key"]}
smtpd_tls_security_level = none
smtpd_sasl_type = dovecot
smtpd_sasl_path = {sasl_socket}
smtpd_sasl_auth_enable = no
""" + "".join("%s\n" % option for option in options))
    write(os.path.join(conf, "master.cf"), f"""
127.0.0.1:{port} inet n - n - - smtpd
127.0.0.1:{starttls_port} inet n - n - - smtpd
  -o smtpd_tls_security_level=may
  -o smtpd_tls_auth_only=yes
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_sasl_mechanism_filter=plain
  -o smtpd_relay_restrictions=permit_sasl_authenticated,reject
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
127.0.0.1:{smtps_port} inet n - n - - smtpd
  -o smtpd_tls_wrappermode=yes
  -o smtpd_tls_security_level=encrypt
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_relay_restrictions=permit_sasl_authenticated,reject
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000    0       flush
proxymap  unix  -       -       n       -       -       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
local     unix  -       n       n       -       -       local
virtual   unix  -       n       n       -       -       virtual
lmtp      unix  -       -       n       -       -       lmtp
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
""")
    make_accessible(d)
    make_accessible(vmail)
    process = subprocess.Popen(["/usr/lib/postfix/sbin/master", "-c", conf, "-d"],
                               stdout=open(os.path.join(d, "master.out"), "w"),
                               stderr=subprocess.STDOUT)
    wait_for_greeting(port, b"220", process, log)
    wait_for_greeting(starttls_port, b"220", process, log)
    wait_for_tls_greeting(smtps_port, b"220", process, log, tls["ca.pem"])
    return process, port, starttls_port, smtps_port, vmail


def stop(process):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--postfix-option", action="append", default=[])
    parser.add_argument("--pop3-route", action="append", default=[])
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    base = os.path.abspath(args.dir)
    if os.path.exists(base):
        shutil.rmtree(base)
    os.makedirs(base)
    dovecot = postfix = introspection = None
    status = 1
    try:
        tls, fingerprint = make_certificates(base)
        introspection = start_introspection()
        dovecot, pop3_port, pop3s_port, pop3_maildirs, sasl_socket = start_dovecot(
            base, tls, introspection.server_address[1])
        routes = [tuple(r.split("=", 1)) for r in args.pop3_route]
        for address, account in routes:
            if account not in POP3_ACCOUNTS or not address.endswith("@" + SMTP_DOMAIN):
                raise SystemExit("--pop3-route %s=%s: no such account or not in %s"
                                 % (address, account, SMTP_DOMAIN))
        postfix, smtp_port, starttls_port, smtps_port, vmail = start_postfix(
            base, tls, sasl_socket, args.postfix_option, routes)
        env = dict(os.environ)
        env.update({
            "ORVEX_POP3_PORT": str(pop3_port),
            "ORVEX_POP3_MAILDIRS": pop3_maildirs,
            "ORVEX_POP3_ACCOUNTS": ",".join("%s:%s" % kv for kv in POP3_ACCOUNTS.items()),
            "ORVEX_SMTP_PORT": str(smtp_port),
            "ORVEX_SMTP_DOMAIN": SMTP_DOMAIN,
            "ORVEX_SMTP_MAILDIRS": vmail,
            "ORVEX_POP3_ROUTES": ",".join("%s=%s" % r for r in routes),
            "ORVEX_POP3S_PORT": str(pop3s_port),
            "ORVEX_SMTP_STARTTLS_PORT": str(starttls_port),
            "ORVEX_SMTPS_PORT": str(smtps_port),
            "ORVEX_SASL_ACCOUNTS": ",".join("%s:%s" % kv for kv in POP3_ACCOUNTS.items()),
            "ORVEX_TLS_CA": tls["ca.pem"],
            "ORVEX_TLS_OTHER_CA": tls["other-ca.pem"],
            "ORVEX_TLS_FINGERPRINT": fingerprint,
            "SSL_CERT_FILE": tls["ca.pem"],
            "ORVEX_OAUTH_TOKENS": ",".join("%s:%s" % kv for kv in OAUTH_TOKENS.items()),
        })
        if command:
            status = subprocess.call(command, env=env)
        else:
            status = 0
    finally:
        stop(postfix)
        stop(dovecot)
        if introspection:
            introspection.shutdown()
    if status == 0:
        shutil.rmtree(base, ignore_errors=True)
    else:
        sys.stderr.write("server logs kept in %s\n" % base)
    return status


if __name__ == "__main__":
    sys.exit(main())
