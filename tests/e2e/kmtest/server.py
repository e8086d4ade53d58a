"""A content server that a test controls, in the manner of a misbehaving real one.

It serves "/manifest" and "/files/<percent-encoded path>" (or a mirror's "<base>/<path>"),
honours single "Range: bytes=N-" requests with 206 unless told to ignore them (and "bytes=N-M"
when made with closed_ranges), and can be told
per path (the manifest too) to answer a chosen status, cut the body after N bytes (once or
every time), send wrong bytes (in every answer, or only in those to a range), be slow, redirect,
or end the connection after the answer. It counts the most requests it answered at one
time and the body bytes it sent for each path. It answers POST "/register" with a chosen text. With tls=(certificate, key) files it
speaks https only (the handshake runs on the connection's own thread). Every request is recorded (method, path,
headers, body) for the test to assert on. stop() closes the socket so that later connections
are refused and hangs up on the ones the launcher keeps alive.
"""
import socket
import ssl
import http.server
import threading
import time
import re
import urllib.parse
import zlib


def crc32(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def manifest_text(files, version=None, name=None, notes=(), mirror=None, gameserver=None, extra=()):
    """A manifest for files {path: bytes}, in the order given."""
    lines = ["KMCONTENT"]
    if version is not None:
        lines.append("version %d" % version)
    if name is not None:
        lines.append("name " + name)
    lines += ["notes " + note if note else "notes" for note in notes]
    if mirror is not None:
        lines.append("mirror " + mirror)
    if gameserver is not None:
        lines.append("gameserver " + gameserver)
    lines.append("files %d" % len(files))
    for path, data in files.items():
        lines.append("%08X %d %s" % (crc32(data), len(data), path))
    lines += list(extra)
    return "\n".join(lines) + "\n"


class Rule:
    """How the server treats one path."""

    def __init__(self, status=None, cut_after=None, cut_times=None, ignore_range=False,
                 delay_per_chunk=0.0, body=None, body_times=None, answer_after=0.0, redirect=None,
                 close=False, wrong_ranges=False, status_times=None):
        self.status = status
        self.status_times = status_times  # None: every time
        self.answer_after = answer_after  # seconds before the answer starts
        self.cut_after = cut_after
        self.cut_times = cut_times  # None: every time
        self.ignore_range = ignore_range
        self.delay_per_chunk = delay_per_chunk
        self.body = body  # bytes sent instead of the file's own ...
        self.body_times = body_times  # ... this many times (None: every time)
        self.redirect = redirect  # a Location answered with 302
        self.close = close  # "Connection: close", and the connection ends after the answer
        self.wrong_ranges = wrong_ranges  # a 206 for a range from byte N > 0 carries zeros


class Request:
    def __init__(self, method, path, headers, body, target=None):
        self.method = method
        self.path = path
        self.target = target  # as the request line had it (absolute through a proxy)
        self.headers = headers
        self.body = body
        self.time = time.monotonic()  # when it arrived

    def __repr__(self):
        return "%s %s %s" % (self.method, self.path, self.headers.get("Range", ""))


class ContentServer:
    def __init__(self, files=None, manifest=None, prefix="/files/", register_answer=b"OK Welcome",
                 closed_ranges=False, tls=None):
        self.files = dict(files or {})
        self.closed_ranges = closed_ranges
        self.manifest = manifest
        self.prefix = prefix
        self.register_answer = register_answer
        self.rules = {}
        self.requests = []
        self.lock = threading.Lock()
        self.connections = set()
        self.in_flight = 0
        self.max_in_flight = 0  # the most GET requests answered at one time
        self.body_bytes_sent = 0  # file and manifest body bytes written to the sockets
        self.sent = {}  # path: body bytes written to the connections
        self.in_flight_limit = None  # GET requests answered at once; more are answered 503
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def setup(self):
                super().setup()
                with outer.lock:
                    outer.connections.add(self.connection)

            def finish(self):
                with outer.lock:
                    outer.connections.discard(self.connection)
                super().finish()

            def do_GET(self):
                with outer.lock:
                    outer.in_flight += 1
                    outer.max_in_flight = max(outer.max_in_flight, outer.in_flight)
                    busy = outer.in_flight_limit is not None and outer.in_flight > outer.in_flight_limit
                try:
                    if busy:
                        outer._record(self)
                        return outer._send(self, 503, b"")
                    outer._get(self)
                except ConnectionError:  # the launcher went away mid-answer
                    self.close_connection = True
                finally:
                    with outer.lock:
                        outer.in_flight -= 1

            def do_POST(self):
                try:
                    outer._post(self)
                except ConnectionError:
                    self.close_connection = True

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*tls)
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True,
                                                    do_handshake_on_connect=False)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    @property
    def url(self):
        return "http://" + self.address

    def rule(self, path, **kwargs):
        self.rules[path] = Rule(**kwargs)

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.drop_connections()

    def drop_connections(self):
        """Ends the kept-alive connections: the client's next request connects anew."""
        with self.lock:
            alive = list(self.connections)
        for connection in alive:
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def paths_requested(self, method="GET"):
        with self.lock:
            return [r.path for r in self.requests if r.method == method]

    def file_requests(self, path):
        """The recorded requests for one file path (decoded)."""
        with self.lock:
            return [r for r in self.requests if r.path == path]

    # -- request handling --

    def _record(self, handler, body=b""):
        path = urllib.parse.unquote_to_bytes(urllib.parse.urlsplit(handler.path).path).decode("latin-1")
        request = Request(handler.command, path, dict(handler.headers.items()), body, handler.path)
        with self.lock:
            self.requests.append(request)
        return path

    def _send(self, handler, status, body, extra_headers=()):
        handler.send_response(status)
        handler.send_header("Content-Length", str(len(body)))
        for name, value in extra_headers:
            handler.send_header(name, value)
        handler.end_headers()
        handler.wfile.write(body)

    def _get(self, handler):
        path = self._record(handler)
        if path == "/manifest":
            rule = self.rules.get(path)
            if self.manifest is None and not (rule and rule.status):
                return self._send(handler, 404, b"")
            text = self.manifest() if callable(self.manifest) else self.manifest
            return self._send_file(handler, path, text.encode("latin-1") if isinstance(text, str) else text)
        if not path.startswith(self.prefix) or path[len(self.prefix):] not in self.files:
            return self._send(handler, 404, b"")
        name = path[len(self.prefix):]
        self._send_file(handler, path, self.files[name])

    def _send_file(self, handler, path, data):
        rule = self.rules.get(path) or Rule()
        time.sleep(rule.answer_after)
        if rule.status and rule.status_times != 0:
            if rule.status_times is not None:
                rule.status_times -= 1
            return self._send(handler, rule.status, b"")
        if rule.redirect:
            return self._send(handler, 302, b"", [("Location", rule.redirect)])
        if rule.body is not None and rule.body_times != 0:
            data = rule.body
            if rule.body_times is not None:
                rule.body_times -= 1
        start, end = 0, len(data)
        wanted = handler.headers.get("Range")
        if wanted and not rule.ignore_range and wanted.startswith("bytes=") and wanted.endswith("-"):
            start = int(wanted[6:-1])
        elif wanted and not rule.ignore_range and self.closed_ranges and re.fullmatch(r"bytes=\d+-\d+", wanted):
            first, last = wanted[6:].split("-")
            start, end = int(first), min(int(last) + 1, len(data))
        status = 206 if start or end < len(data) else 200
        body = data[start:end]
        if rule.wrong_ranges and start > 0:
            body = bytes(len(body))
        handler.send_response(status)
        handler.send_header("Content-Length", str(len(body)))
        if status == 206:
            handler.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, len(data)))
        if rule.close:
            handler.send_header("Connection", "close")
            handler.close_connection = True
        handler.end_headers()
        limit = len(body)
        if rule.cut_after is not None and rule.cut_times != 0:
            limit = min(limit, rule.cut_after)
            if rule.cut_times is not None:
                rule.cut_times -= 1
        self._stream(handler, path, memoryview(body)[:limit], rule.delay_per_chunk)
        if limit < len(body):
            handler.close_connection = True
            handler.wfile.flush()
            handler.connection.shutdown(2)

    def _stream(self, handler, path, body, delay):
        chunk = 65536
        for offset in range(0, len(body), chunk):
            piece = body[offset:offset + chunk]
            handler.wfile.write(piece)
            with self.lock:
                self.body_bytes_sent += len(piece)
                self.sent[path] = self.sent.get(path, 0) + len(piece)
            if delay:
                handler.wfile.flush()
                time.sleep(delay)

    def _post(self, handler):
        length = int(handler.headers.get("Content-Length") or 0)
        body = handler.rfile.read(length)
        path = self._record(handler, body)
        if path != "/register":
            return self._send(handler, 404, b"")
        answer = self.register_answer() if callable(self.register_answer) else self.register_answer
        self._send(handler, 200, answer)
