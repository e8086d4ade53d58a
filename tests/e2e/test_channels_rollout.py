"""Channels and staged rollouts, end to end: releases published with the real `kmcontent
publish --channel / --percent` and `kmcontent rollout`, served by `kmcontent serve`, taken by
the real launcher under Wine. A launcher with Channel=beta installs the beta while one without
stays live, and a keyed launcher refuses the beta's signed manifest served as live. At 30 %
exactly the game folders whose cohort says so take the new release (install ids on both sides
of 30 and 60, and two the launchers draw themselves); raised to 60 % every one of them keeps
it and more join; a keyed launcher keeps it when the rollout is
lowered to 0 %, and the others go back. A pre-loaded 64 MiB release is staged in its part
file beside the untouched live file while the launcher stays in Ready, and once live the pass
requests no file. Every pass's outcome report reaches serve's /metrics
under the release it followed, and a launcher with Report=0 sends none."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import urllib.request

from kmtest.case import LauncherTestCase, READY, OFFLINE
from kmtest.launcher import kill_processes_in, wait_until, windows_processes_in
from kmtest.server import ContentServer
from kmtest.signed import keyed_launcher_exe, test_key
from test_deployment import KMCONTENT, free_port, wait_for_port

# Folders whose seeded ids fall below 30 (2, 4, 13), between 30 and 60 (3, 6, 16) and above
# (5, 9) for release v2. Every pass is a launcher start, so they are few.
SEEDED = (2, 4, 13, 3, 6, 16, 5, 9)
DRAWN = 2


def cohort(install_id, release):
    digest = hashlib.sha256(("%s\n%s" % (install_id, release)).encode()).digest()
    return int.from_bytes(digest[:8], "big") % 100


def seeded_id(n):
    """A fixed install id per folder, so the run is the same every time."""
    return hashlib.sha256(b"folder %d" % n).hexdigest()[:32]


def install_id_of(game):
    """The id the launcher keeps in KMLauncher.crc (size and time of the ':install id' entry)."""
    for line in game.read("KMLauncher.crc").decode("latin-1").splitlines():
        fields = line.split(" ", 3)
        if len(fields) == 4 and fields[3] == ":install id":
            return "%016x%016x" % (int(fields[1]), int(fields[2]))
    return None


class ChannelRolloutTest(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.tmp = tempfile.mkdtemp(prefix="km-rollout-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.tree = os.path.join(self.tmp, "release")

    def kmcontent(self, *args):
        done = subprocess.run([KMCONTENT] + list(args), capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def publish(self, version, readme, *options):
        build = os.path.join(self.tmp, "build-%d" % version)
        os.makedirs(build, exist_ok=True)
        with open(os.path.join(build, "readme.txt"), "wb") as f:
            f.write(readme)
        with open(os.path.join(build, "world.dat"), "wb") as f:
            f.write(b"world %d\n" % version * 1000)
        self.kmcontent("publish", "--build", build, "--out", self.tree, "--version", str(version), *options)

    def serve(self):
        port = free_port()
        self.serve_log = os.path.join(self.tmp, "serve.log")
        server = subprocess.Popen([KMCONTENT, "serve", "--release", self.tree, "--listen", "127.0.0.1:%d" % port,
                                   "--no-accounts", "--metrics-public", "--log", self.serve_log,
                                   "--report-rate", "1000"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(server.wait, 10)
        self.addCleanup(server.terminate)
        self.assertTrue(wait_for_port(port), "kmcontent serve did not listen")
        return "127.0.0.1:%d" % port

    def game(self, name, keyed=False, config=""):
        # Named like every test's folders, so a folder picker's type-ahead in another test
        # never lands on one of these.
        game = self.folder("test_%s" % name)
        if keyed:
            shutil.copy(keyed_launcher_exe(), game.path("KMLauncher.exe"))
        else:
            game.install_launcher()
        game.config = config
        return game

    def reports_received(self):
        with open(self.serve_log) as f:
            return [line for line in f if " POST /report " in line]

    def reports_counted(self, server):
        with urllib.request.urlopen("http://%s/metrics" % server, timeout=10) as answer:
            text = answer.read().decode()
        return {match[:3]: int(match[3]) for match in re.findall(
            r'kmcontent_reports_total\{release="([^"]+)",channel="([^"]+)",outcome="([^"]+)"\} (\d+)', text)}

    def run_pass(self, game, server, phase=READY, reported=True):
        """One launcher run to the end of its pass (and its outcome report to kmcontent serve
        when reported); the launcher is closed afterwards."""
        game.write("KMLauncher.cfg", "Server=%s\r\n%s" % (server, game.config))
        after = len(game.statuses())
        reports = len(self.reports_received()) if reported else 0
        process = self.start(game)
        status = self.wait_for_phase(game, phase, timeout=90, after=after)
        if reported:
            self.assertTrue(wait_until(lambda: len(self.reports_received()) > reports, 20), "no outcome report")
        # Every process of the folder ends before the next run, or its mutex would hold that up.
        process.kill()
        self.assertTrue(wait_until(lambda: kill_processes_in(game.name) or not windows_processes_in(game.name), 20))
        return status

    def test_channel_beta_is_followed_only_by_its_launchers_and_never_taken_as_live(self):
        self.publish(1, b"live\r\n", "--sign", test_key())
        self.publish(2, b"beta\r\n", "--sign", test_key(), "--channel", "beta")
        server = self.serve()

        live = self.game("live", keyed=True)
        self.assertEqual(self.run_pass(live, server)[1], "Up to date  -  version 1")
        self.assertEqual(live.read("readme.txt"), b"live\r\n")

        beta = self.game("beta", keyed=True, config="Channel=beta\r\n")
        self.assertEqual(self.run_pass(beta, server)[1], "Up to date  -  version 2")
        self.assertEqual(beta.read("readme.txt"), b"beta\r\n")
        self.assertIn("Following the release channel beta", beta.log_lines())
        self.assertEqual(self.reports_counted(server), {("v1", "live", "done"): 1, ("v2", "beta", "done"): 1})

        # Report=0: the pass sends nothing. The next launcher's report, sent at the end of its
        # pass as this one's would have been, comes alone.
        beta.config += "Report=0\r\n"
        self.assertEqual(self.run_pass(beta, server, reported=False)[1], "Up to date  -  version 2")
        self.run_pass(live, server)
        self.assertEqual(self.reports_counted(server), {("v1", "live", "done"): 1, ("v1", "live", "uptodate"): 1,
                                                        ("v2", "beta", "done"): 1})

        # The beta's own signed manifest answered as /manifest: the signature is good, the
        # channel is not, and nothing of it is used.
        with open(os.path.join(self.tree, "channels", "beta", "manifest"), "rb") as f:
            beta_manifest = f.read().decode("latin-1")
        self.assertIn("\nchannel beta\n", beta_manifest)
        replay = ContentServer({}, beta_manifest)
        self.addCleanup(replay.stop)
        status = self.run_pass(live, replay.address, OFFLINE, reported=False)
        self.assertEqual(status[1], "Could not verify the update server's release.")
        self.assertIn("Refusing the release of %s: it is a manifest of the beta channel; this launcher follows "
                      "the live channel" % replay.address, live.log_lines())
        self.assertFalse(any(p.startswith("/files/") for p in replay.paths_requested()))
        self.assertEqual(live.read("readme.txt"), b"live\r\n")

    def test_rollout_reaches_its_share_and_raising_it_keeps_everyone_in(self):
        self.publish(1, b"one\r\n")
        self.publish(2, b"two\r\n", "--percent", "30")
        server = self.serve()
        games = [self.game("drawn%d" % n) for n in range(DRAWN)]
        for n in SEEDED:
            game = self.game("cohort%d" % n)
            game.write("KMLauncher.crc", "00000000 %d %d :install id\r\n"
                       % (int(seeded_id(n)[:16], 16), int(seeded_id(n)[16:], 16)))
            games.append(game)

        def takers():
            return [g for g in games if g.read("readme.txt") == b"two\r\n"]

        for game in games:
            self.run_pass(game, server)
        drawn = {install_id_of(g) for g in games[:DRAWN]}
        self.assertEqual(len(drawn), DRAWN, "each folder draws an id of its own")
        first = takers()
        for game in games:
            expected = b"two\r\n" if cohort(install_id_of(game), "v2") < 30 else b"one\r\n"
            self.assertEqual(game.read("readme.txt"), expected, game.name)
        stayed = next(g for g in games if g not in first)
        self.assertTrue(any("not this one yet: staying on v1" in line for line in stayed.log_lines()))
        self.assertEqual(self.reports_counted(server), {("v2", "live", "done"): len(first),
                                                        ("v1", "live", "done"): len(games) - len(first)})

        self.assertIn("reaches 60 %", self.kmcontent("rollout", "--release", self.tree, "--percent", "60"))
        for game in games:
            self.run_pass(game, server)
        second = takers()
        for game in games:
            expected = b"two\r\n" if cohort(install_id_of(game), "v2") < 60 else b"one\r\n"
            self.assertEqual(game.read("readme.txt"), expected, game.name)
        self.assertTrue(set(g.name for g in first) < set(g.name for g in second))

    def test_a_keyed_launcher_never_goes_back_when_the_rollout_is_lowered(self):
        self.publish(1, b"one\r\n", "--sign", test_key())
        self.publish(2, b"two\r\n", "--sign", test_key(), "--percent", "100")
        server = self.serve()
        keyed = self.game("keyed", keyed=True)
        plain = self.game("plain")
        for game in (keyed, plain):
            self.assertEqual(self.run_pass(game, server)[1], "Up to date  -  version 2")

        # A signed release needs its key to change its rollout line.
        refused = subprocess.run([KMCONTENT, "rollout", "--release", self.tree, "--percent", "0"],
                                 capture_output=True, text=True)
        self.assertEqual(refused.returncode, 1)
        self.kmcontent("rollout", "--release", self.tree, "--percent", "0", "--sign", test_key())
        self.assertEqual(self.run_pass(keyed, server)[1], "Up to date  -  version 2")
        self.assertTrue(any("a newer release than v1 is installed here: keeping v2" in line
                            for line in keyed.log_lines()))
        self.assertEqual(keyed.read("readme.txt"), b"two\r\n")
        # Without a key the launcher follows the percentage back to the release before.
        self.assertEqual(self.run_pass(plain, server)[1], "Up to date  -  version 1")
        self.assertEqual(plain.read("readme.txt"), b"one\r\n")

    def test_a_preloaded_release_is_staged_beside_the_live_files_and_then_only_moved(self):
        big = os.urandom(64 << 20)
        build = os.path.join(self.tmp, "build")
        os.makedirs(build)

        def publish(version, data, *options):
            with open(os.path.join(build, "world.pak"), "wb") as f:
                f.write(data)
            self.kmcontent("publish", "--build", build, "--out", self.tree, "--version", str(version),
                           "--sign", test_key(), "--block-maps-from", "0", *options)

        publish(1, big)
        server = self.serve()
        game = self.game("preload", keyed=True)
        self.assertEqual(self.run_pass(game, server)[1], "Up to date  -  version 1")

        changed = bytearray(big)
        changed[1 << 20] ^= 0xFF
        publish(2, bytes(changed), "--preload")
        with open(os.path.join(self.tree, "manifest")) as f:
            self.assertIn("\npreload v2\n", f.read())
        game.write("KMLauncher.cfg", "Server=%s\r\n" % server)
        after = len(game.statuses())
        process = self.start(game)
        self.assertEqual(self.wait_for_phase(game, READY, after=after)[1], "Up to date  -  version 1")
        self.wait_for_log(game, "Pre-loading v2: 1 files (64.0 MB)")
        # While the part file fills, the live file is version 1's and the launcher is in Ready.
        self.assertTrue(wait_until(lambda: game.exists("world.pak.part"), 20))
        self.assertEqual(game.read("world.pak"), big)
        self.wait_for_log(game, "Pre-loaded v2: 1 files (64.0 MB)", timeout=120)
        self.assertEqual(game.read("world.pak"), big)
        self.assertEqual({s[0] for s in game.statuses()[after:]} - {0, 1}, {READY})
        process.kill()
        self.assertTrue(wait_until(lambda: kill_processes_in(game.name) or not windows_processes_in(game.name), 20))

        self.assertIn("v2 is live", self.kmcontent("rollout", "--release", self.tree, "--live", "--sign", test_key()))
        with open(self.serve_log) as f:
            before = len(f.readlines())
        self.assertEqual(self.run_pass(game, server)[1], "Up to date  -  version 2")
        self.assertEqual(game.read("world.pak"), bytes(changed))
        self.assertFalse(game.exists("world.pak.part"))
        with open(self.serve_log) as f:
            requests = [line.split()[4] for line in f.readlines()[before:] if " GET " in line]
        self.assertEqual([r for r in requests if "/files/" in r], [], requests)
