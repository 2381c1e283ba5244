#!/usr/bin/env python3
"""Scriptable fake HTTP/1.1 server for the integration and end-to-end tests.

Command line:
    python3 fake_server.py --port P [--port P2 ...] [--answers DIR]
                           [--log FILE] [--ready-file FILE]

It listens on 127.0.0.1 on every --port (0 picks a free port) with the same
behaviours, then writes --ready-file holding the ports actually bound, one per
line (written whole, by rename). SIGTERM or SIGINT ends it. Every answer
carries "Connection: close" and "Content-Type: text/html" (no charset).

Which behaviour a request gets: its key is, for the path /api, the
percent-decoded value of the query parameter `nu` ("+" stays "+"); for any
other path, the path without its leading "/" (e.g. "gengxin.txt"). An
override set through the control endpoint wins over the key itself. Then:
  - the key names a file in --answers DIR  -> 200 with the file's bytes;
  - the key is a behaviour (below)         -> that behaviour;
  - otherwise                               -> 404 with body "not found".

Behaviours (FILE names a file in --answers DIR; a missing FILE gives
500 with a body saying so):
    body:TEXT               200, TEXT as UTF-8
    file:FILE               200, FILE's bytes
    status:CODE:FILE        status CODE, FILE's bytes as body
    slow:MS:FILE            sleep MS milliseconds, then as file:FILE
    stall                   read the request, never answer
    reset                   TCP reset right after the request
    resetmid:FILE           full Content-Length, half of the body, then reset
    drip:FILE               one byte a second
    huge:MIB                a MIB-mebibyte body, streamed
    chunked-truncated:FILE  chunked body that ends without the last chunk
    redirect-loop           302 back to the same target
    chunked-cut:FILE        chunked body whose second chunk breaks off halfway
    redirect-to:PORT        302 to the same target on 127.0.0.1:PORT
    bytes:HEX               200, the bytes spelled by HEX (any bytes at all)
    longline:BYTES          200, one line of exactly BYTES bytes: "时间", filler,
                            then one cell "3px 5px;'>cell</td>" at its very end
    unclosed:COUNT          200, "时间" then COUNT openings "3px 5px;'>x" on one
                            line and no closing "</" anywhere
    gbk:TEXT                200, TEXT encoded with Python's gbk codec
    bom:TEXT                200, UTF-8 byte-order mark then TEXT as UTF-8

Control requests (never logged):
    GET /__control?key=K&behavior=B   requests whose key is K behave as B
    GET /__control?reset=1            clears every override
    GET /__log                        the log so far, as text
Control values are decoded like form fields ("+" is a space), which suits
both urllib.parse.quote and urllib.parse.urlencode.

Log (--log FILE, appended and flushed, and /__log): one line per request,
the request target exactly as received, e.g.
    /api?id=1&nu=abc%20d&valicode=[]&temp=0.5

Waits are bounded: stall and drip end after at most 120 s or as soon as the
client closes; reading a request gives up after 30 s.
"""

import argparse
import os
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse

STALL_LIMIT_S = 120
READ_LIMIT_S = 30


class State:
    """What every listener shares: overrides and the request log."""

    def __init__(self, answers_dir, log_path):
        self.answers_dir = os.path.realpath(answers_dir) if answers_dir else None
        self.log_path = log_path
        self.lock = threading.Lock()
        self.overrides = {}
        self.log_lines = []
        self.stopping = threading.Event()

    def log(self, target):
        with self.lock:
            self.log_lines.append(target)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as log_file:
                    log_file.write(target + "\n")
                    log_file.flush()

    def answer_file(self, name):
        """Bytes of a file directly inside the answers folder, or None."""
        if not self.answers_dir or not name or "/" in name or "\\" in name:
            return None
        path = os.path.join(self.answers_dir, name)
        if name in (".", "..") or not os.path.isfile(path):
            return None
        with open(path, "rb") as answer:
            return answer.read()


def query_params(query, decode):
    params = {}
    for field in query.split("&"):
        name, _, value = field.partition("=")
        params.setdefault(decode(name), decode(value))
    return params


class Handler(socketserver.BaseRequestHandler):
    state = None  # set per server class below

    # --- plumbing -----------------------------------------------------------

    def read_request(self):
        """The request target, or None when no whole request head came."""
        sock = self.request
        sock.settimeout(READ_LIMIT_S)
        data = b""
        try:
            while b"\r\n\r\n" not in data and b"\n\n" not in data:
                chunk = sock.recv(4096)
                if not chunk:
                    return None
                data += chunk
                if len(data) > 65536:
                    return None
        except OSError:
            return None
        request_line = data.split(b"\n", 1)[0].decode("latin-1").strip()
        parts = request_line.split(" ")
        return parts[1] if len(parts) >= 2 else None

    def send_head(self, status, headers):
        reasons = {200: "OK", 302: "Found", 404: "Not Found", 500: "Internal Server Error"}
        lines = ["HTTP/1.1 %d %s" % (status, reasons.get(status, "Status"))]
        lines += ["%s: %s" % pair for pair in headers]
        lines += ["Connection: close", "", ""]
        self.request.sendall("\r\n".join(lines).encode("latin-1"))

    def send_whole(self, status, body, extra_headers=()):
        self.send_head(status, [("Content-Type", "text/html"),
                                ("Content-Length", str(len(body)))] + list(extra_headers))
        self.request.sendall(body)

    def reset_connection(self):
        # Linger 0 makes close() send RST instead of FIN.
        self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.request.close()

    def client_closed_within(self, seconds):
        """Waits up to seconds; True as soon as the client has closed."""
        self.request.settimeout(seconds)
        try:
            return self.request.recv(4096) == b""
        except socket.timeout:
            return False
        except OSError:
            return True

    # --- requests -----------------------------------------------------------

    def handle(self):
        target = self.read_request()
        if target is None:
            return
        path, _, query = target.partition("?")
        if path == "/__control":
            self.control(query_params(query, urllib.parse.unquote_plus))
            return
        if path == "/__log":
            with self.state.lock:
                text = "".join(line + "\n" for line in self.state.log_lines)
            self.send_whole(200, text.encode("utf-8"))
            return
        self.state.log(target)
        if path == "/api":
            key = query_params(query, urllib.parse.unquote).get("nu", "")
        else:
            key = urllib.parse.unquote(path[1:])
        with self.state.lock:
            behaviour = self.state.overrides.get(key)
        try:
            if behaviour is not None:
                self.behave(behaviour, target)
            else:
                content = self.state.answer_file(key)
                if content is not None:
                    self.send_whole(200, content)
                else:
                    self.behave(key, target)
        except OSError:
            pass  # the client went away; nothing to tell it

    def control(self, params):
        with self.state.lock:
            if params.get("reset"):
                self.state.overrides.clear()
            if "key" in params and "behavior" in params:
                self.state.overrides[params["key"]] = params["behavior"]
        self.send_whole(200, b"ok")

    def behave(self, behaviour, target):
        kind, _, arg = behaviour.partition(":")
        if kind == "body":
            self.send_whole(200, arg.encode("utf-8"))
        elif kind == "gbk":
            self.send_whole(200, arg.encode("gbk"))
        elif kind == "bom":
            self.send_whole(200, b"\xef\xbb\xbf" + arg.encode("utf-8"))
        elif kind == "file":
            self.with_file(arg, lambda body: self.send_whole(200, body))
        elif kind == "status":
            code, _, name = arg.partition(":")
            self.with_file(name, lambda body: self.send_whole(int(code), body))
        elif kind == "slow":
            millis, _, name = arg.partition(":")
            time.sleep(int(millis) / 1000.0)
            self.with_file(name, lambda body: self.send_whole(200, body))
        elif behaviour == "stall":
            self.client_closed_within(STALL_LIMIT_S)
        elif behaviour == "reset":
            self.reset_connection()
        elif kind == "resetmid":
            self.with_file(arg, self.reset_midway)
        elif kind == "drip":
            self.with_file(arg, self.drip)
        elif kind == "huge":
            self.huge(int(arg))
        elif kind == "chunked-truncated":
            self.with_file(arg, self.chunked_truncated)
        elif behaviour == "redirect-loop":
            self.send_whole(302, b"moved", [("Location", target)])
        elif kind == "chunked-cut":
            self.with_file(arg, self.chunked_cut)
        elif kind == "redirect-to":
            location = "http://127.0.0.1:%d%s" % (int(arg), target)
            self.send_whole(302, b"moved", [("Location", location)])
        elif kind == "bytes":
            self.send_whole(200, bytes.fromhex(arg))
        elif kind == "longline":
            self.send_whole(200, long_line(int(arg)))
        elif kind == "unclosed":
            self.send_whole(200, "时间".encode("utf-8") + b"3px 5px;'>x" * int(arg))
        else:
            self.send_whole(404, b"not found")

    def with_file(self, name, serve):
        body = self.state.answer_file(name)
        if body is None:
            self.send_whole(500, ("no answer file %s" % name).encode("utf-8"))
        else:
            serve(body)

    def reset_midway(self, body):
        self.send_head(200, [("Content-Type", "text/html"), ("Content-Length", str(len(body)))])
        self.request.sendall(body[: len(body) // 2])
        time.sleep(0.2)  # let the half reach the client before the reset
        self.reset_connection()

    def drip(self, body):
        self.send_head(200, [("Content-Type", "text/html"), ("Content-Length", str(len(body)))])
        deadline = time.monotonic() + STALL_LIMIT_S
        for index in range(len(body)):
            if time.monotonic() > deadline or self.state.stopping.is_set():
                return
            self.request.sendall(body[index:index + 1])
            if index + 1 < len(body) and self.client_closed_within(1.0):
                return

    def huge(self, mebibytes):
        size = mebibytes * 1024 * 1024
        self.send_head(200, [("Content-Type", "text/html"), ("Content-Length", str(size))])
        self.request.settimeout(READ_LIMIT_S)  # a client that stops reading ends it
        block = b"x" * 65536
        sent = 0
        while sent < size and not self.state.stopping.is_set():
            piece = block[: min(len(block), size - sent)]
            self.request.sendall(piece)
            sent += len(piece)

    def chunked_truncated(self, body):
        self.send_head(200, [("Content-Type", "text/html"), ("Transfer-Encoding", "chunked")])
        half = max(1, len(body) // 2)
        for piece in (body[:half], body[half:]):
            if piece:
                self.request.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        # No terminating zero-length chunk: the connection just closes.

    def chunked_cut(self, body):
        self.send_head(200, [("Content-Type", "text/html"), ("Transfer-Encoding", "chunked")])
        half = max(1, len(body) // 2)
        first, rest = body[:half], body[half:]
        self.request.sendall(b"%x\r\n%s\r\n" % (len(first), first))
        # The size line promises all of the rest; only half of it follows.
        self.request.sendall(b"%x\r\n%s" % (len(rest), rest[: len(rest) // 2]))
        time.sleep(0.2)  # let it reach the client before the close


def long_line(size):
    head = "时间".encode("utf-8")
    cell = b"<td style='padding:3px 5px;'>cell</td>"
    filler = max(0, size - len(head) - len(cell))
    return head + b"x" * filler + cell


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    block_on_close = False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, action="append", required=True)
    parser.add_argument("--answers")
    parser.add_argument("--log")
    parser.add_argument("--ready-file")
    args = parser.parse_args()

    state = State(args.answers, args.log)
    handler = type("BoundHandler", (Handler,), {"state": state})
    servers = [Server(("127.0.0.1", port), handler) for port in args.port]
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in servers]
    for thread in threads:
        thread.start()

    if args.ready_file:
        ports = "".join("%d\n" % s.server_address[1] for s in servers)
        temporary = args.ready_file + ".tmp"
        with open(temporary, "w", encoding="ascii") as ready:
            ready.write(ports)
        os.replace(temporary, args.ready_file)

    stop = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stop.set())
    while not stop.wait(0.5):
        pass
    state.stopping.set()
    for server in servers:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
