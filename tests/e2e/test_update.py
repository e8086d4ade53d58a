"""The update pass of the real launcher against a content server that misbehaves on demand:
filling a folder, the cache, resume, mirror fallback, retries, rejected manifests, unsafe
paths, files in use, closing mid-download and the launcher replacing itself."""
import os
import random
import shutil
import time

from kmtest import screen
from kmtest.case import LauncherTestCase, READY, UPDATE_FAILED, OFFLINE, UPDATING
from kmtest.launcher import build_file, launcher_exe, wait_until, Launcher
from kmtest.server import ContentServer, crc32, manifest_text

rng = random.Random(20261208)


def blob(size):
    return bytes(rng.getrandbits(8) for _ in range(size)) if size < 4096 else os.urandom(size)


def release():
    return {
        "Kelmorra.dat": blob(300_000),
        "data/maps/new area.dat": blob(70_000),
        "data/Textures/stone.tex": blob(1_200_000),
        "empty.bin": b"",
        "readme.txt": b"Welcome to Kelmorra\r\n",
    }


class UpdateTestCase(LauncherTestCase):
    def serve(self, files, **manifest):
        server = ContentServer(files, manifest_text(files, **manifest))
        self.addCleanup(server.stop)
        return server

    def run_until(self, game, server, phase, timeout=90):
        process = self.start_launcher(game, server=server.address)
        status = self.wait_for_phase(game, phase, timeout)
        return process, status

    def close(self, process):
        screen.key(self.facts, self.launcher_window(), "Escape")
        return self.wait_for_exit(process)

    def press_retry(self):
        """Clicks RETRY (design rectangle 424, 528 to 554, 578) like a player, once the
        window's 100 ms status poll has enabled it."""
        time.sleep(0.5)
        x, y, width, _ = screen.window_geometry(self.facts, self.launcher_window())
        scale = width / 800.0
        screen.click(self.facts, x + 489 * scale, y + 553 * scale)

    def assert_files_equal(self, game, files):
        for path, data in files.items():
            self.assertEqual(game.read(path), data, path)


class FillAndCheckTest(UpdateTestCase):
    def test_fresh_folder_is_filled_then_a_second_start_reads_nothing(self):
        files = release()
        server = self.serve(files, version=7, notes=["Version 7", "New maps"])
        game = self.folder()
        process, status = self.run_until(game, server, READY)
        self.assertEqual(status[1:], ("Up to date  -  version 7", "Press PLAY to enter Kelmorra."))
        self.assert_files_equal(game, files)
        self.assertIn("5 files need updating (1.5 MB)", game.log_lines())
        self.assertIn("Updated data/maps/new area.dat (0.1 MB)", game.log_lines())
        self.assertTrue(any(s[1] == "Downloading update - 5 files, 1.5 MB" for s in game.statuses()))
        self.close(process)

        # The cache vouches for every file: change their bytes but keep size and time. A
        # pass that read any file data would find it wrong and fetch it again.
        for path, data in files.items():
            if data:
                stat = os.stat(game.path(path))
                game.write(path, bytes(len(data)))
                os.utime(game.path(path), ns=(stat.st_atime_ns, stat.st_mtime_ns))
        before = len(server.paths_requested())
        os.remove(game.path(game.STATUS_TRACE))
        process, status = self.run_until(game, server, READY)
        self.assertIn("All files up to date", game.log_lines())
        self.assertEqual(server.paths_requested()[before:], ["/manifest"])
        self.close(process)

    def test_named_release_and_changed_files_are_fetched(self):
        files = release()
        server = self.serve(files, version=3, name="Winter Gate")
        game = self.folder()
        game.write("Kelmorra.dat", files["Kelmorra.dat"][:-1] + b"?")   # same size, other bytes
        game.write("readme.txt", b"short")                                 # wrong size
        game.write("data/Textures/stone.tex", files["data/Textures/stone.tex"])
        game.write("unlisted.cfg", b"player's own")
        process, status = self.run_until(game, server, READY)
        self.assertEqual(status[1], "Up to date  -  Winter Gate")
        self.assertTrue(any(s[1].startswith("Updating to Winter Gate - 4 files, ") for s in game.statuses()))
        self.assert_files_equal(game, files)
        self.assertEqual(game.read("unlisted.cfg"), b"player's own")
        self.assertNotIn("/files/data/Textures/stone.tex", server.paths_requested())
        self.close(process)


class RetryTest(UpdateTestCase):
    def test_retry_after_three_short_bodies_resumes_the_part_file(self):
        files = {"big.bin": blob(1_000_000)}
        server = self.serve(files)
        server.rule("/files/big.bin", cut_after=100_000)
        game = self.folder()
        process, _ = self.run_until(game, server, UPDATE_FAILED)
        self.assertEqual(game.log_lines().count("Retrying big.bin"), 2)
        self.assertEqual(os.path.getsize(game.path("big.bin.part")), 300_000)
        del server.rules["/files/big.bin"]
        seen = len(game.statuses())
        self.press_retry()
        self.wait_for_phase(game, READY, after=seen)
        self.assertEqual(server.file_requests("/files/big.bin")[-1].headers.get("Range"), "bytes=300000-")
        self.assert_files_equal(game, files)
        self.close(process)


class ResumeTest(UpdateTestCase):
    def test_cut_body_is_resumed_with_a_range_request(self):
        files = release()
        server = self.serve(files)
        path = "data/Textures/stone.tex"
        server.rule("/files/" + path, cut_after=500_000, cut_times=1)
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        self.assertIn("Download of %s stopped at 500000 of 1200000 bytes" % path, game.log_lines())
        self.assertIn("Retrying %s" % path, game.log_lines())
        ranges = [r.headers.get("Range") for r in server.file_requests("/files/" + path)]
        self.assertEqual(ranges, [None, "bytes=500000-"])
        self.assert_files_equal(game, files)
        self.close(process)

    def test_server_ignoring_the_range_restarts_from_zero(self):
        files = release()
        server = self.serve(files)
        path = "data/Textures/stone.tex"
        server.rule("/files/" + path, cut_after=400_000, cut_times=1, ignore_range=True)
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        self.assertEqual([r.headers.get("Range") for r in server.file_requests("/files/" + path)],
                         [None, "bytes=400000-"])
        self.assert_files_equal(game, files)
        self.close(process)

    def test_wrong_bytes_in_a_range_answer_end_in_a_crc_mismatch_and_a_fresh_download(self):
        files = release()
        server = self.serve(files)
        path = "Kelmorra.dat"
        good = files[path]
        server.rule("/files/" + path, cut_after=100_000, cut_times=1,
                    body=good[:100_000] + bytes(len(good) - 100_000), body_times=2)
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        self.assertTrue(any(l.startswith("CRC mismatch on Kelmorra.dat (got ") and
                            l.endswith("expected %08X) - deleting the download" % (__import__("zlib").crc32(good)))
                            for l in game.log_lines()), game.log_lines())
        self.assertEqual([r.headers.get("Range") for r in server.file_requests("/files/" + path)],
                         [None, "bytes=100000-", None])
        self.assert_files_equal(game, files)
        self.close(process)


class MirrorTest(UpdateTestCase):
    def mirror(self, files):
        mirror = ContentServer(files, prefix="/m/")
        self.addCleanup(mirror.stop)
        return mirror

    def ordered_release(self):
        return {"f%d.bin" % i: blob(20_000 + i) for i in range(1, 6)}

    def test_announced_mirror_supplies_the_files(self):
        files = self.ordered_release()
        mirror = self.mirror(files)
        server = self.serve(files, mirror=mirror.url + "/m///")
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        self.assertIn("Server content version 0, 5 files, file mirror %s/m" % mirror.url, game.log_lines())
        self.assertEqual(len(mirror.paths_requested()), 5)
        self.assertEqual([p for p in server.paths_requested() if p.startswith("/files/")], [])
        self.assert_files_equal(game, files)
        self.close(process)

    def test_three_failures_in_a_row_turn_the_mirror_off(self):
        files = self.ordered_release()
        mirror = self.mirror({"f5.bin": files["f5.bin"]})
        server = self.serve(files, mirror=mirror.url + "/m")
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        lines = [l for l in game.log_lines() if l.startswith("Mirror could not supply")]
        self.assertEqual(lines, ["Mirror could not supply f1.bin - using the content server",
                                 "Mirror could not supply f2.bin - using the content server",
                                 "Mirror could not supply f3.bin - using the content server"
                                 " (mirror turned off for this run)"])
        self.assertNotIn("/m/f4.bin", mirror.paths_requested())
        self.assertNotIn("/m/f5.bin", mirror.paths_requested())
        self.assert_files_equal(game, files)
        self.close(process)

    def test_a_mirror_that_turns_bad_midway_is_left_as_if_asked_one_file_at_a_time(self):
        files = {"f%02d.bin" % i: blob(3000 + i) for i in range(30)}
        mirror = self.mirror(dict(list(files.items())[:5]))
        mirror.rule("/m/f05.bin", answer_after=0.5)  # downloads run on ahead while the pass waits
        server = self.serve(files, mirror=mirror.url + "/m")
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        lines = game.log_lines()
        failing = ["f05.bin", "f06.bin", "f07.bin"]
        self.assertEqual([l for l in lines if l.startswith("Server answered")],
                         ["Server answered 404 for %s" % name for name in failing for _ in range(2)])
        self.assertEqual([l for l in lines if l.startswith("Mirror could not supply")],
                         ["Mirror could not supply %s - using the content server%s"
                          % (name, " (mirror turned off for this run)" if name == "f07.bin" else "")
                          for name in failing])
        self.assertEqual([l for l in lines if l.startswith("Updated")], ["Updated %s (0.0 MB)" % n for n in files])
        self.assert_files_equal(game, files)
        # The mirror was asked for later files ahead of time; the pass set those answers aside
        # and asked the content server, as it would have asked one file at a time.
        self.assertIn("/m/f20.bin", mirror.paths_requested())
        self.assertEqual([len(server.file_requests("/files/" + n)) for n in files], [0] * 5 + [1] * 25)
        self.close(process)

    def test_a_success_between_failures_keeps_the_mirror(self):
        files = self.ordered_release()
        mirror = self.mirror({"f3.bin": files["f3.bin"], "f5.bin": files["f5.bin"]})
        server = self.serve(files, mirror=mirror.url + "/m")
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        lines = [l for l in game.log_lines() if l.startswith("Mirror could not supply")]
        self.assertEqual(len(lines), 3)
        self.assertFalse(any("turned off" in l for l in lines))
        self.assertIn("/m/f5.bin", mirror.paths_requested())
        self.close(process)


class FailureTest(UpdateTestCase):
    def test_three_failed_calls_give_two_retries_and_update_failed(self):
        files = {"a.bin": blob(10_000)}
        server = self.serve(files)
        server.rule("/files/a.bin", status=404)
        game = self.folder()
        process, status = self.run_until(game, server, UPDATE_FAILED)
        self.assertEqual(status[1:], ("The update could not be downloaded.",
                                      "Lost the connection to the update server. Press RETRY to continue where it stopped."))
        self.assertEqual(game.log_lines().count("Retrying a.bin"), 2)
        self.assertEqual(game.log_lines().count("Server answered 404 for a.bin"), 3)
        self.close(process)

    def test_no_server_and_a_rejected_manifest_are_offline(self):
        server = ContentServer({}, "kmcontent\nversion 1\n")
        self.addCleanup(server.stop)
        game = self.folder()
        process, status = self.run_until(game, server, OFFLINE)
        self.assertEqual(status[1:], ("Could not reach the update server.",
                                      "Check your connection and press RETRY, or PLAY without updating."))
        self.assertIn("Could not get the manifest from %s" % server.address, game.log_lines())
        self.close(process)

        server.stop()
        game = self.folder()
        process, _ = self.run_until(game, server, OFFLINE)
        self.close(process)

    def test_cut_manifest_is_offline_and_fetches_nothing_but_an_empty_answer_is_a_release(self):
        files = release()
        text = manifest_text(files, version=5)
        server = ContentServer(files, text)
        self.addCleanup(server.stop)
        server.rule("/manifest", cut_after=text.index("data/Textures"))  # two whole file lines arrive
        game = self.folder()
        process, status = self.run_until(game, server, OFFLINE)
        self.assertEqual(status[1], "Could not reach the update server.")
        self.assertIn("Could not get the manifest from %s" % server.address, game.log_lines())
        self.assertEqual(set(server.paths_requested()), {"/manifest"})
        self.assertFalse(game.exists("Kelmorra.dat"))

        server.rules.clear()
        server.manifest = ""  # 200 with Content-Length 0
        seen = len(game.statuses())
        self.press_retry()
        status = self.wait_for_phase(game, READY, after=seen)
        self.assertEqual(status[1], "Up to date  -  version 0")
        self.close(process)

    def test_unsafe_paths_are_refused_and_player_files_untouched(self):
        unsafe = ["../escape.txt", "a/../../escape2.txt", "..\\escape3.txt", "..", "/rooted.txt",
                  "\\rooted2.txt", "C:\\drive.txt", "a/..\\..\\b.txt",
                  # names Windows cannot place as written: none of them may keep the pass from Ready
                  ".. /x.txt", "a/... /y.txt", "nul.txt", "con/z.dat", "COM1.bin", "KMLAUN~1.CFG", "b../c.txt",
                  "what?.txt", "a//d.txt"]
        safe = {"a/..b": b"1", "a/b..": b"2"}
        player = {"coinit.tmp": b"server's", "Sub/Debug.LOG": b"x", "KMLauncher.cfg": b"x"}
        files = dict(safe)
        files.update(player)
        extra = ["00000000 1 " + path for path in unsafe]
        server = ContentServer(files, manifest_text(files, extra=extra))
        self.addCleanup(server.stop)
        game = self.folder()
        game.write("coinit.tmp", b"player's")
        process, _ = self.run_until(game, server, READY)
        for path in unsafe:
            self.assertIn("Ignoring unsafe path in manifest: %s" % path, game.log_lines())
        self.assertEqual(game.read("coinit.tmp"), b"player's")
        self.assertFalse(game.exists("Sub/Debug.LOG"))
        # Names whose parts merely begin or end with two dots are fetched (Windows itself
        # drops the trailing dots of "b..").
        self.assertIn("Updated a/..b (0.0 MB)", game.log_lines())
        self.assertIn("Updated a/b.. (0.0 MB)", game.log_lines())
        self.assertEqual(game.read("a/..b"), b"1")
        parent = os.path.dirname(game.linux)
        self.assertFalse([n for n in os.listdir(parent) if n.startswith(("escape", "rooted", "b.txt"))])
        self.assertFalse(os.path.exists(os.path.join(self.facts["prefix"], "drive_c", "rooted.txt")))
        self.assertFalse(any("/files/coinit.tmp" == p for p in server.paths_requested()))
        self.close(process)

    def test_file_held_open_gives_file_in_use_and_the_part_file_stays(self):
        files = {"held.dat": blob(50_000)}
        server = self.serve(files)
        game = self.folder()
        game.write("held.dat", b"old content")
        shutil.copy(build_file("tests", "hold_file.exe"), game.path("hold_file.exe"))
        holder = Launcher(self.facts, game.path("hold_file.exe"),
                          [game.windows + "held.dat", game.windows + "held.flag"])
        self.addCleanup(holder.kill)
        self.assertTrue(wait_until(lambda: game.exists("held.flag"), 30))
        process, status = self.run_until(game, server, UPDATE_FAILED)
        self.assertEqual(status[1:], ("A game file is in use.",
                                      "Close Kelmorra (and the editor/servers using this folder), then press RETRY."))
        self.assertTrue(any(l.startswith("Cannot replace %sheld.dat (error " % game.windows) for l in game.log_lines()))
        # It was waited for first (tests/e2e/test_player_machine.py has one released in time).
        self.assertIn("held.dat is held by another program - waiting for it", game.log_lines())
        self.assertEqual(game.read("held.dat.part"), files["held.dat"])
        # The game closes; RETRY moves the verified part file into place without fetching it.
        holder.kill()
        fetched = len(server.file_requests("/files/held.dat"))
        seen = len(game.statuses())
        self.press_retry()
        self.wait_for_phase(game, READY, after=seen)
        self.assertEqual(len(server.file_requests("/files/held.dat")), fetched)
        self.assert_files_equal(game, files)
        self.close(process)

    def test_closing_during_a_download_ends_silently_and_keeps_the_bytes(self):
        files = {"big.bin": blob(3_000_000)}
        server = self.serve(files)
        server.rule("/files/big.bin", delay_per_chunk=0.2)
        game = self.folder()
        process = self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, UPDATING)
        self.assertTrue(wait_until(lambda: game.exists("big.bin.part") and os.path.getsize(game.path("big.bin.part")) > 0, 60))
        self.assertEqual(self.close(process), 0)
        self.assertEqual([s for s in game.statuses() if s[0] == UPDATE_FAILED], [])
        kept = game.read("big.bin.part")
        self.assertGreater(len(kept), 0)
        self.assertEqual(kept, files["big.bin"][:len(kept)])
        self.assertEqual(game.log_lines()[-1], "Launcher closed")


class FetchAheadTest(UpdateTestCase):
    def test_small_files_run_ahead_yet_land_log_and_fail_in_manifest_order(self):
        names = ["maps/tile%02d.dat" % i for i in range(40)]
        files = {name: blob(3000 + i) for i, name in enumerate(names)}
        server = self.serve(files)
        server.rule("/files/maps/tile00.dat", answer_after=1.0)  # the files after it are ready first
        server.rule("/files/maps/tile20.dat", status=404)
        game = self.folder()
        process, _ = self.run_until(game, server, UPDATE_FAILED)
        self.assertGreater(server.max_in_flight, 1)
        lines = game.log_lines()
        updated = [line for line in lines if line.startswith("Updated ")]
        self.assertEqual(updated, ["Updated %s (0.0 MB)" % name for name in names[:20]])
        failing = ["Server answered 404 for maps/tile20.dat", "Retrying maps/tile20.dat"]
        after = lines[lines.index(updated[-1]) + 1:]
        self.assertEqual(after[:5], failing + failing + failing[:1])
        self.assertEqual([line for line in after if "maps/" in line], after[:5])
        self.assert_files_equal(game, {name: files[name] for name in names[:20]})
        self.assertFalse([name for name in names[20:] if game.exists(name)])
        self.close(process)


    def test_mid_size_files_come_several_at_once_yet_land_and_fail_in_manifest_order(self):
        names = ["textures/set%02d.tex" % i for i in range(8)]
        files = {name: os.urandom(1_400_000 + i) for i, name in enumerate(names)}
        server = self.serve(files)
        for name in names:
            server.rule("/files/" + name, delay_per_chunk=0.05)  # about a second a file
        server.rule("/files/textures/set00.tex", answer_after=1.0, delay_per_chunk=0.05)
        server.rule("/files/textures/set05.tex", status=404)
        game = self.folder()
        process, _ = self.run_until(game, server, UPDATE_FAILED)
        self.assertGreaterEqual(server.max_in_flight, 4)
        lines = game.log_lines()
        updated = [line for line in lines if line.startswith("Updated ")]
        self.assertEqual(updated, ["Updated %s (1.3 MB)" % name for name in names[:5]])
        failing = ["Server answered 404 for textures/set05.tex", "Retrying textures/set05.tex"]
        after = lines[lines.index(updated[-1]) + 1:]
        self.assertEqual(after[:5], failing + failing + failing[:1])
        self.assertEqual([line for line in after if "textures/" in line], after[:5])
        self.assert_files_equal(game, {name: files[name] for name in names[:5]})
        self.assertFalse([name for name in names[5:] if game.exists(name)])
        self.close(process)

    def test_answers_a_pipeline_cannot_use_are_asked_for_again_one_at_a_time(self):
        names = ["maps/tile%02d.dat" % i for i in range(24)]
        files = {name: blob(2000 + i) for i, name in enumerate(names)}
        server = ContentServer(dict(files, **{"moved/tile10.dat": files["maps/tile10.dat"]}), manifest_text(files))
        self.addCleanup(server.stop)
        server.rule("/files/maps/tile03.dat", close=True)  # the requests sent after it go unanswered
        server.rule("/files/maps/tile10.dat", redirect="/files/moved/tile10.dat")
        game = self.folder()
        process, _ = self.run_until(game, server, READY)
        self.assert_files_equal(game, files)
        self.assertEqual([line for line in game.log_lines() if "maps/" in line],
                         ["Updated %s (0.0 MB)" % name for name in names])
        # Each file asked for once, the redirected one twice (the second time it is followed).
        self.assertEqual([len(server.file_requests("/files/" + name)) for name in names], [1] * 10 + [2] + [1] * 13)
        self.assertEqual(len(server.file_requests("/files/moved/tile10.dat")), 1)
        self.close(process)

    def test_a_configured_proxy_carries_every_request(self):
        files = {"maps/tile%02d.dat" % i: blob(2000 + i) for i in range(12)}
        server = self.serve(files)
        game = self.folder()
        game.install_launcher()
        game.write_config(server.address)
        process = self.start(game, extra_env={"http_proxy": server.url})  # the server proxies for itself
        self.wait_for_phase(game, READY, 90)
        self.assert_files_equal(game, files)
        with server.lock:  # the outcome report goes through the proxy too, at its own time
            targets = [r.target for r in server.requests if r.path != "/report"]
        self.assertEqual(len(targets), 13)
        self.assertTrue(all(target.startswith(server.url + "/") for target in targets), targets)
        self.close(process)


class SelfUpdateTest(UpdateTestCase):
    def test_new_launcher_listed_first_is_fetched_last_and_takes_over(self):
        with open(launcher_exe(), "rb") as f:
            new_launcher = f.read() + b"\0" * 4096  # another build of the launcher
        files = {"KMLauncher.exe": new_launcher, "data/x.bin": blob(30_000)}
        server = self.serve(files, version=9)
        game = self.folder()
        process = self.start_launcher(game, server=server.address)
        self.assertEqual(self.wait_for_exit(process, timeout=90), 0)
        self.wait_for_log(game, "Self-update: started the new launcher")
        lines = game.log_lines()
        self.assertLess(lines.index("Updated data/x.bin (0.0 MB)"), lines.index("Self-update: started the new launcher"))
        self.assertTrue(any(s[1] == "Updating the launcher..." for s in game.statuses()))
        # The new process owns the folder now: it removes the old executable and is up to date.
        self.assertTrue(wait_until(lambda: game.log_lines().count("Kelmorra launcher starting in %s" % game.windows) == 2, 30))
        self.assertTrue(wait_until(lambda: any(s[0] == READY for s in game.statuses()), 60), game.statuses())
        self.assertEqual(game.read("KMLauncher.exe"), new_launcher)
        self.assertTrue(wait_until(lambda: not game.exists("KMLauncher.old"), 30))
        self.assertIn("All files up to date", game.log_lines())
        screen.key(self.facts, self.launcher_window(), "Escape")
        self.assertTrue(wait_until(lambda: game.log_lines()[-1] == "Launcher closed", 30))

    def test_launcher_under_another_name_restarts_once_and_comes_to_rest(self):
        with open(launcher_exe(), "rb") as f:
            new_launcher = f.read() + b"\0" * 4096
        files = {"KMLauncher.exe": new_launcher, "data/x.bin": blob(30_000)}
        aliases = ["./KMLauncher.exe", "KMLauncher.exe.", "KMLAUN~1.EXE"]
        extra = ["%08X 4 %s" % (crc32(b"evil"), alias) for alias in aliases]
        server = ContentServer(files, manifest_text(files, version=9, extra=extra))
        self.addCleanup(server.stop)
        game = self.folder()
        game.install_launcher("Launcher copy.exe")
        game.write_config(server.address)
        process = self.start(game, "Launcher copy.exe")
        self.assertEqual(self.wait_for_exit(process, timeout=90), 0)
        # The restarted copy finds KMLauncher.exe equal to the release: its pass ends Ready,
        # where a launcher that replaced only its own file would restart again.
        self.assertTrue(wait_until(lambda: any(s[0] == READY for s in game.statuses()), 90), game.statuses())
        lines = game.log_lines()
        self.assertEqual(lines.count("Kelmorra launcher starting in %s" % game.windows), 2, lines)
        self.assertEqual(lines.count("Self-update: started the new launcher"), 1)
        self.assertIn("All files up to date", lines)
        self.assertEqual(game.read("KMLauncher.exe"), new_launcher)
        self.assertEqual(game.read("Launcher copy.exe"), new_launcher)
        for alias in aliases:
            self.assertIn("Ignoring unsafe path in manifest: %s" % alias, lines)
        self.assertEqual(len(server.file_requests("/files/KMLauncher.exe")), 1)
        screen.key(self.facts, self.launcher_window(), "Escape")
        self.assertTrue(wait_until(lambda: game.log_lines()[-1] == "Launcher closed", 30))
