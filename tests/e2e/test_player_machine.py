"""The launcher on a player's own machine: a game folder and game files named in the player's
language (outside any legacy code page), a game folder on a nearly full volume, and a game
file that another program (a virus scanner) holds for a moment while its replacement arrives."""
import glob
import os
import re
import shutil
import subprocess
import tempfile

from kmtest import screen
from kmtest.case import READY, UPDATE_FAILED
from kmtest.launcher import GameFolder, Launcher, build_file, kill_processes_in, wait_until
from kmtest.server import ContentServer, manifest_text
from test_update import UpdateTestCase, blob

MB = 1048576


def wire(text):
    """A name as the launcher, the manifest and the test server carry it: UTF-8 bytes (the
    server and the log readers take bytes as Latin-1 text)."""
    return text.encode("utf-8").decode("latin-1")


class NamesInThePlayersLanguageTest(UpdateTestCase):
    NAMES = ["data/épée.txt", "data/日本語/地図.dat", "Kelmorra.dat"]

    def test_folder_and_files_named_outside_the_code_page_keep_their_names(self):
        contents = dict(zip(self.NAMES, [b"sword\r\n", blob(70_000), blob(5_000)]))
        server = self.serve({wire(name): data for name, data in contents.items()}, name=wire("Ærø 2"))
        game = self.folder("Spiele-ゲーム-Ærø")
        process, status = self.run_until(game, server, READY)
        self.assertEqual(status[1], wire("Up to date  -  Ærø 2"))
        self.shot("player_machine_utf8_names")

        # Every file under its own name, and nothing under a garbled one.
        for name, data in contents.items():
            self.assertEqual(game.read(name), data, name)
        self.assertEqual(set(os.listdir(game.path("data"))), {"日本語", "épée.txt"})
        self.assertEqual(os.listdir(game.path("data/日本語")), ["地図.dat"])
        # Percent-encoded byte by byte, the server found each file.
        for name in self.NAMES:
            self.assertTrue(server.file_requests("/files/" + wire(name)), name)
        # Log and cache in that folder, under their names.
        lines = game.log_lines()
        self.assertIn("Kelmorra launcher starting in " + wire(game.windows), lines)
        self.assertIn("Updated %s (0.1 MB)" % wire("data/日本語/地図.dat"), lines)
        self.assertIn(("data/épée.txt").encode("utf-8"), game.read("KMLauncher.crc"))
        self.close(process)

        # A second start finds every file through the cache and fetches nothing.
        fetched = len(server.paths_requested())
        seen = len(game.statuses())
        process = self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, after=seen)
        self.assertEqual(game.log_lines().count("All files up to date"), 1)
        self.assertEqual([p for p in server.paths_requested()[fetched:] if p.startswith("/files/")], [])
        self.close(process)


    def test_paths_are_measured_in_characters_not_bytes(self):
        # In this folder more than 260 bytes of UTF-8 but 160 characters: placed. 250
        # characters more: beyond what Windows' file calls take, refused before any request.
        byte_long = "data/" + "地" * 40 + "/" + "図" * 40 + ".dat"
        char_long = "deep/" + "x" * 120 + "/" + "y" * 120 + ".dat"
        files = {wire(byte_long): b"map", wire(char_long): b"deep"}
        lines = {"text": manifest_text({wire(byte_long): b"map"})}
        server = ContentServer(files, lambda: lines["text"])
        self.addCleanup(server.stop)
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        self.assertGreater(len((game.windows + byte_long).encode("utf-8")), 260)
        self.assertEqual(game.read(byte_long), b"map")

        self.close(process)
        lines["text"] = manifest_text(files)
        seen = len(game.statuses())
        process = self.start_launcher(game, server=server.address)
        status = self.wait_for_phase(game, UPDATE_FAILED, after=seen)
        self.assertEqual(status[1:], ("A game file's path is too long.",
                                      char_long + " is too deep in this folder for Windows. "
                                      "Move the game to a shorter folder, then press RETRY."))
        part = game.windows + char_long.replace("/", "\\") + ".part"
        self.assertIn("Path too long for Windows (%d characters, at most 259): %s" % (len(part), part),
                      game.log_lines())
        self.assertFalse(server.file_requests("/files/" + char_long))
        self.close(process)


class FolderOnDrive(GameFolder):
    """A game folder on another drive letter of the prefix."""

    def __init__(self, facts, linux, windows):
        self.facts = facts
        self.name = os.path.basename(linux)
        self.linux = linux
        self.windows = windows
        os.makedirs(linux)


class SmallVolumeTest(UpdateTestCase):
    """The game folder on a small tmpfs (48 MiB unless a test needs more), linked into the
    prefix as drive K:."""

    def small_volume(self, size_mb=48):
        mount_point = tempfile.mkdtemp(prefix="km-small-volume-")
        self.addCleanup(os.rmdir, mount_point)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % size_mb, "tmpfs", mount_point]).returncode != 0:
            self.skipTest("mounting a tmpfs needs root")
        self.addCleanup(subprocess.run, ["umount", "-l", mount_point])
        drive = os.path.join(self.facts["prefix"], "dosdevices", "k:")
        if os.path.lexists(drive):
            os.remove(drive)
        os.symlink(mount_point, drive)
        self.addCleanup(os.remove, drive)
        game = FolderOnDrive(self.facts, os.path.join(mount_point, "Kelmorra"), "K:\\Kelmorra\\")
        self.addCleanup(kill_processes_in, game.name)
        return mount_point, game

    def test_a_release_that_does_not_fit_starts_no_download_until_space_is_made(self):
        mount_point, game = self.small_volume()
        game.install_launcher()
        # A player's file (no release lists it) leaves 6 MiB free.
        game.write("player-videos.bin", os.urandom(self.free_bytes(mount_point) - 6 * MB))
        files = {"data/big.dat": blob(6 * MB), "data/small.dat": blob(MB)}
        server = self.serve(files)
        free_before = self.free_bytes(mount_point)
        process, status = self.run_until(game, server, UPDATE_FAILED)

        # 7 MB to write and 1 MB kept for the cache and the log: 8.0 MB.
        self.assertEqual(status[1], "Not enough disk space")
        shown = re.fullmatch(r"The update needs 8\.0 MB on K:, (\d+\.\d) MB are free\. "
                             r"Free some space and press RETRY\.", status[2])
        self.assertTrue(shown, status[2])
        self.assertAlmostEqual(float(shown.group(1)), free_before / MB, delta=0.2)
        self.assertIn("Not enough disk space: " + status[2], game.log_lines())
        self.assertEqual([p for p in server.paths_requested() if p.startswith("/files/")], [])
        self.assertFalse(game.exists("data"))
        # Only the launcher's log, cache and status trace were written (a few KiB).
        self.assertLess(free_before - self.free_bytes(mount_point), 64 * 1024)

        # The player makes room and presses RETRY.
        os.remove(game.path("player-videos.bin"))
        seen = len(game.statuses())
        self.press_retry()
        self.wait_for_phase(game, READY, after=seen)
        self.assert_files_equal(game, files)
        self.close(process)

    def test_an_update_that_fits_completes_though_its_largest_file_would_not_fit_twice(self):
        mount_point, game = self.small_volume()
        game.install_launcher()
        files = {"data/big.dat": blob(6 * MB), "data/small.dat": blob(MB)}
        # 7 MB to write and 9 MB free: counting the largest file twice asked for 13 MB.
        game.write("player-videos.bin", os.urandom(self.free_bytes(mount_point) - 9 * MB))
        server = self.serve(files)
        process, _ = self.run_until(game, server, READY)
        self.assertIn("2 files need updating (7.0 MB)", game.log_lines())
        self.assert_files_equal(game, files)
        self.close(process)

    def test_a_disk_that_fills_up_during_a_download_stops_the_pass_at_once_and_keeps_the_bytes(self):
        mount_point, game = self.small_volume()
        game.install_launcher()
        files = {"data/big.dat": blob(8 * MB)}
        server = self.serve(files)
        # The answer waits two seconds: time for another program to fill the disk after the
        # launcher found room for the release and asked for the file.
        server.rule("/files/data/big.dat", answer_after=2.0)
        process = self.start_launcher(game, server=server.address)
        self.assertTrue(wait_until(lambda: server.file_requests("/files/data/big.dat"), 60))
        game.write("player-videos.bin", os.urandom(self.free_bytes(mount_point) - MB))
        status = self.wait_for_phase(game, UPDATE_FAILED)

        self.assertEqual(status[1], "Not enough disk space")
        self.assertRegex(status[2], r"^The update needs \d+\.\d MB on K:, \d+\.\d MB are free\. "
                                    r"Free some space and press RETRY\.$")
        self.assertIn("Not enough disk space: " + status[2], game.log_lines())
        # No retry (it could not succeed); the bytes written stay for a resume.
        self.assertEqual(len(server.file_requests("/files/data/big.dat")), 1)
        self.assertFalse([line for line in game.log_lines() if line.startswith("Retrying")])
        kept = os.path.getsize(game.path("data/big.dat.part"))
        self.assertGreater(kept, 0)

        os.remove(game.path("player-videos.bin"))
        server.rule("/files/data/big.dat")
        seen = len(game.statuses())
        self.press_retry()
        self.wait_for_phase(game, READY, after=seen)
        self.assert_files_equal(game, files)
        resumed = server.file_requests("/files/data/big.dat")[-1]
        self.assertEqual(resumed.headers.get("Range"), "bytes=%d-" % kept)
        self.close(process)

    def test_a_side_file_that_finds_the_disk_full_ends_the_pass_as_the_part_file_would(self):
        mount_point, game = self.small_volume(96)
        game.install_launcher()
        files = {"data/big.dat": blob(34 * MB)}
        server = self.serve(files)
        server.rule("/files/data/big.dat", delay_per_chunk=0.02)  # slow enough to share
        process = self.start_launcher(game, server=server.address)
        sides = lambda: glob.glob(game.path("data/big.dat") + ".*-*.part")
        self.assertTrue(wait_until(lambda: len(sides()) >= 2, 120, 0.05), game.log_lines())
        # Another program takes every byte left: the next writes, most of them side files',
        # find the volume full.
        with open(game.path("player-videos.bin"), "wb", buffering=0) as f:
            try:
                while True:
                    f.write(b"\0" * MB)
            except OSError:
                pass
        status = self.wait_for_phase(game, UPDATE_FAILED, 120)
        self.assertEqual(status[1], "Not enough disk space")
        self.assertFalse([line for line in game.log_lines() if line.startswith("Retrying")], game.log_lines())

        os.remove(game.path("player-videos.bin"))
        server.rule("/files/data/big.dat")
        seen = len(game.statuses())
        self.press_retry()
        self.wait_for_phase(game, READY, 120, after=seen)
        self.assert_files_equal(game, files)
        self.assertEqual(sides(), [])
        self.close(process)

    @staticmethod
    def free_bytes(path):
        stat = os.statvfs(path)
        return stat.f_bavail * stat.f_frsize


class HeldFileTest(UpdateTestCase):
    def test_a_file_held_for_a_few_seconds_is_replaced_once_released(self):
        files = {"held.dat": blob(50_000), "after.dat": blob(1_000)}
        server = self.serve(files)
        game = self.folder()
        game.write("held.dat", b"old content")
        shutil.copy(build_file("tests", "hold_file.exe"), game.path("hold_file.exe"))
        holder = Launcher(self.facts, game.path("hold_file.exe"),
                          [game.windows + "held.dat", game.windows + "held.flag"])
        self.addCleanup(holder.kill)
        self.assertTrue(wait_until(lambda: game.exists("held.flag"), 30))
        process = self.start_launcher(game, server=server.address)

        # The launcher waits for the file (Wine cannot name its holder) and does not give up
        # while it stays held for three more seconds.
        self.wait_for_log(game, "held.dat is held by another program - waiting for it", timeout=90)
        self.assertFalse(wait_until(lambda: [s for s in game.statuses() if s[0] == UPDATE_FAILED], 3))
        holder.kill()
        self.wait_for_phase(game, READY)
        self.assert_files_equal(game, files)
        self.assertIn("Updated held.dat (0.0 MB)", game.log_lines())
        self.assertFalse([line for line in game.log_lines() if line.startswith("Cannot replace")])
        self.assertFalse(game.exists("held.dat.part"))
        self.close(process)
