"""The base class of the end-to-end tests: fresh game folders, started programs that are
always cleaned up, waits with deadlines, and screenshots kept under the run's artifacts."""
import os
import unittest

from kmtest import env, launcher, screen
from kmtest.launcher import wait_until


class LauncherTestCase(unittest.TestCase):
    facts = None

    @classmethod
    def setUpClass(cls):
        cls.facts = env.load()

    def folder(self, name=None):
        """A fresh game folder; the processes started from it are ended after the test."""
        game = launcher.GameFolder(self.facts, name or self._testMethodName)
        self.addCleanup(launcher.kill_processes_in, game.name)
        return game

    def start(self, game, exe="KMLauncher.exe", args=()):
        process = launcher.Launcher(self.facts, game.path(exe), args)
        self.addCleanup(process.kill)
        return process

    def start_launcher(self, game, server=None, args=()):
        """Copies the launcher into the folder (with a configuration naming server) and starts it."""
        if not game.exists("KMLauncher.exe"):
            game.install_launcher()
        if server is not None:
            game.write_config(server)
        return self.start(game, "KMLauncher.exe", args)

    def wait_for_log(self, game, text, timeout=30, name="KMLauncher.log"):
        """Waits until a log line contains text; fails with the log so far when it does not come."""
        found = wait_until(lambda: any(text in line for line in game.log_lines(name)), timeout)
        if not found:
            self.fail("no log line with %r within %ds; log:\n%s" % (text, timeout, "\n".join(game.log_lines(name))))

    def wait_for_exit(self, process, timeout=30):
        code = process.wait(timeout)
        if code is None:
            self.fail("process %d still running after %ds" % (process.pid, timeout))
        return code

    def launcher_window(self, timeout=30):
        windows = wait_until(lambda: screen.find_windows(self.facts, "Kelmorra"), timeout)
        if not windows:
            self.fail("no launcher window within %ds" % timeout)
        return windows[0]

    def shot(self, name):
        """A screenshot, also saved as artifacts/<name>.png for a person to open."""
        picture = screen.screenshot(self.facts)
        picture.save(os.path.join(self.facts["artifacts"], name + ".png"))
        return picture
