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
