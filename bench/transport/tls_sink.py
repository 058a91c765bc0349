#!/usr/bin/python3
"""An SMTP sink for the TLS benchmark: accepts everything, keeps nothing.

    tls_sink.py PORT MODE CERT KEY     MODE: plain | starttls | implicit

One thread per connection; the same code serves plain text and TLS, so that the difference
between runs is the cost of TLS alone (on both sides: client and sink share the machine).
"""
import socket
import socketserver
import ssl
import sys


class Handler(socketserver.StreamRequestHandler):
    def setup(self):
        if MODE == "implicit":
            self.request = CONTEXT.wrap_socket(self.request, server_side=True)
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().setup()

    def handle(self):
        out = self.request
        out.sendall(b"220 sink ESMTP\r\n")
        secured = MODE == "implicit"
        while True:
            line = self.rfile.readline(65536)
            if not line:
                return
            verb = line[:8].upper()
            if verb.startswith(b"EHLO"):
                offer = b"250-STARTTLS\r\n" if MODE == "starttls" and not secured else b""
                out.sendall(b"250-sink\r\n" + offer + b"250 8BITMIME\r\n")
            elif verb.startswith(b"STARTTLS"):
                out.sendall(b"220 go ahead\r\n")
                out = self.request = CONTEXT.wrap_socket(self.request, server_side=True)
                self.rfile = self.request.makefile("rb")
                secured = True
            elif verb.startswith(b"DATA"):
                out.sendall(b"354 go ahead\r\n")
                while True:
                    data = self.rfile.readline(1 << 20)
                    if not data or data == b".\r\n":
                        break
                out.sendall(b"250 queued\r\n")
            elif verb.startswith(b"QUIT"):
                return
            else:
                out.sendall(b"250 ok\r\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    PORT, MODE, CERT, KEY = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    CONTEXT = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    CONTEXT.load_cert_chain(CERT, KEY)
    with Server(("127.0.0.1", PORT), Handler) as server:
        server.serve_forever()
