"""Helpers of the kmcontent integration tests: the built binary, a release published into a
temporary folder, and `kmcontent serve` started on a free loopback port with its request log
captured. Standard library only."""
import http.client
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest


def native_build():
    return os.environ.get("KM_NATIVE_BUILD") or os.path.join(os.path.dirname(__file__), "..", "..", "build", "native")


def kmcontent():
    path = os.path.join(native_build(), "kmcontent")
    if not os.path.exists(path):
        raise unittest.SkipTest("kmcontent is not built: %s" % path)
    return path


def run_kmcontent(*args, **kwargs):
    return subprocess.run([kmcontent()] + list(args), capture_output=True, text=True, timeout=120, **kwargs)


def write_file(root, relative, data):
    path = os.path.join(root, *relative.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


class TempFolder:
    """A temporary folder removed by the test's (or, given a class, the class's) clean-up."""

    def __init__(self, test):
        self.path = tempfile.mkdtemp(prefix="kmcontent-test-")
        add = test.addClassCleanup if isinstance(test, type) else test.addCleanup
        add(shutil.rmtree, self.path, True)

    def join(self, *parts):
        return os.path.join(self.path, *parts)


def publish(build, release, version="1", *extra):
    result = run_kmcontent("publish", "--build", build, "--out", release, "--version", version, *extra)
    if result.returncode != 0:
        raise AssertionError("publish failed: %s" % result.stderr)
    return result


class Server:
    """`kmcontent serve` on 127.0.0.1 and a free port; the request log is read from its
    standard output by a thread, so tests can wait for a line."""

    prefix = []  # a command the server runs under (e.g. setpriv to drop root)

    def __init__(self, release, accounts, *extra):
        self.release = release
        self.accounts = accounts
        self.extra = extra
        self.lines = []
        self.lock = threading.Lock()
        self.start()

    def start(self):
        self.lines = []
        accounts = ["--accounts", self.accounts] if self.accounts else []
        self.process = subprocess.Popen(
            self.prefix + [kmcontent(), "serve", "--release", self.release, "--listen", "127.0.0.1:0"] + accounts +
            list(self.extra),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace")
        first = self.process.stdout.readline()
        match = re.search(r"https?://127\.0\.0\.1:(\d+)/", first)
        if not match:
            self.process.kill()
            raise AssertionError("serve did not start: %r %s" % (first, self.process.stderr.read()))
        self.port = int(match.group(1))
        self.reader = threading.Thread(target=self._read_log, daemon=True)
        self.reader.start()

    def _read_log(self):
        for line in self.process.stdout:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.reader.join(timeout=5)
        self.process.stdout.close()
        self.process.stderr.close()

    def restart(self):
        self.stop()
        self.start()

    def alive(self):
        return self.process.poll() is None

    def connection(self, timeout=30):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, target, headers=None, body=None):
        """(status, headers as a dict with lower-case names, body bytes) on a new connection."""
        conn = self.connection()
        try:
            conn.putrequest(method, target, skip_accept_encoding=True)
            for name, value in (headers or {}).items():
                conn.putheader(name, value)
            if body is not None:
                conn.putheader("Content-Length", str(len(body)))
            conn.endheaders(body)
            response = conn.getresponse()
            data = response.read()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, data
        finally:
            conn.close()

    def get(self, target, headers=None):
        return self.request("GET", target, headers)

    def log_line(self, fragment, deadline=10):
        """The first log line that contains fragment, waiting for it up to deadline seconds."""
        end = time.time() + deadline
        while time.time() < end:
            with self.lock:
                for line in self.lines:
                    if fragment in line:
                        return line
            time.sleep(0.02)
        raise AssertionError("no log line with %r in %s" % (fragment, self.lines[-20:]))


def serve(test, release, accounts=None, *extra):
    if accounts is None:
        accounts = os.path.join(os.path.dirname(release), "accounts.db")
    server = Server(release, accounts, *extra)
    test.addCleanup(server.stop)
    return server


def wait_for(condition, timeout):
    """Polls condition until it is true or the deadline passes; its last value."""
    end = time.time() + timeout
    while True:
        value = condition()
        if value or time.time() > end:
            return value
        time.sleep(0.05)
