#!/usr/bin/python3
"""Checks a running emulator's core on the wire (run by hand after a change):

  fixture.py start --state /tmp/emu && selfcheck.py --state /tmp/emu

Exits non-zero with the failed checks listed.
"""

import argparse
import gzip
import http.client
import json
import os
import socket
import ssl
import sys
import time
import urllib.request

import selfcheck_google

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def pattern(start, end):
    return bytes(i % 251 for i in range(start, end))


class Client:
    def __init__(self, address, secure=False):
        host, port = address.split(":")
        if secure:
            context = ssl.create_default_context()
            context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
            self.conn = http.client.HTTPSConnection(host, int(port), context=context, timeout=10)
        else:
            self.conn = http.client.HTTPConnection(host, int(port), timeout=10)

    def get(self, method, path, body=None, headers=None):
        self.conn.request(method, path, body=body, headers=headers or {})
        response = self.conn.getresponse()
        return response, response.read()


def control(http_address, method, path, body=None):
    client = Client(http_address)
    response, data = client.get(method, path, body)
    return response.status, data


def raw_exchange(address, request):
    """Sends raw bytes and reads until the server closes."""
    host, port = address.split(":")
    with socket.create_connection((host, int(port)), timeout=10) as sock:
        sock.sendall(request)
        data = b""
        try:
            while True:
                chunk = sock.recv(65536)
                if not chunk:
                    break
                data += chunk
        except (ConnectionResetError, socket.timeout):
            pass
    return data


def check_bytes(http_address):
    c = Client(http_address)
    r, body = c.get("GET", "/_test/bytes/1000")
    check(r.status == 200 and body == pattern(0, 1000), "bytes: 1000 pattern bytes")
    r, body = c.get("GET", "/_test/bytes/1000", headers={"Range": "bytes=500-599"})
    check(r.status == 206 and body == pattern(500, 600)
          and r.getheader("Content-Range") == "bytes 500-599/1000", "bytes: range 206")
    r, body = c.get("GET", "/_test/bytes/1000", headers={"Range": "bytes=900-"})
    check(r.status == 206 and body == pattern(900, 1000), "bytes: open range")
    r, body = c.get("GET", "/_test/bytes/1000", headers={"Range": "bytes=1000-1099"})
    check(r.status == 416 and r.getheader("Content-Range") == "bytes */1000", "bytes: 416 past end")
    # RFC 9110 14.1.1: no byte can be named by a suffix of 0 bytes or by any
    # range of an empty body (416); an invalid or multiple range is ignored (200).
    for size, value, status, content_range, part in (
            (1000, "bytes=-0", 416, "bytes */1000", b""),
            (0, "bytes=-5", 416, "bytes */0", b""),
            (0, "bytes=0-", 416, "bytes */0", b""),
            (1000, "bytes=-2000", 206, "bytes 0-999/1000", pattern(0, 1000)),
            (1000, "bytes=990-5000", 206, "bytes 990-999/1000", pattern(990, 1000)),
            (1000, "Bytes=0-0", 206, "bytes 0-0/1000", pattern(0, 1)),
            (1000, "bytes=600-500", 200, None, pattern(0, 1000)),
            (1000, "bytes=2000-10", 200, None, pattern(0, 1000)),
            (1000, "bytes=0-1,5-6", 200, None, pattern(0, 1000))):
        r, body = c.get("GET", "/_test/bytes/%d" % size, headers={"Range": value})
        check(r.status == status and r.getheader("Content-Range") == content_range
              and body == part, "bytes: %s of %d bytes is %d" % (value, size, status))
    r, body = c.get("GET", "/_test/bytes/70000?chunked=1")
    check(r.getheader("Transfer-Encoding") == "chunked" and body == pattern(0, 70000),
          "bytes: chunked")
    r, body = c.get("GET", "/_test/bytes/5000?gzip=1", headers={"Accept-Encoding": "gzip"})
    check(r.getheader("Content-Encoding") == "gzip" and gzip.decompress(body) == pattern(0, 5000),
          "bytes: gzip")
    r, body = c.get("GET", "/_test/bytes/5000?gzip=1")
    check(r.getheader("Content-Encoding") is None and body == pattern(0, 5000),
          "bytes: no gzip unless accepted")
    r, body = c.get("GET", "/_test/bytes/5000?zerolength=1")
    check(r.getheader("Content-Length") == "0" and body == b"", "bytes: zero length")
    r, body = c.get("GET", "/_test/bytes/5000?nolength=1")
    check(r.getheader("Content-Length") is None and body == pattern(0, 5000),
          "bytes: no length, closed at the end")


def check_keep_alive(http_address):
    host, port = http_address.split(":")
    with socket.create_connection((host, int(port)), timeout=10) as sock:
        request = b"GET /_test/bytes/10 HTTP/1.1\r\nHost: x\r\n\r\n"
        sock.sendall(request + request)  # pipelined on one connection
        data = b""
        while data.count(pattern(0, 10)) < 2:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
    check(data.count(b"HTTP/1.1 200") == 2, "keep-alive: two answers on one connection")


def check_echo_status(http_address):
    c = Client(http_address)
    r, body = c.get("PUT", "/_test/echo/a?b=1", body=b"\x00\xff", headers={"X-Thing": "v"})
    echo = json.loads(body)
    check(echo["method"] == "PUT" and echo["path"] == "/_test/echo/a?b=1"
          and echo["headers"]["x-thing"] == "v" and echo["body_hex"] == "00ff", "echo")
    r, body = c.get("GET", "/_test/status/302?location=http://127.0.0.1:1/x")
    check(r.status == 302 and body == b"status 302"
          and r.getheader("Location") == "http://127.0.0.1:1/x", "status with location")


def check_log_and_faults(http_address):
    control(http_address, "POST", "/_emu/reset")
    c = Client(http_address)
    c.get("POST", "/_test/echo", body=b"abc")
    status, data = control(http_address, "GET", "/_emu/log")
    log = json.loads(data)["requests"]
    check(len(log) == 1 and log[0]["method"] == "POST" and log[0]["body_hex"] == "616263",
          "log: one request, control requests left out")

    def fault(fields):
        return control(http_address, "POST", "/_emu/faults", json.dumps(fields).encode())[0]

    check(fault({"path": "/_test/bytes", "status": 403, "reason": "rateLimitExceeded",
                 "count": 2}) == 200, "faults: accepted")
    statuses = [c.get("GET", "/_test/bytes/3")[0].status for _ in range(3)]
    check(statuses == [403, 403, 200], "faults: count 2, then the real answer")
    fault({"path": "/_test/bytes", "status": 403, "reason": "rateLimitExceeded"})
    r, body = c.get("GET", "/_test/bytes/3")
    check(json.loads(body)["error"]["errors"][0] == {
        "domain": "usageLimits", "reason": "rateLimitExceeded", "message": "rateLimitExceeded"},
        "faults: Drive error body, a rate limit from usageLimits")
    fault({"path": "/_test/bytes", "status": 401, "reason": "authError",
           "message": "Invalid Credentials"})
    r, body = c.get("GET", "/_test/bytes/3")
    check(r.status == 401 and json.loads(body)["error"]["errors"][0]["domain"] == "global"
          and r.getheader("WWW-Authenticate")
          == 'Bearer realm="https://accounts.google.com/", error="invalid_token"',
          "faults: a 401 carries Google's challenge")
    fault({"path": "/_test/echo", "method": "POST", "status": 401,
           "headers": {"WWW-Authenticate": "Basic realm=\"x\""}})
    check(c.get("GET", "/_test/echo")[0].status == 200, "faults: method filter")
    r, _ = c.get("POST", "/_test/echo", body=b"")
    check(r.status == 401 and r.getheader("WWW-Authenticate") == "Basic realm=\"x\"",
          "faults: 401 with challenge")
    fault({"path": "/_test/bytes", "delay_ms": 300})
    start = time.monotonic()
    c.get("GET", "/_test/bytes/3")
    check(time.monotonic() - start >= 0.3, "faults: delay")
    fault({"path": "/_test/bytes", "no_content_length": True})
    r, body = c.get("GET", "/_test/bytes/3000")
    check(r.getheader("Content-Length") is None and len(body) == 3000, "faults: no length")
    fault({"path": "/_test/bytes", "drop_after_bytes": 1000})
    data = raw_exchange(http_address, b"GET /_test/bytes/5000 HTTP/1.1\r\nHost: x\r\n\r\n")
    head, _, body = data.partition(b"\r\n\r\n")
    check(b"Content-Length: 5000" in head and body == pattern(0, 1000), "faults: drop after bytes")
    fault({"path": "/_test/bytes", "chunked": True, "drop_after_bytes": 1000})
    data = raw_exchange(http_address, b"GET /_test/bytes/5000 HTTP/1.1\r\nHost: x\r\n\r\n")
    head, _, body = data.partition(b"\r\n\r\n")
    check(b"Transfer-Encoding: chunked" in head and b"Content-Length" not in head
          and body == b"3e8\r\n" + pattern(0, 1000) + b"\r\n",
          "faults: chunked, dropped before the last chunk")
    fault({"path": "/_test/bytes", "content_length": 100})
    data = raw_exchange(http_address, b"GET /_test/bytes/50 HTTP/1.1\r\nHost: x\r\n\r\n")
    head, _, body = data.partition(b"\r\n\r\n")
    check(b"Content-Length: 100" in head and body == pattern(0, 50), "faults: lying length")
    status, _ = control(http_address, "POST", "/_emu/faults", b"[1]")
    check(status == 400, "faults: a bad fault is refused")
    control(http_address, "POST", "/_emu/reset")


def check_latency(http_address):
    control(http_address, "POST", "/_emu/config", b'{"latency_ms": 200}')
    c = Client(http_address)
    start = time.monotonic()
    for _ in range(2):
        c.get("GET", "/_test/bytes/3")
    check(time.monotonic() - start >= 0.4, "latency: every answer waits")
    start = time.monotonic()
    control(http_address, "GET", "/_emu/log")
    check(time.monotonic() - start < 0.2, "latency: control requests answer at once")
    log = json.loads(control(http_address, "GET", "/_emu/log")[1])["requests"]
    arrived = [entry["arrived_ms"] for entry in log]
    check(len(arrived) == 2 and arrived[1] - arrived[0] >= 200,
          "latency: the log shows when each request arrived")
    status, _ = control(http_address, "POST", "/_emu/config", b'{"latency_ms": -1}')
    check(status == 400, "latency: a negative one is refused")
    control(http_address, "POST", "/_emu/reset")
    status, data = control(http_address, "POST", "/_emu/config", b"{}")
    check(json.loads(data) == {"latency_ms": 0}, "latency: a reset ends it")


def check_https_and_ftp(state):
    address = open(os.path.join(state, "https.addr")).read()
    r, body = Client(address, secure=True).get("GET", "/_test/bytes/100")
    check(r.status == 200 and body == pattern(0, 100), "https: bytes")
    with urllib.request.urlopen("ftp://%s/hello.txt" % open(os.path.join(state, "ftp.addr")).read(),
                                timeout=10) as answer:
        check(answer.read().startswith(b"Hello"), "ftp: hello.txt")


def check_speed(http_address):
    host, port = http_address.split(":")
    size = 256 << 20
    with socket.create_connection((host, int(port)), timeout=30) as sock:
        start = time.monotonic()
        sock.sendall(b"GET /_test/bytes/%d HTTP/1.1\r\nHost: x\r\n\r\n" % size)
        buffer = bytearray(1 << 20)
        received = 0
        while received < size:
            count = sock.recv_into(buffer)
            if not count:
                break
            received += count
        rate = received / (time.monotonic() - start) / 1e9
    check(rate > 1.0, "speed: 256 MiB download at %.2f GB/s" % rate)
    with socket.create_connection((host, int(port)), timeout=30) as sock:
        start = time.monotonic()
        sock.sendall(b"POST /_test/sink HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % size)
        chunk = pattern(0, 251 * 4096)
        sent = 0
        while sent < size:
            piece = memoryview(chunk)[:min(len(chunk), size - sent)]
            sock.sendall(piece)
            sent += len(piece)
        answer = sock.recv(65536)
        rate = size / (time.monotonic() - start) / 1e9
    sink = json.loads(answer.partition(b"\r\n\r\n")[2])
    check(sink == {"length": size, "pattern": True}, "speed: 256 MiB upload at %.2f GB/s" % rate)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state", required=True)
    state = parser.parse_args().state
    http_address = open(os.path.join(state, "http.addr")).read()
    check_bytes(http_address)
    check_keep_alive(http_address)
    check_echo_status(http_address)
    check_log_and_faults(http_address)
    check_latency(http_address)
    check_https_and_ftp(state)
    selfcheck_google.run(state, check)
    check_speed(http_address)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
