#!/usr/bin/python3
"""A fresh install of a release shaped like game content on a player's line: the real
KMLauncher.exe under Wine against aria2c fetching the same raw files 8 at a time, side by
side in one run. Run by hand (not part of CTest):

    bench/game_install_vs_aria2.py [--runs 3] [--scale 1.0] [--seed 29] [--rtt-ms 50]
                                   [--conn-mibs 4] [--line-mibs 16] [--old-exe PATH]
                                   [--no-packed] [--timeline]

The release (about 200 MB at --scale 1, the same bytes for the same --seed): three archives
of tens of MiB (meshes, block-compressed textures, audio), mid-size files of 1 to 16 MiB of
every kind (scripts and text among them) and 200 configuration files of a few KiB. Their
deflate ratios (zlib level 6, each 64 KiB block on its own) are printed per kind. It is
published with `kmcontent publish` as it writes by default (--no-packed passes that switch
where publish knows it), served by nginx behind bench/latency_proxy.py: --rtt-ms round trip,
each connection held to --conn-mibs MiB/s, all together to --line-mibs MiB/s, a fresh line
for every download.

Each run, in an order that turns from run to run so that load drifts land on every side:
  launcher  an empty game folder, from nginx answering /manifest to the status "Up to date"
            (with --old-exe, that launcher too, in a folder of its own);
  aria2c    `aria2c -j8 -x1 -s1` over the raw files/ URLs, its whole run.
Bytes on the wire: what the line passed towards the client. Printed: the raw samples and
min / median / max of the times, of aria2c's time / the launcher's and of the launcher's bytes
/ the release's, and the launchers' peak resident memory. --timeline prints, for the last run of each, the MB the line passed each
second and how many connections carried them. Needs nginx, aria2c, Xvfb and wine64.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from benchsupport import MIB, MemorySampler, children, start_nginx, stop  # noqa: E402
from kmtest import env, launcher  # noqa: E402

TIMEOUT = 900
BLOCK = 65536
SEGMENT = 512
MIBS_TO_MBPS = 1048576 * 8 / 1e6

# Share of each 64 KiB block that is random; the rest repeats bytes already in the block.
# Chosen so that zlib level 6 lands near the ratios the kinds have in a real game.
KINDS = {"text": 0.447, "mesh": 0.885, "texture": 0.655, "audio": 1.0}
TARGETS = {"text": 0.48, "mesh": 0.90, "texture": 0.69, "audio": 1.00}


def block_of(rng, kind):
    """One 64 KiB block of the kind: random segments, the others copies of earlier ones."""
    share = KINDS[kind]
    if share >= 1.0:
        return rng.randbytes(BLOCK)
    segments = [rng.randbytes(SEGMENT)]
    for _ in range(BLOCK // SEGMENT - 1):
        segments.append(rng.randbytes(SEGMENT) if rng.random() < share else rng.choice(segments))
    return b"".join(segments)


def file_bytes(rng, kind, size):
    blocks = [block_of(rng, kind) for _ in range((size + BLOCK - 1) // BLOCK)]
    return b"".join(blocks)[:size]


def layout(rng, scale):
    """{path: (kind, size)}: the archives, the mid-size files and the configuration files."""
    files = {"data/world.pak": ("mesh", 40 * MIB), "data/textures.pak": ("texture", 36 * MIB),
             "data/sound.pak": ("audio", 32 * MIB)}
    mid_kinds = ["text", "mesh", "texture", "audio"]
    folders = {"text": "scripts", "mesh": "models", "texture": "textures", "audio": "music"}
    for index in range(16):
        kind = mid_kinds[index % 4]
        size = int(MIB * 2 ** rng.uniform(0, 4))  # 1 to 16 MiB, most of them small
        files["%s/%s%02d.dat" % (folders[kind], kind, index)] = (kind, size)
    for index in range(200):
        files["config/section%02d/setting%03d.cfg" % (index // 20, index)] = ("text", rng.randint(1024, 8192))
    return {path: (kind, max(1, int(size * scale)) if size > 8192 else size) for path, (kind, size) in files.items()}


def make_build(folder, seed, scale):
    """Writes the game build; returns {path: (kind, size)} and prints the deflate ratios."""
    rng = random.Random(seed)
    files = layout(rng, scale)
    raw = {kind: 0 for kind in KINDS}
    packed = {kind: 0 for kind in KINDS}
    for path, (kind, size) in sorted(files.items()):
        data = file_bytes(rng, kind, size)
        target = os.path.join(folder, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        for offset in range(0, len(data), BLOCK):
            block = data[offset:offset + BLOCK]
            raw[kind] += len(block)
            packed[kind] += min(len(block), len(zlib.compress(block, 6)))
    total = sum(size for _, size in files.values())
    print("release: %d files, %.1f MB (%d of 1 to 16 MiB, %d of at least 32 MiB)"
          % (len(files), total / 1e6, sum(1 for _, s in files.values() if MIB <= s <= 16 * MIB),
             sum(1 for _, s in files.values() if s >= 32 * MIB)))
    for kind in KINDS:
        print("  %-8s %7.1f MB, deflate 6 per 64 KiB block: %.3f (aimed at %.2f)"
              % (kind, raw[kind] / 1e6, packed[kind] / raw[kind], TARGETS[kind]))
    print("  all      %7.1f MB, deflate 6 per 64 KiB block: %.3f" % (total / 1e6, sum(packed.values()) / total),
          flush=True)
    return files


def publish(kmcontent, build, release, no_packed):
    command = [kmcontent, "publish", "--build", build, "--out", release, "--version", "1"]
    usage = subprocess.run([kmcontent, "publish", "--help"], capture_output=True, text=True).stdout
    if no_packed and "--no-packed" in usage:
        command.append("--no-packed")
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, timeout=TIMEOUT)
    names = []
    for folder, _, found in os.walk(os.path.join(release, "files")):
        names += [os.path.relpath(os.path.join(folder, name), release) for name in found]
    print("published: %d objects under files/ (%s)" % (len(names), "--no-packed" if "--no-packed" in command
                                                          else "publish's default"), flush=True)


class Line:
    """bench/latency_proxy.py in front of nginx; counts the bytes it passes to the client."""

    def __init__(self, args, to, folder):
        self.samples = tempfile.mktemp(prefix="line-", dir=folder)
        command = [sys.executable, os.path.join(ROOT, "bench", "latency_proxy.py"), "--to", str(to),
                   "--delay-ms", str(args.rtt_ms / 2), "--rate-mbps", str(args.conn_mibs * MIBS_TO_MBPS),
                   "--line-mbps", str(args.line_mibs * MIBS_TO_MBPS), "--samples", self.samples]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())

    def close(self):
        """Stops the proxy; (seconds, bytes, connections) of every 0.1 s it passed bytes
        towards the client."""
        stop(self.process)
        with open(self.samples) as f:
            rows = [(float(fields[0]), int(fields[1]), int(fields[2])) for fields in (line.split() for line in f)
                    if fields]
        os.remove(self.samples)
        return rows


class Nginx:
    def __init__(self, release, folder):
        self.process, self.port = start_nginx(release, folder)
        self.log = os.path.join(folder, "nginx", "access.log")

    def manifest_time(self, since):
        """When nginx last answered /manifest after since (its clock is time.time())."""
        with open(self.log) as f:
            rows = [line.split() for line in f]
        return max(float(r[0]) for r in rows if len(r) >= 5 and r[4] == "/manifest" and float(r[0]) >= since)


def run_launcher(facts, exe, nginx, line_port):
    """Seconds from /manifest answered to "Up to date" for a fresh install, and the peak
    resident memory in MiB."""
    game = launcher.GameFolder(facts, "gamebench")
    shutil.copy(exe, game.path("KMLauncher.exe"))
    game.write_config("127.0.0.1:%d" % line_port)
    since = time.time()
    os.sync()
    process = launcher.Launcher(facts, game.path("KMLauncher.exe"),
                                extra_env={"KMLAUNCHER_STATUS_TRACE": game.windows + game.STATUS_TRACE})
    sampler = MemorySampler(lambda: [process.pid] + children(process.pid))
    try:
        ended = launcher.wait_until(lambda: [s for s in game.statuses() if s[1].startswith("Up to date") or
                                             "could not" in s[1].lower()], TIMEOUT, 0.01)
        done = time.time()
        peak = sampler.stop() / 1024
        if not ended or not ended[0][1].startswith("Up to date"):
            raise RuntimeError("the launcher did not finish:\n%s" % "\n".join(game.log_lines()[-15:]))
        return done - nginx.manifest_time(since), peak
    finally:
        sampler.running = False
        process.kill()
        launcher.kill_processes_in(game.name)
        shutil.rmtree(game.linux, ignore_errors=True)


def run_aria2(files, line_port, folder):
    target = tempfile.mkdtemp(prefix="aria2-", dir=folder)
    listing = os.path.join(folder, "aria2.txt")
    with open(listing, "w") as f:
        for path in files:
            f.write("http://127.0.0.1:%d/files/%s\n  out=%s\n" % (line_port, path, path))
    os.sync()
    started = time.time()
    subprocess.run(["aria2c", "-q", "-j8", "-x1", "-s1", "--file-allocation=none", "--allow-overwrite=true",
                    "--auto-file-renaming=false", "-d", target, "-i", listing], check=True, timeout=TIMEOUT,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.time() - started
    shutil.rmtree(target, ignore_errors=True)
    return seconds


def timeline(rows):
    """Per second of a download: the MB the line passed and the most connections that carried
    bytes within one 0.1 s of it."""
    if not rows:
        return
    first = rows[0][0]
    seconds = {}
    for when, count, carriers in rows:
        second = seconds.setdefault(int(when - first), [0, 0])
        second[0] += count
        second[1] = max(second[1], carriers)
    print("  second   MB  connections")
    for second in sorted(seconds):
        print("  %6d  %5.1f  %2d" % (second, seconds[second][0] / 1e6, seconds[second][1]))


def summary(values, unit=""):
    return "min %.2f%s  median %.2f%s  max %.2f%s  (samples %s)" % (
        min(values), unit, statistics.median(values), unit, max(values), unit,
        ", ".join("%.2f" % v for v in values))


def measure(args, facts, files, release_bytes, nginx, folder):
    exes = [("launcher", launcher.launcher_exe())] + ([("old launcher", args.old_exe)] if args.old_exe else [])
    sides = [name for name, _ in exes] + ["aria2c"]
    times = {side: [] for side in sides}
    wire = {side: [] for side in sides}
    memory = {side: [] for side in sides if side != "aria2c"}
    last_rows = {}
    for index in range(args.runs):
        order = sides[index % len(sides):] + sides[:index % len(sides)]
        for side in order:
            line = Line(args, nginx.port, folder)
            try:
                if side == "aria2c":
                    seconds = run_aria2(files, line.port, folder)
                else:
                    seconds, peak = run_launcher(facts, dict(exes)[side], nginx, line.port)
                    memory[side].append(peak)
            finally:
                rows = line.close()
            last_rows[side] = rows
            passed = sum(count for _, count, _ in rows)
            times[side].append(seconds)
            wire[side].append(passed / release_bytes)
            print("  run %d %-12s %6.2f s  %6.1f MB on the wire (%.3f of the release)%s"
                  % (index + 1, side, seconds, passed / 1e6, passed / release_bytes,
                     ", peak %.0f MiB" % memory[side][-1] if side in memory else ""), flush=True)
    print("\nsummary (%d runs; release %.1f MB):" % (args.runs, release_bytes / 1e6))
    for side in sides:
        print("  %-12s time  %s" % (side, summary(times[side], " s")))
        print("  %-12s bytes / release  %s" % (side, summary(wire[side])))
        if side in memory:
            print("  %-12s peak memory  %s" % (side, summary(memory[side], " MiB")))
    for name, _ in exes:
        ratios = [a / o for a, o in zip(times["aria2c"], times[name])]
        print("  aria2c time / %s time (speed %s / aria2c; goal >= 1.2): %s" % (name, name, summary(ratios)))
    if args.timeline:
        for side in sides:
            print("\ntimeline of the last %s run (the line's count):" % side)
            timeline(last_rows[side])
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--scale", type=float, default=1.0, help="sizes of the big and mid-size files times this")
    parser.add_argument("--seed", type=int, default=29)
    parser.add_argument("--rtt-ms", type=float, default=50.0)
    parser.add_argument("--conn-mibs", type=float, default=4.0)
    parser.add_argument("--line-mibs", type=float, default=16.0)
    parser.add_argument("--old-exe", help="another KMLauncher.exe measured beside the one built")
    parser.add_argument("--no-packed", action="store_true", help="publish raw files only, where publish can")
    parser.add_argument("--timeline", action="store_true")
    parser.add_argument("--win-build", default=os.path.join(ROOT, "build", "win"))
    parser.add_argument("--kmcontent", default=os.path.join(ROOT, "build", "native", "kmcontent"))
    args = parser.parse_args()
    os.environ["KM_WIN_BUILD"] = args.win_build
    folder = tempfile.mkdtemp(prefix="kmlauncher-gamebench-")
    os.environ["KM_WINE_ENV"] = os.path.join(folder, "wine-env")
    nginx = None
    try:
        files = make_build(os.path.join(folder, "build"), args.seed, args.scale)
        release = os.path.join(folder, "release")
        publish(args.kmcontent, os.path.join(folder, "build"), release, args.no_packed)
        env.setup()
        facts = env.load()
        nginx = Nginx(release, folder)
        measure(args, facts, sorted(files), sum(size for _, size in files.values()), nginx, folder)
    finally:
        if nginx:
            stop(nginx.process)
        env.cleanup()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
