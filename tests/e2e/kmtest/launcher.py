"""Game folders inside the run's Wine prefix and launcher processes started in them.

A test gets a fresh folder (its Windows and Linux paths), copies the launcher (or the stand-in
game client) into it, starts the .exe with a deadline, reads its KMLauncher.log, waits for log
lines, and on cleanup ends every process it started (by pid) and every Windows process still
running from its folder, even when the test failed.
"""
import itertools
import os
import re
import shutil
import signal
import subprocess
import sys
import time

from kmtest import env

_counter = itertools.count(1)
LOG_STAMP = re.compile(r"^\d{4}-\d\d-\d\d \[\d\d:\d\d:\d\d\] ")


def build_file(*parts):
    return os.path.join(os.environ["KM_WIN_BUILD"], *parts)


def launcher_exe():
    return build_file("KMLauncher.exe")


def standin_exe():
    return build_file("tools", "standin", "Kelmorra.exe")


class GameFolder:
    """A fresh folder C:\\kmtests\\<name>-<n>\\ in the prefix; with blank=True its name ends in
    " game files", so that its path has blanks."""

    def __init__(self, facts, name, blank=False):
        self.facts = facts
        self.name = "%s-%d-%d%s" % (name, os.getpid(), next(_counter), " game files" if blank else "")
        self.linux = os.path.join(facts["prefix"], "drive_c", "kmtests", self.name)
        self.windows = "C:\\kmtests\\%s\\" % self.name
        shutil.rmtree(self.linux, ignore_errors=True)
        os.makedirs(self.linux)

    def path(self, relative):
        return os.path.join(self.linux, *relative.replace("\\", "/").split("/"))

    def write(self, relative, content):
        target = self.path(relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(content if isinstance(content, bytes) else content.encode("latin-1"))

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def exists(self, relative):
        return os.path.exists(self.path(relative))

    def install_launcher(self, name="KMLauncher.exe"):
        shutil.copy(launcher_exe(), self.path(name))

    def install_standin(self):
        shutil.copy(standin_exe(), self.path("Kelmorra.exe"))

    def write_config(self, server):
        self.write("KMLauncher.cfg", "; Kelmorra launcher\r\nServer=%s\r\n" % server)

    STATUS_TRACE = "status-trace.log"

    def statuses(self):
        """The full status publications so far: (phase, headline, detail) tuples."""
        if not self.exists(self.STATUS_TRACE):
            return []
        text = self.read(self.STATUS_TRACE).decode("latin-1").replace("\r\n", "\n")
        rows = [line.split("\t") for line in text.split("\n") if line]
        return [(int(r[0]), r[1], r[2] if len(r) > 2 else "") for r in rows]

    def log_lines(self, name="KMLauncher.log"):
        """The log's messages without their time stamps."""
        if not self.exists(name):
            return []
        text = self.read(name).decode("latin-1")
        return [LOG_STAMP.sub("", line) for line in text.replace("\r\n", "\n").split("\n") if line]


class Launcher:
    """One started Windows program; cleaned up by the test that started it."""

    def __init__(self, facts, exe_linux_path, args=(), cwd=None, extra_env=None, stderr_path=None):
        """stderr_path keeps Wine's diagnostics (see WINEDEBUG in extra_env) in a file."""
        self.facts = facts
        environment = dict(facts["env"], **(extra_env or {}))
        stderr = open(stderr_path, "wb") if stderr_path else subprocess.DEVNULL
        self.process = subprocess.Popen(
            [env.WINE, exe_linux_path] + list(args), env=environment, cwd=cwd or os.path.dirname(exe_linux_path),
            stdout=subprocess.DEVNULL, stderr=stderr, start_new_session=True)
        if stderr_path:
            stderr.close()

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout):
        """The exit code, or None when it is still running at the deadline."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.running():
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(timeout=10)


def wait_until(condition, timeout, interval=0.1):
    """Polls condition until it returns a true value or the deadline passes; returns it."""
    deadline = time.time() + timeout
    while True:
        value = condition()
        if value or time.time() > deadline:
            return value
        time.sleep(interval)


def windows_processes_in(folder_name):
    """Pids of the Windows processes whose command line names the folder."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read().decode("latin-1")
        except OSError:
            continue
        if folder_name in cmdline and int(entry) != os.getpid():
            pids.append(int(entry))
    return pids


def kill_processes_in(folder_name):
    for pid in windows_processes_in(folder_name):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def launchers_of_prefix(prefix):
    """Pids of the launcher processes running in this Wine prefix (other fixtures have their own)."""
    pids = []
    for pid in windows_processes_in("KMLauncher"):
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                if ("\0WINEPREFIX=%s\0" % prefix).encode() in b"\0" + f.read():
                    pids.append(pid)
        except OSError:
            continue
    return pids


def end_stray_launchers(prefix):
    """Ends launchers an earlier test left running in the prefix: one would hold the
    single-instance mutex, and the next test's launcher would wait 5 s and quietly exit.
    Names them on stderr, so the test that left them can be found."""
    strays = launchers_of_prefix(prefix)
    if not strays:
        return
    for pid in strays:
        sys.stderr.write("ending a launcher left running: %d %s\n" % (pid, cmdline_of(pid)))
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    wait_until(lambda: not launchers_of_prefix(prefix), 10)


def cmdline_of(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("latin-1")
    except OSError:
        return ""
