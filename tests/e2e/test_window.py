"""The painted launcher window in each phase, as a player sees it under Wine: a screenshot per
phase kept under the run's artifacts, and pixel probes at known design points (title bar,
bottom panel, progress track and fill, headline colour, which buttons are drawn, faded PLAY,
the "What's new" panel and its scroll bar)."""
import os
import shutil

from kmtest import screen
from kmtest.case import (LauncherTestCase, CONNECTING, CHECKING, UPDATING, READY, UPDATE_FAILED, OFFLINE,
                         NOT_INSTALLED, INSTALLING)
from kmtest.launcher import standin_exe, wait_until, windows_processes_in
from kmtest.server import ContentServer, manifest_text
import window_support as ws
from window_support import Design, rgb, over, distance
from test_install import InstallTestCase
NOTES = [
    "Version 12",
    "The harbour district opens in the south of the city, with three new quests and a ferry to the islands.",
    "- Fishing: six new fish and a better rod at the harbour master.",
    "- The winter festival runs until the end of the month.",
    "- Guild halls can now be decorated.",
    "- Fixed: the ferry bell did not ring after midnight.",
    "",
    "Version 11",
    "- The northern maps load faster.",
    "- The market board shows the prices of the last seven days.",
    "- Mounts no longer stop at bridges.",
    "- Quest texts can be read again after a quest is done.",
    "- New options for the chat window.",
    "",
    "Version 10",
    "- Two new dungeons below the old mine.",
    "- Smiths repair items for half the price on Sundays.",
    "- The map marks places you have not visited.",
    "- Many small fixes to the spring event.",
    "",
    "Version 9",
    "- First release of the island maps.",
    "- Guilds get a shared storage room.",
    "- The minimap can be turned.",
    "- Fixed: some doors opened twice.",
]


def release():
    return {"Kelmorra.dat": os.urandom(20000), "data/map.dat": os.urandom(5000)}


class WindowTestCase(LauncherTestCase):
    def serve(self, files, **manifest):
        server = ContentServer(files, manifest_text(files, **manifest))
        self.addCleanup(server.stop)
        return server

    def game_folder(self):
        game = self.folder()
        game.write("VERSIONINF.VER", "1")
        return game

    def look(self, name, settle=0.4, window_only=False):
        """The window after the next status ticks have repainted it, kept as <name>.png: the
        whole screen, or only the window's own picture when other windows may overlap it."""
        window = wait_until(lambda: ws.main_window(self.facts), 30)
        self.assertTrue(window, "no launcher window")
        screen.move_mouse(self.facts, 1190, 740)  # off the window: nothing is hovered
        wait_until(lambda: False, settle)
        if not window_only:
            return Design(self.shot(name))
        picture = screen.screenshot(self.facts, window)
        picture.save(os.path.join(self.facts["artifacts"], name + ".png"))
        return Design(picture, origin=(0, 0))

    # -- probes shared by the phases --

    def assert_frame(self, view):
        """Title bar, bottom panel and its top line: the same in every phase."""
        for x, y in ((500, 13), (300, 20)):
            self.assertLess(distance(view.pixel(x, y), over(ws.TITLE_BAR, ws.Art.background(x, y))), 8, (x, y))
        for x, y in ((790, 520), (10, 590), (792, 468)):
            self.assertLess(distance(view.pixel(x, y), ws.under_panel(x, y)), 8, (x, y))
        self.assertLess(distance(view.pixel(400, 440), over(ws.PANEL_LINE, ws.under_panel(400, 441))), 8)

    def assert_headline(self, view, colour):
        """The headline's strokes reach its colour and never the other phase colour."""
        other = ws.GOLD if colour == ws.ERROR else ws.ERROR
        box = (24, 456, 330, 474)
        self.assertLess(view.closest(box, rgb(colour)), 30)
        self.assertGreater(view.closest(box, rgb(other)), 60)

    def assert_drawn(self, view, name, drawn):
        """A button is drawn when its face shows at its left end (the label is centred)."""
        left, top = ws.BUTTONS[name][:2]
        x, y = left + 12, top + 9
        face = distance(view.pixel(x, y), ws.button_face(name, 12, 9, faded=False))
        bare = distance(view.pixel(x, y), ws.under_panel(x, y))
        if drawn:
            self.assertLess(face, 10, name)
        else:
            self.assertLess(bare, 8, name)

    def assert_play(self, view, faded):
        x, y = 560 + 12, 528 + 9
        expected = ws.button_face("play", 12, 9, faded)
        self.assertLess(distance(view.pixel(x, y), expected), 8)
        self.assertGreater(distance(view.pixel(x, y), ws.button_face("play", 12, 9, not faded)), 10)

    def assert_buttons(self, view, settings, account, retry, play_faded):
        self.assert_drawn(view, "settings", settings)
        self.assert_drawn(view, "account", account)
        self.assert_drawn(view, "retry", retry)
        self.assert_play(view, play_faded)
        self.assert_drawn(view, "exit", True)

    def assert_track_empty(self, view):
        self.assertEqual(ws.progress_fill_end(view), 25)
        self.assertLess(distance(view.pixel(400, 509), rgb(ws.TRACK)), 4)


class PhaseLookTest(WindowTestCase):
    def test_connecting_shows_only_exit_and_a_faded_play(self):
        held = ws.HeldManifest(release(), version=2)
        self.addCleanup(held.close)
        game = self.game_folder()
        self.start_launcher(game, server=held.server.address)
        self.wait_for_phase(game, CONNECTING)
        view = self.look("connecting")
        self.assert_frame(view)
        self.assert_headline(view, ws.GOLD)
        self.assert_buttons(view, settings=False, account=False, retry=False, play_faded=True)
        self.assert_track_empty(view)
        self.assertLess(view.closest((24, 482, 200, 496), rgb(0xFF96D2E6)), 40, "detail line (the server)")
        self.assertLess(distance(view.pixel(200, 200), ws.Art.background(200, 200)), 12, "no notes panel yet")

    def test_checking_keeps_play_faded_and_offers_settings_and_account(self):
        game = self.game_folder()
        text = ws.big_sparse_manifest(game, size=32 << 30, small=("a.dat", b"abc" * 1000))
        server = ContentServer({}, text)
        self.addCleanup(server.stop)
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, CHECKING)
        view = self.look("checking")
        self.assertEqual(game.statuses()[-1][0], CHECKING, "still checking when the picture was taken")
        self.assert_frame(view)
        self.assert_headline(view, ws.GOLD)
        self.assert_buttons(view, settings=True, account=True, retry=False, play_faded=True)

    def test_updating_fills_the_bar_to_the_share_downloaded(self):
        files = {"a.dat": os.urandom(200000), "b.dat": os.urandom(200000)}
        server = self.serve(files, version=3)
        # a.dat arrives whole; b.dat stalls after its first bytes, so the bar stands at 0.5.
        server.rule("/files/b.dat", delay_per_chunk=30)
        game = self.game_folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, UPDATING)
        self.assertTrue(wait_until(lambda: "/files/b.dat" in server.paths_requested(), 30))
        view = self.look("updating", settle=0.6)
        self.assert_frame(view)
        self.assert_headline(view, ws.GOLD)
        # The RETRY place offers PAUSE while the pass downloads.
        self.assert_buttons(view, settings=True, account=True, retry=True, play_faded=True)
        self.assertAlmostEqual(ws.progress_fill_end(view), 25 + 375, delta=1)
        # The gradient runs from light at the top to deep blue at the bottom.
        top, bottom = view.pixel(200, 504), view.pixel(200, 513)
        self.assertLess(distance(top, rgb(ws.FILL_TOP)), 30)
        self.assertLess(distance(bottom, rgb(ws.FILL_BOTTOM)), 40)
        self.assertLess(distance(view.pixel(600, 509), rgb(ws.TRACK)), 4)

    def test_ready_shows_every_button_a_full_bar_and_a_scrolling_notes_panel(self):
        server = self.serve(release(), version=12, name="Winter Gate", notes=NOTES)
        game = self.game_folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY)
        view = self.look("ready")
        self.assert_frame(view)
        self.assert_headline(view, ws.GOLD)
        self.assert_buttons(view, settings=True, account=True, retry=False, play_faded=False)
        self.assertGreater(ws.progress_fill_end(view), 773)
        # The panel reaches its largest size (bottom 420) and has a scroll thumb at the top.
        self.assertLess(distance(view.pixel(200, 419), ws.Art.background(200, 419)), 200)
        self.assertLess(distance(view.pixel(395, 70), over(ws.THUMB, (0, 0, 0))), 30, "thumb at the top")
        self.assertLess(distance(view.pixel(395, 405), over(0x8C283C50, over(ws.PANEL, (0, 0, 0)))), 30,
                        "track below the thumb")
        self.assertLess(view.closest((36, 34, 200, 56), rgb(ws.GOLD)), 30, "heading in the accent colour")
        self.assertLess(distance(view.pixel(200, 440), over(ws.PANEL_LINE, ws.under_panel(200, 441))), 8)
        outline = over(ws.PANEL_LINE, ws.Art.background(24, 300))
        self.assertLess(view.closest((23, 300, 26, 302), outline), 40, "panel outline")

    def test_update_failed_is_drawn_in_the_error_colour_with_retry(self):
        files = release()
        server = self.serve(files, version=5)
        server.rule("/files/data/map.dat", status=404)
        game = self.game_folder()
        self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, UPDATE_FAILED)
        view = self.look("update-failed")
        self.assert_frame(view)
        self.assert_headline(view, ws.ERROR)
        self.assert_buttons(view, settings=True, account=False, retry=True, play_faded=True)
        self.assert_track_empty(view)

    def test_offline_is_drawn_in_the_error_colour_with_play_and_retry(self):
        server = ContentServer({}, None)
        address = server.address
        server.stop()
        game = self.game_folder()
        self.start_launcher(game, server=address)
        self.wait_for_phase(game, OFFLINE)
        view = self.look("offline")
        self.assert_frame(view)
        self.assert_headline(view, ws.ERROR)
        self.assert_buttons(view, settings=True, account=False, retry=True, play_faded=False)
        self.assert_track_empty(view)


class InstallModeLookTest(InstallTestCase, WindowTestCase):
    """Outside a game folder, started the way the install tests start it (see test_install)."""

    def test_not_installed_offers_install_and_exit_only(self):
        game = self.folder()
        self.start_without_marker(game, game.windows + "pf")
        self.wait_for_phase(game, NOT_INSTALLED)
        view = self.look("not-installed")
        self.assert_frame(view)
        self.assert_headline(view, ws.GOLD)
        self.assert_buttons(view, settings=False, account=False, retry=False, play_faded=False)
        self.assert_track_empty(view)

    def test_installing_offers_settings_and_exit_and_a_faded_install(self):
        game = self.folder()
        os.makedirs(game.path("pf"))
        # The elevated step runs icacls from the system folder: a stand-in put there for this
        # test (and loaded instead of Wine's own), which waits until killed, holds the
        # install, and the window, in Installing.
        icacls = os.path.join(self.facts["prefix"], "drive_c", "windows", "system32", "icacls.exe")
        os.replace(icacls, icacls + ".wine")
        self.addCleanup(os.replace, icacls + ".wine", icacls)
        shutil.copy(standin_exe(), icacls)
        overrides = self.facts["env"]["WINEDLLOVERRIDES"] + ";icacls.exe=n"
        self.start_without_marker(game, game.windows + "pf", {"WINEDLLOVERRIDES": overrides})
        self.wait_for_phase(game, NOT_INSTALLED)
        self.launcher_window()
        self.pick_in_picker(game, game.windows + "pf")
        waiting = wait_until(lambda: [p for p in windows_processes_in(game.name) if "icacls" in cmdline(p)], 60)
        self.assertTrue(waiting, "the install step did not reach icacls")
        view = self.look("installing", window_only=True)  # the stand-in icacls shows a window
        self.assertEqual(game.statuses()[-1][:2], (INSTALLING, "Installing Kelmorra Gold..."))
        self.assert_frame(view)
        self.assert_headline(view, ws.GOLD)
        self.assert_buttons(view, settings=True, account=False, retry=False, play_faded=True)
        self.assert_track_empty(view)


def cmdline(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return ""
