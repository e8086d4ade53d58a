"""Patching instead of downloading: a game file published with a block map, whose older
version is in the game folder, is rebuilt by the real launcher from its old blocks plus
Range requests to nginx, byte for byte, with the bytes nginx served counted from its access
log; a launcher killed in the middle of a patch finishes it on the next start; a server
that ignores closed ranges makes the launcher finish with the whole-file download, and so
does a hostile map that would have the scan hash a block at every offset; a signed release
whose fetched ranges were forged with the CRC-32 kept is never moved into place.

KM_PATCH_MIB sets the size of the patched file (16 MiB unless given)."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

from kmtest.case import LauncherTestCase, READY, UPDATE_FAILED
from kmtest.nginx import COUNTED, start as start_nginx
from kmtest.launcher import kill_processes_in, wait_until
from kmtest.server import ContentServer, manifest_text
from kmtest.signed import keyed_launcher_exe, publish as publish_signed, same_crc_change
from test_deployment import KMCONTENT, free_port, wait_for_port

SIZE = int(os.environ.get("KM_PATCH_MIB", "16")) << 20
INSERTED = 1 << 20
BLOCK = 64 << 10
BIG = "data/big.pak"

# The whole release tree, at a chosen rate (0: as fast as it goes).
TREE_AT_RATE = "limit_rate {rate};\n    location / {{ root {release}; }}"


def inserted_in_the_middle(old):
    middle = len(old) // 2 + 12345  # not on a block boundary
    return old[:middle] + os.urandom(INSERTED) + old[middle:]


def block_map_size(size):
    return 28 + 4 + -(-size // BLOCK) * 20


class PatchTest(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.tmp = tempfile.mkdtemp(prefix="km-patch-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.old = os.urandom(SIZE)
        self.new = inserted_in_the_middle(self.old)
        self.release = os.path.join(self.tmp, "release")

    def publish(self, version, files):
        build = os.path.join(self.tmp, "build%d" % version)
        for path, data in files.items():
            target = os.path.join(build, *path.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        subprocess.run([KMCONTENT, "publish", "--build", build, "--out", self.release, "--version", str(version)],
                       check=True, stdout=subprocess.DEVNULL, timeout=300)

    def nginx(self, rate="0"):
        port = free_port()
        server = start_nginx(self.tmp, port, TREE_AT_RATE.format(rate=rate, release=self.release), COUNTED)
        self.addCleanup(server.wait, 10)
        self.addCleanup(server.terminate)
        self.assertTrue(wait_for_port(port), "nginx did not listen")
        return port

    def served(self):
        """(path, status, bytes) of every request nginx answered."""
        with open(os.path.join(self.tmp, "access.log")) as f:
            return [(p, int(s), int(n)) for p, s, n in (line.split() for line in f)]

    def old_release_in_place(self):
        """A game folder holding release 1, and release 2 published with the file grown."""
        self.publish(1, {BIG: self.old, "readme.txt": b"one\r\n"})
        self.publish(2, {BIG: self.new, "readme.txt": b"two\r\n"})
        game = self.folder()
        game.write(BIG, self.old)
        game.write("readme.txt", b"one\r\n")
        return game

    def assert_patched(self, game, served, slack=0):
        self.assertEqual(game.read(BIG), self.new)
        self.assertFalse(game.exists(BIG + ".part"))
        big = [(path, status, size) for path, status, size in served if "big.pak" in path]
        self.assertTrue(any(path.endswith(".kmmap") and status == 200 for path, status, _ in big), big)
        self.assertTrue(all(status in (200, 206) for _, status, _ in big), big)
        self.assertFalse(any(status == 200 and path.endswith("big.pak") for path, status, _ in big), big)
        fetched = sum(size for _, _, size in big)
        self.assertLessEqual(fetched, INSERTED + 3 * BLOCK + block_map_size(len(self.new)) + slack, big)
        return fetched

    def test_a_grown_file_is_patched_from_its_old_blocks(self):
        game = self.old_release_in_place()
        port = self.nginx()
        self.start_launcher(game, server="127.0.0.1:%d" % port)
        self.wait_for_phase(game, READY, timeout=180)
        self.assert_patched(game, self.served())
        patched = [line for line in game.log_lines() if "Patched " + BIG in line]
        self.assertEqual(len(patched), 1, game.log_lines())
        self.assertIn("MB reused from the old file", patched[0])
        self.assertIn("Updated %s (%.1f MB)" % (BIG, len(self.new) / 1048576.0), game.log_lines())

    def test_a_kill_during_a_patch_is_finished_by_the_next_start(self):
        game = self.old_release_in_place()
        # Slow enough that the inserted megabyte takes seconds, so the kill lands inside it.
        port = self.nginx(rate="200k")
        process = self.start_launcher(game, server="127.0.0.1:%d" % port)
        part = game.path(BIG + ".part")
        middle = len(self.old) // 2
        grown = wait_until(lambda: os.path.exists(part) and os.path.getsize(part) > middle + BLOCK, 120)
        self.assertTrue(grown, game.log_lines())
        process.kill()
        kill_processes_in(game.name)
        left = os.path.getsize(part)
        self.assertLess(left, len(self.new))
        with open(part, "rb") as f:
            self.assertEqual(f.read(), self.new[:left])  # a prefix, as every part file is
        self.start_launcher(game)
        self.wait_for_phase(game, READY, timeout=180)
        # The second start fetches the map again, and the killed range may have had bytes on
        # their way that never reached the part file.
        self.assert_patched(game, self.served(), slack=block_map_size(len(self.new)) + INSERTED // 2)
        self.assertEqual(len([l for l in game.log_lines() if "Patched " + BIG in l]), 1, game.log_lines())

    def test_a_server_without_closed_ranges_gives_the_whole_file_download(self):
        files = {BIG: self.new, BIG + ".kmmap": b""}
        self.publish(2, {BIG: self.new})
        with open(os.path.join(self.release, "files", *(BIG + ".kmmap").split("/")), "rb") as f:
            files[BIG + ".kmmap"] = f.read()
        # The test server honours only "bytes=N-" and answers any other range with 200.
        server = ContentServer(files, manifest_text({BIG: self.new}, version=2, extra=["map " + BIG]))
        self.addCleanup(server.stop)
        game = self.folder()
        game.write(BIG, self.old)
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, timeout=180)
        self.assertEqual(game.read(BIG), self.new)
        self.assertIn("Downloading %s whole" % BIG, "\n".join(game.log_lines()))
        ranges = [r.headers.get("Range", "") for r in server.requests if r.path.endswith("big.pak")]
        # The copies before the first missing block stayed: the download resumed after them.
        self.assertTrue(any(re.fullmatch(r"bytes=\d+-", r) and int(r[6:-1]) >= len(self.old) // 2 - BLOCK
                            for r in ranges), ranges)

    def test_a_map_that_stalls_the_scan_is_dropped_and_the_file_downloaded_whole(self):
        # Every block's weak checksum is that of a run of zero bytes (0), its strong hash
        # never matches: over an old file of zeros each offset would be hashed.
        count = -(-len(self.new) // BLOCK)
        head = b"KMBMAP1\n" + struct.pack("<IIQI", BLOCK, 16, len(self.new), zlib.crc32(self.new))
        body = head + (struct.pack("<I", 0) + b"\xa5" * 16) * count
        files = {BIG: self.new, BIG + ".kmmap": body + struct.pack("<I", zlib.crc32(body))}
        server = ContentServer(files, manifest_text({BIG: self.new}, version=2, extra=["map " + BIG]),
                               closed_ranges=True)
        self.addCleanup(server.stop)
        game = self.folder()
        game.write(BIG, bytes(SIZE))
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, timeout=180)
        self.assertEqual(game.read(BIG), self.new)
        lines = game.log_lines()
        self.assertIn("The block map of %s asks for too much hashing; not using it" % BIG, lines)
        self.assertIn("Downloading %s whole" % BIG, lines)

    def test_forged_ranges_of_a_signed_release_are_caught_by_its_sha256(self):
        manifest, published = publish_signed({BIG: self.new}, 3, with_maps=True)
        self.assertIn("\nmap %s\n" % BIG, manifest)
        middle = len(self.old) // 2 + 12345
        # Inside the inserted megabyte, so the forged bytes come by a range, not from the old file.
        published[BIG] = same_crc_change(self.new, middle + 1000, middle + 5000)
        server = ContentServer(published, manifest, closed_ranges=True)
        self.addCleanup(server.stop)
        game = self.folder()
        shutil.copy(keyed_launcher_exe(), game.path("KMLauncher.exe"))
        game.write(BIG, self.old)
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, UPDATE_FAILED, timeout=180)
        lines = game.log_lines()
        self.assertTrue(any(l.startswith("SHA-256 mismatch on %s (got " % BIG) for l in lines), lines)
        self.assertFalse(any("Patched " + BIG in l for l in lines), lines)
        self.assertTrue(any(re.fullmatch(r"bytes=\d+-\d+", r.headers.get("Range", ""))
                            for r in server.file_requests("/files/" + BIG)))
        self.assertEqual(game.read(BIG), self.old)
        self.assertFalse(game.exists(BIG + ".part"))
