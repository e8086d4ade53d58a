#!/usr/bin/python3
"""Download speed of the real launcher under Wine against curl, from one nginx on loopback.
Run by hand (not part of CTest), after scripts/build:

    bench/signed_download_vs_curl.py [--size-mb 512] [--runs 3]

It publishes a release with one big file, signed with the tests' key (so both launchers can
take it), serves it with nginx, and times, best of --runs each (the runs interleaved):
  - curl writing the file to disk;
  - build/win/KMLauncher.exe (no key: CRC-32 only) updating a fresh game folder;
  - build/win/tests/testkey/KMLauncher.exe (tests' key: CRC-32 and SHA-256 while streaming).
A launcher's time runs from its part file appearing to the file arriving in place, so Wine's
start-up is not counted. Uses its own Wine prefix and Xvfb display.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from benchsupport import MIB, start_nginx, stop, write_random_file  # noqa: E402


def time_curl(url, target):
    started = time.perf_counter()
    subprocess.run(["curl", "-s", "-f", "-o", target, url], check=True, timeout=600)
    seconds = time.perf_counter() - started
    os.remove(target)
    return seconds


def time_launcher(facts, exe, port, size):
    from kmtest.launcher import GameFolder, Launcher
    game = GameFolder(facts, "bench")
    shutil.copy(exe, game.path("KMLauncher.exe"))
    game.write_config("127.0.0.1:%d" % port)
    launcher = Launcher(facts, game.path("KMLauncher.exe"))
    part, final = game.path("Data/big.pak.part"), game.path("Data/big.pak")
    deadline = time.time() + 600
    started = None
    try:
        while not (os.path.exists(final) and os.path.getsize(final) == size):
            if time.time() > deadline:
                raise RuntimeError("the launcher did not finish; log:\n%s" % "\n".join(game.log_lines()))
            if started is None and os.path.exists(part):
                started = time.perf_counter()
            time.sleep(0.005)
        return time.perf_counter() - started
    finally:
        launcher.kill()
        shutil.rmtree(game.linux, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mb", type=int, default=512)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    size = args.size_mb * MIB
    win = os.environ.setdefault("KM_WIN_BUILD", os.path.join(ROOT, "build", "win"))
    native = os.environ.setdefault("KM_NATIVE_BUILD", os.path.join(ROOT, "build", "native"))
    os.environ.setdefault("KM_SOURCE", ROOT)
    folder = tempfile.mkdtemp(prefix="km-download-bench-")
    os.environ["KM_WINE_ENV"] = os.path.join(folder, "wine-env")
    from kmtest import env
    nginx = None
    try:
        write_random_file(os.path.join(folder, "build", "Data", "big.pak"), size)
        release = os.path.join(folder, "release")
        subprocess.run([os.path.join(native, "kmcontent"), "publish", "--build", os.path.join(folder, "build"),
                        "--out", release, "--version", "1", "--sign",
                        os.path.join(ROOT, "tests", "e2e", "keys", "release.key")], check=True,
                       stdout=subprocess.DEVNULL, timeout=600)
        nginx, port = start_nginx(release, folder)
        env.setup()
        facts = env.load()
        url = "http://127.0.0.1:%d/files/Data/big.pak" % port
        launchers = {"launcher, no key": os.path.join(win, "KMLauncher.exe"),
                     "launcher, keyed": os.path.join(win, "tests", "testkey", "KMLauncher.exe")}
        results = {name: [] for name in ["curl"] + list(launchers)}
        # Interleaved, so that a busy moment of the machine does not favour one of them.
        for _ in range(args.runs):
            results["curl"].append(time_curl(url, os.path.join(folder, "curl.out")))
            for name, exe in launchers.items():
                results[name].append(time_launcher(facts, exe, port, size))
        results = {name: min(times) for name, times in results.items()}
        print("One download of %d MiB from nginx on loopback, best of %d:" % (args.size_mb, args.runs))
        for name, seconds in results.items():
            print("  %-18s %6.2f s  %7.0f MB/s" % (name, seconds, size / seconds / 1e6))
    finally:
        if nginx is not None:
            stop(nginx)
        env.cleanup(quiet=True)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
