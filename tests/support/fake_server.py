#!/usr/bin/env python3
"""Scriptable fake HTTP/1.1 server for the integration and end-to-end tests.

Command line:
    python3 fake_server.py [--port P ...] [--tls-port P:CERT:KEY ...]
                           [--answers DIR] [--log FILE] [--ready-file FILE]
                           [--keyed-customer C] [--keyed-key K]
                           [--kdniao-id I] [--kdniao-key K] [--appcode C]

It listens on 127.0.0.1 on every --port (plain HTTP) and every --tls-port
(HTTPS with the PEM certificate CERT and its key KEY); 0 picks a free port.
At least one of them is needed. Every listener has the same behaviours. Once
all are bound it writes --ready-file (whole, by rename): the ports actually
bound, one per line, first every --port in the order given, then every
--tls-port in the order given. SIGTERM or SIGINT ends it. Every answer
carries "Connection: close" and "Content-Type: text/html" (no charset),
except the keyed API's answers and the json: and pac: behaviours (below).
Accepted sockets have TCP_NODELAY set: the head and the body of an answer
go out in separate writes.

Which behaviour a request gets (the keyed API below has its own rules): its
key is, for the path /api, the percent-decoded value of the query parameter
`nu` ("+" stays "+"); for any other path, the path without its leading "/"
(e.g. "gengxin.txt"). An override set through the control endpoint wins over
the key itself. Then:
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
    redirect-to:PORT        302 to the same target on 127.0.0.1:PORT (same scheme)
    bytes:HEX               200, the bytes spelled by HEX (any bytes at all)
    longline:BYTES          200, one line of exactly BYTES bytes: "时间", filler,
                            then one cell "3px 5px;'>cell</td>" at its very end
    unclosed:COUNT          200, "时间" then COUNT openings "3px 5px;'>x" on one
                            line and no closing "</" anywhere
    gbk:TEXT                200, TEXT encoded with Python's gbk codec
    bom:TEXT                200, UTF-8 byte-order mark then TEXT as UTF-8
    json:TEXT               200, TEXT as UTF-8, Content-Type
                            application/json;charset=UTF-8
    pac:TEXT                200, TEXT as UTF-8, Content-Type
                            application/x-ns-proxy-autoconfig (a proxy script)
    needphone:DIGITS:FILE   keyed query only: FILE's bytes when the query's
                            phone ends with DIGITS, else returnCode 408

The keyed API (on every listener, plain or TLS). Its answers are JSON with
Content-Type application/json;charset=UTF-8, whatever behaviour serves them.
The server knows one account: --keyed-customer (default TESTCUSTOMER) with
--keyed-key (default testkey0123456789).
  POST /poll/query.do, body application/x-www-form-urlencoded with customer,
  param (JSON) and sign. Checked in this order:
    customer unknown                          -> returnCode 400 找不到对应公司
    sign is not upper-case hex
    MD5(param + key + customer)               -> returnCode 503 验证签名失败
    param not a JSON object with a num        -> returnCode 400
  then its key is "poll:<com>:<num>" when that has an override, else
  "poll:<num>": an override for that key, else the file "poll.<num>.json"
  in --answers, else returnCode 500 查询无结果.
  GET /autonumber/auto?num=N&key=K: no key -> returnCode 701, a wrong key
  -> returnCode 601; then its key is "detect:<N>": an override, else the
  file "detect.<N>.json", else [].
Failures are {"result":false,"returnCode":"…","message":"…"}, status 200.

快递鸟 (on every listener). One account: --kdniao-id (default 1900001) with
--kdniao-key (default kdniao-test-key-0123).
  POST /Ebusiness/EbusinessOrderHandle.aspx, a form with RequestType,
  EBusinessID, RequestData (JSON), DataType and DataSign. An unknown
  EBusinessID, or a DataSign other than base64(lower-case hex MD5(RequestData
  + key)), gets Success false with the Reason "非法参数[请核实ID和key是否正确]".
  RequestType 1002 or 8001: its key is "kdniao:<LogisticCode>": an override,
  else the file "kdniao.<LogisticCode>.json", else Success true without
  traces ("暂无轨迹信息"). RequestType 2002: "kdniao-detect:<LogisticCode>",
  else the file "kdniao-detect.<LogisticCode>.json", else no Shippers.
  Answers are JSON, status 200.

The AppCode market API (on every listener). One code: --appcode (default
testappcode0123456789).
  GET /kdi?no=N&type=T with "Authorization: APPCODE <code>". Another
  code, or none, is refused as the gateway does: status 400 with the header
  X-Ca-Error-Message "Invalid AppCode `not exists`". Then its key is
  "appcode:<N>" (N without a ":" and the phone's digits after it): an
  override, else the file "appcode.<N>.json", else status "205" 没有信息.
  The behaviour gateway:CODE:MESSAGE answers status CODE with that
  X-Ca-Error-Message and no body (e.g. gateway:403:Quota Exhausted).

Control requests (never logged):
    GET /__control?key=K&behavior=B   requests whose key is K behave as B
    GET /__control?reset=1            clears every override
    GET /__log                        the log so far, as text
Control values are decoded like form fields ("+" is a space), which suits
both urllib.parse.quote and urllib.parse.urlencode.

A target in absolute form ("http://host:port/path?query", as sent to a
proxy) is served as its path and query.

Log (--log FILE, appended and flushed, and /__log): one line per request,
the request target exactly as received (absolute form included), e.g.
    /api?id=1&nu=abc%20d&valicode=[]&temp=0.5
except for the keyed API, whose secrets never reach the log:
    POST /poll/query.do com=<com> num=<num> phone=<phone>   (from param)
    POST /Ebusiness/EbusinessOrderHandle.aspx type=<RequestType> shipper=<ShipperCode> num=<LogisticCode> phone=<CustomerName>
    GET /kdi no=<no> type=<type>
    /autonumber/auto?num=123&key=***                        (key's value masked)

Waits are bounded: stall and drip end after at most 120 s or as soon as the
client closes; a TLS handshake or reading a request (head and body, at most
1 MiB of body) gives up after 30 s.
"""

import argparse
import base64
import hashlib
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

STALL_LIMIT_S = 120
READ_LIMIT_S = 30
BODY_LIMIT = 1024 * 1024
JSON_TYPE = "application/json;charset=UTF-8"
PAC_TYPE = "application/x-ns-proxy-autoconfig"


class State:
    """What every listener shares: overrides, the request log, the account."""

    def __init__(self, answers_dir, log_path, customer, key, kdniao_id, kdniao_key, appcode):
        self.answers_dir = os.path.realpath(answers_dir) if answers_dir else None
        self.log_path = log_path
        self.customer = customer
        self.key = key
        self.kdniao_id = kdniao_id
        self.kdniao_key = kdniao_key
        self.appcode = appcode
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


def failure(code, message):
    return {"result": False, "returnCode": code, "message": message}


def json_bytes(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def origin_form(target):
    """The target without scheme and host: clients send the absolute form
    through a proxy, and Wine does so even inside a CONNECT tunnel."""
    scheme, mark, rest = target.partition("://")
    if mark and scheme.lower() in ("http", "https"):
        slash = rest.find("/")
        return rest[slash:] if slash >= 0 else "/"
    return target


def masked_key(target):
    """The target with the value of every `key` field replaced by ***."""
    path, mark, query = target.partition("?")
    if not mark:
        return target
    fields = []
    for field in query.split("&"):
        name, equals, _ = field.partition("=")
        if equals and urllib.parse.unquote_plus(name) == "key":
            field = name + "=***"
        fields.append(field)
    return path + "?" + "&".join(fields)


def kdniao_sign(request_data, key):
    """base64 of the lower-case hex MD5 of the request data and the key."""
    digest = hashlib.md5((request_data + key).encode("utf-8")).hexdigest()
    return base64.b64encode(digest.encode("ascii")).decode("ascii")


def quick_ack(sock):
    """ACKs at once what comes next: a client that sends a request's head and
    body in two writes waits for the head's ACK before the body (Nagle), and
    a delayed ACK would hold every such request back some 40 ms. Linux
    leaves quick-ACK mode by itself, so it is asked for before each read."""
    if hasattr(socket, "TCP_QUICKACK"):
        try:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        except (OSError, ValueError):
            pass


class Request:
    def __init__(self, method, target, body, headers):
        self.method = method
        self.target = target
        self.body = body
        self.headers = headers  # lower-case name -> value


class Handler(socketserver.BaseRequestHandler):
    state = None  # set per server class below

    # --- plumbing -----------------------------------------------------------

    def setup(self):
        self.content_type = "text/html"
        self.poll_param = None  # the keyed query's param, once checked
        self.usable = True
        context = self.server.tls_context
        if context is not None:
            self.request.settimeout(READ_LIMIT_S)
            try:
                self.request = context.wrap_socket(self.request, server_side=True)
            except OSError:
                # A client that refuses the certificate ends up here.
                self.usable = False

    def finish(self):
        # The server closes the socket it accepted; a wrapped one is ours.
        if self.server.tls_context is not None and self.usable:
            self.request.close()

    def read_request(self):
        """The request, or None when no whole request came."""
        sock = self.request
        sock.settimeout(READ_LIMIT_S)
        data = b""
        try:
            while b"\r\n\r\n" not in data and b"\n\n" not in data:
                quick_ack(sock)
                chunk = sock.recv(4096)
                if not chunk:
                    return None
                data += chunk
                if len(data) > 65536:
                    return None
            crlf, lf = data.find(b"\r\n\r\n"), data.find(b"\n\n")
            if crlf >= 0 and (lf < 0 or crlf < lf):
                head, body = data[:crlf], data[crlf + 4:]
            else:
                head, body = data[:lf], data[lf + 2:]
            lines = head.decode("latin-1").replace("\r\n", "\n").split("\n")
            headers = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                headers.setdefault(name.strip().lower(), value.strip())
            length = int(headers.get("content-length", "0"))
            if length < 0 or length > BODY_LIMIT:
                return None
            # Reading the whole body matters: closing with unread bytes sends a reset.
            while len(body) < length:
                quick_ack(sock)
                chunk = sock.recv(min(65536, length - len(body)))
                if not chunk:
                    return None
                body += chunk
        except (OSError, ValueError):
            return None
        parts = lines[0].strip().split(" ")
        if len(parts) < 2:
            return None
        return Request(parts[0], parts[1], body[:length], headers)

    def send_head(self, status, headers):
        reasons = {200: "OK", 302: "Found", 400: "Bad Request", 401: "Unauthorized",
                   403: "Forbidden", 404: "Not Found",
                   500: "Internal Server Error", 502: "Bad Gateway",
                   503: "Service Unavailable"}
        lines = ["HTTP/1.1 %d %s" % (status, reasons.get(status, "Status"))]
        lines += ["%s: %s" % pair for pair in headers]
        lines += ["Connection: close", "", ""]
        self.request.sendall("\r\n".join(lines).encode("latin-1"))

    def send_whole(self, status, body, extra_headers=(), content_type=None):
        self.send_head(status, [("Content-Type", content_type or self.content_type),
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
        if not self.usable:
            return
        request = self.read_request()
        if request is None:
            return
        target = request.target
        path, _, query = origin_form(target).partition("?")
        if path == "/__control":
            self.control(query_params(query, urllib.parse.unquote_plus))
            return
        if path == "/__log":
            with self.state.lock:
                text = "".join(line + "\n" for line in self.state.log_lines)
            self.send_whole(200, text.encode("utf-8"))
            return
        try:
            if path == "/poll/query.do":
                self.poll(request, query)
            elif path == "/autonumber/auto":
                self.detect(target, query)
            elif path == "/Ebusiness/EbusinessOrderHandle.aspx":
                self.kdniao(request, query)
            elif path == "/kdi":
                self.appcode(request, query)
            else:
                self.state.log(target)
                if path == "/api":
                    key = query_params(query, urllib.parse.unquote).get("nu", "")
                else:
                    key = urllib.parse.unquote(path[1:])
                self.answer(key, target, lambda: self.behave(key, target))
        except OSError:
            pass  # the client went away; nothing to tell it

    def answer(self, key, target, otherwise, file_name=None):
        """An override for key, else the answers file (named key unless given),
        else otherwise()."""
        with self.state.lock:
            behaviour = self.state.overrides.get(key)
        if behaviour is not None:
            self.behave(behaviour, target)
            return
        content = self.state.answer_file(file_name or key)
        if content is not None:
            self.send_whole(200, content)
        else:
            otherwise()

    @staticmethod
    def form_fields(request, query):
        """The fields of the query and of a form-encoded body."""
        fields = query_params(query, urllib.parse.unquote_plus)
        if request.body:
            fields.update(query_params(request.body.decode("utf-8", "replace"),
                                       urllib.parse.unquote_plus))
        return fields

    @staticmethod
    def json_object(text):
        """The JSON object a field holds, or None."""
        try:
            value = json.loads(text)
        except ValueError:
            return None
        return value if isinstance(value, dict) else None

    def poll(self, request, query):
        self.content_type = JSON_TYPE
        fields = self.form_fields(request, query)
        param_text = fields.get("param", "")
        param = self.json_object(param_text)
        shown = param or {}
        self.state.log("%s /poll/query.do com=%s num=%s phone=%s" % (
            request.method, shown.get("com", ""), shown.get("num", ""), shown.get("phone", "")))

        customer = fields.get("customer", "")
        if customer != self.state.customer:
            self.send_json(failure("400", "找不到对应公司"))
            return
        expected = hashlib.md5((param_text + self.state.key + customer).encode("utf-8"))
        if fields.get("sign", "") != expected.hexdigest().upper():
            self.send_json(failure("503", "验证签名失败"))
            return
        number = param.get("num") if param else None
        if number is None or number == "":
            self.send_json(failure("400", "提交的数据不完整"))
            return
        self.poll_param = param
        number = str(number)
        key = "poll:%s:%s" % (param.get("com", ""), number)
        with self.state.lock:
            key = key if key in self.state.overrides else "poll:" + number
        self.answer(key, request.target, lambda: self.send_json(
            failure("500", "查询无结果，请隔段时间再查")), "poll.%s.json" % number)

    def detect(self, target, query):
        self.content_type = JSON_TYPE
        self.state.log(masked_key(target))
        fields = query_params(query, urllib.parse.unquote_plus)
        key = fields.get("key", "")
        if not key:
            self.send_json({"returnCode": "701", "message": "key缺失", "result": False})
            return
        if key != self.state.key:
            self.send_json({"returnCode": "601", "message": "key已过期", "result": False})
            return
        number = fields.get("num", "")
        self.answer("detect:" + number, target, lambda: self.send_json([]),
                    "detect.%s.json" % number)

    def kdniao(self, request, query):
        self.content_type = JSON_TYPE
        fields = self.form_fields(request, query)
        data_text = fields.get("RequestData", "")
        data = self.json_object(data_text) or {}
        request_type = fields.get("RequestType", "")
        number = str(data.get("LogisticCode", ""))
        self.state.log("POST /Ebusiness/EbusinessOrderHandle.aspx type=%s shipper=%s num=%s phone=%s" % (
            request_type, data.get("ShipperCode", ""), number, data.get("CustomerName", "")))
        business = fields.get("EBusinessID", "")
        answer = {"EBusinessID": business, "LogisticCode": number}
        if (business != self.state.kdniao_id or
                fields.get("DataSign", "") != kdniao_sign(data_text, self.state.kdniao_key)):
            answer.update(Success=False, Reason="非法参数[请核实ID和key是否正确]")
            self.send_json(answer)
            return
        if request_type in ("1002", "8001"):
            answer.update(ShipperCode=data.get("ShipperCode", ""), Success=True, State="0",
                          Reason="暂无轨迹信息", Traces=[])
            self.answer("kdniao:" + number, request.target, lambda: self.send_json(answer),
                        "kdniao.%s.json" % number)
        elif request_type == "2002":
            answer.update(Success=True, Shippers=[])
            self.answer("kdniao-detect:" + number, request.target, lambda: self.send_json(answer),
                        "kdniao-detect.%s.json" % number)
        else:
            answer.update(Success=False, Reason="RequestType不正确")
            self.send_json(answer)

    def appcode(self, request, query):
        self.content_type = JSON_TYPE
        fields = query_params(query, urllib.parse.unquote_plus)
        number = fields.get("no", "")
        self.state.log("GET /kdi no=%s type=%s" % (number, fields.get("type", "")))
        if request.headers.get("authorization", "") != "APPCODE " + self.state.appcode:
            self.behave("gateway:400:Invalid AppCode `not exists`", request.target)
            return
        number = number.partition(":")[0]
        self.answer("appcode:" + number, request.target, lambda: self.send_json(
            {"status": "205", "msg": "没有信息", "result": ""}), "appcode.%s.json" % number)

    def send_json(self, value):
        self.send_whole(200, json_bytes(value), content_type=JSON_TYPE)

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
        elif kind == "json":
            self.send_whole(200, arg.encode("utf-8"), content_type=JSON_TYPE)
        elif kind == "gateway":
            code, _, message = arg.partition(":")
            self.send_whole(int(code), b"", [("X-Ca-Error-Message", message)])
        elif kind == "pac":
            self.send_whole(200, arg.encode("utf-8"), content_type=PAC_TYPE)
        elif kind == "needphone":
            digits, _, name = arg.partition(":")
            phone = str((self.poll_param or {}).get("phone", ""))
            if phone.endswith(digits):
                self.with_file(name, lambda body: self.send_whole(200, body))
            else:
                self.send_json(failure("408", "手机号不匹配"))
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
            scheme = "https" if self.server.tls_context is not None else "http"
            location = "%s://127.0.0.1:%d%s" % (scheme, int(arg), target)
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
        self.send_head(200, [("Content-Type", self.content_type), ("Content-Length", str(len(body)))])
        self.request.sendall(body[: len(body) // 2])
        time.sleep(0.2)  # let the half reach the client before the reset
        self.reset_connection()

    def drip(self, body):
        self.send_head(200, [("Content-Type", self.content_type), ("Content-Length", str(len(body)))])
        deadline = time.monotonic() + STALL_LIMIT_S
        for index in range(len(body)):
            if time.monotonic() > deadline or self.state.stopping.is_set():
                return
            self.request.sendall(body[index:index + 1])
            if index + 1 < len(body) and self.client_closed_within(1.0):
                return

    def huge(self, mebibytes):
        size = mebibytes * 1024 * 1024
        self.send_head(200, [("Content-Type", self.content_type), ("Content-Length", str(size))])
        self.request.settimeout(READ_LIMIT_S)  # a client that stops reading ends it
        block = b"x" * 65536
        sent = 0
        while sent < size and not self.state.stopping.is_set():
            piece = block[: min(len(block), size - sent)]
            self.request.sendall(piece)
            sent += len(piece)

    def chunked_truncated(self, body):
        self.send_head(200, [("Content-Type", self.content_type), ("Transfer-Encoding", "chunked")])
        half = max(1, len(body) // 2)
        for piece in (body[:half], body[half:]):
            if piece:
                self.request.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        # No terminating zero-length chunk: the connection just closes.

    def chunked_cut(self, body):
        self.send_head(200, [("Content-Type", self.content_type), ("Transfer-Encoding", "chunked")])
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
    tls_context = None  # an ssl.SSLContext on TLS listeners

    def get_request(self):
        sock, address = super().get_request()
        # Without it, Nagle and the client's delayed ACK hold every answer's body back.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return sock, address


def tls_listener(text):
    """--tls-port P:CERT:KEY -> (port, ssl context)."""
    port, _, files = text.partition(":")
    cert, _, key = files.rpartition(":")
    if not port.isdigit() or not cert or not key:
        raise argparse.ArgumentTypeError("expected PORT:CERT:KEY, got %r" % text)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    try:
        context.load_cert_chain(cert, key)
    except (OSError, ssl.SSLError) as error:
        raise argparse.ArgumentTypeError("cannot load %s / %s: %s" % (cert, key, error))
    return int(port), context


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, action="append", default=[])
    parser.add_argument("--tls-port", type=tls_listener, action="append", default=[],
                        metavar="P:CERT:KEY")
    parser.add_argument("--answers")
    parser.add_argument("--log")
    parser.add_argument("--ready-file")
    parser.add_argument("--keyed-customer", default="TESTCUSTOMER")
    parser.add_argument("--keyed-key", default="testkey0123456789")
    parser.add_argument("--kdniao-id", default="1900001")
    parser.add_argument("--kdniao-key", default="kdniao-test-key-0123")
    parser.add_argument("--appcode", default="testappcode0123456789")
    args = parser.parse_args()
    if not args.port and not args.tls_port:
        parser.error("give at least one --port or --tls-port")

    state = State(args.answers, args.log, args.keyed_customer, args.keyed_key,
                  args.kdniao_id, args.kdniao_key, args.appcode)
    handler = type("BoundHandler", (Handler,), {"state": state})
    servers = [Server(("127.0.0.1", port), handler) for port in args.port]
    for port, context in args.tls_port:
        server = Server(("127.0.0.1", port), handler)
        server.tls_context = context
        servers.append(server)
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
