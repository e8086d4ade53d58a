"""The main window as a screen reader meets it: another process reads it through the
accessibility API (AccessibleObjectFromWindow, tests/e2e/accclient/) while the launcher
downloads and when it is Ready, hears the changes announced, and presses PLAY by the default
action, which starts the game as a click does."""
import os
import re
import subprocess

from kmtest import env, screen
from kmtest.case import LauncherTestCase, READY, UPDATING
from kmtest.launcher import build_file, wait_until
from kmtest.server import ContentServer, Rule, manifest_text

PUSH_BUTTON, STATIC_TEXT, TEXT, PROGRESS_BAR = 43, 41, 42, 48
UNAVAILABLE, FOCUSED, INVISIBLE, FOCUSABLE = 0x1, 0x4, 0x8000, 0x100000
FOCUS, NAME_CHANGE, VALUE_CHANGE = 0x8005, 0x800C, 0x800E
LINE = re.compile(r"child (\d+) role=(\d+) state=0x([0-9a-f]+) at=(-?\d+),(-?\d+),(\d+),(\d+) name=(.*) value=(.*)$")
BUTTONS = [(152, 528, 282, 578), (288, 528, 418, 578), (424, 528, 554, 578), (560, 528, 690, 578),
           (696, 528, 786, 578)]  # design rectangles, left to right
NOTES = ["Version 7", "- Winter paths are open", "", "- Faster loading"]


def acc_client(facts, *args, timeout=60):
    done = subprocess.run([env.WINE, build_file("tests", "acc_client.exe")] + list(args), env=facts["env"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", "replace")


class ScreenReaderTest(LauncherTestCase):
    def read(self):
        """{child id: (role, state, name, value)} as the API gives them; self.places gets
        {child id: (x, y, width, height)} on the screen."""
        code, out = acc_client(self.facts, "read")
        self.assertEqual(code, 0, out)
        objects, self.places = {}, {}
        for line in out.splitlines():
            match = LINE.match(line.strip())
            if match:
                child = int(match.group(1))
                objects[child] = (int(match.group(2)), int(match.group(3), 16), match.group(8), match.group(9))
                self.places[child] = tuple(int(match.group(i)) for i in range(4, 8))
        self.assertEqual(sorted(objects), list(range(10)), out)
        return objects

    def assert_buttons(self, objects, expected):
        """expected: (name, available) for the five buttons, left to right."""
        for child, (name, available) in enumerate(expected, start=1):
            role, state, shown, _ = objects[child]
            self.assertEqual((role, shown), (PUSH_BUTTON, name), objects[child])
            self.assertEqual(not state & UNAVAILABLE, available, "%s: state 0x%x" % (name, state))
            self.assertEqual(bool(state & FOCUSABLE), available, "%s: state 0x%x" % (name, state))

    def test_buttons_status_and_progress_read_while_updating_and_ready_and_play_pressed(self):
        files = {"Kelmorra.dat": os.urandom(10 << 20)}
        server = ContentServer(files, manifest_text(files, version=7, name="Winter Gate", notes=NOTES))
        server.rules["/files/Kelmorra.dat"] = Rule(delay_per_chunk=0.04)
        self.addCleanup(server.stop)
        game = self.folder()
        game.install_standin()
        self.start_launcher(game, server=server.address)
        _, headline, _ = self.wait_for_phase(game, UPDATING)
        self.launcher_window()
        listener = subprocess.Popen([env.WINE, build_file("tests", "acc_client.exe"), "events", "120"],
                                    env=self.facts["env"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(listener.kill)
        self.assertEqual(listener.stdout.readline().strip(), b"listening")

        updating = self.read()
        self.assert_buttons(updating, [("SETTINGS", True), ("NEW ACCOUNT", True), ("PAUSE", True),
                                       ("PLAY", False), ("EXIT", True)])
        self.assertEqual(updating[6][:3], (STATIC_TEXT, updating[6][1], headline))
        self.assertEqual(updating[8][0], PROGRESS_BAR)
        self.assertRegex(updating[8][3], r"^\d{1,3}%$")
        self.assertEqual(updating[9][0], TEXT)
        self.assertEqual(updating[9][2], "What's new  -  Winter Gate")
        self.assertEqual(updating[9][3], "\\n".join(NOTES))

        self.wait_for_phase(game, READY, timeout=120)
        ready = wait_until(lambda: (lambda o: o if o[4][1] & UNAVAILABLE == 0 else None)(self.read()), 5, 0.3)
        self.assertTrue(ready, "PLAY never became available")
        self.assert_buttons(ready, [("SETTINGS", True), ("NEW ACCOUNT", True), ("RETRY", False),
                                    ("PLAY", True), ("EXIT", True)])
        self.assertTrue(ready[3][1] & INVISIBLE, "a RETRY that is not painted is not shown to a reader either")
        # Each button is where it is painted, at the window's scale (a magnifier follows it there).
        left, top, width, _ = screen.window_geometry(self.facts, self.launcher_window())
        scale = width / 800.0
        for child, (l, t, r, b) in enumerate(BUTTONS, start=1):
            expected = (left + l * scale, top + t * scale, (r - l) * scale, (b - t) * scale)
            for got, want in zip(self.places[child], expected):
                self.assertLess(abs(got - want), 2.5, "button %d at %s, painted at %s" % (child, self.places[child],
                                                                                       expected))
        self.assertEqual(ready[6][2], "Up to date  -  Winter Gate")
        self.assertEqual(ready[7][2], "Press PLAY to enter Kelmorra.")
        self.assertEqual(ready[8][3], "100%")

        # The keyboard's focus ring is where the reader's focus is.
        screen.key(self.facts, self.launcher_window(), "Tab")
        focused = wait_until(lambda: self.read()[1][1] & FOCUSED, 5, 0.3)
        self.assertTrue(focused, "Tab put the ring on SETTINGS but a reader does not see it focused")
        wait_until(lambda: False, 0.5)
        listener.kill()
        heard = listener.communicate(timeout=60)[0].decode()
        events = set(re.findall(r"event 0x([0-9a-f]+) child (\d+)", heard))
        self.assertIn(("%x" % VALUE_CHANGE, "8"), events, "no progress step announced: %s" % heard)
        self.assertIn(("%x" % NAME_CHANGE, "6"), events, "the new headline was not announced")
        self.assertIn(("%x" % NAME_CHANGE, "3"), events, "PAUSE turning into RETRY was not announced")
        self.assertIn(("%x" % FOCUS, "1"), events, "the focus moving to SETTINGS was not announced")

        code, out = acc_client(self.facts, "press", "PLAY")
        self.assertEqual(code, 0, out)
        self.assertTrue(wait_until(lambda: game.exists("Kelmorra-report.txt"), 30),
                        "PLAY's default action did not play")
        self.wait_for_log(game, "Started Kelmorra.exe")
