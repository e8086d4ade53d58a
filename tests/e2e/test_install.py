"""Install on first use: INSTALL in a launcher outside any game folder opens the folder picker,
the elevated second process sets up the folder (launcher copy, configuration, shortcuts,
registry value) and the installed copy takes over; and the elevated step on its own, with its
exit codes 0, 2 and 3.

Wine gives a process started from Linux its own ProgramW6432, so the launcher is started
through cmd, which sets the variable for it: every test installs below its own folder, never
into the prefix's Program Files. The registry key and the all-users shortcuts are shared by
the prefix and removed after each test."""
import glob
import os
import shutil
import subprocess
import time

from kmtest import env, launcher, screen
from kmtest.case import LauncherTestCase, NOT_INSTALLED, INSTALLING
from kmtest.launcher import Launcher, launcher_exe, wait_until

INSTALL_KEY = "HKLM\\SOFTWARE\\KelmorraGold"
TEMPLATE_B = ("; Kelmorra launcher\r\n"
              "; Content server (address:port) the launcher updates from.\r\n"
              "Server=%s\r\n")
DEFAULT_SERVER = "127.0.0.1:25858"
PLAY = (200 + 625, 75 + 553)  # centre of PLAY / INSTALL on the screen, scale 1.0
PICKER = "Browse for Folder"
SHORTCUTS = ("users/Public/Desktop/Kelmorra Gold.lnk",
             "ProgramData/Microsoft/Windows/Start Menu/Programs/Kelmorra Gold.lnk")


def install_dir_of(picked):
    return picked.rstrip("\\") + "\\KelmorraGold\\"


def wide(text):
    return text.encode("utf-16-le")


def ends_there(data, text):
    """True when the UTF-16 text occurs in data not followed by a backslash (so it is the
    whole string, not the start of a longer path)."""
    needle, start = wide(text), 0
    while True:
        at = data.find(needle, start)
        if at < 0:
            return False
        if data[at + len(needle):at + len(needle) + 2] != wide("\\"):
            return True
        start = at + 1


class InstallTestCase(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.reg("delete", INSTALL_KEY, "/f")
        self.addCleanup(self.reg, "delete", INSTALL_KEY, "/f")
        self.addCleanup(self.remove_shortcuts)

    def reg(self, *args):
        return subprocess.run([env.WINE, "reg"] + list(args) + ["/reg:64"], env=self.facts["env"],
                              capture_output=True, text=True, timeout=60).stdout

    def drive_c(self, relative):
        return os.path.join(self.facts["prefix"], "drive_c", *relative.split("/"))

    def remove_shortcuts(self):
        for shortcut in SHORTCUTS:
            if os.path.exists(self.drive_c(shortcut)):
                os.remove(self.drive_c(shortcut))

    def recorded_install_path(self):
        for line in self.reg("query", INSTALL_KEY, "/v", "InstallPath").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == "InstallPath" and parts[1] == "REG_SZ":
                return parts[2]
        return None

    def elevated_step(self, game, *args):
        """Runs the launcher as the elevated install process would be run; returns its exit code."""
        game.install_launcher()
        process = self.start(game, args=("/install",) + args)
        return self.wait_for_exit(process, timeout=60)

    def start_without_marker(self, game, program_files, extra_env=None):
        """The launcher outside a game folder, with ProgramW6432 set inside Windows."""
        game.install_launcher()
        command = "set ProgramW6432=%s&& %sKMLauncher.exe" % (program_files, game.windows)
        extra = dict(extra_env or {}, KMLAUNCHER_STATUS_TRACE=game.windows + game.STATUS_TRACE)
        process = Launcher(self.facts, "cmd", ["/c", command], cwd=game.linux, extra_env=extra)
        self.addCleanup(process.kill)
        return process

    def open_picker(self):
        """Clicks INSTALL until the picker is up: the button takes clicks once the window's
        status tick has enabled it; while the picker is open the window ignores clicks."""
        def opened():
            if screen.find_windows(self.facts, PICKER):
                return True
            screen.click(self.facts, *PLAY)
            return bool(wait_until(lambda: screen.find_windows(self.facts, PICKER), 3))

        self.assertTrue(wait_until(opened, 30), "no folder picker after INSTALL")

    def pick_in_picker(self, game, folder):
        """INSTALL, then the folder picked with the keyboard the way a player would, from the
        top of the picker's tree: My Computer, C:, then each folder of the path.

        The picker is meant to open with its start folder selected, but under Wine that
        selection fails now and then (its walk down the tree stops at a folder it does not
        recognise), and Return would then accept the Desktop. Typing the names works every
        time. The pauses let the tree's type-ahead, which joins letters arriving within
        about half a second, start afresh for the next name."""
        self.open_picker()
        picker = screen.find_windows(self.facts, PICKER)[0]
        self.keep(picker, "install-picker")
        # Keys typed while the picker still walks to its start folder would be lost, and a
        # click in the tree makes sure they go to it rather than to a button.
        self.assertTrue(screen.wait_until_still(self.facts, picker), "the folder picker never settled")
        screen.xdotool(self.facts, "windowfocus", "--sync", picker)
        x, y, width, height = screen.window_geometry(self.facts, picker)
        screen.click(self.facts, x + width // 2, y + height // 2)
        names = ["My Computer", " (C:)"] + folder[len("C:\\"):].rstrip("\\").split("\\")
        screen.xdotool(self.facts, "key", "Home")
        for name in names:
            screen.type_text(self.facts, name)
            screen.xdotool(self.facts, "key", "KP_Add")  # expand, without moving
            time.sleep(1)
        screen.xdotool(self.facts, "key", "Return")
        installing = wait_until(lambda: [s for s in game.statuses() if s[0] == INSTALLING], 60)
        self.assertTrue(installing, "the picker did not hand over a folder")
        self.addCleanup(self.remove_stray_install, installing[0][2])
        self.assertEqual(installing[0][1:], ("Installing...", install_dir_of(folder)))

    def keep(self, window, name):
        screen.screenshot(self.facts, window).save(os.path.join(self.facts["artifacts"], name + ".png"))

    def remove_stray_install(self, installed):
        """An install that went anywhere but the test's folder is undone."""
        if "\\kmtests\\" in installed:
            return
        launcher.kill_processes_in(installed.rstrip("\\"))
        linux = self.drive_c(installed[3:].replace("\\", "/").rstrip("/"))
        if os.path.basename(linux) == "KelmorraGold" and os.path.isdir(os.path.realpath(linux)):
            shutil.rmtree(os.path.realpath(linux), ignore_errors=True)

    def assert_shortcuts_point_at(self, exe, folder):
        for shortcut in SHORTCUTS:
            with open(self.drive_c(shortcut), "rb") as f:
                data = f.read()
            # The target as the link's local path; the link's strings are stored in UTF-16.
            self.assertIn(exe.encode() + b"\0", data, shortcut)
            self.assertIn(wide("Kelmorra Gold"), data, shortcut)
            self.assertTrue(ends_there(data, folder), shortcut)  # the working folder, without backslash
            self.assertIn(wide(exe), data, shortcut)  # the icon


class InstallFromPickerTest(InstallTestCase):
    def test_picked_folder_is_installed_and_the_installed_copy_takes_over(self):
        game = self.folder()
        os.makedirs(game.path("pf"))
        program_files = game.windows + "pf"
        target = program_files + "\\KelmorraGold\\"
        process = self.start_without_marker(game, program_files)
        _, headline, detail = self.wait_for_phase(game, NOT_INSTALLED)
        self.assertEqual(detail, "Press INSTALL to choose a folder (default %s) and download the game files." % target)
        self.launcher_window()
        self.pick_in_picker(game, program_files)

        # The old window closes once the installed copy has been started.
        self.assertEqual(self.wait_for_exit(process, timeout=60), 0)
        installing = [s for s in game.statuses() if s[0] == INSTALLING]
        self.assertEqual(installing[1][1:], ("Installing Kelmorra Gold...",
                                             "Windows may ask for permission to install into " + target))

        installed = "pf/KelmorraGold/"
        with open(launcher_exe(), "rb") as f:
            self.assertEqual(game.read(installed + "KMLauncher.exe"), f.read())
        self.assertEqual(game.read(installed + "KMLauncher.cfg").decode(), TEMPLATE_B % DEFAULT_SERVER)
        self.assertEqual(self.recorded_install_path(), target)
        self.assert_shortcuts_point_at(target + "KMLauncher.exe", target[:-1])

        # The installed copy starts from its own folder and runs its update pass.
        log = installed + "KMLauncher.log"
        self.wait_for_log(game, "Checking for updates at " + DEFAULT_SERVER, name=log)
        lines = game.log_lines(log)
        self.assertEqual(lines[0], "Installing to %s (content server %s)" % (target, DEFAULT_SERVER))
        self.assertEqual(lines[1], "Install step done - the launcher will now download the game")
        self.assertIn("Kelmorra launcher starting in " + target, lines)

    def test_failed_install_shows_its_code_and_install_works_again(self):
        game = self.folder()
        os.makedirs(game.path("pf/KelmorraGold/KMLauncher.exe"))  # the copy cannot go there
        program_files = game.windows + "pf"
        target = program_files + "\\KelmorraGold\\"
        process = self.start_without_marker(game, program_files)
        self.wait_for_phase(game, NOT_INSTALLED)
        self.launcher_window()
        self.pick_in_picker(game, program_files)

        failed = wait_until(lambda: [s for s in game.statuses() if s[1] == "The install did not finish."], 60)
        self.assertTrue(failed, game.statuses())
        self.assertEqual(failed[0], (NOT_INSTALLED, "The install did not finish.",
                                     "Could not set up %s (code 3). Press INSTALL to try again." % target))
        self.assertTrue(any("Install failed (code 3)" in line for line in self.install_log_lines()))
        self.assertTrue(game.log_lines("pf/KelmorraGold/KMLauncher.log")[-1].startswith(
            "Cannot copy the launcher into %s (error " % target))
        self.assertTrue(process.running())
        self.shot("install-failed")

        # INSTALL works again: the picker opens; cancelling it changes nothing.
        self.open_picker()

        def closed():
            windows = screen.find_windows(self.facts, PICKER)
            if windows:
                screen.key(self.facts, windows[0], "Escape")
            return not windows

        self.assertTrue(wait_until(closed, 60, interval=2), "the picker did not close on Escape")
        self.assertEqual(game.statuses()[-1][1], "The install did not finish.")

    def install_log_lines(self):
        pattern = os.path.join(self.facts["prefix"], "drive_c", "users", "*", "*Temp", "KMLauncher-install.log")
        lines = []
        for path in glob.glob(pattern) + glob.glob(pattern.replace("*Temp", "AppData/Local/Temp")):
            with open(path, "rb") as f:
                lines += f.read().decode("latin-1").splitlines()
        return lines


class ElevatedStepTest(InstallTestCase):
    def test_server_and_quoted_folder_give_every_artefact_and_exit_code_0(self):
        game = self.folder()
        target = game.windows + "My Games\\KelmorraGold\\"  # quoted: it holds a blank
        game.write("My Games/KelmorraGold/KMLauncher.exe", "an older launcher")
        game.write("My Games/KelmorraGold/KMLauncher.cfg", "Server=old:1\r\n")
        self.assertEqual(self.elevated_step(game, "10.1.2.3:4567", target[:-1]), 0)
        installed = "My Games/KelmorraGold/"
        with open(launcher_exe(), "rb") as f:
            self.assertEqual(game.read(installed + "KMLauncher.exe"), f.read())
        self.assertEqual(game.read(installed + "KMLauncher.cfg").decode(), TEMPLATE_B % "10.1.2.3:4567")
        self.assertEqual(game.log_lines(installed + "KMLauncher.log"),
                         ["Installing to %s (content server 10.1.2.3:4567)" % target,
                          "Install step done - the launcher will now download the game"])
        self.assertEqual(self.recorded_install_path(), target)
        self.assert_shortcuts_point_at(target + "KMLauncher.exe", target[:-1])

    def test_switch_alone_uses_the_default_server_and_the_recorded_folder(self):
        game = self.folder()
        target = game.windows + "Recorded\\KelmorraGold\\"
        self.reg("add", INSTALL_KEY, "/v", "InstallPath", "/t", "REG_SZ", "/d", target[:-1], "/f")
        self.assertEqual(self.elevated_step(game), 0)
        self.assertEqual(game.read("Recorded/KelmorraGold/KMLauncher.cfg").decode(), TEMPLATE_B % DEFAULT_SERVER)
        self.assertEqual(self.recorded_install_path(), target)  # written back with its backslash

    def test_folder_that_cannot_be_created_exits_2_without_a_trace(self):
        game = self.folder()
        game.write("blocker", "a file where a folder should go")
        self.assertEqual(self.elevated_step(game, "10.1.2.3:4567", game.windows + "blocker\\KelmorraGold"), 2)
        self.assertIsNone(self.recorded_install_path())
        self.assertEqual(sorted(os.listdir(game.linux)), ["KMLauncher.exe", "blocker"])

    def test_copy_that_fails_exits_3_with_its_log_line_and_nothing_after_it(self):
        game = self.folder()
        target = game.windows + "Games\\KelmorraGold\\"
        os.makedirs(game.path("Games/KelmorraGold/KMLauncher.exe"))
        self.assertEqual(self.elevated_step(game, "10.1.2.3:4567", target[:-1]), 3)
        lines = game.log_lines("Games/KelmorraGold/KMLauncher.log")
        self.assertEqual(len(lines), 2, lines)
        self.assertRegex(lines[1], r"^Cannot copy the launcher into %s \(error \d+\)$" % target.replace("\\", "\\\\"))
        self.assertFalse(game.exists("Games/KelmorraGold/KMLauncher.cfg"))
        self.assertIsNone(self.recorded_install_path())

    def test_foreign_folders_exit_2_untouched_and_a_planted_icacls_never_runs(self):
        game = self.folder()
        game.write("victim/keep.txt", "mine")
        # The step is started from wherever the player saved the launcher: an icacls.exe
        # there (a stand-in that would write its report and wait) must not run elevated.
        shutil.copy(launcher.standin_exe(), game.path("icacls.exe"))
        for folder in (game.windows + "victim", game.windows + "victim\\..\\victim",
                       game.windows + "victim\\..\\KelmorraGold", "\\\\127.0.0.1\\share\\KelmorraGold"):
            self.assertEqual(self.elevated_step(game, "127.0.0.1:9", folder), 2, folder)
        self.assertEqual(os.listdir(game.path("victim")), ["keep.txt"])
        self.assertEqual(sorted(os.listdir(game.linux)), ["KMLauncher.exe", "icacls.exe", "victim"])
        self.assertIsNone(self.recorded_install_path())
        self.assertFalse([s for s in SHORTCUTS if os.path.exists(self.drive_c(s))])

        self.assertEqual(self.elevated_step(game, "127.0.0.1:9", game.windows + "Games\\KelmorraGold"), 0)
        self.assertTrue(game.exists("Games/KelmorraGold/KMLauncher.exe"))
        self.assertFalse([os.path.join(d, n) for d, _, names in os.walk(game.linux) for n in names
                          if n == "Kelmorra-report.txt"])

    def test_folders_reached_through_a_link_exit_2_and_its_target_is_untouched(self):
        """A KelmorraGold planted as a link to another folder, or a link above it. Wine cannot
        make junctions; it shows a symbolic link made on the Linux side as a reparse point."""
        game = self.folder()
        game.write("victim/keep.txt", "mine")
        os.symlink(game.path("victim"), game.path("KelmorraGold"))
        os.makedirs(game.path("deep"))
        os.symlink(game.path("victim"), game.path("deep/link"))
        for folder in (game.windows + "KelmorraGold", game.windows + "deep\\link\\KelmorraGold",
                       game.windows + "deep\\link\\sub\\KelmorraGold"):
            self.assertEqual(self.elevated_step(game, "127.0.0.1:9", folder), 2, folder)
        self.assertEqual(os.listdir(game.path("victim")), ["keep.txt"])
        self.assertIsNone(self.recorded_install_path())
        self.assertFalse([s for s in SHORTCUTS if os.path.exists(self.drive_c(s))])

        # A KelmorraGold made beforehand as a real folder is installed into.
        os.makedirs(game.path("deep/KelmorraGold"))
        self.assertEqual(self.elevated_step(game, "127.0.0.1:9", game.windows + "deep\\KelmorraGold"), 0)
        self.assertTrue(game.exists("deep/KelmorraGold/KMLauncher.exe"))

