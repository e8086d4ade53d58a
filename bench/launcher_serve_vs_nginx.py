#!/usr/bin/python3
"""The real KMLauncher.exe under Wine fetching a release from `kmcontent serve`, against the
same launcher fetching the same release tree from nginx, in one run on loopback. Run by hand
(not part of CTest), after scripts/build:

    bench/launcher_serve_vs_nginx.py [--runs 3] [--small-count 5000] [--small-kib 2] [--big-mb 512]
                                     [--only small,big] [--tls]

Two releases are published with `kmcontent publish`: --small-count files of --small-kib KiB,
and one file of --big-mb MiB. serve and nginx (a worker per CPU, sendfile) serve the same
tree, each on its own port; every run updates a fresh game folder from each, the order
alternating between runs. A run's time goes from the launcher showing "Updating" (its status
trace) to "Update complete" in its log, so Wine's start-up is not counted. Printed: every
sample, and min, median and max of the ratio nginx's time / serve's time (goal: at least
0.9). With --tls both speak https only (a certificate for "localhost" from a test CA that
the run's Wine prefix trusts) and the launcher is pointed at https://localhost:PORT. Needs
nginx, openssl, Xvfb and wine64.
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

from benchsupport import (MIB, remove_unless_kept, start_kmcontent, start_nginx, stop, summary,  # noqa: E402
                          write_random_file)
from benchsupport import free_port, wait_for_port  # noqa: E402
from kmtest import env, launcher, nginx  # noqa: E402
from kmtest.certs import TestCertificates  # noqa: E402

TIMEOUT = 1800
UPDATING = 2  # the phase number of "Updating" in the status trace


def publish(kmcontent, folder, name, files):
    """A release of random files {path: size}, its build folder removed."""
    build = os.path.join(folder, name + "-build")
    for path, size in files.items():
        write_random_file(os.path.join(build, path), size)
    release = os.path.join(folder, name + "-release")
    subprocess.run([kmcontent, "publish", "--build", build, "--out", release, "--version", "1"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT)
    shutil.rmtree(build)
    return release


def start_nginx_tls(release, folder, certificate):
    """nginx as start_nginx serves, but over https only. (process, port)."""
    prefix = os.path.join(folder, "nginx-tls")
    os.makedirs(prefix, exist_ok=True)
    plain, port = free_port(), free_port()
    cert, key = certificate
    body = ("root %s;\n    listen 127.0.0.1:%d ssl; ssl_certificate %s; ssl_certificate_key %s;"
            % (release, port, cert, key))
    process = nginx.start(prefix, plain, body, **nginx.FAST)
    wait_for_port(port)
    return process, port


def start_servers(args, folder, release):
    """serve and nginx on the same tree: ((serve, port), (nginx, port))."""
    if not args.certificates:
        return start_kmcontent(args.kmcontent, release, folder), start_nginx(release, folder)
    cert, key = args.certificates.pair("signed")
    return (start_kmcontent(args.kmcontent, release, folder, "--tls-cert", cert, "--tls-key", key),
            start_nginx_tls(release, folder, (cert, key)))


def timed_update(facts, port, tls):
    """Seconds from "Updating" to "Update complete" of a launcher in a fresh game folder."""
    game = launcher.GameFolder(facts, "bench")
    game.install_launcher()
    game.write_config(("https://localhost:%d" if tls else "127.0.0.1:%d") % port)
    os.sync()  # no run pays for the dirty pages of the one before
    process = launcher.Launcher(facts, game.path("KMLauncher.exe"),
                                extra_env={"KMLAUNCHER_STATUS_TRACE": game.windows + game.STATUS_TRACE})
    deadline = time.time() + TIMEOUT
    started = None
    try:
        while time.time() < deadline:
            if started is None and any(status[0] == UPDATING for status in game.statuses()):
                started = time.perf_counter()
            lines = game.log_lines() if started is not None else []
            if any("Update complete" in line for line in lines):
                return time.perf_counter() - started
            if any("could not" in line or "Cannot" in line for line in lines):
                break
            time.sleep(0.005)
        raise RuntimeError("the update did not complete:\n%s" % "\n".join(game.log_lines()[-20:]))
    finally:
        process.kill()
        launcher.kill_processes_in(game.name)
        shutil.rmtree(game.linux, ignore_errors=True)


def compare(args, facts, folder, release, what):
    (serve, serve_port), (web, nginx_port) = start_servers(args, folder, release)
    ratios = []
    try:
        print("\n%s" % what, flush=True)
        for index in range(args.runs):
            order = [("serve", serve_port), ("nginx", nginx_port)]
            if index % 2 == 1:
                order.reverse()
            seconds = {name: timed_update(facts, port, bool(args.certificates)) for name, port in order}
            ratios.append(seconds["nginx"] / seconds["serve"])
            print("  run %d: serve %7.3f s, nginx %7.3f s, nginx/serve %.3f"
                  % (index + 1, seconds["serve"], seconds["nginx"], ratios[-1]), flush=True)
    finally:
        stop(serve)
        stop(web)
    return ratios


def measure_small(args, facts, folder):
    files = {"maps/area%03d/tile%05d.dat" % (i // 100, i): args.small_kib * 1024 for i in range(args.small_count)}
    release = publish(args.kmcontent, folder, "small", files)
    return compare(args, facts, folder, release, "small: %d files of %d KiB" % (args.small_count, args.small_kib))


def measure_big(args, facts, folder):
    release = publish(args.kmcontent, folder, "big", {"big.pak": args.big_mb * MIB})
    return compare(args, facts, folder, release, "big: one file of %d MiB" % args.big_mb)


MEASUREMENTS = {"small": measure_small, "big": measure_big}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "native"), help="holds kmcontent")
    parser.add_argument("--win-build", default=os.path.join(ROOT, "build", "win"), help="holds KMLauncher.exe")
    parser.add_argument("--wine-env", help="an existing Wine environment folder (else one is made)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--small-count", type=int, default=5000)
    parser.add_argument("--small-kib", type=int, default=2)
    parser.add_argument("--big-mb", type=int, default=512)
    parser.add_argument("--only", default="small,big", help="comma-separated measurements")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--tls", action="store_true", help="https from both servers")
    args = parser.parse_args()
    args.certificates = None
    args.kmcontent = os.path.join(args.build_dir, "kmcontent")
    args.only = [name for name in args.only.split(",") if name]
    unknown = [name for name in args.only if name not in MEASUREMENTS]
    if unknown:
        parser.error("unknown measurement %s" % ", ".join(unknown))
    return args


def main():
    args = parse_arguments()
    os.environ["KM_WIN_BUILD"] = args.win_build
    for needed in (args.kmcontent, launcher.launcher_exe(), shutil.which("nginx") or "/usr/sbin/nginx", env.WINE):
        if not needed or not os.path.exists(needed):
            sys.exit("missing: %s" % needed)
    folder = tempfile.mkdtemp(prefix="kmlauncher-serve-bench-")
    own_env = not args.wine_env
    os.environ["KM_WINE_ENV"] = args.wine_env or os.path.join(folder, "wine-env")
    try:
        if own_env:
            env.setup()
        facts = env.load()
        if args.tls:
            args.certificates = TestCertificates(os.path.join(folder, "tls"))
            args.certificates.trust_ca(facts)
        results = {name: MEASUREMENTS[name](args, facts, folder) for name in args.only}
        print("\nsummary, the launcher from serve against from nginx (nginx's time / serve's, goal >= 0.9):")
        for name, ratios in results.items():
            print("  %-6s %s" % (name, summary(ratios)))
    finally:
        if own_env:
            env.cleanup()
        remove_unless_kept(folder, args.keep)


if __name__ == "__main__":
    main()
