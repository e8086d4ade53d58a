#!/usr/bin/env python3
"""What the launcher's window costs while the player does nothing, and while it downloads.

For each screen size (default 1200x750 and 2000x1500: scale 1.0 and 2.0) it sets up a Wine
prefix on an Xvfb display of that size, serves a release with 60 lines of release notes,
waits for Ready and measures the CPU time of the launcher process (and of the wineserver and
Xvfb it keeps busy) over a window of seconds, as a share of one core. Then it serves a slow
download and measures the same while the bar moves, with the UI thread's share on its own.

    cd build/native && python3 ../../bench/idle_cpu.py [--seconds 10]
      [--screens 1200x750,2000x1500] [--accounts]  (also with the account window open)

The prefixes are made under the current folder (bench-wine-<screen>); the launcher comes from
build/win unless KM_WIN_BUILD names another build. The UI thread is the process's first.

Run by hand (it takes a minute per screen); not part of any test run.
"""
import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
os.environ.setdefault("KM_WIN_BUILD", os.path.join(HERE, "..", "build", "win"))

from kmtest import env, screen  # noqa: E402
from kmtest.launcher import GameFolder, Launcher, kill_processes_in, wait_until, windows_processes_in  # noqa: E402
from kmtest.server import ContentServer, Rule, manifest_text  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
NOTES = ["Version %d" % (12 - i // 10) if i % 10 == 0 else
         "- A change of this release, long enough to wrap onto a second line of the panel" for i in range(60)]
READY, UPDATING = 3, 2


def cpu_ticks(pid, tid=None):
    path = "/proc/%d/task/%d/stat" % (pid, tid) if tid else "/proc/%d/stat" % pid
    try:
        with open(path) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0
    return int(fields[11]) + int(fields[12])  # utime + stime


def wineservers(prefix):
    """The wineserver of this prefix only (other Wine users may share the machine)."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    named = b"wineserver" in f.read()
                with open("/proc/%s/environ" % entry, "rb") as f:
                    ours = ("WINEPREFIX=%s\0" % prefix).encode() in f.read() + b"\0"
            except OSError:
                continue
            if named and ours:
                found.append(int(entry))
    return found


def shares(groups, seconds):
    """{label: share of one core in percent} over `seconds` for {label: [(pid, tid or None)]}."""
    before = {label: sum(cpu_ticks(*p) for p in members) for label, members in groups.items()}
    time.sleep(seconds)
    after = {label: sum(cpu_ticks(*p) for p in members) for label, members in groups.items()}
    return {label: 100.0 * (after[label] - before[label]) / TICK / seconds for label in groups}


def report(title, values):
    print("  %-28s " % title + "  ".join("%s %5.1f %%" % (label, value) for label, value in values.items()),
          flush=True)


def statuses(game):
    return [s[0] for s in game.statuses()]


def launch(facts, name, files, phase, slow=False):
    """A launcher in a fresh folder, serving files, once it has published phase: (process, game,
    server)."""
    server = ContentServer(files, manifest_text(files, version=3, name="Winter Gate", notes=NOTES))
    if slow:
        server.rules["/files/Kelmorra.dat"] = Rule(delay_per_chunk=0.05)  # about 1.3 MB/s
    game = GameFolder(facts, name)
    game.install_launcher()
    game.write("VERSIONINF.VER", "1")
    game.write_config(server.address)
    extra = {"KMLAUNCHER_STATUS_TRACE": game.windows + game.STATUS_TRACE}
    process = Launcher(facts, game.path("KMLauncher.exe"), extra_env=extra)
    if not wait_until(lambda: phase in statuses(game), 60):
        raise RuntimeError("launcher never published phase %d" % phase)
    return process, game, server


def stop(process, game, server):
    process.kill()
    kill_processes_in(game.name)
    server.stop()


def groups_for(game, facts):
    pids = windows_processes_in(game.name)
    return {"launcher": [(p, None) for p in pids],
            "ui thread": [(p, p) for p in pids],
            "wineserver": [(p, None) for p in wineservers(facts["prefix"])],
            "Xvfb": [(facts["xvfb_pid"], None)]}


def measure_screen(size, seconds, with_account):
    os.environ["KM_SCREEN"] = "%dx%d" % size
    os.environ["KM_WINE_ENV"] = os.path.abspath("bench-wine-%dx%d" % size)
    env.setup()
    facts = env.load()
    try:
        print("screen %d x %d" % size, flush=True)
        launched = launch(facts, "idle", {"Kelmorra.dat": b"x" * 3000}, READY)
        time.sleep(2)
        report("Ready, notes", shares(groups_for(launched[1], facts), seconds))
        if with_account:
            window = wait_until(lambda: [w for w in screen.find_windows(facts, "Kelmorra")], 10)[0]
            left, top, width, _ = screen.window_geometry(facts, window)
            scale = width / 800.0
            screen.click(facts, left + 353 * scale, top + 553 * scale)
            time.sleep(2)
            report("Ready, account window", shares(groups_for(launched[1], facts), seconds))
        stop(*launched)

        launched = launch(facts, "downloading", {"Kelmorra.dat": os.urandom(16 << 20)}, UPDATING, slow=True)
        time.sleep(1)
        report("downloading", shares(groups_for(launched[1], facts), seconds))
        stop(*launched)
    finally:
        env.cleanup(quiet=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--screens", default="1200x750,2000x1500")
    parser.add_argument("--accounts", action="store_true")
    args = parser.parse_args()
    for text in args.screens.split(","):
        width, height = text.split("x")
        measure_screen((int(width), int(height)), args.seconds, args.accounts)


if __name__ == "__main__":
    main()
