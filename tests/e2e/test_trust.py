"""What the launcher trusts on a shared machine and from the network: DLLs planted beside it
(and beside the elevated install step) under system DLLs' names, a part file that vanishes while
its range request is in flight, two spellings of one file in a release, a plain-HTTP mirror
announced by an https content server, a client swapped after a signed update for one with the
same size and CRC-32, and an old signed release served under a higher version number."""
import os
import shutil
import tempfile

from kmtest.case import LauncherTestCase, OFFLINE, READY
from kmtest.certs import TestCertificates
from kmtest.launcher import Launcher, build_file, standin_exe, wait_until
from kmtest.server import ContentServer, manifest_text
from kmtest.signed import keyed_launcher_exe, publish, same_crc_change
from test_player_machine import MB, wire
from test_update import UpdateTestCase, blob
import window_support as ws
from window_support import PlayerTestCase


class PlantedDllTest(UpdateTestCase):
    SYSTEM_DLLS = ["WININET.dll", "RstrtMgr.dll", "bcrypt.dll", "gdiplus.dll", "oleacc.dll"]

    def test_dlls_planted_beside_the_launcher_never_load_and_the_update_runs_as_before(self):
        files = {"held.dat": blob(50_000), "after.dat": blob(1_000)}
        server = self.serve(files)
        game = self.folder()
        game.install_launcher()
        for name in self.SYSTEM_DLLS:
            shutil.copy(build_file("tests", "planted.dll"), game.path(name))
        # A held file makes the launcher ask the Restart Manager who holds it.
        game.write("held.dat", b"old content")
        shutil.copy(build_file("tests", "hold_file.exe"), game.path("hold_file.exe"))
        holder = Launcher(self.facts, game.path("hold_file.exe"), [game.windows + "held.dat", game.windows + "held.flag"])
        self.addCleanup(holder.kill)
        self.assertTrue(wait_until(lambda: game.exists("held.flag"), 30))
        process = self.start_launcher(game, server=server.address)
        self.wait_for_log(game, "held.dat is held by", timeout=90)
        holder.kill()
        self.wait_for_phase(game, READY)
        self.assert_files_equal(game, files)
        self.assertEqual([n for n in os.listdir(game.linux) if n.endswith(".planted")], [])
        self.close(process)


class ElevatedStepTest(UpdateTestCase):
    def test_the_elevated_step_runs_from_a_copy_it_removes_and_planted_dlls_never_load(self):
        game = self.folder()
        game.install_launcher()
        for name in PlantedDllTest.SYSTEM_DLLS:
            shutil.copy(build_file("tests", "planted.dll"), game.path(name))
        temp = os.path.join(self.facts["prefix"], "drive_c", "windows", "temp")
        copies = lambda: {n for n in os.listdir(temp) if n.startswith("KelmorraGold-install-")}
        before = copies()  # earlier tests may have ended a step before it removed its copy
        process = self.start(game, args=("/install", "127.0.0.1:9", game.windows + "Games\\KelmorraGold"))
        self.assertEqual(self.wait_for_exit(process, timeout=60), 0)
        self.assertTrue(game.exists("Games/KelmorraGold/KMLauncher.exe"))
        self.assertEqual(copies() - before, set())
        self.assertEqual([n for _, _, names in os.walk(game.linux) for n in names if n.endswith(".planted")], [])


class VanishedPartFileTest(UpdateTestCase):
    def test_a_part_file_deleted_during_its_range_request_restarts_from_zero(self):
        data = blob(3 * MB)
        files = {"big.dat": data, "readme.txt": b"hello\r\n"}
        server = self.serve(files)
        game = self.folder()
        game.install_launcher()
        game.write("big.dat.part", data[:MB])
        server.rule("/files/big.dat", answer_after=3.0)
        process = self.start_launcher(game, server=server.address)
        ranged = lambda: [r for r in server.file_requests("/files/big.dat") if r.headers.get("Range")]
        self.assertTrue(wait_until(ranged, 60), server.requests)
        self.assertEqual(ranged()[0].headers["Range"], "bytes=%d-" % MB)
        os.remove(game.path("big.dat.part"))  # a clean-up tool, while the answer is on its way

        # Whenever big.dat is in place it is the whole release file, never its last 2 MiB.
        def ready_or_wrong():
            if game.exists("big.dat") and game.read("big.dat") != data:
                return "wrong"
            return any(s[0] == READY for s in game.statuses())
        self.assertEqual(wait_until(ready_or_wrong, 90, interval=0.05), True, game.log_lines())
        self.assertEqual(game.read("big.dat"), data)
        self.assertIn("The part file of big.dat is gone or shorter than the %d bytes checked - "
                      "starting it again from zero" % MB, game.log_lines())
        self.assertIsNone(server.file_requests("/files/big.dat")[-1].headers.get("Range"))
        self.close(process)

        # The next start finds everything in place and requests no file.
        before = len(server.paths_requested())
        process = self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY, after=len(game.statuses()))
        self.assertEqual([p for p in server.paths_requested()[before:] if p.startswith("/files/")], [])
        self.close(process)


class OneFileTwoSpellingsTest(UpdateTestCase):
    def test_the_second_spelling_is_skipped_so_the_next_start_requests_nothing(self):
        files = {wire("data/Épée.txt"): b"capital\r\n", wire("data/épée.txt"): b"small, other size\r\n",
                 "note.txt": b"n1", "note.txt.": b"n2 longer", "x": b"x1", "x ": b"x2 longer"}
        server = self.serve(files)
        game = self.folder()
        process, status = self.run_until(game, server, READY)
        for second in [wire("data/épée.txt"), "note.txt.", "x "]:
            self.assertIn("Ignoring unsafe path in manifest: %s" % second, game.log_lines())
        self.assertEqual(game.read("data/Épée.txt"), b"capital\r\n")
        self.assertEqual(os.listdir(game.path("data")), ["Épée.txt"])
        self.assertEqual(game.read("note.txt"), b"n1")
        self.assertEqual(game.read("x"), b"x1")
        self.close(process)

        for start in range(2):
            before = len(server.paths_requested())
            process = self.start_launcher(game, server=server.address)
            self.wait_for_phase(game, READY, after=len(game.statuses()))
            self.assertEqual([p for p in server.paths_requested()[before:] if p.startswith("/files/")], [])
            self.close(process)



class PlainMirrorOfAnHttpsServerTest(LauncherTestCase):
    def test_every_file_comes_over_tls_and_the_mirror_is_asked_nothing(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        certs = TestCertificates(scratch.name)
        certs.trust_ca(self.facts)
        self.addCleanup(certs.trust_ca, self.facts, False)
        files = {"Kelmorra.dat": blob(70000), "data/a.bin": blob(3000)}
        mirror = ContentServer(files, prefix="/m/")
        self.addCleanup(mirror.stop)
        server = ContentServer(files, manifest_text(files, mirror=mirror.url + "/m"), tls=certs.pair("signed"))
        self.addCleanup(server.stop)
        game = self.folder()
        self.start_launcher(game, server="https://localhost:%d" % server.port)
        self.wait_for_phase(game, READY)
        for path, data in files.items():
            self.assertEqual(game.read(path), data, path)
        self.assertEqual(mirror.paths_requested(), [])
        self.assertEqual(sorted(p for p in server.paths_requested() if p.startswith("/files/")),
                         ["/files/Kelmorra.dat", "/files/data/a.bin"])
        refusal = "Not using the file mirror %s/m: plain HTTP for a release from an https server" % mirror.url
        self.assertEqual(game.log_lines().count(refusal), 1)


class SignedClientTest(PlayerTestCase):
    def test_a_keyed_launcher_starts_only_the_client_of_the_signed_release(self):
        with open(standin_exe(), "rb") as f:
            client = f.read()
        manifest, published = publish({"Kelmorra.exe": client, "Kelmorra.dat": blob(3000)}, 3)
        server = ContentServer(published, manifest)
        self.addCleanup(server.stop)
        game = self.game_folder()
        shutil.copy(keyed_launcher_exe(), game.path("KMLauncher.exe"))
        game.write_config(server.address)
        process = Launcher(self.facts, game.path("KMLauncher.exe"),
                           extra_env={"KMLAUNCHER_STATUS_TRACE": game.windows + game.STATUS_TRACE})
        self.addCleanup(process.kill)
        self.wait_for_phase(game, READY)
        self.assertEqual(game.read("Kelmorra.exe"), client)
        self.window = wait_until(lambda: ws.main_window(self.facts), 30)
        ws.settle(0.3)

        # Another user of the machine swaps the client for one of the same size, CRC-32 and time.
        stat = os.stat(game.path("Kelmorra.exe"))
        game.write("Kelmorra.exe", same_crc_change(client, 4096, 8192))
        os.utime(game.path("Kelmorra.exe"), ns=(stat.st_atime_ns, stat.st_mtime_ns))
        self.click_design(*ws.centre("play"))
        self.wait_for_log(game, "Kelmorra.exe is not the file of the signed release - not started")
        boxes = ws.wait_for_message_box(self.facts)
        self.assertTrue(boxes, "no message box")
        ws.screen.key(self.facts, boxes[0], "Return")
        self.assertFalse(game.exists("Kelmorra-report.txt"))
        self.assertTrue(process.running())

        game.write("Kelmorra.exe", client)
        self.assertTrue(wait_until(lambda: not ws.message_boxes(self.facts), 10))
        self.click_design(*ws.centre("play"))
        self.assertEqual(self.wait_for_exit(process, timeout=20), 0)
        self.assertTrue(wait_until(lambda: game.exists("Kelmorra-report.txt"), 20), "the client did not start")


class ReleaseSerialTest(UpdateTestCase):
    def test_an_old_release_under_a_higher_version_is_refused_by_its_serial(self):
        tree = os.path.join(tempfile.mkdtemp(prefix="km-tree-"), "release")
        self.addCleanup(shutil.rmtree, os.path.dirname(tree), True)
        files = {"Kelmorra.dat": blob(3000), "readme.txt": b"current\r\n"}
        pulled = publish(dict(files, **{"readme.txt": b"pulled test build\r\n"}), 9, tree=tree)  # serial 1
        current = publish(files, 8, tree=tree)                                                # serial 2
        game = self.folder()
        shutil.copy(keyed_launcher_exe(), game.path("KMLauncher.exe"))
        server = ContentServer(current[1], current[0])
        self.addCleanup(server.stop)
        process, _ = self.run_until(game, server, READY)
        self.close(process)

        old = ContentServer(pulled[1], pulled[0])
        self.addCleanup(old.stop)
        after = len(game.statuses())
        process = self.start_launcher(game, server=old.address)
        self.wait_for_phase(game, OFFLINE, after=after)
        self.wait_for_log(game, "Refusing the release of %s: version 9 serial 1 is older than version 8 serial 2, "
                                "already installed here" % old.address)
        self.assertFalse([p for p in old.paths_requested() if p.startswith("/files/")])
        self.assertEqual(game.read("readme.txt"), b"current\r\n")
        self.close(process)
