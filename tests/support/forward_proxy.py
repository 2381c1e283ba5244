#!/usr/bin/env python3
"""A small forwarding HTTP/1.1 proxy for tests that check traffic went through it.

Command line:
    python3 forward_proxy.py --port P [--log FILE] [--ready-file FILE]

It listens on 127.0.0.1:P (0 picks a free port) and writes --ready-file
(whole, by rename) holding the port bound, one line. SIGTERM or SIGINT ends it.

    CONNECT host:port           "200 Connection established", then bytes both
                                ways until either side closes, which closes both
    GET|POST|… http://host:port/path
                                forwarded to the origin with the target in
                                origin-form and "Connection: close"; the answer
                                streams back with "Connection: close"

Only loopback origins (127.x.x.x, localhost, ::1) are reached: anything else
gets 403, so a test never leaks to the network. An origin that cannot be
reached gets 502; any other request 400.

Log (--log FILE, appended and flushed): one line per request, the method and
the target exactly as received:
    CONNECT 127.0.0.1:18763
    GET http://127.0.0.1:18761/api?id=1&nu=abc

Waits are bounded: a request head 30 s, connecting to the origin 10 s, an
answer's head 60 s, a tunnel or an answer idle for 60 s is closed.
"""

import argparse
import os
import select
import signal
import socket
import socketserver
import sys
import threading
import urllib.parse

READ_LIMIT_S = 30
CONNECT_LIMIT_S = 10
IDLE_LIMIT_S = 60
HEAD_LIMIT = 65536
HOP_HEADERS = {"connection", "proxy-connection", "keep-alive", "proxy-authorization"}


def nodelay(sock):
    # Heads and bodies go out in separate writes; Nagle would hold them back.
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


def read_head(sock, limit_s):
    """(head bytes without the blank line, bytes read past it) or None."""
    sock.settimeout(limit_s)
    data = b""
    try:
        while b"\r\n\r\n" not in data:
            chunk = sock.recv(4096)
            if not chunk:
                return None
            data += chunk
            if len(data) > HEAD_LIMIT:
                return None
    except OSError:
        return None
    head, _, rest = data.partition(b"\r\n\r\n")
    return head, rest


def is_loopback(host):
    return host in ("localhost", "::1") or host.startswith("127.")


def relay(first, second):
    """Copies bytes both ways until either side ends or both stay idle."""
    sockets = [first, second]
    for sock in sockets:
        sock.setblocking(True)
        sock.settimeout(None)
    try:
        while True:
            readable, _, _ = select.select(sockets, [], [], IDLE_LIMIT_S)
            if not readable:
                return
            for source in readable:
                target = second if source is first else first
                data = source.recv(65536)
                if not data:
                    return
                target.settimeout(IDLE_LIMIT_S)
                target.sendall(data)
                target.settimeout(None)
    except OSError:
        return


class Handler(socketserver.BaseRequestHandler):
    log = None  # set per server below

    def reply(self, status, reason):
        body = reason.encode("ascii")
        self.request.sendall(b"HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n%s"
                             % (status, reason.encode("ascii"), len(body), body))

    def connect(self, host, port):
        if not is_loopback(host):
            self.reply(403, "Forbidden")
            return None
        try:
            origin = socket.create_connection((host, port), timeout=CONNECT_LIMIT_S)
        except OSError:
            self.reply(502, "Bad Gateway")
            return None
        nodelay(origin)
        return origin

    def handle(self):
        read = read_head(self.request, READ_LIMIT_S)
        if read is None:
            return
        head, rest = read
        lines = head.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) != 3:
            self.reply(400, "Bad Request")
            return
        method, target, _ = parts
        self.log(method + " " + target)
        try:
            if method == "CONNECT":
                self.tunnel(target, rest)
            else:
                self.forward(method, target, lines[1:], rest)
        except OSError:
            pass  # either side went away

    def tunnel(self, target, rest):
        host, _, port = target.rpartition(":")
        host = host.strip("[]")
        if not host or not port.isdigit():
            self.reply(400, "Bad Request")
            return
        origin = self.connect(host, int(port))
        if origin is None:
            return
        with origin:
            self.request.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            if rest:
                origin.sendall(rest)
            relay(self.request, origin)

    def forward(self, method, target, header_lines, rest):
        url = urllib.parse.urlsplit(target)
        if url.scheme != "http" or not url.hostname:
            self.reply(400, "Bad Request")
            return
        length = 0
        headers = []
        for line in header_lines:
            name, _, value = line.partition(":")
            lower = name.strip().lower()
            if lower == "content-length":
                length = int(value.strip()) if value.strip().isdigit() else -1
            if lower == "transfer-encoding":
                length = -1  # chunked uploads are not needed here
            if lower not in HOP_HEADERS:
                headers.append(line)
        if length < 0:
            self.reply(400, "Bad Request")
            return
        origin = self.connect(url.hostname, url.port or 80)
        if origin is None:
            return
        with origin:
            path = (url.path or "/") + ("?" + url.query if url.query else "")
            request_head = "\r\n".join(["%s %s HTTP/1.1" % (method, path)] + headers +
                                       ["Connection: close", "", ""])
            origin.sendall(request_head.encode("latin-1"))
            # The whole body goes first: the origin answers only after it.
            self.request.settimeout(READ_LIMIT_S)
            body = rest
            while len(body) < length:
                chunk = self.request.recv(min(65536, length - len(body)))
                if not chunk:
                    return
                body += chunk
            origin.sendall(body)
            answer = read_head(origin, IDLE_LIMIT_S)
            if answer is None:
                self.reply(502, "Bad Gateway")
                return
            answer_head, answer_rest = answer
            answer_lines = [line for line in answer_head.decode("latin-1").split("\r\n")
                            if line.partition(":")[0].strip().lower() not in HOP_HEADERS]
            self.request.sendall(("\r\n".join(answer_lines + ["Connection: close", "", ""]))
                                 .encode("latin-1") + answer_rest)
            relay(self.request, origin)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    block_on_close = False

    def get_request(self):
        sock, address = super().get_request()
        nodelay(sock)
        return sock, address


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--log")
    parser.add_argument("--ready-file")
    args = parser.parse_args()

    lock = threading.Lock()

    def log(line):
        if args.log:
            with lock, open(args.log, "a", encoding="utf-8") as log_file:
                log_file.write(line + "\n")
                log_file.flush()

    handler = type("BoundHandler", (Handler,), {"log": staticmethod(log)})
    server = Server(("127.0.0.1", args.port), handler)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                              daemon=True)
    thread.start()

    if args.ready_file:
        temporary = args.ready_file + ".tmp"
        with open(temporary, "w", encoding="ascii") as ready:
            ready.write("%d\n" % server.server_address[1])
        os.replace(temporary, args.ready_file)

    stop = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stop.set())
    while not stop.wait(0.5):
        pass
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
