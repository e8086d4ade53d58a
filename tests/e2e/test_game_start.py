"""PLAY starts the game client under Wine: Kelmorra.exe (the stand-in, which reports what it
was given) starts from a game folder whose path has blanks, with that folder as its working
folder, and the launcher exits while the client runs on; a missing client is logged with the
system's error code and shown in a message box, and the launcher stays to try again."""
import os
import shutil

from kmtest.launcher import standin_exe, wait_until, windows_processes_in
import window_support as ws
from window_support import PlayerTestCase


def report(game):
    text = game.read("Kelmorra-report.txt").decode("latin-1")
    return dict(line.split("=", 1) for line in text.split("\r\n") if "=" in line)


class GameStartTest(PlayerTestCase):
    def test_client_starts_quoted_in_its_folder_and_the_launcher_exits(self):
        game = self.game_folder(standin=True, blank=True)
        # An unquoted path would start C:\kmtests\<name before the blank>.exe first, if present.
        decoy = os.path.join(os.path.dirname(game.linux), game.name.split(" ")[0] + ".exe")
        shutil.copy(standin_exe(), decoy)
        self.addCleanup(os.remove, decoy)
        # The launcher's own working folder is elsewhere; the client's must be the game folder.
        game, process = self.ready(game, cwd=self.facts["prefix"])
        self.click_design(*ws.centre("play"))
        self.assertEqual(self.wait_for_exit(process, timeout=20), 0)
        self.assertEqual(game.log_lines()[-2:], ["Started Kelmorra.exe", "Launcher closed"])
        self.assertTrue(wait_until(lambda: game.exists("Kelmorra-report.txt"), 20), "the client did not start")
        started = report(game)
        self.assertEqual(started["commandline"], '"%sKelmorra.exe"' % game.windows)
        self.assertEqual(started["exe"], game.windows + "Kelmorra.exe")
        self.assertEqual(started["workdir"].rstrip("\\"), game.windows.rstrip("\\"))
        self.assertTrue(windows_processes_in(game.name), "the client should run on after the launcher")

    def test_missing_client_is_reported_and_play_can_be_tried_again(self):
        game, process = self.ready(trace_message_boxes=True)
        path = game.windows + "Kelmorra.exe"
        self.click_design(*ws.centre("play"))
        boxes = ws.wait_for_message_box(self.facts)
        self.assertTrue(boxes, "no message box")
        self.assertEqual(ws.message_box_texts(self.wine_trace), ["Could not start Kelmorra.exe.\n\n" + path])
        self.assertIn("Cannot start %s (error 2)" % path, game.log_lines())
        ws.screen.key(self.facts, boxes[0], "Return")
        self.assertTrue(wait_until(lambda: not ws.message_boxes(self.facts), 10))
        self.assert_stays_open(process)
        self.assertTrue(ws.main_window(self.facts), "the launcher window should stay")

        game.install_standin()
        self.click_design(*ws.centre("play"))
        self.assertEqual(self.wait_for_exit(process, timeout=20), 0)
        self.assertTrue(wait_until(lambda: game.exists("Kelmorra-report.txt"), 20))
