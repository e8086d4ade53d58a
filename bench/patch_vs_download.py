#!/usr/bin/python3
"""Patching against downloading whole, with the real launcher under Wine and nginx on
loopback. Run by hand (not part of CTest), after scripts/build:

    bench/patch_vs_download.py [--size-mb 256] [--runs 3]

The game folder holds an old version of Data/big.pak (--size-mb of random bytes); the
release holds a new one, in two cases:
  - inserted: the old bytes with 1 MiB of new bytes inserted in the middle;
  - nothing reusable: entirely new random bytes.
Each case is published twice, with block maps and without (--block-maps-from 0), and the
launcher updates a fresh copy of the folder from each, the runs interleaved, best of --runs.
Bytes are what nginx sent for the file and its map (its access log); time runs from the
launcher publishing "Updating" to the new file in place, so Wine's start-up and the check
pass are not counted.
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
from benchsupport import MIB, free_port, stop, wait_for_port  # noqa: E402
from test_patch import TREE_AT_RATE  # noqa: E402
from kmtest.nginx import COUNTED, start as start_nginx_process  # noqa: E402

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def publish(native, folder, name, data, maps):
    build = os.path.join(folder, "build-" + name)
    write(os.path.join(build, "Data", "big.pak"), data)
    release = os.path.join(folder, "release-" + name)
    subprocess.run([os.path.join(native, "kmcontent"), "publish", "--build", build, "--out", release, "--version", "2",
                    "--mirror", "/files", "--block-maps-from", "4" if maps else "0"],
                   check=True, stdout=subprocess.DEVNULL, timeout=600)
    shutil.rmtree(build)
    return release


def start_nginx(folder, release):
    port = free_port()
    tmp = os.path.join(folder, "nginx-" + os.path.basename(release))
    os.makedirs(tmp)
    process = start_nginx_process(tmp, port, TREE_AT_RATE.format(rate="0", release=release), COUNTED)
    wait_for_port(port)
    return process, port, os.path.join(tmp, "access.log")


def bytes_served(access_log, since):
    with open(access_log) as f:
        lines = f.readlines()[since:]
    return sum(int(line.split()[2]) for line in lines if "big.pak" in line), since + len(lines)


def time_update(facts, old, port, expected):
    """Seconds from "Updating" to the new file in place, from a folder holding old."""
    from kmtest.launcher import GameFolder, Launcher
    game = GameFolder(facts, "bench")
    game.install_launcher()
    game.write_config("127.0.0.1:%d" % port)
    game.write("Data/big.pak", old)
    os.sync()  # no run pays for the dirty pages of the one before
    launcher = Launcher(facts, game.path("KMLauncher.exe"),
                        extra_env={"KMLAUNCHER_STATUS_TRACE": game.windows + game.STATUS_TRACE})
    final = game.path("Data/big.pak")
    deadline = time.time() + 900
    started = None
    try:
        while True:
            if time.time() > deadline:
                raise RuntimeError("the launcher did not finish; log:\n%s" % "\n".join(game.log_lines()))
            if started is None and any(s[0] == 2 for s in game.statuses()):
                started = time.perf_counter()
            if started is not None and any(line.startswith("Updated Data/big.pak") for line in game.log_lines()):
                seconds = time.perf_counter() - started
                break
            time.sleep(0.005)
        with open(final, "rb") as f:
            if f.read() != expected:
                raise RuntimeError("the updated file is wrong")
        return seconds
    finally:
        launcher.kill()
        shutil.rmtree(game.linux, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mb", type=int, default=256)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    size = args.size_mb * MIB
    os.environ.setdefault("KM_WIN_BUILD", os.path.join(ROOT, "build", "win"))
    native = os.environ.setdefault("KM_NATIVE_BUILD", os.path.join(ROOT, "build", "native"))
    os.environ.setdefault("KM_SOURCE", ROOT)
    folder = tempfile.mkdtemp(prefix="km-patch-bench-")
    os.environ["KM_WINE_ENV"] = os.path.join(folder, "wine-env")
    from kmtest import env
    servers = []
    try:
        old = os.urandom(size)
        middle = size // 2 + 12345
        cases = {"inserted 1 MiB": old[:middle] + os.urandom(MIB) + old[middle:],
                 "nothing reusable": os.urandom(size)}
        env.setup()
        facts = env.load()
        print("Data/big.pak, %d MiB, updated from an old version by the launcher, best of %d:" % (args.size_mb, args.runs))
        for case, new in cases.items():
            results = {}
            for maps in (False, True):
                server, port, log = start_nginx(folder, publish(native, folder, "%s-%s" % (case[:4], maps), new, maps))
                servers.append(server)
                results[maps] = {"seconds": [], "bytes": 0, "log": log, "port": port, "since": 0}
            for _ in range(args.runs):
                for maps, result in results.items():
                    result["seconds"].append(time_update(facts, old, result["port"], new))
                    result["bytes"], result["since"] = bytes_served(result["log"], result["since"])
            plain, patched = results[False], results[True]
            for name, result in (("whole download", plain), ("patch", patched)):
                print("  %-17s %-15s %8.1f MiB fetched (%5.1f %%)  %6.2f s" % (
                    case, name, result["bytes"] / MIB, 100.0 * result["bytes"] / len(new), min(result["seconds"])))
            print("  %-17s patch / whole:  bytes %.3f, time %.3f" % (
                case, patched["bytes"] / plain["bytes"], min(patched["seconds"]) / min(plain["seconds"])))
    finally:
        for server in servers:
            stop(server)
        env.cleanup(quiet=True)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
