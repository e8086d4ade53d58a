"""The download speed cap (MaxDownloadKBps in KMLauncher.cfg): every download of the launcher
together, pipelined small files and a large WinINet download alike, stays within it, as the
content server measures what it sent. Loose bounds: the benchmark measures accuracy."""
import os

from kmtest.case import LauncherTestCase, READY
from kmtest.server import ContentServer, manifest_text

CAP_KBPS = 1024


class SpeedCapTest(LauncherTestCase):
    def test_all_downloads_together_stay_within_the_cap(self):
        files = {"data/%02d.bin" % i: os.urandom(4096) for i in range(24)}
        big = ["part%d.dat" % i for i in range(6)]
        files.update({name: os.urandom(3 << 19) for name in big})  # each fetched by the pass in turn
        server = ContentServer(files, manifest_text(files))
        self.addCleanup(server.stop)
        game = self.folder()
        game.install_launcher()
        game.write("KMLauncher.cfg", "Server=%s\r\nMaxDownloadKBps=%d\r\n" % (server.address, CAP_KBPS))
        self.start(game)
        self.wait_for_phase(game, READY, 120)
        for path, data in files.items():
            self.assertEqual(game.read(path), data, path)
        self.assertIn("Downloads limited to %d KB/s" % CAP_KBPS, game.log_lines())
        # The launcher asks for each large file once it has read the one before: between the
        # first request and the last it has read all the others, whatever sat in socket buffers.
        arrivals = [server.file_requests("/files/" + name)[0].time for name in big]
        read = sum(len(files[name]) for name in big[:-1])
        seconds = arrivals[-1] - arrivals[0]
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
