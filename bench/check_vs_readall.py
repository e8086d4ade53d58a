#!/usr/bin/python3
"""The check pass of the real KMLauncher.exe against the floor of reading the same file, side
by side in one Wine prefix and one run. Run by hand (not part of CTest):

    bench/check_vs_readall.py [--runs 3] [--check-mb 2048] [--cold] [--win-build DIR]

Each run takes, in alternating order:
  readall  build/win/bench/readall.exe over the release's file: ReadFile in 4 MiB blocks into
           one reused buffer and nothing else; it times its own reads;
  check    the launcher's check pass over a hard link of that file in a fresh game folder
           without a cache entry, timed as bench/download_vs_curl.py times it (the gap between
           the manifest request and the request of a small file after it, less the same gap
           when the cache vouches for the big file);
and prints the ratio readall time / check time (1.0: the check pass reads at the floor). Then
the launcher's peak resident memory in a pass that checks the file and in one whose cache
vouches for it (the difference is what the check itself holds). Warm runs read the file once
first, so it is page-cached; --cold drops the page cache before each timed read instead
(echo 3 > /proc/sys/vm/drop_caches, which needs root; the script says so when it cannot).
--win-build picks the launcher to measure (an older build for a before figure); readall.exe
comes from --readall. Needs nginx, Xvfb and wine64.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from kmtest import env, launcher  # noqa: E402
from download_vs_curl import (TIMEOUT, Run, bench_check, expect_complete, make_release,  # noqa: E402
                              read_through, with_nginx)
from benchsupport import MIB, MemorySampler, children, remove_unless_kept  # noqa: E402


def drop_page_cache():
    """False when this machine does not let us (not root, or a read-only /proc/sys)."""
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def readall_seconds(facts, readall, linux_path, cold):
    if cold:
        drop_page_cache()
    else:
        read_through(linux_path)
    windows_path = "Z:" + linux_path.replace("/", "\\")
    done = subprocess.run([env.WINE, readall, windows_path], env=facts["env"], capture_output=True, text=True,
                          timeout=TIMEOUT)
    if done.returncode != 0:
        raise RuntimeError("readall.exe failed (%d): %s" % (done.returncode, done.stderr[-500:]))
    size, seconds = done.stdout.split()
    if int(size) != os.path.getsize(linux_path):
        raise RuntimeError("readall.exe read %s bytes of %d" % (size, os.path.getsize(linux_path)))
    return float(seconds)


def check_seconds(facts, nginx, release, cold):
    if cold:
        return bench_check(facts, nginx, release, prepare=lambda path: drop_page_cache())
    return bench_check(facts, nginx, release)


def peak_rss_mib(facts, nginx, release, vouched):
    """The launcher's peak resident memory over one pass; vouched: the cache already holds the
    big file, so the pass reads none of it."""
    source = os.path.join(release, "files", "check.pak")
    read_through(source)
    run = Run(facts, nginx.address, lambda game: os.link(source, game.path("check.pak")))
    if vouched:
        run.start().wait_for_log("Update complete", "could not", "Cannot")
        expect_complete(run)
        run.finish(remove=False)
        os.remove(run.game.path("zz.bin"))
    run.start()
    sampler = MemorySampler(lambda: [run.process.pid] + children(run.process.pid))
    run.wait_for_log("Update complete", "could not", "Cannot")
    peak = sampler.stop()
    expect_complete(run)
    run.finish()
    return peak / 1024


def summary(values, unit=""):
    return "median %.3f%s (min %.3f, max %.3f)" % (statistics.median(values), unit, min(values), max(values))


def measure(args, facts, folder):
    release = make_release(args.kmcontent, folder, "check", {"check.pak": args.check_mb * MIB, "zz.bin": 1000})
    source = os.path.join(release, "files", "check.pak")
    size = args.check_mb * MIB
    print("check pass against readall.exe: one %s file of %d MiB without a cache entry; launcher %s"
          % ("cold" if args.cold else "page-cached", args.check_mb, launcher.launcher_exe()), flush=True)

    def body(nginx):
        ratios, checks, floors, growths = [], [], [], []
        for index in range(args.runs):
            if index % 2 == 0:
                floor = readall_seconds(facts, args.readall, source, args.cold)
                check = check_seconds(facts, nginx, release, args.cold)
            else:
                check = check_seconds(facts, nginx, release, args.cold)
                floor = readall_seconds(facts, args.readall, source, args.cold)
            ratios.append(floor / check)
            checks.append(size / check / 1e9)
            floors.append(size / floor / 1e9)
            print("  run %d (load %s): readall %.3f s %6.2f GB/s, check %.3f s %6.2f GB/s, ratio %.3f"
                  % (index + 1, load(), floor, floors[-1], check, checks[-1], ratios[-1]), flush=True)
        for index in range(args.runs):
            checking = peak_rss_mib(facts, nginx, release, vouched=False)
            vouched = peak_rss_mib(facts, nginx, release, vouched=True)
            growths.append(checking - vouched)
            print("  memory %d: peak %.1f MiB checking, %.1f MiB with the cache vouching, difference %.1f MiB"
                  % (index + 1, checking, vouched, growths[-1]), flush=True)
        return ratios, checks, floors, growths

    ratios, checks, floors, growths = with_nginx(release, folder, body)
    print("\nsummary (%d runs, load now %s):" % (args.runs, load()))
    print("  ratio readall time / check time (goal >= 0.8 page-cached): %s" % summary(ratios))
    print("  check pass GB/s: %s" % summary(checks))
    print("  readall GB/s:    %s" % summary(floors))
    print("  peak memory the check adds, MiB: %s" % summary(growths))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "native"), help="holds kmcontent")
    parser.add_argument("--win-build", default=os.path.join(ROOT, "build", "win"), help="holds KMLauncher.exe")
    parser.add_argument("--readall", default=os.path.join(ROOT, "build", "win", "bench", "readall.exe"))
    parser.add_argument("--wine-env", help="an existing Wine environment folder (else one is made)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--check-mb", type=int, default=2048)
    parser.add_argument("--cold", action="store_true", help="drop the page cache before each timed read")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    args.kmcontent = os.path.join(args.build_dir, "kmcontent")
    return args


def main():
    args = parse_arguments()
    os.environ["KM_WIN_BUILD"] = args.win_build
    for needed in (args.kmcontent, launcher.launcher_exe(), args.readall, env.WINE):
        if not os.path.exists(needed):
            sys.exit("missing: %s" % needed)
    if args.cold and not drop_page_cache():
        sys.exit("this machine does not let us drop the page cache (needs root and a writable "
                 "/proc/sys/vm/drop_caches): no cold-cache figures")
    folder = tempfile.mkdtemp(prefix="kmlauncher-bench-")
    own_env = not args.wine_env
    os.environ["KM_WINE_ENV"] = args.wine_env or os.path.join(folder, "wine-env")
    try:
        if own_env:
            env.setup()
        measure(args, env.load(), folder)
    finally:
        if own_env:
            env.cleanup()
        remove_unless_kept(folder, args.keep)


if __name__ == "__main__":
    main()
