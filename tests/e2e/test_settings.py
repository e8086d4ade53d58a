"""The settings window as a player uses it with the mouse: SETTINGS opens it over the disabled
main window, the lists are opened with a click and chosen from with the keyboard, and Save
writes startcfg.aut and coinit.tmp. What the lists offered and selected is read back from what
Save writes. Under Xvfb the display reports one size, 1200 x 750, in 32, 16 and 8 bits."""
import os

from kmtest import screen
from kmtest.case import LauncherTestCase, OFFLINE
from kmtest.launcher import wait_until
from kmtest.server import ContentServer

TITLE = "Kelmorra settings"
ORIGIN = (200, 75)  # the main window on the screen, scale 1.0
SETTINGS = (ORIGIN[0] + 217, ORIGIN[1] + 553)
CLIENT = (3, 22)  # the settings window's client area inside its frame
SIZE_LIST, AA_LIST, FILTER_LIST, VSYNC_LIST = (155, 44), (155, 128), (155, 174), (155, 220)
FULLSCREEN = (30, 82)
SAVE, CANCEL = (145, 338), (245, 338)

# The encrypted part is copied byte for byte; its text does not matter to the window.
ENCRYPTED = "".join("Zm9v%dQmFy\r\nYmF6%d==\r\n" % (i, i) for i in range(5))
DISPLAY_SIZE = ("1200", "750")


def coinit(*plain):
    return ENCRYPTED + "".join(value + "\r\n" for value in plain)


def startcfg(values):
    lines = ["VERSION5"]
    for k, value in enumerate(values):
        lines += ["label %d" % k, value]
    return "".join(line + "\r\n" for line in lines)


def startcfg_values(content):
    lines = content.decode().split("\r\n")
    return [lines[2 * k + 2] for k in range(15)]


DEFAULTS = ["-1", "-1", "-1", "0", "0", "200", "0", "10", "2048", "1", "-1", "1", "1", "2", "4"]


class SettingsTestCase(LauncherTestCase):
    def offline_launcher(self, game):
        """A launcher whose update pass found no manifest: SETTINGS works, no game server is known."""
        server = ContentServer({}, None)
        self.addCleanup(server.stop)
        process = self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, OFFLINE)
        self.launcher_window()
        return process

    def settings_windows(self):
        return screen.find_windows(self.facts, TITLE)

    def kelmorra_windows(self):
        return screen.find_windows(self.facts, "Kelmorra")

    def open_settings(self):
        def opened():
            if self.settings_windows():
                return True
            screen.click(self.facts, *SETTINGS)
            return bool(wait_until(self.settings_windows, 3))

        self.assertTrue(wait_until(opened, 30), "no settings window after SETTINGS")
        self.window = self.settings_windows()[0]
        self.origin = screen.window_geometry(self.facts, self.window)[:2]

    def click(self, point):
        screen.click(self.facts, self.origin[0] + CLIENT[0] + point[0], self.origin[1] + CLIENT[1] + point[1])

    def choose(self, combo, keys):
        """Opens a list with a click, moves with the keys and takes the entry with Return."""
        self.click(combo)
        for key in keys:
            screen.xdotool(self.facts, "key", key)
        screen.xdotool(self.facts, "key", "Return")

    def save_and_wait(self, game, line):
        before = len(game.log_lines())
        self.click(SAVE)
        self.assertTrue(wait_until(lambda: not self.settings_windows(), 10), "the window stayed after Save")
        self.wait_for_log(game, line)
        return game.log_lines()[before:]

    def keep(self, name):
        shot = screen.screenshot(self.facts, self.window)
        shot.save(os.path.join(self.facts["artifacts"], name + ".png"))


class SettingsSaveTest(SettingsTestCase):
    def test_saved_size_is_offered_and_out_of_range_values_select_their_defaults(self):
        game = self.folder()
        game.write("coinit.tmp", coinit("0", "7", "1366", "768", "16"))
        values = list(DEFAULTS)
        values[12], values[13], values[14] = "9", "-1", "3"
        game.write("startcfg.aut", startcfg(values))
        self.offline_launcher(game)
        self.open_settings()
        self.keep("settings-opened")
        # A second SETTINGS click opens no second window.
        screen.click(self.facts, *SETTINGS)
        self.assertEqual(len(self.settings_windows()), 1)

        logged = self.save_and_wait(game, "Settings saved: 1366x768 windowed")
        self.assertIn("Graphics saved: AA 2, filtering 3, vsync 1", logged)
        saved = startcfg_values(game.read("startcfg.aut"))
        self.assertEqual(saved[12:], ["1", "2", "3"])
        self.assertEqual(saved[:12], values[:12])
        self.assertEqual(game.read("coinit.tmp").decode(), coinit("0", "7", "1366", "768", "32"))

        # The list is the display's size, then the saved one: Home takes 1200 x 750.
        self.open_settings()
        self.choose(SIZE_LIST, ["Home"])
        self.save_and_wait(game, "Settings saved: 1200x750 windowed")
        self.assertEqual(game.read("coinit.tmp").decode(), coinit("0", "7", "1200", "750", "32"))
        # Rebuilt at opening: 1366 x 768 is no longer saved, so no longer offered.
        self.open_settings()
        self.choose(SIZE_LIST, ["End"])
        self.save_and_wait(game, "Settings saved: 1200x750 windowed")

    def test_chosen_graphics_and_fullscreen_rewrite_only_their_lines(self):
        game = self.folder()
        game.write("coinit.tmp", coinit("0", "5", "1024", "768", "32"))
        original = game.read("coinit.tmp")
        self.offline_launcher(game)
        self.open_settings()
        self.choose(VSYNC_LIST, ["Home"] + ["Down"] * 4)  # "Cap 144 FPS"
        self.choose(AA_LIST, ["End"])  # "8x"
        self.choose(FILTER_LIST, ["End"])  # "16x (recommended)"
        self.choose(SIZE_LIST, ["End"])  # the display's 1200 x 750 sorts after the saved 1024 x 768
        self.click(FULLSCREEN)
        self.keep("settings-chosen")
        logged = self.save_and_wait(game, "Settings saved: 1200x750 fullscreen")
        self.assertIn("Graphics saved: AA 3, filtering 4, vsync 4", logged)

        saved = startcfg_values(game.read("startcfg.aut"))  # created from scratch
        self.assertEqual(saved, DEFAULTS[:12] + ["4", "3", "4"])
        content = game.read("coinit.tmp")
        lines = content.split(b"\r\n")
        self.assertEqual(lines[:10], original.split(b"\r\n")[:10])
        self.assertEqual(lines[10:], [b"1", b"5", b"1200", b"750", b"32", b""])


class SettingsRefusalTest(SettingsTestCase):
    def test_without_coinit_and_game_server_the_window_opens_with_only_the_launcher_settings(self):
        game = self.folder()
        self.offline_launcher(game)
        self.open_settings()
        self.wait_for_log(game, "Settings opened without coinit.tmp")
        shot = screen.screenshot(self.facts, self.window)
        shot.save(os.path.join(self.facts["artifacts"], "settings-update-server.png"))
        # Save writes none of the game's files: there is no coinit.tmp to take the values.
        self.click(SAVE)
        self.assertTrue(wait_until(lambda: not self.settings_windows(), 10), "Save did not close the window")
        self.assertFalse(game.exists("coinit.tmp"))
        self.assertFalse(game.exists("startcfg.aut"))
        self.assertEqual(len(self.kelmorra_windows()), 1, "a message box was shown")

    def test_coinit_gone_at_save_keeps_the_window_and_writes_nothing(self):
        game = self.folder()
        game.write("coinit.tmp", coinit("0", "1", "1024", "768", "32"))
        self.offline_launcher(game)
        self.open_settings()
        os.remove(game.path("coinit.tmp"))
        self.click(SAVE)
        self.assertTrue(wait_until(lambda: len(self.kelmorra_windows()) == 2, 10), "no message box")
        self.assertEqual(len(self.settings_windows()), 1)
        self.assertFalse(game.exists("coinit.tmp"))
        self.assertFalse(game.exists("startcfg.aut"))
        message = [w for w in self.kelmorra_windows() if screen.window_geometry(self.facts, w)[2:] != (800, 600)][0]
        screen.key(self.facts, message, "Return")
        self.click(CANCEL)
        self.assertTrue(wait_until(lambda: not self.settings_windows(), 10))
        self.assertFalse(any(line.startswith(("Settings saved", "Graphics saved")) for line in game.log_lines()))
