"""The account and settings windows as a player meets them: drawn at once over a main window
that is idle in Ready or busy downloading, and worked with the keyboard alone like any dialog
box (the caret in the first field, Tab between the fields, Return for the default button, the
caret back where it was after a message box). Positions on the main window follow its scale,
so this module runs unchanged on every screen size (see KM_SCREEN in kmtest/env.py); each run
keeps pictures named after the scale it saw."""
import os
import time

from kmtest import screen
from kmtest.case import LauncherTestCase, READY, UPDATING
from kmtest.launcher import wait_until
from kmtest.server import ContentServer, Rule, manifest_text
from test_settings import coinit, startcfg_values
import window_support as ws

ACCOUNT_TITLE = "Create an Kelmorra account"
SETTINGS_TITLE = "Kelmorra settings"
NEW_ACCOUNT, SETTINGS = (353, 553), (217, 553)  # design points of the main window
CLIENT = (3, 22)  # a popup's client area inside its frame
LABEL_TEXT = (170, 215, 255)
BACKGROUND = (16, 18, 24)
# Where each window shows a label and its default button (client pixels, left top right bottom).
ACCOUNT_PROBES = {"label": (20, 14, 200, 30), "button": (130, 260, 250, 288)}
SETTINGS_PROBES = {"label": (20, 16, 120, 32), "button": (100, 324, 190, 352)}
SHOWN_WITHIN = 0.5  # seconds from the click on the main window
NOTES = ["Version %d" % (12 - i // 10) if i % 10 == 0 else
         "- A change of this release, long enough to wrap onto a second line of the panel" for i in range(60)]


def near(a, b, limit):
    return max(abs(x - y) for x, y in zip(a, b)) < limit


class DialogTestCase(LauncherTestCase):
    def start_in(self, phase, files, rules=None, answer=b"OK Welcome"):
        server = ContentServer(files, manifest_text(files, version=3, name="Winter Gate", notes=NOTES),
                               register_answer=answer)
        server.rules.update(rules or {})
        self.addCleanup(server.stop)
        game = self.folder()
        game.write("coinit.tmp", coinit("0", "1", "1024", "768", "32"))
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, phase)
        self.main = self.launcher_window()
        left, top, width, height = screen.window_geometry(self.facts, self.main)
        self.scale = width / 800.0
        self.main_box = (left, top, width, height)
        wait_until(lambda: False, 0.3)  # a status tick has enabled the buttons
        return game, server

    def on_main(self, point):
        left, top = self.main_box[:2]
        return left + point[0] * self.scale, top + point[1] * self.scale

    def keep(self, shot, name):
        shot.save(os.path.join(self.facts["artifacts"], "%s-scale-%.2f.png" % (name, self.scale)))

    def open_timed(self, button, title):
        """Clicks the button and takes the new window's picture half a second after the click
        (or at once if finding it took longer): (window, picture)."""
        windows = []
        for attempt in range(5):  # the first click may land before a tick enabled the button
            clicked = time.time()
            screen.click(self.facts, *self.on_main(button))
            windows = wait_until(lambda: screen.find_windows(self.facts, title), 3, interval=0.02)
            if windows:
                break
        self.assertTrue(windows, "no %r window" % title)
        wait_until(lambda: False, clicked + SHOWN_WITHIN - time.time())
        return windows[0], screen.screenshot(self.facts, windows[0])

    def assert_controls_shown(self, shot, probes, name):
        """The label's text and the default button's face are drawn on the dark background."""
        self.keep(shot, name)

        def pixels(box):
            left, top, right, bottom = box
            return [shot.pixel(CLIENT[0] + x, CLIENT[1] + y) for y in range(top, bottom) for x in range(left, right)]

        self.assertTrue(any(near(p, BACKGROUND, 6) for p in pixels((0, 0, 300, 12))), "%s: no background" % name)
        self.assertTrue(any(near(p, LABEL_TEXT, 50) for p in pixels(probes["label"])), "%s: no label" % name)
        self.assertGreater(sum(1 for p in pixels(probes["button"]) if min(p) > 150), 100, "%s: no button" % name)

    def close(self, title):
        window = screen.find_windows(self.facts, title)[0]
        screen.key(self.facts, window, "Escape")
        self.assertTrue(wait_until(lambda: not screen.find_windows(self.facts, title), 10), "Escape left it open")


class ShownAtOnceTest(DialogTestCase):
    def check_both_windows(self, when):
        account, shot = self.open_timed(NEW_ACCOUNT, ACCOUNT_TITLE)
        self.assert_controls_shown(shot, ACCOUNT_PROBES, "account-" + when)
        self.close(ACCOUNT_TITLE)
        settings, shot = self.open_timed(SETTINGS, SETTINGS_TITLE)
        self.assert_controls_shown(shot, SETTINGS_PROBES, "settings-" + when)
        self.close(SETTINGS_TITLE)

    def assert_main_window_look(self, shot):
        """Title bar, bottom panel, gold headline, a lit PLAY and the notes' scroll thumb, probed
        at design points of the window at its scale."""
        view = ws.Design(shot, origin=(0, 0), scale=self.scale)
        for x, y in ((500, 13), (300, 20)):
            self.assertLess(ws.distance(view.pixel(x, y), ws.over(ws.TITLE_BAR, ws.Art.background(x, y))), 8)
        for x, y in ((790, 520), (10, 590), (792, 468)):
            self.assertLess(ws.distance(view.pixel(x, y), ws.under_panel(x, y)), 8)
        self.assertLess(view.closest((24, 456, 330, 474), ws.rgb(ws.GOLD)), 30)
        self.assertLess(ws.distance(view.pixel(572, 537), ws.button_face("play", 12, 9, faded=False)), 8)
        thumb = ws.over(ws.THUMB, ws.under_panel(395, 100))
        self.assertLess(ws.distance(view.pixel(395, 100), thumb), 8)

    def test_ready_with_long_notes(self):
        self.start_in(READY, {"Kelmorra.dat": os.urandom(3000)})
        self.assertEqual(self.main_box[2:], (round(800 * self.scale), round(600 * self.scale)))
        screen.move_mouse(self.facts, 0, self.main_box[1] + self.main_box[3] + 5)  # nothing hovered
        wait_until(lambda: False, 0.3)
        shot = screen.screenshot(self.facts, self.main)
        self.keep(shot, "ready-with-notes")
        self.assert_main_window_look(shot)
        self.check_both_windows("ready")

    def test_while_downloading(self):
        files = {"Kelmorra.dat": os.urandom(12 << 20)}
        game, _ = self.start_in(UPDATING, files, {"/files/Kelmorra.dat": Rule(delay_per_chunk=0.05)})
        self.check_both_windows("downloading")
        self.assertEqual(game.statuses()[-1][0], UPDATING, "the download ended before the windows were checked")


class KeyboardTest(DialogTestCase):
    def test_account_created_with_keys_alone(self):
        game, server = self.start_in(READY, {"Kelmorra.dat": os.urandom(3000)})
        self.open_timed(NEW_ACCOUNT, ACCOUNT_TITLE)
        # No click into the window: the caret is already in the user name.
        for text, key in (("keys_only", "Tab"), ("s3cret&x", "Tab"), ("s3cret&x", "Tab"), ("kid@example.org", "Return")):
            screen.type_text(self.facts, text)
            screen.xdotool(self.facts, "key", key)
        posted = wait_until(lambda: [r for r in server.requests if r.method == "POST" and r.path == "/register"], 15)
        self.assertTrue(posted, "Return sent nothing")
        self.assertEqual(posted[0].body, b"user=keys_only&pass=s3cret%26x&email=kid%40example.org")
        self.wait_for_log(game, "New account created: keys_only")
        box = wait_until(lambda: [w for w in screen.find_windows(self.facts, "Kelmorra") if w != self.main], 10)
        self.assertTrue(box, "no success message box")
        screen.key(self.facts, box[0], "Return")
        self.assertTrue(wait_until(lambda: not screen.find_windows(self.facts, ACCOUNT_TITLE), 10))

    def test_settings_keep_the_caret_across_a_message_box_and_save_with_return(self):
        game, _ = self.start_in(READY, {"Kelmorra.dat": os.urandom(3000)})
        window, _ = self.open_timed(SETTINGS, SETTINGS_TITLE)
        # Size list, Fullscreen, anti-aliasing list: one step up from the default 4x.
        screen.key(self.facts, window, "Tab")
        screen.xdotool(self.facts, "key", "Tab", "Up")
        saved = game.read("coinit.tmp")
        os.remove(game.path("coinit.tmp"))
        screen.xdotool(self.facts, "key", "Return")  # Save, which cannot read coinit.tmp now
        box = wait_until(lambda: [w for w in screen.find_windows(self.facts, "Kelmorra") if w != self.main], 10)
        self.assertTrue(box, "Return did not press Save")
        screen.key(self.facts, box[0], "Return")
        self.assertTrue(wait_until(lambda: len(screen.find_windows(self.facts, "Kelmorra")) == 1, 10))
        game.write("coinit.tmp", saved)
        # Back in the settings window the caret is in the anti-aliasing list again.
        screen.key(self.facts, window, "Up")
        screen.xdotool(self.facts, "key", "Return")
        self.assertTrue(wait_until(lambda: not screen.find_windows(self.facts, SETTINGS_TITLE), 10),
                        "Return did not save")
        self.wait_for_log(game, "Graphics saved")
        self.assertEqual(startcfg_values(game.read("startcfg.aut"))[13], "0")

    def test_download_speed_limit_is_set_with_keys_alone_and_kept_in_the_launcher_config(self):
        game, _ = self.start_in(READY, {"Kelmorra.dat": os.urandom(3000)})
        config = game.read("KMLauncher.cfg")
        window, _ = self.open_timed(SETTINGS, SETTINGS_TITLE)
        # Size list, Fullscreen, three graphics lists, then the limit in its own group.
        screen.key(self.facts, window, "Tab")
        screen.xdotool(self.facts, "key", "Tab", "Tab", "Tab", "Tab", "End", "shift+Home", "BackSpace")
        screen.type_text(self.facts, "x25a6")  # the field takes digits only
        self.keep(screen.screenshot(self.facts, window), "settings-speed-limit")
        screen.xdotool(self.facts, "key", "Return")
        self.assertTrue(wait_until(lambda: not screen.find_windows(self.facts, SETTINGS_TITLE), 10),
                        "Return did not save")
        self.wait_for_log(game, "Download speed limit set to 256 KB/s")
        # The launcher's own file keeps what it had and gains the limit; the game's files do not.
        self.assertEqual(game.read("KMLauncher.cfg"), config + b"MaxDownloadKBps=256\r\n")
        self.assertNotIn(b"256", game.read("startcfg.aut"))


class MainWindowKeyboardTest(DialogTestCase):
    """The main window by keyboard alone: Tab puts a ring on a button, Space presses it, Alt
    plus a label's letter presses that button; the ring is judged in the window's own picture."""

    def ring_pixels(self, button):
        """Near-white pixels on the path of the focus ring around the button (design rectangle)."""
        shot = screen.screenshot(self.facts, self.main)
        left, top, right, bottom = ws.BUTTONS[button]
        count = 0
        for y in range(top + 8, bottom - 8):
            for x in (left - 3, right + 3):
                px, py = x * self.scale, y * self.scale
                for dx in (-1, 0, 1):
                    if min(shot.pixel(int(px) + dx, int(py))) > 200:
                        count += 1
        return count, shot

    def test_settings_and_new_account_opened_and_used_with_the_keyboard_alone(self):
        game, server = self.start_in(READY, {"Kelmorra.dat": os.urandom(3000)})
        before, _ = self.ring_pixels("settings")
        screen.key(self.facts, self.main, "Tab")
        self.assertTrue(wait_until(lambda: self.ring_pixels("settings")[0] > before + 10, 3), "no focus ring")
        self.keep(self.ring_pixels("settings")[1], "focus-ring-settings")
        screen.xdotool(self.facts, "key", "Tab")
        self.assertTrue(wait_until(lambda: self.ring_pixels("account")[0] > before + 10, 3), "Tab did not move it")
        self.keep(self.ring_pixels("account")[1], "focus-ring-account")
        screen.xdotool(self.facts, "key", "shift+Tab", "space")
        windows = wait_until(lambda: screen.find_windows(self.facts, SETTINGS_TITLE), 5)
        self.assertTrue(windows, "Shift+Tab and Space did not open the settings")
        # Size list, Fullscreen, anti-aliasing list: one step up from the default 4x; Return saves.
        screen.key(self.facts, windows[0], "Tab")
        screen.xdotool(self.facts, "key", "Tab", "Up", "Return")
        self.assertTrue(wait_until(lambda: not screen.find_windows(self.facts, SETTINGS_TITLE), 10))
        self.wait_for_log(game, "Graphics saved")
        self.assertEqual(startcfg_values(game.read("startcfg.aut"))[13], "1")

        screen.key(self.facts, self.main, "alt+n")
        self.assertTrue(wait_until(lambda: screen.find_windows(self.facts, ACCOUNT_TITLE), 5), "Alt+N opened nothing")
        for text, key in (("keys_main", "Tab"), ("pw12", "Tab"), ("pw12", "Tab"), ("", "Return")):
            if text:
                screen.type_text(self.facts, text)
            screen.xdotool(self.facts, "key", key)
        self.wait_for_log(game, "New account created: keys_main")
        box = wait_until(lambda: [w for w in screen.find_windows(self.facts, "Kelmorra") if w != self.main], 10)
        screen.key(self.facts, box[0], "Return")
        self.assertTrue(wait_until(lambda: not screen.find_windows(self.facts, ACCOUNT_TITLE), 10))
        # The ring is still where the keyboard left it; Alt+X closes like EXIT.
        screen.key(self.facts, self.main, "alt+x")
        self.wait_for_log(game, "Launcher closed")

    def test_settings_open_before_any_connection_with_the_launcher_settings_usable(self):
        refused = ContentServer({}, None)
        address = refused.address
        refused.stop()
        game = self.folder()
        self.start_launcher(game, server=address)
        self.wait_for_phase(game, ws.OFFLINE)
        self.main = self.launcher_window()
        left, top, width, height = screen.window_geometry(self.facts, self.main)
        self.scale = width / 800.0
        wait_until(lambda: False, 0.3)
        screen.key(self.facts, self.main, "alt+s")
        windows = wait_until(lambda: screen.find_windows(self.facts, SETTINGS_TITLE), 5)
        self.assertTrue(windows, "no settings window without coinit.tmp")
        self.wait_for_log(game, "Settings opened without coinit.tmp")
        self.keep(screen.screenshot(self.facts, windows[0]), "settings-without-coinit")
        # The caret is in the speed limit, the one setting that can be changed now.
        screen.key(self.facts, windows[0], "End")
        screen.xdotool(self.facts, "key", "shift+Home", "BackSpace")
        screen.type_text(self.facts, "300")
        screen.xdotool(self.facts, "key", "Return")
        self.assertTrue(wait_until(lambda: not screen.find_windows(self.facts, SETTINGS_TITLE), 10))
        self.wait_for_log(game, "Download speed limit set to 300 KB/s")
        self.assertIn(b"MaxDownloadKBps=300\r\n", game.read("KMLauncher.cfg"))
        self.assertFalse(game.exists("coinit.tmp"))
