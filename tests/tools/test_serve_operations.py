"""`kmcontent serve` as an operator runs it on patch day and as an attacker meets it: slow
clients and downloads that must not hold up short requests, request heads that are late or
too large, the request log (client, bytes, aborts, rotation), stopping with SIGTERM, refused
start-up, file errors, and the account database's privacy."""
import os
import shutil
import signal
import socket
import stat
import subprocess
import threading
import time
import unittest

import kmtools

BIG = os.urandom(8 * 1024 * 1024)


def release_with_big_file(test):
    folder = kmtools.TempFolder(test)
    kmtools.write_file(folder.join("build"), "Data/big.bin", BIG)
    kmtools.write_file(folder.join("build"), "Data/small.bin", b"small")
    release = folder.join("release")
    kmtools.publish(folder.join("build"), release, "7")
    return folder, release


def stalled_download(port, path="/files/Data/big.bin"):
    """A download whose client never reads: the server's socket buffer fills and stays full."""
    sock = socket.create_connection(("127.0.0.1", port))
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.sendall(b"GET " + path.encode() + b" HTTP/1.1\r\nHost: x\r\n\r\n")
    return sock


def slow_head(port):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.sendall(b"GET /manifest HTTP/1.1\r\nHost: x\r\nX-Slow: ")
    return sock


def closed_by_peer(sock, timeout):
    sock.settimeout(timeout)
    try:
        while sock.recv(65536):
            pass
        return True
    except (socket.timeout, ConnectionResetError):
        return False


def trickle_until_cut(sock, seconds):
    """Sends a byte now and then (so the idle time-out never fires) until the server cuts."""
    end = time.time() + seconds
    while time.time() < end:
        try:
            sock.sendall(b"a")
        except OSError:
            return True
        if closed_by_peer(sock, 0.3):
            return True
    return False


class Busy(unittest.TestCase):
    def test_short_requests_never_wait_behind_slow_clients_or_downloads(self):
        folder, release = release_with_big_file(self)
        server = kmtools.serve(self, release, None, "--threads", "2")
        held = [slow_head(server.port) for _ in range(40)] + [stalled_download(server.port) for _ in range(6)]
        self.addCleanup(lambda: [s.close() for s in held])
        time.sleep(0.3)
        for _ in range(10):  # one thread per connection would have none left
            conn = server.connection(timeout=5)
            conn.request("GET", "/manifest")
            self.assertEqual(conn.getresponse().status, 200)
            conn.close()
        status, _, body = server.get("/files/Data/small.bin")
        self.assertEqual((status, body), (200, b"small"))

    def test_a_late_request_head_is_cut_off_and_a_huge_one_refused(self):
        folder, release = release_with_big_file(self)
        server = kmtools.serve(self, release, None, "--head-timeout", "1")
        body = socket.create_connection(("127.0.0.1", server.port))
        body.sendall(b"POST /register HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nuser=")
        for sock, what in ((slow_head(server.port), "a head"), (body, "a body")):
            self.addCleanup(sock.close)
            self.assertTrue(trickle_until_cut(sock, 20), "%s trickling in byte by byte was never cut off" % what)
        status, _, _ = server.get("/manifest", {"X-Big": "b" * 40000})
        self.assertEqual(status, 431)
        self.assertEqual(server.get("/manifest")[0], 200)


class LogAndSignals(unittest.TestCase):
    def test_log_names_the_client_counts_bytes_marks_aborts_and_reopens_on_sighup(self):
        folder, release = release_with_big_file(self)
        log = folder.join("requests.log")
        server = kmtools.serve(self, release, None, "--log", log, "--trusted-proxy", "127.0.0.1")
        server.get("/files/Data/small.bin", {"X-Forwarded-For": "198.51.100.7, 203.0.113.9"})
        server.get("/files/Data/small.bin", {"X-Forwarded-For": "not an address"})
        sock = stalled_download(server.port)
        time.sleep(0.3)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        sock.close()
        time.sleep(0.5)
        os.rename(log, log + ".1")
        server.process.send_signal(signal.SIGHUP)
        deadline = time.time() + 10
        while time.time() < deadline and not os.path.exists(log):
            time.sleep(0.05)
        server.get("/manifest")
        time.sleep(0.3)
        with open(log + ".1") as f:
            rotated = f.read().splitlines()
        with open(log) as f:
            current = f.read()
        # Two connections on the server's event threads: their lines may come in either order.
        small = sorted((line for line in rotated if " GET /files/Data/small.bin " in line),
                       key=lambda line: line.split(" ", 2)[2])  # by client, not time
        self.assertEqual(len(small), 2, rotated)
        self.assertRegex(small[0], r" 127\.0\.0\.1:\d+ GET /files/Data/small\.bin 200 5 ")
        self.assertRegex(small[1], r" 203\.0\.113\.9 GET /files/Data/small\.bin 200 5 \d+\.\d{3}s$")
        aborted = [line for line in rotated + current.splitlines() if line.endswith(" aborted")]
        self.assertEqual(len(aborted), 1, rotated)
        sent = int(aborted[0].split()[5])
        self.assertLess(sent, len(BIG))  # what went out, not what was asked for
        self.assertIn(" GET /manifest 200 ", current)

    def test_sigterm_lets_a_running_download_finish_and_refuses_new_connections(self):
        folder, release = release_with_big_file(self)
        server = kmtools.serve(self, release, None, "--drain", "20")
        sock = socket.create_connection(("127.0.0.1", server.port))
        self.addCleanup(sock.close)
        sock.sendall(b"GET /files/Data/big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        received = bytearray(sock.recv(65536))
        server.process.terminate()
        time.sleep(0.3)
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", server.port), timeout=2)
        self.assertIsNone(server.process.poll())  # still sending
        sock.settimeout(20)
        while True:
            piece = sock.recv(1 << 20)
            if not piece:
                break
            received += piece
        self.assertTrue(received.endswith(BIG[-1000:]))
        self.assertEqual(len(received) - received.index(b"\r\n\r\n") - 4, len(BIG))
        self.assertEqual(server.process.wait(timeout=20), 0)

    def test_a_listener_that_cannot_start_exits_non_zero(self):
        folder, release = release_with_big_file(self)
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            result = kmtools.run_kmcontent("serve", "--release", release, "--listen", "127.0.0.1:%d" % port,
                                           "--no-accounts")
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot listen", result.stderr)


class Accounts(unittest.TestCase):
    def test_no_accounts_means_no_register_and_no_database(self):
        folder, release = release_with_big_file(self)
        server = kmtools.Server(release, "", "--no-accounts")
        self.addCleanup(server.stop)
        status, _, _ = server.request("POST", "/register", {}, b"user=abcd&pass=1234&email=")
        self.assertEqual(status, 404)
        self.assertFalse(any(name.startswith("accounts") for name in os.listdir(folder.path)))
        self.assertEqual(server.get("/healthz")[:1], (200,))

    def test_the_database_and_its_companions_are_private(self):
        folder, release = release_with_big_file(self)
        accounts = folder.join("accounts.db")
        server = kmtools.serve(self, release, accounts)
        status, _, answer = server.request("POST", "/register", {}, b"user=Privy&pass=1234&email=p%40example.com")
        self.assertTrue(answer.startswith(b"OK"), answer)
        names = [n for n in os.listdir(folder.path) if n.startswith("accounts.db")]
        self.assertIn("accounts.db-wal", names)
        for name in names:
            self.assertEqual(stat.S_IMODE(os.stat(folder.join(name)).st_mode), 0o600, name)


@unittest.skipUnless(shutil.which("setpriv"), "setpriv is not installed")
class FileErrors(unittest.TestCase):
    def test_a_file_that_cannot_be_read_is_a_server_error_with_the_reason_logged(self):
        folder, release = release_with_big_file(self)
        os.chmod(folder.path, 0o755)
        os.chmod(os.path.join(release, "files", "Data", "small.bin"), 0)
        server = kmtools.Server(release, "", "--no-accounts")
        if os.getuid() == 0:  # root reads any file; the server runs as nobody instead
            server.stop()
            kmtools.Server.prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            self.addCleanup(setattr, kmtools.Server, "prefix", [])
            server = kmtools.Server(release, "", "--no-accounts")
        self.addCleanup(server.stop)
        status, _, _ = server.get("/files/Data/small.bin")
        self.assertEqual(status, 500)
        self.assertIn("error: open: Permission denied", server.log_line("/files/Data/small.bin 500"))
        self.assertEqual(server.get("/files/Data/missing.bin")[0], 404)


if __name__ == "__main__":
    unittest.main()
