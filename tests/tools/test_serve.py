"""`kmcontent serve` over real loopback connections: the manifest, files with byte ranges,
encoded paths, refused traversal, body limits, many concurrent downloads, and a release that
publish replaces while the server runs."""
import concurrent.futures
import hashlib
import os
import socket
import time
import unittest
import urllib.parse
import zlib

import kmtools

NAMES = {
    "Data/big.bin": os.urandom(3 * 1024 * 1024 + 123),
    "maps/new area/caf\u00e9 \u00e9t\u00e9.dat": b"summer map",
    "Kelmorra.exe": b"MZ stand-in",
    "empty.bin": b"",
}


def encode(path):
    """The launcher's encoding: letters, digits and - . / _ stay, every other byte is %XX."""
    return urllib.parse.quote(path.encode("utf-8"), safe="-./_")


class ServeFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = kmtools.TempFolder(cls)
        build = cls.folder.join("build")
        for path, data in NAMES.items():
            kmtools.write_file(build, path, data)
        cls.release = cls.folder.join("release")
        kmtools.publish(build, cls.release, "5", "--name", "Spring")
        cls.server = kmtools.Server(cls.release, cls.folder.join("accounts.db"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def get_file(self, path, range_header=None):
        headers = {"Range": range_header} if range_header else {}
        return self.server.get("/files/" + encode(path), headers)

    def test_manifest_is_the_published_one(self):
        status, headers, body = self.server.get("/manifest")
        self.assertEqual(status, 200)
        with open(os.path.join(self.release, "manifest"), "rb") as f:
            self.assertEqual(body, f.read())
        self.assertTrue(body.startswith(b"KMCONTENT\nversion 5\nname Spring\n"))
        self.assertEqual(headers.get("cache-control"), "no-cache")

    def test_whole_file_without_range(self):
        status, headers, body = self.get_file("Data/big.bin")
        self.assertEqual(status, 200)
        self.assertEqual(body, NAMES["Data/big.bin"])
        self.assertEqual(headers["accept-ranges"], "bytes")
        self.assertNotIn("content-range", headers)

    def test_single_ranges(self):
        data = NAMES["Data/big.bin"]
        size = len(data)
        cases = [
            ("bytes=0-0", 0, 0),                      # first byte
            ("bytes=1000000-1999999", 1000000, 1999999),  # middle
            ("bytes=%d-%d" % (size - 1, size - 1), size - 1, size - 1),  # last byte
            ("bytes=%d-" % (size - 100), size - 100, size - 1),         # open-ended: how the launcher resumes
            ("bytes=-10", size - 10, size - 1),       # suffix
            ("bytes=10-%d" % (size + 5000), 10, size - 1),  # end past the end is cut
        ]
        for header, first, last in cases:
            with self.subTest(header=header):
                status, headers, body = self.get_file("Data/big.bin", header)
                self.assertEqual(status, 206)
                self.assertEqual(headers["content-range"], "bytes %d-%d/%d" % (first, last, size))
                self.assertEqual(int(headers["content-length"]), last - first + 1)
                self.assertEqual(body, data[first:last + 1])

    def test_range_beyond_the_end_is_416(self):
        size = len(NAMES["Data/big.bin"])
        for header in ("bytes=%d-" % size, "bytes=%d-%d" % (size + 10, size + 20)):
            with self.subTest(header=header):
                status, headers, body = self.get_file("Data/big.bin", header)
                self.assertEqual(status, 416)
                self.assertEqual(headers["content-range"], "bytes */%d" % size)
                self.assertEqual(body, b"")
        status, _, _ = self.get_file("empty.bin", "bytes=0-")
        self.assertEqual(status, 416)

    def test_several_ranges_get_the_whole_file(self):
        status, headers, body = self.get_file("Data/big.bin", "bytes=0-1,5-6")
        self.assertEqual(status, 200)
        self.assertEqual(body, NAMES["Data/big.bin"])
        self.assertEqual(headers["content-type"], "application/octet-stream")

    def test_range_headers_the_way_the_standard_reads_them(self):
        data = NAMES["Data/big.bin"]
        size = len(data)
        whole = ["Bytes=1-2x", "bytes=5-2", "items=0-1", "bytes=abc", "bytes 0-1"]
        for header in whole:
            with self.subTest(header=header):
                status, headers, body = self.get_file("Data/big.bin", header)
                self.assertEqual((status, len(body)), (200, size))
                self.assertNotIn("content-range", headers)
        status, headers, body = self.get_file("Data/big.bin", "BYTES=1-2")  # the unit is case-blind
        self.assertEqual((status, headers["content-range"], body), (206, "bytes 1-2/%d" % size, data[1:3]))
        status, headers, body = self.get_file("Data/big.bin", "bytes=-0")
        self.assertEqual((status, headers["content-range"], body), (416, "bytes */%d" % size, b""))

    def test_validators_if_range_and_head(self):
        data = NAMES["Data/big.bin"]
        _, headers, _ = self.get_file("Data/big.bin")
        etag, modified = headers["etag"], headers["last-modified"]
        self.assertRegex(etag, r'^"[0-9a-f.-]+"$')
        self.assertRegex(modified, r"^\w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d GMT$")
        target = "/files/Data/big.bin"
        for if_range, expected in ((etag, 206), (modified, 206), ('"other"', 200), ("W/" + etag, 200),
                                   ("Tue, 01 Jan 2030 00:00:00 GMT", 200)):
            with self.subTest(if_range=if_range):
                status, _, body = self.server.get(target, {"Range": "bytes=10-19", "If-Range": if_range})
                self.assertEqual(status, expected)
                self.assertEqual(body, data[10:20] if expected == 206 else data)
        status, _, body = self.server.get(target, {"If-None-Match": 'W/"x", ' + etag})
        self.assertEqual((status, body), (304, b""))
        status, headers, body = self.server.request("HEAD", target, {"Range": "bytes=0-9"})
        self.assertEqual((status, headers["content-length"], headers["etag"], body), (206, "10", etag, b""))
        self.server.log_line("HEAD %s 206 0 " % target)

    def test_encoded_paths_with_blanks_and_non_ascii_bytes(self):
        path = "maps/new area/caf\u00e9 \u00e9t\u00e9.dat"
        self.assertIn("%20", encode(path))
        self.assertIn("%C3%A9", encode(path))
        status, _, body = self.get_file(path)
        self.assertEqual(status, 200)
        self.assertEqual(body, NAMES[path])
        status, _, body = self.get_file(path, "bytes=4-")
        self.assertEqual((status, body), (206, b"er map"))

    def test_empty_file(self):
        status, headers, body = self.get_file("empty.bin")
        self.assertEqual((status, body, headers["content-length"]), (200, b"", "0"))

    def test_unknown_paths_are_404(self):
        for target in ("/files/missing.bin", "/files/Data", "/files/Data/", "/", "/manifest/", "/files",
                       "/register", "/files/data/big.bin"):
            with self.subTest(target=target):
                self.assertEqual(self.server.get(target)[0], 404)

    def test_traversal_attempts_are_404_and_logged(self):
        secret = os.path.join(os.path.dirname(self.release), "secret.txt")
        with open(secret, "w") as f:
            f.write("not for players")
        attempts = ["/files/../manifest", "/files/Data/../../secret.txt", "/files/%2e%2e/%2e%2e/secret.txt",
                    "/files/%2E%2E%2F%2E%2E%2Fsecret.txt", "/files/..%5C..%5Csecret.txt", "/files/Data\\..\\big.bin",
                    "/files/%2Fetc%2Fpasswd", "/files//etc/passwd", "/files/a%00b"]
        for target in attempts:
            with self.subTest(target=target):
                status, _, body = self.server.get(target)
                self.assertEqual(status, 404)
                self.assertNotIn(b"not for players", body)
                line = self.server.log_line(" %s 404 " % target.replace("\\", "\\x5c"))
                self.assertIn("refused", line)

    def test_a_link_out_of_the_release_is_refused(self):
        link = os.path.join(self.release, "files", "outside")
        os.symlink(os.path.dirname(self.release), link)
        self.addCleanup(os.remove, link)
        status, _, _ = self.server.get("/files/outside/release/manifest")
        self.assertEqual(status, 404)
        self.assertIn("refused", self.server.log_line("/files/outside/release/manifest"))

    def test_every_request_is_one_log_line(self):
        self.get_file("Data/big.bin", "bytes=0-99")
        line = self.server.log_line("GET /files/Data/big.bin 206 100 ")
        self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d 127\.0\.0\.1:\d+ GET ")
        self.assertIn("range 0-99/", line)

    def test_a_body_over_the_limit_is_refused(self):
        status, _, _ = self.server.request("POST", "/register", {"Content-Type": "application/x-www-form-urlencoded"},
                                           b"user=" + b"a" * 20000)
        self.assertEqual(status, 413)
        self.assertTrue(self.server.alive())

    def test_keep_alive_serves_many_files_on_one_connection(self):
        conn = self.server.connection()
        self.addCleanup(conn.close)
        for _ in range(20):
            conn.request("GET", "/files/Kelmorra.exe")
            response = conn.getresponse()
            self.assertEqual((response.status, response.read()), (200, NAMES["Kelmorra.exe"]))

    def test_a_client_leaving_mid_download_harms_nobody_else(self):
        for _ in range(5):
            sock = socket.create_connection(("127.0.0.1", self.server.port))
            sock.sendall(b"GET /files/Data/big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
            sock.recv(1000)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            sock.close()
        time.sleep(0.2)
        self.assertTrue(self.server.alive())
        self.assertEqual(self.get_file("Data/big.bin")[2], NAMES["Data/big.bin"])


class ConcurrentDownloads(unittest.TestCase):
    def test_fifty_concurrent_downloads_are_all_byte_correct(self):
        folder = kmtools.TempFolder(self)
        data = os.urandom(24 * 1024 * 1024 + 7)
        kmtools.write_file(folder.join("build"), "Data/large.pak", data)
        release = folder.join("release")
        kmtools.publish(folder.join("build"), release)
        server = kmtools.serve(self, release)
        expected = hashlib.sha256(data).hexdigest()

        def download(index):
            conn = server.connection(timeout=120)
            try:
                headers = {"Range": "bytes=%d-" % (index * 1000)} if index % 2 else {}
                conn.request("GET", "/files/Data/large.pak", headers=headers)
                response = conn.getresponse()
                digest = hashlib.sha256()
                while True:
                    piece = response.read(1 << 20)
                    if not piece:
                        break
                    digest.update(piece)
                return index, response.status, digest.hexdigest()
            finally:
                conn.close()

        with concurrent.futures.ThreadPoolExecutor(max_workers=50) as pool:
            results = list(pool.map(download, range(50)))
        for index, status, digest in results:
            if index % 2:
                self.assertEqual(status, 206)
                self.assertEqual(digest, hashlib.sha256(data[index * 1000:]).hexdigest(), index)
            else:
                self.assertEqual(status, 200)
                self.assertEqual(digest, expected, index)
        self.assertTrue(server.alive())


class ReleaseSwappedWhileServing(unittest.TestCase):
    def test_the_next_request_sees_the_new_release(self):
        folder = kmtools.TempFolder(self)
        build = folder.join("build")
        kmtools.write_file(build, "a.dat", b"first")
        release = folder.join("release")
        kmtools.publish(build, release, "1")
        server = kmtools.serve(self, release)
        self.assertIn(b"version 1\n", server.get("/manifest")[2])
        kmtools.write_file(build, "a.dat", b"second!")
        kmtools.publish(build, release, "2")
        status, _, body = server.get("/manifest")
        self.assertIn(b"version 2\n", body)
        self.assertIn(b"%08X 7 a.dat" % zlib.crc32(b"second!"), body)
        self.assertEqual(server.get("/files/a.dat")[2], b"second!")

    def test_a_launcher_holding_an_older_manifest_still_gets_its_bytes_and_rollback_switches_back(self):
        folder = kmtools.TempFolder(self)
        build = folder.join("build")
        release = folder.join("release")
        kmtools.write_file(build, "a.dat", b"release one")
        kmtools.publish(build, release, "1")
        server = kmtools.serve(self, release, "", "--no-accounts")
        _, _, manifest = server.get("/manifest")
        self.assertIn(b"\nmirror /releases/v1/files\n", manifest)
        kmtools.write_file(build, "a.dat", b"release two, longer")
        kmtools.publish(build, release, "2")
        # Resuming a file of release 1 after release 2 went out: still release 1's bytes.
        status, headers, body = server.get("/releases/v1/files/a.dat", {"Range": "bytes=8-"})
        self.assertEqual((status, body), (206, b"one"))
        self.assertIn("immutable", headers["cache-control"])
        self.assertEqual(server.get("/files/a.dat")[2], b"release two, longer")
        # A kept release's manifest stays at its own URL (staged rollouts keep installs there).
        self.assertEqual(server.get("/releases/v1/manifest")[2], manifest)
        for target in ("/releases/v9/manifest", "/releases/../files/a.dat", "/releases/v1/files/../../v2/files/a.dat",
                       "/releases/v9/files/a.dat", "/releases/v1"):
            with self.subTest(target=target):
                self.assertEqual(server.get(target)[0], 404)
        result = kmtools.run_kmcontent("rollback", "--release", release)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"version 1\n", server.get("/manifest")[2])
        self.assertEqual(server.get("/files/a.dat")[2], b"release one")
        result = kmtools.run_kmcontent("rollback", "--release", release)
        self.assertEqual(result.returncode, 1)  # nothing older is kept
        self.assertIn("no release before v1", result.stderr)


if __name__ == "__main__":
    unittest.main()
