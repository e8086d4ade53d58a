"""The base class of the end-to-end tests: fresh game folders, started programs that are
always cleaned up, waits with deadlines, and screenshots kept under the run's artifacts."""
import os
import unittest

from kmtest import env, launcher, screen
from kmtest.launcher import wait_until


# The launcher's phases.
CONNECTING, CHECKING, UPDATING, READY, UPDATE_FAILED, OFFLINE, NOT_INSTALLED, INSTALLING = range(8)


class LauncherTestCase(unittest.TestCase):
    facts = None

    @classmethod
    def setUpClass(cls):
        cls.facts = env.load()

    def setUp(self):
        launcher.end_stray_launchers(self.facts["prefix"])

    def folder(self, name=None):
        """A fresh game folder; the processes started from it are ended after the test."""
        game = launcher.GameFolder(self.facts, name or self._testMethodName)
        self.addCleanup(launcher.kill_processes_in, game.name)
        return game

    def start(self, game, exe="KMLauncher.exe", args=(), extra_env=None):
        """Starts a program of the folder; the launcher traces its status publications there."""
        trace = {"KMLAUNCHER_STATUS_TRACE": game.windows + game.STATUS_TRACE}
        process = launcher.Launcher(self.facts, game.path(exe), args, extra_env=dict(trace, **(extra_env or {})))
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

    def wait_for_phase(self, game, phase, timeout=60, after=0):
        """Waits for a full publication of the phase (among those after the first `after`);
        returns its (phase, headline, detail)."""
        found = wait_until(lambda: [s for s in game.statuses()[after:] if s[0] == phase], timeout)
        if not found:
            self.fail("phase %d not published within %ds; statuses: %s; log:\n%s"
                      % (phase, timeout, game.statuses(), "\n".join(game.log_lines())))
        return found[-1]

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
