"""The download speed cap (MaxDownloadKBps in KMLauncher.cfg): every download of the launcher
together, pipelined small files and a large WinINet download alike, stays within it, as the
content server measures what it sent. Loose bounds: the benchmark measures accuracy."""
import os
import time

from kmtest.case import LauncherTestCase, READY
from kmtest.server import ContentServer, manifest_text

CAP_KBPS = 1024


class SpeedCapTest(LauncherTestCase):
    def test_all_downloads_together_stay_within_the_cap(self):
        files = {"data/%02d.bin" % i: os.urandom(4096) for i in range(24)}
        big = ["part%d.dat" % i for i in range(6)]
        files.update({name: os.urandom(3 << 19) for name in big})  # several on connections of their own
        server = ContentServer(files, manifest_text(files))
        self.addCleanup(server.stop)
        game = self.folder()
        game.install_launcher()
        game.write("KMLauncher.cfg", "Server=%s\r\nMaxDownloadKBps=%d\r\n" % (server.address, CAP_KBPS))
        self.start(game)
        self.wait_for_phase(game, READY, 120)
        ready = time.monotonic()
        for path, data in files.items():
            self.assertEqual(game.read(path), data, path)
        self.assertIn("Downloads limited to %d KB/s" % CAP_KBPS, game.log_lines())
        # By Ready the launcher has read every byte, from the first file request on.
        first = min(server.file_requests("/files/" + name)[0].time for name in files)
        read = sum(len(data) for data in files.values())
        seconds = ready - first
        self.assertLess(read / seconds, 1.2 * CAP_KBPS * 1024,
                        "%d bytes in %.2f s: over the cap of %d KB/s" % (read, seconds, CAP_KBPS))

    def test_a_cap_that_is_no_number_is_logged_and_ignored(self):
        files = {"Kelmorra.dat": os.urandom(5000)}
        server = ContentServer(files, manifest_text(files))
        self.addCleanup(server.stop)
        game = self.folder()
        game.install_launcher()
        game.write("KMLauncher.cfg", "Server=%s\r\nmaxdownloadkbps=12k\r\n" % server.address)
        self.start(game)
        self.wait_for_phase(game, READY)
        self.assertIn("Ignoring MaxDownloadKBps=12k in KMLauncher.cfg: not a whole number of KB/s up to 4000000",
                      game.log_lines())
