"""A big file over several connections at once, by the real launcher: killed midway and
resumed from its part file and side files, and servers that answer the extra ranges with the
whole file or with other bytes."""
import glob
import os
import zlib

from kmtest import launcher
from kmtest.case import LauncherTestCase, READY
from kmtest.launcher import wait_until
from kmtest.server import ContentServer, manifest_text

MIB = 1024 * 1024
BIG = "data/big.pak"


class SplitDownloadTest(LauncherTestCase):
    def serve(self, files, **rule):
        server = ContentServer(files, manifest_text(files))
        # About 3 MB/s a connection: one connection would take long enough to share the file.
        server.rule("/files/" + BIG, delay_per_chunk=0.02, **rule)
        self.addCleanup(server.stop)
        return server

    def ranges_from(self, server, first):
        return [r.headers.get("Range") for r in server.file_requests("/files/" + BIG)[first:]]

    def test_a_big_file_over_several_connections_survives_two_kills_and_fetches_little_twice(self):
        files = {BIG: os.urandom(64 * MIB), "readme.txt": b"Welcome\r\n"}
        server = self.serve(files)
        game = self.folder()
        for kill_at in (18 * MIB, 40 * MIB):
            first = len(server.file_requests("/files/" + BIG))
            part = game.path(BIG + ".part")
            held = os.path.getsize(part) if os.path.exists(part) else 0
            process = self.start_launcher(game, server=server.address)
            self.assertTrue(wait_until(lambda: server.sent.get("/files/" + BIG, 0) >= kill_at, 120, 0.02),
                            game.log_lines())
            process.kill()
            launcher.kill_processes_in(game.name)
            # Each start resumes the part file from its size, as one connection would.
            self.assertEqual(self.ranges_from(server, first)[0], "bytes=%d-" % held if held else None)
            self.assertGreaterEqual(server.max_in_flight, 3)
            sides = glob.glob(game.path(BIG) + ".%08X-*.part" % zlib.crc32(files[BIG]))
            self.assertTrue(sides, "no side files beside the part file after a kill")
            self.assertEqual(game.read(BIG + ".part"), files[BIG][:os.path.getsize(part)])
        first = len(server.file_requests("/files/" + BIG))
        held = os.path.getsize(game.path(BIG + ".part"))
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(self.ranges_from(server, first)[0], "bytes=%d-" % held)
        self.assertEqual(game.read(BIG), files[BIG])
        self.assertEqual(glob.glob(game.path(BIG) + ".*"), [], "part or side files left behind")
        self.assertLess(server.sent["/files/" + BIG], 1.2 * len(files[BIG]))
        ranges = self.ranges_from(server, 0)
        self.assertTrue(all(r is None or (r.startswith("bytes=") and r.endswith("-")) for r in ranges), ranges)

    def test_ranges_answered_with_the_whole_file_leave_it_to_one_connection(self):
        files = {BIG: os.urandom(40 * MIB)}
        server = self.serve(files, ignore_range=True)
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(game.read(BIG), files[BIG])
        self.assertGreater(len(server.file_requests("/files/" + BIG)), 1, "no second connection was tried")
        self.assertFalse([line for line in game.log_lines() if "Retrying" in line or "CRC" in line], game.log_lines())
        self.assertLess(server.sent["/files/" + BIG], 1.2 * len(files[BIG]))
        self.assertEqual(glob.glob(game.path(BIG) + ".*"), [])

    def test_a_server_that_turns_extra_connections_away_gets_the_file_over_one(self):
        files = {BIG: os.urandom(40 * MIB)}
        server = self.serve(files)
        server.in_flight_limit = 2
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 240)
        self.assertEqual(game.read(BIG), files[BIG])
        self.assertFalse([line for line in game.log_lines() if "Retrying" in line or "stopped at" in line],
                         game.log_lines())
        self.assertGreater(len([r for r in server.file_requests("/files/" + BIG) if r.headers.get("Range")]), 2)
        self.assertEqual(glob.glob(game.path(BIG) + ".*"), [])

    def test_other_bytes_in_range_answers_end_in_one_crc_mismatch_then_one_connection(self):
        files = {BIG: os.urandom(40 * MIB)}
        server = self.serve(files, wrong_ranges=True)
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 240)
        self.assertEqual(game.read(BIG), files[BIG])
        log = game.log_lines()
        self.assertEqual(len([line for line in log if line.startswith("CRC mismatch on %s" % BIG)]), 1, log)
        self.assertIn("Retrying %s" % BIG, log)
        self.assertEqual(self.ranges_from(server, 0)[-1], None)  # the retry asks for the whole file
        self.assertEqual(glob.glob(game.path(BIG) + ".*"), [])


class MirrorAndServerTogetherTest(LauncherTestCase):
    """A big file the mirror supplies is shared with the content server; a server that fails its
    stretch loses its share and the mirror ends the file alone."""

    def serve_both(self, files, **server_rule):
        mirror = ContentServer(files, prefix="/m/")
        mirror.rule("/m/" + BIG, delay_per_chunk=0.02)
        self.addCleanup(mirror.stop)
        server = ContentServer(files, manifest_text(files, mirror=mirror.url + "/m"))
        server.rule("/files/" + BIG, delay_per_chunk=0.02, **server_rule)
        self.addCleanup(server.stop)
        return mirror, server

    def test_a_big_file_from_the_mirror_is_shared_with_the_content_server(self):
        files = {BIG: os.urandom(48 * MIB)}
        mirror, server = self.serve_both(files)
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(game.read(BIG), files[BIG])
        mirror_ranges = [r.headers.get("Range") for r in mirror.file_requests("/m/" + BIG)]
        server_ranges = [r.headers.get("Range") for r in server.file_requests("/files/" + BIG)]
        self.assertEqual(mirror_ranges[0], None)  # the part file's request goes to the mirror
        self.assertTrue(server_ranges, "the content server took no stretch")
        self.assertTrue(all(r and r.startswith("bytes=") and r.endswith("-") and r != "bytes=0-"
                            for r in server_ranges), server_ranges)
        self.assertLess(mirror.sent["/m/" + BIG] + server.sent["/files/" + BIG], 1.2 * len(files[BIG]))
        self.assertFalse([line for line in game.log_lines() if "Retrying" in line or "Not sharing" in line],
                         game.log_lines())

    def test_a_content_server_that_fails_its_stretch_loses_its_share(self):
        files = {BIG: os.urandom(40 * MIB)}
        mirror, server = self.serve_both(files, status=503)
        game = self.folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, 180)
        self.assertEqual(game.read(BIG), files[BIG])
        # Only the stretches asked there at once before its first answer came (half of eight).
        self.assertLessEqual(len(server.file_requests("/files/" + BIG)), 4, "the failed source was asked again")
        self.assertGreater(len(mirror.file_requests("/m/" + BIG)), 2, "the mirror did not go on sharing")
        log = game.log_lines()
        self.assertEqual(len([line for line in log if line.startswith("Not sharing %s with " % BIG)]), 1, log)
        self.assertFalse([line for line in log if "Retrying" in line or "CRC" in line or "Mirror could" in line], log)
        self.assertEqual(glob.glob(game.path(BIG) + ".*"), [])
