"""Through a forward proxy (http_proxy) the pipelined path is not used: fetch-ahead then runs
the requests on several WinINet connections at once, and the update pass still moves and
logs the files in the order of the manifest."""
import os

from kmtest.case import LauncherTestCase, READY
from kmtest.server import ContentServer, Rule, manifest_text


class ProxyTest(LauncherTestCase):
    def test_a_proxy_carries_every_request_on_several_connections_in_manifest_order(self):
        names = ["maps/tile%02d.dat" % i for i in range(30)]
        files = {name: os.urandom(1500 + i) for i, name in enumerate(names)}
        server = ContentServer(files, manifest_text(files))
        self.addCleanup(server.stop)
        for name in names:  # slow enough that requests made one at a time never overlap
            server.rules["/files/" + name] = Rule(answer_after=0.3)
        game = self.folder()
        game.install_launcher()
        game.write_config(server.address)
        self.start(game, extra_env={"http_proxy": server.url})  # the server proxies for itself
        self.wait_for_phase(game, READY, 90)
        for name, data in files.items():
            self.assertEqual(game.read(name), data, name)
        with server.lock:  # the outcome report goes through the proxy too, at its own time
            targets = [r.target for r in server.requests if r.path != "/report"]
        self.assertEqual(len(targets), 31)
        self.assertTrue(all(target.startswith(server.url + "/") for target in targets), targets)
        # More than the four connections fetch-ahead keeps on the pipelined path.
        self.assertGreater(server.max_in_flight, 6, "too few requests at once through the proxy")
        self.assertEqual([line for line in game.log_lines() if "maps/" in line],
                         ["Updated %s (0.0 MB)" % name for name in names])
