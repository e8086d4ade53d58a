"""The content server over https: with a test CA trusted in the prefix the update completes
and an account made with the keyboard reaches the server over TLS; a server whose
certificate nobody signed is asked nothing, and the player is told why, in the status and in the
account window; an address of no known form is refused before any request."""
import os
import tempfile

from kmtest import screen
from kmtest.case import LauncherTestCase, OFFLINE, READY
from kmtest.certs import TestCertificates
from kmtest.launcher import wait_until
from kmtest.server import ContentServer, manifest_text
from test_accessibility import acc_client
from test_dialog_windows import ACCOUNT_TITLE, NEW_ACCOUNT

FILES = {"Kelmorra.dat": os.urandom(70000), "maps/a b.map": b"x" * 5, "data/%d.bin" % 1: os.urandom(3000)}


class HttpsTest(LauncherTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.scratch = tempfile.TemporaryDirectory()
        cls.certs = TestCertificates(cls.scratch.name)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def tls_server(self, certificate):
        server = ContentServer(FILES, manifest_text(FILES, version=4), tls=self.certs.pair(certificate),
                               register_answer=b"OK Welcome")
        self.addCleanup(server.stop)
        return server

    def test_update_and_account_over_tls_with_the_test_ca_trusted(self):
        self.certs.trust_ca(self.facts)
        self.addCleanup(self.certs.trust_ca, self.facts, False)
        server = self.tls_server("signed")
        game = self.folder()
        address = "https://localhost:%d" % server.port
        self.start_launcher(game, server=address)
        self.wait_for_phase(game, READY)
        for path, data in FILES.items():
            self.assertEqual(game.read(path), data, path)
        self.assertIn("Checking for updates at " + address, game.log_lines())
        self.assertIn("/manifest", server.paths_requested())
        self.assertFalse([line for line in game.log_lines() if "Certificate" in line])

        main = self.launcher_window()
        left, top, width, _ = screen.window_geometry(self.facts, main)
        scale = width / 800.0
        wait_until(lambda: False, 0.3)  # a status tick has enabled the buttons
        opened = []
        for attempt in range(5):
            screen.click(self.facts, left + NEW_ACCOUNT[0] * scale, top + NEW_ACCOUNT[1] * scale)
            opened = wait_until(lambda: screen.find_windows(self.facts, ACCOUNT_TITLE), 3)
            if opened:
                break
        self.assertTrue(opened, "no account window")
        for text, key in (("tls_player", "Tab"), ("s3cret&x", "Tab"), ("s3cret&x", "Tab"), ("", "Return")):
            if text:
                screen.type_text(self.facts, text)
            screen.xdotool(self.facts, "key", key)
        posted = wait_until(lambda: [r for r in server.requests if r.method == "POST" and r.path == "/register"], 15)
        self.assertTrue(posted, "Return sent nothing")
        self.assertEqual(posted[0].body, b"user=tls_player&pass=s3cret%26x&email=")
        self.wait_for_log(game, "New account created: tls_player")

    def test_a_certificate_nobody_signed_is_asked_nothing_and_named(self):
        server = self.tls_server("unsigned")
        game = self.folder()
        self.start_launcher(game, server="https://localhost:%d" % server.port)
        status = self.wait_for_phase(game, OFFLINE)
        self.assertEqual(status[1], "The update server's certificate is not trusted.")
        self.assertIn("does not trust", status[2])
        refused = [line for line in game.log_lines() if line.startswith("Certificate of localhost:%d refused: "
                                                                         % server.port)]
        self.assertTrue(refused, game.log_lines())
        self.assertIn("Could not get the manifest from https://localhost:%d" % server.port, game.log_lines())
        self.assertEqual(server.requests, [], "a request reached a server whose certificate was refused")

    def test_an_address_of_no_known_form_is_refused_before_any_request(self):
        server = ContentServer(FILES, manifest_text(FILES, version=4))
        self.addCleanup(server.stop)
        game = self.folder()
        written = "ftp://%s" % server.address
        self.start_launcher(game, server=written)
        status = self.wait_for_phase(game, OFFLINE)
        self.assertEqual(status[1], "The update server address is not valid.")
        self.assertTrue([line for line in game.log_lines()
                         if line.startswith("Content server address not understood: " + written)], game.log_lines())
        self.assertEqual(server.requests, [])

    def test_an_account_request_refused_for_its_certificate_names_the_reason_in_the_window(self):
        self.certs.trust_ca(self.facts)
        self.addCleanup(self.certs.trust_ca, self.facts, False)
        server = self.tls_server("signed")
        game = self.folder()
        self.start_launcher(game, server="https://localhost:%d" % server.port)
        self.wait_for_phase(game, READY)
        # From now on the server shows a certificate nobody signed to every new connection.
        server.httpd.socket.context.load_cert_chain(*self.certs.pair("unsigned"))
        server.drop_connections()
        main = self.launcher_window()
        wait_until(lambda: False, 0.3)
        screen.key(self.facts, main, "alt+n")
        self.assertTrue(wait_until(lambda: screen.find_windows(self.facts, ACCOUNT_TITLE), 5), "no account window")
        for text, key in (("cert_player", "Tab"), ("pw12", "Tab"), ("pw12", "Return")):
            screen.type_text(self.facts, text)
            screen.xdotool(self.facts, "key", key)
        self.wait_for_log(game, "Certificate of localhost refused: issued by an authority this PC does not trust")
        expected = "The server's certificate was refused: issued by an authority this PC does not trust."
        shown = wait_until(lambda: expected in acc_client(self.facts, "controls", ACCOUNT_TITLE)[1], 10)
        self.assertTrue(shown, acc_client(self.facts, "controls", ACCOUNT_TITLE)[1])
        self.assertEqual([r for r in server.requests if r.method == "POST" and r.path != "/report"], [])
