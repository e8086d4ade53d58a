"""A whole deployment: a game build published with `kmcontent publish`, served by
`kmcontent serve` or by nginx (directly, or as the mirror beside `kmcontent serve`), a fresh
game folder brought up to date by the real launcher, and the stand-in client started with
the game server the release announced."""
import os
import shutil
import socket
import subprocess
import tempfile
import time

from kmtest import screen
from kmtest.case import LauncherTestCase, READY
from kmtest.nginx import start as start_nginx
from kmtest.launcher import standin_exe, wait_until

KMCONTENT = os.path.join(os.environ.get("KM_NATIVE_BUILD", ""), "kmcontent")
GAME_SERVER = "play.kelmorra.test:7000"
# The launcher leaves coinit.tmp alone for a content server on this PC (127.x, localhost):
# the decimal spelling of the loopback address reaches the same server but stands for a
# remote one, as a player's would be.
REMOTE_LOOPBACK = "2130706433"

# The launcher's paths only, as an operator who copied just them would serve a release.
RELEASE_LOCATIONS = """location = /manifest {{ root {release}; default_type text/plain; }}
    location /files/ {{ root {release}; }}
    location /mirror/ {{ alias {release}/files/; }}"""


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, timeout=20):
    def accepting():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            return False
    return wait_until(accepting, timeout)


class DeploymentTest(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.tmp = tempfile.mkdtemp(prefix="km-deploy-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.build = os.path.join(self.tmp, "build")
        self.files = {
            "Kelmorra.exe": read_bytes(standin_exe()),
            "data/world.pak": os.urandom(2_500_000),
            "data/maps/north pass.map": os.urandom(90_000),
            "data/sounds/wind.ogg": os.urandom(300_000),
            "readme.txt": b"Kelmorra\r\n",
        }
        for path, data in self.files.items():
            target = os.path.join(self.build, *path.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)

    def publish(self, mirror=None):
        release = os.path.join(self.tmp, "release")
        command = [KMCONTENT, "publish", "--build", self.build, "--out", release, "--version", "5",
                   "--name", "North Pass", "--gameserver", GAME_SERVER]
        if mirror:
            command += ["--mirror", mirror]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, timeout=120)
        return release

    def serve(self, release):
        port = free_port()
        log = os.path.join(self.tmp, "serve.log")
        server = subprocess.Popen([KMCONTENT, "serve", "--release", release, "--listen", "127.0.0.1:%d" % port,
                                   "--accounts", os.path.join(self.tmp, "accounts.db"), "--log", log],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(server.wait, 10)
        self.addCleanup(server.terminate)
        self.assertTrue(wait_for_port(port), "kmcontent serve did not listen")
        return port, log

    def nginx(self, release):
        port = free_port()
        server = start_nginx(self.tmp, port, RELEASE_LOCATIONS.format(release=release))
        self.addCleanup(server.wait, 10)
        self.addCleanup(server.terminate)
        self.assertTrue(wait_for_port(port), "nginx did not listen")
        return port, os.path.join(self.tmp, "access.log")

    def update_and_play(self, port):
        game = self.folder()
        process = self.start_launcher(game, server="%s:%d" % (REMOTE_LOOPBACK, port))
        status = self.wait_for_phase(game, READY, timeout=120)
        self.assertEqual(status[1], "Up to date  -  North Pass")
        for path, data in self.files.items():
            self.assertEqual(game.read(path), data, path)
        self.assertIn("Created coinit.tmp with game server %s" % GAME_SERVER, game.log_lines())
        time.sleep(0.3)  # the status poll enables PLAY within 100 ms
        screen.key(self.facts, self.launcher_window(), "Return")
        self.assertEqual(self.wait_for_exit(process), 0)
        self.assertTrue(wait_until(lambda: game.exists("Kelmorra-report.txt"), 30), "the client did not start")
        report = game.read("Kelmorra-report.txt").decode("latin-1")
        self.assertIn("gameserver=%s" % GAME_SERVER, report)
        self.assertIn("workdir=%s" % game.windows.rstrip("\\"), report)
        return game

    def test_release_served_by_kmcontent(self):
        port, log = self.serve(self.publish())
        self.update_and_play(port)
        with open(log) as f:
            # The manifest names the release's own base: files come from there, not /files/.
            self.assertIn("GET /releases/v5/files/data/maps/north%20pass.map 200", f.read())

    def test_release_served_by_nginx(self):
        port, access = self.nginx(self.publish())
        self.update_and_play(port)
        with open(access) as f:
            self.assertIn("GET /files/data/world.pak", f.read())

    def test_nginx_as_the_mirror_of_kmcontent(self):
        mirror_port, access = self.nginx(os.path.join(self.tmp, "release"))
        release = self.publish(mirror="http://127.0.0.1:%d/mirror" % mirror_port)
        port, log = self.serve(release)
        self.update_and_play(port)
        with open(access) as f:
            self.assertEqual(f.read().count("GET /mirror/"), len(self.files))
        with open(log) as f:
            self.assertNotIn("GET /files/", f.read())
