"""The stand-in game client Kelmorra.exe under Wine: its report shows the command line, the
working folder, the game server decrypted from a coinit.tmp made by an independent
implementation of the field format, the plain lines and the three graphics values; its
window names the game server and closes on Escape."""
import os
import shutil
import subprocess
import sys
import time
import unittest

SOURCE = os.environ.get("KM_SOURCE") or os.path.join(os.path.dirname(__file__), "..", "..")
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
sys.path.insert(0, os.path.join(SOURCE, "tests", "crosscheck"))

from kmtest import case, launcher, screen  # noqa: E402
from test_axcrypt_crosscheck import PASS, encrypt, launcher_iv  # noqa: E402

REPORT = "Kelmorra-report.txt"


def field(text):
    return encrypt(PASS, text.encode(), launcher_iv(int(time.time()), len(text)))


def coinit(game_server, plain=("1", "1", "1920", "1080", "32")):
    fields = [field("player"), field("player"), field("KELMORRA"), field("content.example:25858"),
              field(game_server)]
    return ("\r\n".join(fields) + "\r\n" + "".join(value + "\r\n" for value in plain)).encode()


def startcfg(vsync, aa, filtering):
    values = ["-1", "-1", "-1", "0", "0", "200", "0", "10", "2048", "1", "-1", "1", vsync, aa, filtering]
    lines = ["VERSION5"]
    for index, value in enumerate(values):
        lines += ["label %d" % index, value]
    return ("\r\n".join(lines) + "\r\n").encode()


def read_report(game):
    text = game.read(REPORT).decode("latin-1")
    return dict(line.split("=", 1) for line in text.split("\r\n") if line)


class Standin(case.LauncherTestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(launcher.standin_exe()):
            raise unittest.SkipTest("Kelmorra.exe is not built: %s" % launcher.standin_exe())
        super().setUpClass()

    def game_with_standin(self):
        game = self.folder()
        game.install_standin()
        return game

    def test_report_shows_what_the_launcher_prepared(self):
        game = self.game_with_standin()
        game.write("coinit.tmp", coinit("game.example.com:7000"))
        game.write("startcfg.aut", startcfg("3", "1", "4"))
        code = self.wait_for_exit(self.start(game, "Kelmorra.exe", ["/report-only"]))
        self.assertEqual(code, 0)
        report = read_report(game)
        self.assertEqual(report["gameserver"], "game.example.com:7000")
        self.assertEqual([report["coinit.plain%d" % i] for i in range(1, 6)], ["1", "1", "1920", "1080", "32"])
        self.assertEqual((report["startcfg.vsync"], report["startcfg.aa"], report["startcfg.filtering"]),
                         ("3", "1", "4"))
        self.assertEqual(report["workdir"].rstrip("\\").lower(), game.windows.rstrip("\\").lower())
        self.assertEqual(report["exe"].lower(), (game.windows + "Kelmorra.exe").lower())
        self.assertIn("Kelmorra.exe", report["commandline"])
        self.assertIn("/report-only", report["commandline"])
        self.assertFalse(game.exists(REPORT + ".new"))

    def test_missing_files_give_empty_values(self):
        game = self.game_with_standin()
        self.assertEqual(self.wait_for_exit(self.start(game, "Kelmorra.exe", ["/report-only"])), 0)
        report = read_report(game)
        for key in ("gameserver", "coinit.plain1", "coinit.plain5", "startcfg.vsync", "startcfg.aa",
                    "startcfg.filtering"):
            self.assertEqual(report[key], "", key)

    def test_window_names_the_server_and_closes_on_escape(self):
        if not shutil.which("xdotool"):
            self.skipTest("xdotool is not installed")
        game = self.game_with_standin()
        game.write("coinit.tmp", coinit("10.1.2.3:7000"))
        process = self.start(game, "Kelmorra.exe")
        self.assertTrue(launcher.wait_until(lambda: game.exists(REPORT), 30))
        xenv = self.facts["env"]

        def window():
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Kelmorra$"], env=xenv, capture_output=True,
                                   text=True)
            return found.stdout.split()

        windows = launcher.wait_until(window, 30)
        self.assertTrue(windows, "no window titled Kelmorra")
        self.assertTrue(process.running())
        self.assertEqual(read_report(game)["gameserver"], "10.1.2.3:7000")
        # Like a player: bring the window to the front, press Escape.
        screen.key(self.facts, windows[0], "Escape")
        self.assertEqual(self.wait_for_exit(process, 30), 0)


if __name__ == "__main__":
    unittest.main()
