"""Start-up and shutdown of the real launcher: log, configuration file, single instance,
install mode and hand-over, removal of a moved-aside launcher."""
import glob
import os
import subprocess

from kmtest import env, screen
from kmtest.case import LauncherTestCase
from kmtest.launcher import wait_until

HYPHENS = "-" * 64
TEMPLATE_A = ("; Kelmorra launcher\r\n"
              "; Content server (address:port) the launcher updates from.\r\n"
              "; On the server PC itself use Server=127.0.0.1:25858\r\n"
              "Server=%s\r\n")
INSTALL_KEY = "HKLM\\SOFTWARE\\KelmorraGold"


class StartupTest(LauncherTestCase):
    def game_folder(self):
        game = self.folder()
        game.write("VERSIONINF.VER", "1")  # a marker file: this is a game folder
        return game

    def close_with_escape(self, process):
        window = self.launcher_window()
        screen.key(self.facts, window, "Escape")
        return self.wait_for_exit(process)

    def test_first_start_logs_writes_template_and_escape_closes(self):
        game = self.game_folder()
        process = self.start_launcher(game)
        self.wait_for_log(game, "Checking for updates at 127.0.0.1:25858")
        lines = game.log_lines()
        self.assertEqual(lines[0], HYPHENS)
        self.assertEqual(lines[1], "Kelmorra launcher starting in %s" % game.windows)
        self.assertEqual(game.read("KMLauncher.cfg").decode(), TEMPLATE_A % "127.0.0.1:25858")
        self.assertEqual(self.close_with_escape(process), 0)
        self.assertEqual(game.log_lines()[-1], "Launcher closed")

    def test_tunnelled_server_is_replaced_by_the_default_and_other_settings_stay(self):
        game = self.game_folder()
        game.install_launcher()
        game.write("KMLauncher.cfg", "Server=abc.NGROK-free.app:443\r\nMaxDownloadKBps=300\r\nChannel=beta\r\n")
        process = self.start(game)
        self.wait_for_log(game, "Checking for updates at 127.0.0.1:25858")
        self.assertEqual(game.read("KMLauncher.cfg").decode(),
                         TEMPLATE_A % "127.0.0.1:25858" + "MaxDownloadKBps=300\r\nChannel=beta\r\n")
        self.assertIn("Downloads limited to 300 KB/s", game.log_lines())
        self.close_with_escape(process)

    def test_log_of_one_mebibyte_is_appended_and_one_byte_more_is_emptied(self):
        for size, kept in ((1048576, True), (1048577, False)):
            game = self.game_folder()
            game.write("KMLauncher.log", "x" * (size - 2) + "\r\n")
            process = self.start_launcher(game)
            self.wait_for_log(game, "Kelmorra launcher starting in")
            self.close_with_escape(process)
            content = game.read("KMLauncher.log")
            self.assertEqual(content.startswith(b"xxxx"), kept, "log of %d bytes" % size)
            self.assertEqual(len(content) > size, kept)

    def test_second_launcher_exits_and_leaves_the_first_running(self):
        game = self.game_folder()
        first = self.start_launcher(game)
        self.wait_for_log(game, "Checking for updates at")
        second = self.start(game)
        self.assertEqual(self.wait_for_exit(second, timeout=30), 0)
        self.assertTrue(first.running())
        self.assertEqual(sum("Kelmorra launcher starting in" in l for l in game.log_lines()), 1)
        self.close_with_escape(first)

    def test_old_launcher_is_removed_at_start(self):
        game = self.game_folder()
        game.write("KMLauncher.old", "previous launcher")
        process = self.start_launcher(game)
        self.wait_for_log(game, "Kelmorra launcher starting in")
        self.assertFalse(game.exists("KMLauncher.old"))
        self.close_with_escape(process)


class PlacementTest(LauncherTestCase):
    """Wine gives every process its own ProgramW6432, so without a recorded install the
    launcher looks for C:\\Program Files\\KelmorraGold\\, which no test installs into."""

    def setUp(self):
        super().setUp()
        self.reg("delete", INSTALL_KEY, "/f")
        self.addCleanup(self.reg, "delete", INSTALL_KEY, "/f")
        default = os.path.join(self.facts["prefix"], "drive_c", "Program Files", "KelmorraGold", "KMLauncher.exe")
        self.assertFalse(os.path.exists(default), "a test installed into the default folder")

    def reg(self, *args):
        subprocess.run([env.WINE, "reg"] + list(args) + ["/reg:64"], env=self.facts["env"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def start_without_marker(self, game):
        game.install_launcher()
        return self.start(game)

    def install_logs(self):
        pattern = os.path.join(self.facts["prefix"], "drive_c", "users", "*", "Temp", "KMLauncher-install.log")
        return glob.glob(pattern) + glob.glob(pattern.replace("Temp", "AppData/Local/Temp"))

    def test_outside_a_game_folder_logs_to_temp_and_creates_no_configuration(self):
        game = self.folder()
        process = self.start_without_marker(game)

        def logged():
            for path in self.install_logs():
                with open(path, "rb") as f:
                    if ("starting in %s" % game.windows).encode() in f.read():
                        return True
            return False

        self.assertTrue(wait_until(logged, 30), "no line in KMLauncher-install.log")
        self.assertFalse(game.exists("KMLauncher.cfg"))
        self.assertFalse(game.exists("KMLauncher.log"))
        self.assertTrue(process.running())

    def test_installed_copy_recorded_in_the_registry_is_started(self):
        installed = self.folder("installed")
        installed.install_launcher()
        installed.write("VERSIONINF.VER", "1")
        self.reg("add", INSTALL_KEY, "/v", "InstallPath", "/t", "REG_SZ", "/d", installed.windows.rstrip("\\"), "/f")
        game = self.folder()
        process = self.start_without_marker(game)
        self.assertEqual(self.wait_for_exit(process), 0)
        self.wait_for_log(installed, "Kelmorra launcher starting in %s" % installed.windows)
        self.assertFalse(game.exists("KMLauncher.log"))
