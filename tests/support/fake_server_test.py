#!/usr/bin/env python3
"""Tests of the test servers: fake_server.py's keyed API and TLS listeners,
and forward_proxy.py, against a throwaway PKI from make-test-pki."""

import hashlib
import http.client
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
CUSTOMER = "TESTCUSTOMER"
KEY = "testkey0123456789"
LIMIT_S = 10


def start(script, args, work, name):
    ready = os.path.join(work, name + ".ready")
    out = open(os.path.join(work, name + ".out"), "wb")
    process = subprocess.Popen([sys.executable, os.path.join(HERE, script)] + args +
                               ["--ready-file", ready], stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.STDOUT)
    out.close()
    deadline = time.monotonic() + LIMIT_S
    while not os.path.exists(ready):
        if process.poll() is not None or time.monotonic() > deadline:
            process.kill()
            raise RuntimeError("%s did not start" % script)
        time.sleep(0.05)
    with open(ready, encoding="ascii") as lines:
        return process, [int(line) for line in lines.read().split()]


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(LIMIT_S)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(LIMIT_S)


def sign(param, key=KEY, customer=CUSTOMER):
    return hashlib.md5((param + key + customer).encode("utf-8")).hexdigest().upper()


class Servers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        work = cls.work.name
        cls.pki = os.path.join(work, "pki")
        subprocess.run([os.path.join(HERE, "make-test-pki"), cls.pki], check=True, timeout=60)
        answers = os.path.join(work, "answers")
        os.mkdir(answers)
        for name, text in {"poll.123.json": '{"nu":"123","state":"3"}',
                           "detect.77.json": '[{"comCode":"yuantong"}]',
                           "small.txt": "hi"}.items():
            with open(os.path.join(answers, name), "w", encoding="utf-8") as answer:
                answer.write(text)
        cls.log = os.path.join(work, "server.log")
        pem = lambda name: os.path.join(cls.pki, name)
        cls.server, ports = start("fake_server.py", [
            "--tls-port", "0:%s:%s" % (pem("server.pem"), pem("server.key")),
            "--port", "0",
            "--tls-port", "0:%s:%s" % (pem("wrong-host.pem"), pem("wrong-host.key")),
            "--tls-port", "0:%s:%s" % (pem("untrusted.pem"), pem("untrusted.key")),
            "--answers", answers, "--log", cls.log], work, "server")
        # Plain ports first, then TLS ones in the order given.
        cls.plain, cls.tls, cls.wrong_host, cls.untrusted = ports
        cls.proxy_process, (cls.proxy,) = start(
            "forward_proxy.py", ["--port", "0", "--log", os.path.join(work, "proxy.log")],
            work, "proxy")

    @classmethod
    def tearDownClass(cls):
        stop(cls.server)
        stop(cls.proxy_process)
        cls.work.cleanup()

    def setUp(self):
        self.get("/__control?reset=1")

    # --- helpers ------------------------------------------------------------

    def tls_context(self):
        return ssl.create_default_context(cafile=os.path.join(self.pki, "ca.pem"))

    def request(self, method, target, body=None, tls=False, headers=None):
        if tls:
            # Python checks "127.0.0.1" against IP entries only; the names are DNS entries.
            connection = http.client.HTTPSConnection("localhost", self.tls, timeout=LIMIT_S,
                                                     context=self.tls_context())
        else:
            connection = http.client.HTTPConnection("127.0.0.1", self.plain, timeout=LIMIT_S)
        try:
            connection.request(method, target, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, response.getheader("Content-Type"), response.read()
        finally:
            connection.close()

    def get(self, target, tls=False):
        return self.request("GET", target, tls=tls)

    def override(self, key, behaviour):
        self.get("/__control?" + urllib.parse.urlencode({"key": key, "behavior": behaviour}))

    def poll(self, param, customer=CUSTOMER, signature=None, tls=False):
        body = urllib.parse.urlencode({"customer": customer, "param": param,
                                       "sign": sign(param) if signature is None else signature})
        status, content_type, answer = self.request(
            "POST", "/poll/query.do", body.encode("ascii"), tls,
            {"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(status, 200)
        self.assertEqual(content_type, "application/json;charset=UTF-8")
        return json.loads(answer.decode("utf-8"))

    def log_lines(self):
        return self.get("/__log")[2].decode("utf-8").splitlines()

    # --- keyed query --------------------------------------------------------

    def test_signed_query_gets_the_numbers_answer_file(self):
        param = '{"com":"yuantong","num":"123","phone":"13800001234"}'
        self.assertEqual(self.poll(param, tls=True), {"nu": "123", "state": "3"})
        self.assertEqual(self.log_lines()[-1],
                         "POST /poll/query.do com=yuantong num=123 phone=13800001234")

    def test_checks_come_in_order(self):
        good = '{"com":"yuantong","num":"123"}'
        self.assertEqual(self.poll(good, customer="OTHER", signature="bad")["returnCode"], "400")
        self.assertEqual(self.poll(good, signature="bad")["returnCode"], "503")
        self.assertEqual(self.poll(good, signature=sign(good).lower())["returnCode"], "503")
        self.assertEqual(self.poll(good, signature=sign(good, key="other"))["returnCode"], "503")
        self.assertEqual(self.poll("not json")["returnCode"], "400")
        self.assertEqual(self.poll('{"com":"yuantong"}')["returnCode"], "400")
        self.assertEqual(self.poll('{"com":"yuantong","num":"999"}')["returnCode"], "500")

    def test_sign_covers_the_param_as_sent_in_utf8(self):
        param = '{"com":"yuantong","num":"123","phone":"电话 &+="}'
        self.assertEqual(self.poll(param)["nu"], "123")

    def test_needphone_checks_the_phones_last_digits(self):
        self.override("poll:555", "needphone:1234:poll.123.json")
        self.assertEqual(self.poll('{"num":"555","phone":"13800001234"}')["nu"], "123")
        answer = self.poll('{"num":"555","phone":"13800009999"}')
        self.assertEqual((answer["returnCode"], answer["message"]), ("408", "手机号不匹配"))
        self.assertEqual(self.poll('{"num":"555"}')["returnCode"], "408")

    def test_json_override(self):
        self.override("poll:123", 'json:{"message":"改"}')
        self.assertEqual(self.poll('{"num":"123"}'), {"message": "改"})

    # --- detection ----------------------------------------------------------

    def test_detection_checks_the_key_and_masks_it(self):
        status, content_type, body = self.get("/autonumber/auto?num=77&key=" + KEY, tls=True)
        self.assertEqual((status, content_type), (200, "application/json;charset=UTF-8"))
        self.assertEqual(json.loads(body), [{"comCode": "yuantong"}])
        self.assertEqual(json.loads(self.get("/autonumber/auto?num=78&key=" + KEY)[2]), [])
        self.assertEqual(json.loads(self.get("/autonumber/auto?num=77&key=wrong")[2])["returnCode"],
                         "601")
        self.assertEqual(json.loads(self.get("/autonumber/auto?num=77")[2])["returnCode"], "701")
        self.override("detect:79", "json:[]")
        self.assertEqual(json.loads(self.get("/autonumber/auto?key=%s&num=79" % KEY)[2]), [])
        with open(self.log, encoding="utf-8") as log:
            text = log.read()
        self.assertNotIn(KEY, text)
        self.assertIn("/autonumber/auto?num=77&key=***\n", text)
        self.assertIn("/autonumber/auto?key=***&num=79\n", text)

    # --- listeners ----------------------------------------------------------

    def test_old_behaviours_work_on_both_listeners(self):
        for tls in (False, True):
            self.assertEqual(self.get("/small.txt", tls)[2], b"hi")
            self.assertEqual(self.get("/api?nu=body:%E4%BD%A0", tls)[:3:2],
                             (200, "你".encode("utf-8")))

    def test_absolute_form_target_is_served(self):
        target = "https://127.0.0.1:%d/small.txt" % self.tls
        self.assertEqual(self.get(target, tls=True)[2], b"hi")

    def handshake(self, port, host="localhost"):
        with socket.create_connection(("127.0.0.1", port), timeout=LIMIT_S) as raw:
            with self.tls_context().wrap_socket(raw, server_hostname=host) as tls:
                return tls.getpeercert()["subjectAltName"]

    def test_tls_certificates(self):
        self.assertEqual(self.handshake(self.tls),
                         (("DNS", "127.0.0.1"), ("DNS", "localhost")))
        self.assertEqual(self.handshake(self.wrong_host, "wrong.invalid"),
                         (("DNS", "wrong.invalid"),))
        with self.assertRaisesRegex(ssl.SSLCertVerificationError, "mismatch"):
            self.handshake(self.wrong_host)
        with self.assertRaisesRegex(ssl.SSLCertVerificationError, "self.signed"):
            self.handshake(self.untrusted)
        # Refused handshakes leave the server serving.
        self.assertEqual(self.get("/small.txt", tls=True)[2], b"hi")

    def test_make_test_pki_keeps_existing_files(self):
        before = {name: os.path.getmtime(os.path.join(self.pki, name))
                  for name in os.listdir(self.pki)}
        subprocess.run([os.path.join(HERE, "make-test-pki"), self.pki], check=True, timeout=60)
        after = {name: os.path.getmtime(os.path.join(self.pki, name))
                 for name in os.listdir(self.pki)}
        self.assertEqual(before, after)

    # --- forward proxy ------------------------------------------------------

    def test_proxy_forwards_absolute_form_in_origin_form(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.proxy, timeout=LIMIT_S)
        target = "http://127.0.0.1:%d/small.txt?via=proxy" % self.plain
        body = urllib.parse.urlencode({"customer": CUSTOMER, "param": '{"num":"123"}',
                                       "sign": sign('{"num":"123"}')})
        try:
            connection.request("GET", target)
            response = connection.getresponse()
            self.assertEqual((response.read(), response.getheader("Connection")), (b"hi", "close"))
        finally:
            connection.close()
        connection = http.client.HTTPConnection("127.0.0.1", self.proxy, timeout=LIMIT_S)
        try:
            connection.request("POST", "http://127.0.0.1:%d/poll/query.do" % self.plain, body,
                               {"Content-Type": "application/x-www-form-urlencoded"})
            self.assertEqual(json.loads(connection.getresponse().read())["nu"], "123")
        finally:
            connection.close()
        self.assertIn("/small.txt?via=proxy", self.log_lines())
        with open(os.path.join(self.work.name, "proxy.log"), encoding="utf-8") as log:
            self.assertIn("GET %s\n" % target, log.read())

    def test_proxy_tunnels_tls(self):
        connection = http.client.HTTPSConnection("127.0.0.1", self.proxy, timeout=LIMIT_S,
                                                 context=self.tls_context())
        connection.set_tunnel("localhost", self.tls)
        try:
            connection.request("GET", "/small.txt?via=tunnel")
            self.assertEqual(connection.getresponse().read(), b"hi")
        finally:
            connection.close()
        with open(os.path.join(self.work.name, "proxy.log"), encoding="utf-8") as log:
            self.assertIn("CONNECT localhost:%d\n" % self.tls, log.read())

    def test_proxy_closes_the_tunnel_when_the_origin_closes(self):
        with socket.create_connection(("127.0.0.1", self.proxy), timeout=LIMIT_S) as client:
            client.sendall(b"CONNECT 127.0.0.1:%d HTTP/1.1\r\n\r\n" % self.plain)
            self.assertTrue(client.recv(4096).startswith(b"HTTP/1.1 200"))
            client.sendall(b"GET /small.txt HTTP/1.1\r\nHost: x\r\n\r\n")
            received = b""
            while True:
                chunk = client.recv(4096)  # bounded by the socket's time-out
                if not chunk:
                    break
                received += chunk
            self.assertTrue(received.endswith(b"\r\n\r\nhi"))

    def test_proxy_refuses_other_hosts(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.proxy, timeout=LIMIT_S)
        try:
            connection.request("GET", "http://quenzil.invalid/")
            self.assertEqual(connection.getresponse().status, 403)
        finally:
            connection.close()


if __name__ == "__main__":
    unittest.main()
