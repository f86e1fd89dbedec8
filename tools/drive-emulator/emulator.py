#!/usr/bin/python3
"""Local stand-in for Google Drive and its OAuth endpoints.

One process serves plain HTTP, HTTPS (a self-signed certificate made with
openssl at start) and FTP (pyftpdlib) on 127.0.0.1, each on a port the OS
picks, and writes their addresses to <state>/http.addr, https.addr and
ftp.addr. Requests are dispatched through a route table (method + path
pattern -> handler); the control interface under /_emu/ on the plain HTTP
port reads the request log and scripts faults. README.md describes it all.

Python standard library only, plus Debian's python3-pyftpdlib for FTP.
"""

import argparse
import gzip
import http
import json
import logging
import os
import re
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
import warnings
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SEND_CHUNK = 1 << 20  # large sends keep Python out of the per-byte path
PATTERN_PERIOD = 251
LOGGED_BODY_LIMIT = 4 << 20  # the log keeps at most this much of each body
IDLE_TIMEOUT = 300  # seconds a keep-alive connection may sit idle


# --- Bodies -----------------------------------------------------------------


class Body:
    """A response body of known length, sent as memoryview slices."""

    length = 0

    def chunks(self, start, end):
        """Yields the bytes [start, end) in slices of at most SEND_CHUNK."""
        raise NotImplementedError

    def read(self):
        return b"".join(bytes(c) for c in self.chunks(0, self.length))


class BytesBody(Body):
    def __init__(self, data=b""):
        self.data = bytes(data)
        self.length = len(self.data)

    def chunks(self, start, end):
        view = memoryview(self.data)
        for pos in range(start, end, SEND_CHUNK):
            yield view[pos:min(pos + SEND_CHUNK, end)]


class PatternBody(Body):
    """length bytes where byte i is i % 251, cut from one precomputed buffer."""

    _buffer = None
    _lock = threading.Lock()

    def __init__(self, length):
        self.length = length

    @classmethod
    def buffer(cls):
        with cls._lock:
            if cls._buffer is None:
                periods = SEND_CHUNK // PATTERN_PERIOD + 2
                cls._buffer = memoryview(bytes(range(PATTERN_PERIOD)) * periods)
            return cls._buffer

    @classmethod
    def matches(cls, offset, data):
        """Whether data equals the pattern's bytes from offset on (C-speed compare)."""
        buf = cls.buffer()
        pos = 0
        while pos < len(data):
            size = min(SEND_CHUNK, len(data) - pos)
            start = (offset + pos) % PATTERN_PERIOD
            if buf[start:start + size] != data[pos:pos + size]:
                return False
            pos += size
        return True

    def chunks(self, start, end):
        buf = self.buffer()
        pos = start
        while pos < end:
            size = min(SEND_CHUNK, end - pos)
            offset = pos % PATTERN_PERIOD
            yield buf[offset:offset + size]
            pos += size


class SliceBody(Body):
    def __init__(self, inner, start, end):
        self.inner, self.start = inner, start
        self.length = end - start

    def chunks(self, start, end):
        return self.inner.chunks(self.start + start, self.start + end)


def pattern_bytes(length):
    """The first length bytes of the test pattern, as bytes."""
    return PatternBody(length).read()


# --- Requests and responses -------------------------------------------------


class Request:
    """One parsed request as handlers see it."""

    def __init__(self, method, target, headers, body_reader, scheme, port):
        self.method = method
        self.target = target  # path with the query, as sent
        parts = urllib.parse.urlsplit(target)
        self.path = parts.path
        self.query = dict(urllib.parse.parse_qsl(parts.query, keep_blank_values=True))
        self.headers = headers  # lower-case name -> value
        self.body_reader = body_reader
        self.body = b""  # the whole body, except on routes that stream it
        self.scheme = scheme
        self.port = port
        self.arrived_ms = None  # since the emulator started, when its head was read
        self.client_port = None  # the connection it came on, for the log

    def header(self, name, default=""):
        return self.headers.get(name.lower(), default)

    def flag(self, name):
        return self.query.get(name, "") not in ("", "0", "false")

    @property
    def base_url(self):
        """scheme://host:port the client used, for links back to this server."""
        host = self.header("host") or "127.0.0.1:%d" % self.port
        return "%s://%s" % (self.scheme, host)

    def json(self):
        return json.loads(self.body.decode("utf-8"))

    def accepts_gzip(self):
        for item in self.header("accept-encoding").split(","):
            coding, _, params = item.strip().partition(";")
            if coding.strip().lower() in ("gzip", "*"):
                return params.replace(" ", "") not in ("q=0", "q=0.0", "q=0.00", "q=0.000")
        return False


class BodyReader:
    """A request body (Content-Length or chunked) read from the connection.
    Routes that take large uploads iterate chunks() and keep what they need:
    holding hundreds of MiB in fresh memory costs more than the transfer."""

    def __init__(self, rfile, length, chunked):
        self.rfile = rfile
        self.declared = length
        self.chunked = chunked
        self.received = 0
        self.head = bytearray()  # the first LOGGED_BODY_LIMIT bytes, for the log
        self.done = not chunked and length == 0
        self.limit = None  # a fault: the connection drops once this much arrived

    def read_all(self):
        if not self.chunked:
            return self._read_whole()
        return b"".join(bytes(chunk) for chunk in self.chunks())

    def chunks(self):
        """Yields the body as memoryviews of one reused buffer, each valid
        until the next is asked for."""
        buffer = memoryview(bytearray(SEND_CHUNK))
        for size in self._segments():
            while size:
                room = len(buffer)
                if self.limit is not None:
                    if self.received >= self.limit:
                        raise ConnectionError("dropped by a fault")
                    room = min(room, self.limit - self.received)
                count = self.rfile.readinto(buffer[:min(size, room)])
                if not count:
                    raise ConnectionError("the request body ended early")
                size -= count
                self._keep(buffer[:count])
                yield buffer[:count]
        self._finish()

    def drain(self):
        """Reads what the handler left, so the next request starts in place."""
        if not self.done:
            for _ in self.chunks():
                pass

    def _read_whole(self):
        body = bytearray(self.declared)
        view = memoryview(body)
        while self.received < self.declared:
            count = self.rfile.readinto(view[self.received:])
            if not count:
                raise ConnectionError("the request body ended early")
            self._keep(view[self.received:self.received + count])
        self._finish()
        return bytes(body) if self.declared < 65536 else body

    def _finish(self):
        self.done = True
        self.rfile = None  # the log keeps this object; it must not keep the connection

    def _keep(self, data):
        if len(self.head) < LOGGED_BODY_LIMIT:
            self.head += data[:LOGGED_BODY_LIMIT - len(self.head)]
        self.received += len(data)

    def _segments(self):
        if not self.chunked:
            yield self.declared - self.received
            return
        while True:
            size = int(self.rfile.readline().split(b";")[0].strip(), 16)
            if size == 0:
                while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                    pass  # trailers
                return
            yield size
            self.rfile.readline()  # the CRLF after the data


class Response:
    """What a handler answers. framing: "length" (Content-Length), "chunked",
    or "close" (no length; the connection closes after the body)."""

    def __init__(self, status=200, body=b"", content_type=None, headers=None):
        self.status = status
        self.body = body if isinstance(body, Body) else BytesBody(body)
        self.headers = []
        self.framing = "length"
        self.close = False
        if content_type:
            self.set_header("Content-Type", content_type)
        for name, value in (headers or {}).items():
            self.set_header(name, value)

    @classmethod
    def json(cls, value, status=200):
        data = json.dumps(value).encode("utf-8")
        return cls(status, data, "application/json; charset=UTF-8")

    @classmethod
    def text(cls, text, status=200, content_type="text/plain; charset=UTF-8"):
        return cls(status, text.encode("utf-8"), content_type)

    def set_header(self, name, value):
        self.headers = [(n, v) for n, v in self.headers if n.lower() != name.lower()]
        self.headers.append((name, str(value)))

    def get_header(self, name):
        for n, v in self.headers:
            if n.lower() == name.lower():
                return v
        return None

    def gzip(self):
        self.body = BytesBody(gzip.compress(self.body.read(), compresslevel=1))
        self.set_header("Content-Encoding", "gzip")
        return self

    def has_body(self):
        return self.status >= 200 and self.status not in (204, 304)


# Google's challenges on a 401 (RFC 6750 3.1): without a token, and for a
# token it does not accept.
GOOGLE_CHALLENGE = 'Bearer realm="https://accounts.google.com/"'
INVALID_TOKEN_CHALLENGE = GOOGLE_CHALLENGE + ', error="invalid_token"'
USAGE_LIMIT_REASONS = ("rateLimitExceeded", "userRateLimitExceeded", "dailyLimitExceeded")


def drive_error(status, reason, message, domain=None):
    """An error answer in Drive's own shape (reason inside error.errors[0]);
    rate and quota limits come from the domain "usageLimits", the rest from "global"."""
    if domain is None:
        domain = "usageLimits" if reason in USAGE_LIMIT_REASONS else "global"
    return Response.json({"error": {
        "errors": [{"domain": domain, "reason": reason, "message": message}],
        "code": status,
        "message": message,
    }}, status)


RANGE_RE = re.compile(r"bytes=(\d*)-(\d*)$", re.IGNORECASE)  # range units ignore case


def ranged(request, body, response=None, cap=None):
    """Serves body whole (200) or the part its Range header asks for (206),
    or 416 when the range cannot be satisfied (RFC 9110 14.1.1): a first byte
    at or past the end, or a suffix of 0 bytes or of an empty body (no byte
    can be named). A Range header that is not one valid byte range (several
    ranges, a last byte before the first) is ignored, as HTTP allows. cap,
    when given, limits a 206 to that many bytes, as a server may."""
    response = response or Response(200, body)
    response.set_header("Accept-Ranges", "bytes")
    match = RANGE_RE.match(request.header("range").replace(" ", ""))
    if not match or match.groups() == ("", ""):
        response.body = body
        return response
    first, last = match.groups()
    if first == "":  # suffix: the last n bytes
        start, end = max(0, body.length - int(last)), body.length
    else:
        start = int(first)
        end = body.length if last == "" else min(int(last) + 1, body.length)
        if last != "" and int(last) < start:
            response.body = body
            return response
    if start >= end:
        refused = Response(416)
        refused.set_header("Content-Range", "bytes */%d" % body.length)
        return refused
    if cap:
        end = min(end, start + cap)
    response.status = 206
    response.body = SliceBody(body, start, end)
    response.set_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, body.length))
    return response


# --- Routing ----------------------------------------------------------------


class Router:
    """Method + path pattern -> handler. Patterns are regular expressions
    matched against the whole path (without the query); their named groups
    are passed to the handler as keyword arguments."""

    def __init__(self):
        self.routes = []

    def add(self, methods, pattern, handler, stream_body=False):
        """stream_body: the handler reads request.body_reader itself."""
        methods = {m.upper() for m in methods.split("|")} if methods != "*" else None
        self.routes.append((methods, re.compile(pattern), handler, stream_body))

    def route(self, methods, pattern, stream_body=False):
        def register(handler):
            self.add(methods, pattern, handler, stream_body)
            return handler
        return register

    def find(self, request):
        """(handler taking the request, whether it streams the body)."""
        path_known = False
        for methods, pattern, handler, stream_body in self.routes:
            match = pattern.fullmatch(request.path)
            if not match:
                continue
            path_known = True
            if methods is None or request.method in methods or (
                    request.method == "HEAD" and "GET" in methods):
                groups = match.groupdict()
                return (lambda request: handler(request, **groups)), stream_body
        if path_known:
            return (lambda _: drive_error(405, "methodNotAllowed", "Method Not Allowed")), False
        return (lambda _: drive_error(404, "notFound", "Not Found")), False


# --- Faults and the request log --------------------------------------------


class Fault:
    """One scripted fault, applied to the next `count` matching requests."""

    def __init__(self, fields):
        if not isinstance(fields, dict) or not isinstance(fields.get("path"), str):
            raise ValueError("a fault is a JSON object with a \"path\" prefix")
        self.path = fields["path"]
        self.method = fields.get("method", "").upper()
        self.count = int(fields.get("count", 1))
        if self.count == 0:
            raise ValueError("count is at least 1, or -1 for every request")
        self.status = fields.get("status")
        self.reason = fields.get("reason")
        self.message = fields.get("message")
        self.headers = fields.get("headers", {})
        self.body = fields.get("body")
        self.no_content_length = bool(fields.get("no_content_length", False))
        self.chunked = bool(fields.get("chunked", False))
        self.content_length = fields.get("content_length")
        self.delay_ms = int(fields.get("delay_ms", 0))
        self.drop_after_bytes = fields.get("drop_after_bytes")
        self.drop_request_after_bytes = fields.get("drop_request_after_bytes")
        self.close = bool(fields.get("close", False))

    def matches(self, request):
        return request.target.startswith(self.path) and (
            not self.method or self.method == request.method)

    def scripted_response(self):
        """The answer that replaces the real one, or None to keep it."""
        if self.status is None:
            return None
        status = int(self.status)
        if self.reason is not None:
            response = drive_error(status, self.reason, self.message or self.reason)
        else:
            body = (self.body or "").encode("utf-8")
            kind = None
            if body:
                kind = "application/json; charset=UTF-8" if body[:1] in (b"{", b"[") \
                    else "text/plain; charset=UTF-8"
            response = Response(status, body, kind)
        if status == 401:  # every real 401 names its scheme; a fault's own header wins
            response.set_header("WWW-Authenticate", INVALID_TOKEN_CHALLENGE)
        for name, value in self.headers.items():
            response.set_header(name, value)
        return response

    def reshape(self, framing, announced, close, body):
        """Applies the framing lies, the early drop and the close to an answer
        on its way out: (framing, announced length, close, body, complete)."""
        complete = True
        if self.no_content_length:
            framing = "close"
        if self.chunked:
            framing = "chunked"
        if self.content_length is not None:
            real, announced = announced, int(self.content_length)
            framing = "length"
            close = close or announced != real
            if body is not None:
                body = SliceBody(body, 0, min(body.length, announced))
        if body is not None and self.drop_after_bytes is not None:
            limit = int(self.drop_after_bytes)
            complete = limit >= body.length
            body = SliceBody(body, 0, min(body.length, limit))
            close = True
        return framing, announced, close or self.close, body, complete

    def adjust(self, response):
        """Header changes on a real answer (a fault without status)."""
        if self.status is None:
            for name, value in self.headers.items():
                response.set_header(name, value)


class Emulator:
    """Shared state: the route table, the request log and the scripted faults.
    Handlers added later keep their own state as attributes of this object."""

    def __init__(self, state_dir):
        self.state_dir = state_dir
        self.router = Router()
        self.stopping = threading.Event()
        self._lock = threading.Lock()
        self._log = []
        self._faults = []
        self.latency_ms = 0  # added before every answer's first byte
        self.started = time.monotonic()

    def reset(self):
        with self._lock:
            self._log.clear()
            self._faults.clear()
            self.latency_ms = 0

    def record(self, request):
        # Only the head of a large upload is kept: benchmarks send hundreds of MiB.
        entry = (request.method, request.target, request.headers, request.body_reader,
                 request.arrived_ms, request.client_port)
        with self._lock:
            self._log.append(entry)

    def log_json(self):
        with self._lock:
            entries = list(self._log)
        return {"requests": [{
            "method": method,
            "path": target,
            "headers": headers,
            "body_hex": bytes(reader.head).hex(),
            "body_length": reader.received,
            "arrived_ms": arrived,
            "client_port": port,
        } for method, target, headers, reader, arrived, port in entries]}

    def since_start_ms(self):
        return round((time.monotonic() - self.started) * 1000.0, 3)

    def configure(self, settings):
        """POST /_emu/config: the core's settings; a reset restores them."""
        if not isinstance(settings, dict):
            raise ValueError("the settings are a JSON object")
        if "latency_ms" in settings:
            latency = int(settings["latency_ms"] or 0)
            if latency < 0:
                raise ValueError("latency_ms is at least 0")
            self.latency_ms = latency
        return {"latency_ms": self.latency_ms}

    def add_fault(self, fault):
        with self._lock:
            self._faults.append(fault)

    def take_fault(self, request):
        """The first scripted fault that matches, counted down once."""
        with self._lock:
            for fault in self._faults:
                if fault.matches(request):
                    if fault.count > 0:
                        fault.count -= 1
                        if fault.count == 0:
                            self._faults.remove(fault)
                    return fault
        return None

    def control(self, request):
        """The /_emu/ interface; these requests are neither logged nor faulted."""
        action = (request.method, request.path)
        if action == ("POST", "/_emu/reset"):
            self.reset()
            return Response.json({})
        if action == ("GET", "/_emu/log"):
            return Response.json(self.log_json())
        if action == ("POST", "/_emu/faults"):
            try:
                self.add_fault(Fault(request.json()))
            except (ValueError, TypeError) as error:
                return Response.text("bad fault: %s\n" % error, 400)
            return Response.json({})
        if action == ("POST", "/_emu/config"):
            try:
                return Response.json(self.configure(request.json() if request.body.strip() else {}))
            except (ValueError, TypeError) as error:
                return Response.text("bad settings: %s\n" % error, 400)
        if action == ("POST", "/_emu/shutdown"):
            self.stopping.set()
            response = Response.json({})
            response.close = True
            return response
        return Response.text("unknown control request\n", 404)


# --- The HTTP(S) server -----------------------------------------------------


class RequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "drive-emulator"
    sys_version = ""
    timeout = IDLE_TIMEOUT

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def handle(self):
        try:
            if isinstance(self.connection, ssl.SSLSocket):
                self.connection.do_handshake()  # here, not in the accepting thread
            super().handle()
        except (ConnectionError, ssl.SSLError, socket.timeout):
            pass  # the client went away or refused our certificate

    def log_message(self, format, *args):
        pass  # one line per request would swamp the log during benchmarks

    def log_error(self, format, *args):
        sys.stderr.write("%s %s\n" % (self.address_string(), format % args))

    def do_any(self):
        emulator = self.server.emulator
        request = Request(self.command, self.path, self.lower_headers(), self.body_reader(),
                          self.server.scheme, self.server.server_address[1])
        request.arrived_ms = emulator.since_start_ms()
        request.client_port = self.client_address[1]
        if self.server.control and request.path.startswith("/_emu/"):
            request.body = request.body_reader.read_all()
            self.send(emulator.control(request))
            return
        handler, stream_body = emulator.router.find(request)
        if not stream_body:
            request.body = request.body_reader.read_all()
        emulator.record(request)
        fault = emulator.take_fault(request)
        if fault and fault.delay_ms:
            time.sleep(fault.delay_ms / 1000.0)
        dropping = fault and fault.drop_request_after_bytes is not None
        if dropping:
            request.body_reader.limit = int(fault.drop_request_after_bytes)
        response = fault and fault.scripted_response()
        if response is None:
            response = self.answer(handler, request)
            if fault:
                fault.adjust(response)
        if dropping:
            raise ConnectionError("dropped by a fault before the answer")
        request.body_reader.drain()
        if emulator.latency_ms:
            time.sleep(emulator.latency_ms / 1000.0)  # a network's round trip
        self.send(response, fault)

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = do_OPTIONS = do_any

    def answer(self, handler, request):
        try:
            return handler(request)
        except ConnectionError:
            raise
        except Exception as error:  # a handler bug must not kill the connection
            logging.exception("handler failed for %s %s", request.method, request.target)
            return drive_error(500, "backendError", "Internal error: %s" % error)

    def lower_headers(self):
        headers = {}
        for name, value in self.headers.items():
            name = name.lower()
            headers[name] = headers[name] + ", " + value if name in headers else value
        return headers

    def body_reader(self):
        chunked = "chunked" in self.headers.get("Transfer-Encoding", "").lower()
        length = 0 if chunked else int(self.headers.get("Content-Length") or 0)
        return BodyReader(self.rfile, length, chunked)

    def send(self, response, fault=None):
        body = response.body if response.has_body() and self.command != "HEAD" else None
        framing, announced = response.framing, response.body.length
        close, complete = response.close or self.close_connection, True
        if fault:
            framing, announced, close, body, complete = fault.reshape(
                framing, announced, close, body)
        close = close or framing == "close"
        self.close_connection = close
        out = Sender(self.connection, self.head(response, framing, announced, close,
                                                body is not None))
        if body is not None:
            chunked = framing == "chunked"
            for chunk in body.chunks(0, body.length):
                out.write(b"%x\r\n" % len(chunk) if chunked else b"")
                out.write(chunk)
                out.write(b"\r\n" if chunked else b"")
            if chunked and complete:
                out.write(b"0\r\n\r\n")
        out.flush()

    def head(self, response, framing, announced, close, with_body):
        lines = ["HTTP/1.1 %d %s" % (response.status, reason_phrase(response.status)),
                 "Date: " + self.date_time_string(),
                 "Server: " + self.server_version]
        lines += ["%s: %s" % item for item in response.headers]
        if framing == "length" and response.has_body():
            lines.append("Content-Length: %d" % announced)  # also for HEAD
        elif framing == "chunked" and with_body:
            lines.append("Transfer-Encoding: chunked")
        if close:
            lines.append("Connection: close")
        return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


class Sender:
    """Gathers small pieces into one send (no Nagle stalls on keep-alive);
    large pieces go straight to sendall without a copy."""

    LIMIT = 64 * 1024

    def __init__(self, sock, first=b""):
        self.sock = sock
        self.pending = bytearray(first)

    def write(self, data):
        if len(self.pending) + len(data) <= self.LIMIT:
            self.pending += data
            return
        self.flush()
        if len(data) <= self.LIMIT:
            self.pending += data
        else:
            self.sock.sendall(data)

    def flush(self):
        if self.pending:
            self.sock.sendall(self.pending)
            self.pending = bytearray()


def reason_phrase(status):
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Unknown"


class Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    request_queue_size = 128

    def __init__(self, emulator, scheme, control, context=None):
        super().__init__(("127.0.0.1", 0), RequestHandler)
        self.emulator, self.scheme, self.control = emulator, scheme, control
        if context:
            # The handshake runs in the connection's thread (setup), not in accept.
            self.socket = context.wrap_socket(self.socket, server_side=True,
                                              do_handshake_on_connect=False)

    def handle_error(self, request, client_address):
        logging.exception("connection from %s failed", client_address)


def tls_context(state_dir):
    """A self-signed certificate for 127.0.0.1 and localhost, new every start."""
    cert, key = (os.path.join(state_dir, name) for name in ("cert.pem", "key.pem"))
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "7",
         "-keyout", key, "-out", cert, "-subj", "/CN=127.0.0.1",
         "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
        check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


# --- FTP --------------------------------------------------------------------


def start_ftp(state_dir):
    """Anonymous read/write FTP on <state>/ftp-root, seeded with hello.txt."""
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    root = os.path.join(state_dir, "ftp-root")
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "hello.txt"), "wb") as f:
        f.write(b"Hello from the emulator's FTP server.\r\n")
    authorizer = DummyAuthorizer()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # anonymous write access is the point here
        authorizer.add_anonymous(root, perm="elradfmwMT")
    handler = type("AnonymousFTPHandler", (FTPHandler,), {"authorizer": authorizer})
    server = FTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, kwargs={"handle_exit": False},
                     name="ftp", daemon=True).start()
    return server


# --- Test routes ------------------------------------------------------------


def add_test_routes(router):
    """Routes for testing the transport itself."""

    @router.route("GET", r"/_test/bytes/(?P<n>\d+)")
    def test_bytes(request, n):
        if request.flag("zerolength"):
            return Response(200, b"", "application/octet-stream")
        body = PatternBody(int(n))
        response = Response(200, body, "application/octet-stream")
        if request.flag("gzip") and request.accepts_gzip():
            response.gzip()
            body = response.body
        response = ranged(request, body, response)
        if request.flag("chunked"):
            response.framing = "chunked"
        elif request.flag("nolength"):
            response.framing = "close"
        return response

    @router.route("*", r"/_test/echo(/.*)?")
    def test_echo(request):
        return Response.json({
            "method": request.method,
            "path": request.target,
            "headers": request.headers,
            "body_hex": request.body.hex(),
        })

    @router.route("POST|PUT", r"/_test/sink", stream_body=True)
    def test_sink(request):
        """Takes a body of any size without keeping it; tells whether it was the pattern."""
        length, pattern = 0, True
        for chunk in request.body_reader.chunks():
            pattern = pattern and PatternBody.matches(length, chunk)
            length += len(chunk)
        return Response.json({"length": length, "pattern": pattern})

    @router.route("*", r"/_test/status/(?P<code>\d{3})")
    def test_status(request, code):
        code = int(code)
        response = Response.text("status %d" % code, code)
        if "location" in request.query:
            response.set_header("Location", request.query["location"])
        return response


def build_emulator(state_dir):
    emulator = Emulator(state_dir)
    add_test_routes(emulator.router)
    import google_api  # here: it imports this module's pieces
    google_api.install(emulator)  # OAuth and Drive routes, their control requests
    return emulator


# --- Start and stop ---------------------------------------------------------


def write_address(state_dir, kind, port):
    path = os.path.join(state_dir, kind + ".addr")
    temp = path + ".tmp"
    with open(temp, "w") as f:
        f.write("127.0.0.1:%d" % port)
    os.replace(temp, path)  # a reader never sees half a file


def remove_addresses(state_dir):
    for kind in ("http", "https", "ftp"):
        try:
            os.remove(os.path.join(state_dir, kind + ".addr"))
        except FileNotFoundError:
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True, help="folder for addresses and files")
    args = parser.parse_args()
    state_dir = os.path.abspath(args.state)
    os.makedirs(state_dir, exist_ok=True)
    logging.basicConfig(level=logging.WARNING, format="%(asctime)s %(name)s: %(message)s")
    remove_addresses(state_dir)

    emulator = build_emulator(state_dir)
    servers = [Server(emulator, "http", control=True),
               Server(emulator, "https", control=False, context=tls_context(state_dir))]
    for server in servers:
        threading.Thread(target=server.serve_forever, name=server.scheme, daemon=True).start()
    ftp = start_ftp(state_dir)

    signal.signal(signal.SIGTERM, lambda *_: emulator.stopping.set())
    signal.signal(signal.SIGINT, lambda *_: emulator.stopping.set())
    write_address(state_dir, "ftp", ftp.address[1])
    write_address(state_dir, "https", servers[1].server_address[1])
    write_address(state_dir, "http", servers[0].server_address[1])
    print("drive emulator: http %d, https %d, ftp %d" % (
        servers[0].server_address[1], servers[1].server_address[1], ftp.address[1]), flush=True)

    while not emulator.stopping.wait(0.5):
        pass
    time.sleep(0.1)  # lets the shutdown answer leave
    remove_addresses(state_dir)
    for server in servers:
        server.shutdown()
        server.server_close()
    print("drive emulator: stopped", flush=True)


if __name__ == "__main__":
    main()
