"""Packed forms by the real launcher: a release published with kmcontent publish ends byte for
byte in the game folder while the server sends far fewer bytes than the files hold; packed
forms changed on the server (a flipped byte in a compressed block, one in a block stored as
it is, a forged index) are never moved into place and the files come whole instead; a kill
in the middle of a packed download resumes from the block the part file reached, also over
several connections; a patch fetches the blocks it lacks as ranges of the packed form; in a
signed release, a packed form forged so that the inflated file keeps its size and CRC-32 is
caught by its SHA-256 and the file comes whole."""
import os
import random
import shutil
import struct
import subprocess
import tempfile

from kmtest import launcher
from kmtest.case import LauncherTestCase, READY
from kmtest.launcher import wait_until
from kmtest.server import ContentServer
from kmtest.signed import keyed_launcher_exe, publish as publish_signed, same_crc_change
from test_deployment import KMCONTENT

MIB = 1024 * 1024
BLOCK = 64 * 1024
WORDS = [w.encode() for w in "the harvest festival quest mara sword shield gold village river north "
         "south tower goblin merchant potion healing mana dragon ancient scroll".split()]


def text_like(size, seed):
    """Shrinks as game scripts and texts do (to about a third), without being trivial."""
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += b" ".join(rnd.choices(WORDS, k=12)) + b" %d\r\n" % rnd.randrange(100000)
    return bytes(out[:size])


def header_size(size):
    return 24 + 4 * -(-size // BLOCK)


def lengths_of(packed, size):
    count = -(-size // BLOCK)
    return list(struct.unpack_from("<%dI" % count, packed, 24))


class PackedTransferTest(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.tmp = tempfile.mkdtemp(prefix="km-packed-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def published(self, files, version=3):
        """(manifest, {path: bytes} of the release's files, .kmpack included) from kmcontent publish."""
        build = os.path.join(self.tmp, "build%d" % version)
        for path, data in files.items():
            target = os.path.join(build, *path.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        release = os.path.join(self.tmp, "release")
        subprocess.run([KMCONTENT, "publish", "--build", build, "--out", release, "--version", str(version)],
                       check=True, stdout=subprocess.DEVNULL, timeout=300)
        tree = os.path.join(release, "files")
        served = {}
        for folder, _, names in os.walk(tree):
            for name in names:
                full = os.path.join(folder, name)
                with open(full, "rb") as f:
                    served[os.path.relpath(full, tree).replace(os.sep, "/")] = f.read()
        with open(os.path.join(release, "manifest")) as f:
            # The test server is the content server alone: no mirror.
            manifest = "".join(line for line in f if not line.startswith("mirror "))
        return manifest, served

    def serve(self, manifest, served, **options):
        server = ContentServer(served, manifest, **options)
        self.addCleanup(server.stop)
        return server

    def test_a_packed_release_ends_byte_exact_with_fewer_bytes_sent(self):
        files = {"data/quests.txt": text_like(3 * MIB + 12345, 1),
                 "data/world.bin": text_like(2 * MIB, 2)[: MIB] + os.urandom(MIB),
                 "data/music.ogg": os.urandom(2 * MIB),  # saves nothing: no packed form
                 "data/unserved.txt": text_like(3 * MIB // 2, 9),  # its packed form is missing on the server
                 "readme.txt": b"Welcome\r\n"}
        manifest, served = self.published(files)
        del served["data/unserved.txt.kmpack"]
        self.assertIn("\npacked data/quests.txt\n", manifest)
        self.assertIn("\npacked data/world.bin\n", manifest)
        self.assertNotIn("packed data/music.ogg", manifest)
        server = self.serve(manifest, served)
        game = self.folder()
        # A part file an earlier run left: a packed form that is not served does not cost it.
        game.write("data/unserved.txt.part", files["data/unserved.txt"][:300000])
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        for path, data in files.items():
            self.assertEqual(game.read(path), data, path)
        self.assertFalse(game.exists("data/quests.txt.part"))
        self.assertEqual([r.headers.get("Range") for r in server.file_requests("/files/data/unserved.txt")],
                         ["bytes=300000-"])
        paths = server.paths_requested()
        self.assertIn("/files/data/quests.txt.kmpack", paths)
        self.assertNotIn("/files/data/quests.txt", paths)
        self.assertNotIn("/files/data/world.bin", paths)
        self.assertIn("/files/data/music.ogg", paths)
        sent = sum(n for p, n in server.sent.items() if p.startswith("/files/"))
        raw = sum(len(d) for d in files.values())
        # A raw release sends at least every byte of its files.
        self.assertLess(sent, 0.75 * raw, server.sent)
        self.assertEqual(server.sent["/files/data/quests.txt.kmpack"], len(served["data/quests.txt.kmpack"]))

    def test_damaged_packed_forms_are_never_moved_into_place_and_the_files_come_whole(self):
        files = {"data/flipped.txt": text_like(2 * MIB, 3),
                 "data/stored.bin": text_like(MIB, 4) + os.urandom(BLOCK) + text_like(MIB, 5),
                 "data/forged.txt": text_like(2 * MIB, 6),
                 "data/short.txt": text_like(2 * MIB, 7)}
        manifest, served = self.published(files)
        # A byte flipped inside the third (compressed) block: zlib's check catches it.
        flipped = bytearray(served["data/flipped.txt.kmpack"])
        lengths = lengths_of(flipped, len(files["data/flipped.txt"]))
        flipped[header_size(len(files["data/flipped.txt"])) + lengths[0] + lengths[1] + lengths[2] // 2] ^= 0x10
        served["data/flipped.txt.kmpack"] = bytes(flipped)
        # A byte flipped in the block stored as it is: only the CRC-32 of the whole catches it.
        stored = bytearray(served["data/stored.bin.kmpack"])
        size = len(files["data/stored.bin"])
        lengths = lengths_of(stored, size)
        self.assertEqual(lengths[16], BLOCK)
        stored[header_size(size) + sum(lengths[:16]) + 777] ^= 0x01
        served["data/stored.bin.kmpack"] = bytes(stored)
        # A forged index: two lengths traded, so every block boundary after them is wrong.
        forged = bytearray(served["data/forged.txt.kmpack"])
        first, second = struct.unpack_from("<II", forged, 24 + 4 * 5)
        self.assertNotEqual(first, second)
        struct.pack_into("<II", forged, 24 + 4 * 5, second, first)
        served["data/forged.txt.kmpack"] = bytes(forged)
        # Bytes after the last block.
        served["data/short.txt.kmpack"] += b"\0" * 100
        server = self.serve(manifest, served)
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        lines = game.log_lines()
        for path, data in files.items():
            self.assertEqual(game.read(path), data, path)
            self.assertTrue(any(l.startswith("The packed form of %s is damaged" % path) for l in lines), lines)
            self.assertIn("/files/" + path, server.paths_requested())
        # Each file was moved into place once, from its own bytes.
        self.assertEqual(len([l for l in lines if l.startswith("Updated data/")]), len(files), lines)

    def test_a_killed_packed_download_resumes_from_the_block_it_reached(self):
        big = "data/scripts.pak"
        files = {big: text_like(24 * MIB, 8)}
        manifest, served = self.published(files)
        packed = served[big + ".kmpack"]
        server = self.serve(manifest, served, closed_ranges=True)
        # About 1 MB/s, so the kill lands in the middle.
        server.rule("/files/" + big + ".kmpack", delay_per_chunk=0.05)
        game = self.folder()
        process = self.start_launcher(game, server=server.address)
        path = "/files/" + big + ".kmpack"
        self.assertTrue(wait_until(lambda: server.sent.get(path, 0) >= len(packed) // 2, 120, 0.02),
                        game.log_lines())
        process.kill()
        launcher.kill_processes_in(game.name)
        held = os.path.getsize(game.path(big + ".part"))
        self.assertGreater(held, 0)
        self.assertLess(held, len(files[big]))
        self.assertEqual(game.read(big + ".part"), files[big][:held])  # the file's own prefix
        first = len(server.file_requests(path))
        sent_before = server.sent[path]
        server.rule(path)  # full speed again
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(game.read(big), files[big])
        ranges = [r.headers.get("Range") for r in server.file_requests(path)[first:]]
        block = held // BLOCK
        offsets = [header_size(len(files[big]))]
        for length in lengths_of(packed, len(files[big])):
            offsets.append(offsets[-1] + length)
        self.assertEqual(ranges, ["bytes=0-%d" % (header_size(len(files[big])) - 1), "bytes=%d-" % offsets[block]])
        self.assertNotIn("/files/" + big, server.paths_requested())
        self.assertLess(server.sent[path], 1.2 * len(packed), (sent_before, len(packed)))

    def test_a_big_packed_file_goes_over_several_connections_and_survives_a_kill(self):
        big = "data/world.pak"
        files = {big: text_like(48 * MIB, 9)}
        manifest, served = self.published(files)
        packed = served[big + ".kmpack"]
        size = len(files[big])
        offsets = [header_size(size)]
        for length in lengths_of(packed, size):
            offsets.append(offsets[-1] + length)
        server = self.serve(manifest, served, closed_ranges=True)
        path = "/files/" + big + ".kmpack"
        # About 1 MB/s a connection: one would take long enough to share the file.
        server.rule(path, delay_per_chunk=0.05)
        game = self.folder()
        process = self.start_launcher(game, server=server.address)
        self.assertTrue(wait_until(lambda: server.sent.get(path, 0) >= 0.4 * len(packed), 120, 0.02),
                        game.log_lines())
        process.kill()
        launcher.kill_processes_in(game.name)
        self.assertGreaterEqual(server.max_in_flight, 3)
        held = os.path.getsize(game.path(big + ".part"))
        self.assertEqual(game.read(big + ".part"), files[big][:held])
        first = len(server.file_requests(path))
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(game.read(big), files[big])
        self.assertEqual([p for p in os.listdir(os.path.dirname(game.path(big))) if p != "world.pak"], [],
                         "part or side files left behind")
        index_range = "bytes=0-%d" % (offsets[0] - 1)
        ranges = [r.headers.get("Range") for r in server.file_requests(path)]
        later = [r for r in ranges[first:] if r != index_range]
        # The part file's connection asks from the block the part file reached.
        self.assertEqual(later[0], "bytes=%d-" % offsets[held // BLOCK])
        starts = set(offsets)
        self.assertTrue(all(r == index_range or (r.startswith("bytes=") and r.endswith("-") and int(r[6:-1]) in starts)
                            for r in ranges), ranges)
        self.assertNotIn("/files/" + big, server.paths_requested())
        self.assertLess(server.sent[path], 1.25 * len(packed), len(packed))

    def test_a_big_file_whose_packed_form_gives_wrong_bytes_comes_itself_over_several_connections(self):
        big = "data/world.pak"
        files = {big: text_like(20 * MIB, 10) + os.urandom(BLOCK) + text_like(20 * MIB, 11)}
        manifest, served = self.published(files)
        packed = bytearray(served[big + ".kmpack"])
        size = len(files[big])
        lengths = lengths_of(packed, size)
        stored = next(i for i, length in enumerate(lengths) if length == BLOCK)
        packed[header_size(size) + sum(lengths[:stored]) + 99] ^= 0x01  # only the CRC-32 of the whole sees it
        served[big + ".kmpack"] = bytes(packed)
        server = self.serve(manifest, served)
        for path in ("/files/" + big, "/files/" + big + ".kmpack"):
            server.rule(path, delay_per_chunk=0.02)
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 240)
        self.assertEqual(game.read(big), files[big])
        self.assertIn("The packed form of %s is damaged (the file it gives is wrong); downloading the file "
                      "itself" % big, game.log_lines())
        ranges = [r.headers.get("Range") for r in server.file_requests("/files/" + big)]
        self.assertGreater(len([r for r in ranges if r]), 1, ranges)

    def test_a_patch_fetches_the_blocks_it_lacks_from_the_packed_form(self):
        big = "data/scripts.pak"
        old = text_like(16 * MIB, 10)
        middle = len(old) // 2 + 12345
        inserted = text_like(MIB, 11)
        new = old[:middle] + inserted + old[middle:]
        self.published({big: old}, version=1)
        manifest, served = self.published({big: new}, version=2)
        self.assertIn("\nmap %s\n" % big, manifest)
        self.assertIn("\npacked %s\n" % big, manifest)
        server = self.serve(manifest, served, closed_ranges=True)
        game = self.folder()
        game.write(big, old)
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(game.read(big), new)
        lines = game.log_lines()
        self.assertTrue(any(l.startswith("Patched %s: " % big) for l in lines), lines)
        self.assertNotIn("/files/" + big, server.paths_requested())
        path = "/files/" + big + ".kmpack"
        packed = served[big + ".kmpack"]
        ranges = [r.headers.get("Range") for r in server.file_requests(path)]
        self.assertEqual(ranges[0], "bytes=0-%d" % (header_size(len(new)) - 1))
        self.assertTrue(len(ranges) >= 2 and all(r.startswith("bytes=") for r in ranges), ranges)
        # The inserted megabyte and the blocks around it, packed: well under the megabyte itself.
        self.assertLess(server.sent[path], header_size(len(new)) + 0.6 * len(inserted))
        self.assertLess(server.sent[path], len(packed) // 4)

    def test_a_forged_packed_form_of_a_signed_release_is_caught_by_its_sha256(self):
        path = "data/quests.txt"
        raw = text_like(MIB, 12) + os.urandom(BLOCK) + text_like(MIB, 13)
        tree = os.path.join(self.tmp, "signed")
        manifest, published = publish_signed({path: raw}, 4, tree=tree)
        self.assertIn("\npacked %s\nserial " % path, manifest)  # inside the signed text
        with open(os.path.join(tree, "files", *(path + ".kmpack").split("/")), "rb") as f:
            packed = bytearray(f.read())
        lengths = lengths_of(packed, len(raw))
        self.assertEqual(lengths[16], BLOCK)  # the random block is stored as it is
        # Forge the stored block so that the inflated file keeps its size and CRC-32.
        forged = same_crc_change(raw, 16 * BLOCK + 100, 16 * BLOCK + 5000)
        at = header_size(len(raw)) + sum(lengths[:16])
        packed[at:at + BLOCK] = forged[16 * BLOCK:17 * BLOCK]
        published[path + ".kmpack"] = bytes(packed)
        # The signed manifest names the release's own base as its mirror: this server is that too.
        base = "/releases/v4/files/"
        self.assertIn("\nmirror " + base[:-1] + "\n", manifest)
        server = self.serve(manifest, published, prefix=base)
        game = self.folder()
        shutil.copy(keyed_launcher_exe(), game.path("KMLauncher.exe"))
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(game.read(path), raw)
        lines = game.log_lines()
        self.assertTrue(any(l.startswith("SHA-256 mismatch on %s" % path) for l in lines), lines)
        self.assertTrue(any(l.startswith("The packed form of %s is damaged" % path) for l in lines), lines)
        self.assertEqual(server.paths_requested().count(base + path), 1)

    def test_a_mirror_without_packed_forms_is_soon_asked_only_for_the_files(self):
        files = {"data/text%02d.txt" % i: text_like(MIB + 4096 * i, 20 + i) for i in range(12)}
        manifest, served = self.published(files)
        raw = {path: data for path, data in served.items() if not path.endswith(".kmpack")}
        mirror = ContentServer(raw, prefix="/m/")
        self.addCleanup(mirror.stop)
        head, rest = manifest.split("\nfiles ", 1)
        server = self.serve("%s\nmirror %s/m\nfiles %s" % (head, mirror.url, rest), served)
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        for path, data in files.items():
            self.assertEqual(game.read(path), data, path)
        asked = [p for p in mirror.paths_requested() if p.endswith(".kmpack")]
        # Three missing in a row, and those already asked for by the other connections.
        self.assertLessEqual(len(asked), 6, asked)
        self.assertEqual([p for p in server.paths_requested() if p.startswith("/files/")], [])
