#!/usr/bin/python3
"""Downloads and the check pass of the real KMLauncher.exe under Wine, measured in one run
beside curl against the same nginx on loopback. Run by hand (not part of CTest):

    bench/download_vs_curl.py [--runs 3] [--small-count 5000] [--small-kib 2] [--big-mb 512]
                              [--check-mb 2048] [--rss-mb 4096] [--only small,big,check,rss]
                              [--old-exe PATH]

It publishes a release per measurement with `kmcontent publish`, serves it with nginx from a
configuration of its own in a temporary folder, and prints each result with its ratio:
  small  many small files: the launcher from its manifest request to "Update complete",
         against one curl process that fetches every file over one kept-alive connection and
         writes each one (ratio = curl's time / the launcher's), in turn run after run
         (--old-exe: another launcher takes its turn after curl's);
  big    one big file: each download's time as nginx itself logs it (from the start of its
         first request to the end of its last), the launcher against curl writing a file
         (ratio = curl's time / the launcher's);
  check  the check pass over a page-cached file without a cache entry, in GB/s: the gap
         between the manifest request and the request of a small file that follows it in the
         manifest, less the same gap when the cache vouches for the big file;
  rss    the launcher's peak resident memory while it downloads a file of --rss-mb MiB and
         one of 4 MiB (the difference is what grows with the file).
Game folders live in a Wine prefix made for the run (or --wine-env, a folder made by
`python3 -m kmtest.env setup`), on a virtual display. Nothing leaves 127.0.0.1. Needs nginx,
curl, Xvfb and wine64.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from kmtest import env, launcher  # noqa: E402
from benchsupport import (MIB, MemorySampler, children, remove_unless_kept, start_nginx, stop,  # noqa: E402
                          summary, write_random_file)

TIMEOUT = 1800


class Nginx:
    """nginx serving one release tree; its access log gives each request's end time and
    duration in milliseconds."""

    def __init__(self, release, folder):
        self.process, self.port = start_nginx(release, folder)
        self.log = os.path.join(folder, "nginx", "access.log")
        self.address = "127.0.0.1:%d" % self.port

    def requests(self):
        """(end time, duration, path) of every logged request, oldest first."""
        rows = []
        with open(self.log) as f:
            for line in f:
                fields = line.split()
                if len(fields) >= 5:
                    rows.append((float(fields[0]), float(fields[1]), fields[4]))
        return rows

    def span(self, path, since):
        """Seconds from the start of the first request for path ending after since to the end
        of the last one: a download over several connections makes several requests."""
        found = [row for row in self.requests() if (row[2] == path or row[2].endswith(path)) and row[0] > since]
        if not found:
            raise RuntimeError("nginx logged no request for %s" % path)
        return max(row[0] for row in found) - min(row[0] - row[1] for row in found)

    def last(self, path):
        """The last request for path, also under a release's own base (publish's default mirror
        line sends the launcher to /releases/<name>/files/...)."""
        found = [row for row in self.requests() if row[2] == path or row[2].endswith(path)]
        if not found:
            raise RuntimeError("nginx logged no request for %s" % path)
        return found[-1]

    def stop(self):
        stop(self.process)


def publish(kmcontent, build, release):
    subprocess.run([kmcontent, "publish", "--build", build, "--out", release, "--version", "1"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT)
    return release


def small_paths(count):
    return ["maps/area%03d/tile%05d.dat" % (index // 100, index) for index in range(count)]


def make_small_release(kmcontent, folder, count, size):
    build = os.path.join(folder, "small-build")
    for path in small_paths(count):
        target = os.path.join(build, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(os.urandom(size))
    return publish(kmcontent, build, os.path.join(folder, "small-release"))


def make_release(kmcontent, folder, name, files):
    """A release of random files {path: size}."""
    build = os.path.join(folder, name + "-build")
    for path, size in files.items():
        write_random_file(os.path.join(build, path), size)
    return publish(kmcontent, build, os.path.join(folder, name + "-release"))


class Run:
    """One launcher in a fresh game folder pointed at nginx."""

    def __init__(self, facts, server, prepare=None, exe=None):
        self.game = launcher.GameFolder(facts, "bench")
        self.game.install_launcher()
        if exe:
            shutil.copy(exe, self.game.path("KMLauncher.exe"))
        self.game.write_config(server)
        if prepare:
            prepare(self.game)
        self.facts = facts

    def start(self):
        os.sync()  # no writer pays for the dirty pages of the one before
        self.seen = len(self.game.log_lines())
        self.process = launcher.Launcher(self.facts, self.game.path("KMLauncher.exe"))
        return self

    def log_has(self, text):
        """Whether this start of the launcher logged a line holding text."""
        return any(text in line for line in self.game.log_lines()[self.seen:])

    def wait_for_log(self, *texts):
        """Waits for the first log line holding one of texts; the time it was seen."""
        seen = launcher.wait_until(lambda: any(self.log_has(t) for t in texts), TIMEOUT, interval=0.01)
        if not seen:
            raise RuntimeError("the launcher never logged %s:\n%s" % (texts, "\n".join(self.game.log_lines())))
        return time.time()

    def finish(self, remove=True):
        self.process.kill()
        launcher.kill_processes_in(self.game.name)
        if remove:
            shutil.rmtree(self.game.linux, ignore_errors=True)


def expect_complete(run):
    if not run.log_has("Update complete"):
        raise RuntimeError("the update failed:\n%s" % "\n".join(run.game.log_lines()[-20:]))


def curl(arguments, cwd):
    os.sync()
    started = time.time()
    subprocess.run(["curl", "-s", "-f"] + arguments, check=True, cwd=cwd, timeout=TIMEOUT)
    return time.time() - started


def small_by_launcher(facts, nginx, written, exe=None):
    run = Run(facts, nginx.address, exe=exe).start()
    done = run.wait_for_log("Update complete", "could not", "Cannot")
    expect_complete(run)
    ours = done - nginx.last("/manifest")[0]
    run.finish(remove=False)
    written.append(run.game.linux)
    return ours


def small_by_curl(nginx, count, scratch, written):
    target = tempfile.mkdtemp(prefix="curl-small-", dir=scratch)
    written.append(target)
    listing = os.path.join(scratch, "curl-small.cfg")
    with open(listing, "w") as f:
        for path in small_paths(count):
            f.write('url = "http://%s/files/%s"\noutput = "%s"\n' % (nginx.address, path, path))
    return curl(["--create-dirs", "-K", listing], target)


def bench_small(facts, nginx, count, scratch, written, old_exe):
    """Every side writes its files into new folders, which stay until the measurement ends
    (listed in written): removing thousands of files slows the file system's next creations
    for a few minutes, whoever makes them, and would make each run pay for the one before.
    The sides take turns, launcher and curl (and the old launcher), so that a drift in the
    machine's load lands on each of them alike. (launcher, curl, old launcher or None)."""
    ours = small_by_launcher(facts, nginx, written)
    theirs = small_by_curl(nginx, count, scratch, written)
    old = small_by_launcher(facts, nginx, written, old_exe) if old_exe else None
    return ours, theirs, old


def bench_big(facts, nginx, scratch, curl_first):
    """curl_first alternates between runs: the first big write after a pause pays for memory
    the virtual machine's host took back meanwhile, whoever makes it."""
    def ours():
        since = time.time()
        run = Run(facts, nginx.address).start()
        run.wait_for_log("Update complete", "could not", "Cannot")
        expect_complete(run)
        run.finish()
        return nginx.span("/files/big.pak", since)

    def theirs():
        since = time.time()
        target = os.path.join(scratch, "curl-big.pak")
        curl(["-o", target, "http://%s/files/big.pak" % nginx.address], scratch)
        os.remove(target)
        return nginx.span("/files/big.pak", since)

    if curl_first:
        curl_time = theirs()
        return ours(), curl_time
    return ours(), theirs()


def read_through(path):
    with open(path, "rb") as f:
        while f.read(8 * MIB):
            pass


def bench_check(facts, nginx, release, prepare=read_through):
    """Seconds of one check of the big file, less the pass's own time around it. prepare(path)
    runs before the check: by default it reads the file into the page cache."""
    source = os.path.join(release, "files", "check.pak")
    prepare(source)

    def place(game):
        os.link(source, game.path("check.pak"))

    run = Run(facts, nginx.address, place).start()
    run.wait_for_log("Update complete", "could not", "Cannot")
    expect_complete(run)
    hashing = nginx.last("/files/zz.bin")[0] - nginx.last("/manifest")[0]
    run.finish(remove=False)
    # Again with the cache entry the first pass wrote: the same pass without the read.
    os.remove(run.game.path("zz.bin"))
    run.start().wait_for_log("Update complete", "could not", "Cannot")
    expect_complete(run)
    overhead = nginx.last("/files/zz.bin")[0] - nginx.last("/manifest")[0]
    run.finish()
    return hashing - overhead


def peak_rss_kib(facts, nginx):
    run = Run(facts, nginx.address).start()
    sampler = MemorySampler(lambda: [run.process.pid] + children(run.process.pid))
    run.wait_for_log("Update complete", "could not", "Cannot")
    peak = sampler.stop()
    expect_complete(run)
    run.finish()
    return peak


def with_nginx(release, folder, body):
    nginx = Nginx(release, folder)
    try:
        return body(nginx)
    finally:
        nginx.stop()


def measure_small(args, facts, folder):
    size = args.small_kib * 1024
    release = make_small_release(args.kmcontent, folder, args.small_count, size)
    print("\nsmall: %d files of %d bytes" % (args.small_count, size), flush=True)

    def body(nginx):
        ratios, old_ratios = [], []
        written = []
        try:
            for index in range(args.runs):
                ours, theirs, old = bench_small(facts, nginx, args.small_count, folder, written, args.old_exe)
                ratios.append(theirs / ours)
                print("  run %d: launcher %6.2f s (%5.2f ms a file), curl %6.2f s, ratio %.3f"
                      % (index + 1, ours, ours * 1000 / args.small_count, theirs, ratios[-1]), flush=True)
                if old:
                    old_ratios.append(theirs / old)
                    print("         old launcher %6.2f s, ratio %.3f" % (old, old_ratios[-1]), flush=True)
        finally:
            for path in written:
                shutil.rmtree(path, ignore_errors=True)
        if old_ratios:
            print("small, old launcher: %s" % summary(old_ratios), flush=True)
        return ratios
    return with_nginx(release, folder, body)


def measure_big(args, facts, folder):
    release = make_release(args.kmcontent, folder, "big", {"big.pak": args.big_mb * MIB})
    read_through(os.path.join(release, "files", "big.pak"))
    print("\nbig: one file of %d MiB (times logged by nginx)" % args.big_mb, flush=True)

    def body(nginx):
        ratios = []
        for index in range(args.runs):
            ours, theirs = bench_big(facts, nginx, folder, curl_first=index % 2 == 1)
            ratios.append(theirs / ours)
            print("  run %d: launcher %6.0f MB/s, curl %6.0f MB/s, ratio %.3f"
                  % (index + 1, args.big_mb * MIB / ours / 1e6, args.big_mb * MIB / theirs / 1e6, ratios[-1]),
                  flush=True)
        return ratios
    return with_nginx(release, folder, body)


def measure_check(args, facts, folder):
    release = make_release(args.kmcontent, folder, "check", {"check.pak": args.check_mb * MIB, "zz.bin": 1000})
    print("\ncheck: one page-cached file of %d MiB without a cache entry" % args.check_mb, flush=True)

    def body(nginx):
        speeds = []
        for index in range(args.runs):
            seconds = bench_check(facts, nginx, release)
            speeds.append(args.check_mb * MIB / seconds / 1e9)
            print("  run %d: %.3f s, %.2f GB/s" % (index + 1, seconds, speeds[-1]), flush=True)
        return speeds
    return with_nginx(release, folder, body)


def measure_rss(args, facts, folder):
    big = make_release(args.kmcontent, folder, "rss-big", {"big.pak": args.rss_mb * MIB})
    small = make_release(args.kmcontent, folder, "rss-small", {"big.pak": 4 * MIB})
    print("\nrss: peak resident memory of the launcher downloading one file", flush=True)
    growths = []
    for index in range(args.runs):
        peak_small = with_nginx(small, folder, lambda nginx: peak_rss_kib(facts, nginx))
        peak_big = with_nginx(big, folder, lambda nginx: peak_rss_kib(facts, nginx))
        growths.append((peak_big - peak_small) / 1024)
        print("  run %d: 4 MiB -> %.1f MiB, %d MiB -> %.1f MiB, difference %.1f MiB"
              % (index + 1, peak_small / 1024, args.rss_mb, peak_big / 1024, growths[-1]), flush=True)
    shutil.rmtree(big, ignore_errors=True)
    return growths


MEASUREMENTS = {"small": measure_small, "big": measure_big, "check": measure_check, "rss": measure_rss}
GOALS = {"small": "ratio to curl (goal >= 0.5)", "big": "ratio to curl (goal >= 0.9)",
         "check": "GB/s (goal >= 8)", "rss": "MiB more for the big file (goal <= 16)"}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "native"), help="holds kmcontent")
    parser.add_argument("--win-build", default=os.path.join(ROOT, "build", "win"), help="holds KMLauncher.exe")
    parser.add_argument("--wine-env", help="an existing Wine environment folder (else one is made)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--small-count", type=int, default=5000)
    parser.add_argument("--small-kib", type=int, default=2)
    parser.add_argument("--big-mb", type=int, default=512)
    parser.add_argument("--check-mb", type=int, default=2048)
    parser.add_argument("--rss-mb", type=int, default=4096)
    parser.add_argument("--only", default="small,big,check,rss", help="comma-separated measurements")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--old-exe", help="small: another KMLauncher.exe measured in turn with the one built")
    args = parser.parse_args()
    args.kmcontent = os.path.join(args.build_dir, "kmcontent")
    args.only = [name for name in args.only.split(",") if name]
    unknown = [name for name in args.only if name not in MEASUREMENTS]
    if unknown:
        parser.error("unknown measurement %s" % ", ".join(unknown))
    return args


def main():
    args = parse_arguments()
    os.environ["KM_WIN_BUILD"] = args.win_build
    for needed in (args.kmcontent, launcher.launcher_exe(), shutil.which("curl"), env.WINE):
        if not needed or not os.path.exists(needed):
            sys.exit("missing: %s" % needed)
    folder = tempfile.mkdtemp(prefix="kmlauncher-bench-")
    own_env = not args.wine_env
    os.environ["KM_WINE_ENV"] = args.wine_env or os.path.join(folder, "wine-env")
    try:
        if own_env:
            env.setup()
        facts = env.load()
        results = {name: MEASUREMENTS[name](args, facts, folder) for name in args.only}
        print("\nsummary:")
        for name, values in results.items():
            print("  %-6s %s: %s" % (name, GOALS[name], summary(values)))
    finally:
        if own_env:
            env.cleanup()
        remove_unless_kept(folder, args.keep)


if __name__ == "__main__":
    main()
