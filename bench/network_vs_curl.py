#!/usr/bin/python3
"""The real KMLauncher.exe under Wine beside curl on networks that are not loopback-fast, all
in one run. Run by hand (not part of CTest):

    bench/network_vs_curl.py [--runs 3] [--count 1000] [--kib 2] [--rtt-ms 50]
                             [--cap-seconds 20] [--caps 1,10,50] [--big-mb 128] [--conn-mibs 4]
                             [--line-mibs 16] [--only direct,proxy,https,cap,line]

  direct  --count files of --kib KiB across a --rtt-ms round trip (bench/latency_proxy.py in
          front of nginx): the launcher from nginx's manifest request to "Update complete",
          against `curl -Z --parallel-max 8` fetching the same files (ratio = curl / launcher);
  proxy   the same through tinyproxy on loopback behind the delay (http_proxy for the
          launcher, -x for curl);
  https   the same from nginx over TLS (a test CA trusted in the run's Wine prefix only,
          --cacert for curl);
  cap     MaxDownloadKBps at each of --caps MB/s: one file of cap x --cap-seconds, the bytes
          the launcher received counted per 0.1 s at a latency proxy without delay; every
          10 s window inside the transfer (after its first second) against the cap;
  line    one file of --big-mb MiB across the --rtt-ms round trip on a player's line: each
          connection held to --conn-mibs MiB/s, all of them together to --line-mibs MiB/s;
          the launcher (manifest answered to "Update complete") against `aria2c -x8 -s8` and
          curl, each through a fresh line (ratio = aria2c / launcher, and curl / launcher).
Every figure is printed with its raw samples and min / median / max. Needs nginx, curl,
aria2c, tinyproxy, openssl, Xvfb and wine64; nothing leaves 127.0.0.1.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from benchsupport import free_port, stop, wait_for_port  # noqa: E402
from kmtest import env, launcher, nginx  # noqa: E402
from kmtest.certs import TestCertificates  # noqa: E402
from kmtest.server import manifest_text  # noqa: E402

TIMEOUT = 900
GOALS = {"direct": "launcher >= 2x curl -Z8", "proxy": "launcher >= 1.0x curl -Z8",
         "https": "launcher >= 1.0x curl -Z8", "cap": "every 10 s window within 10 % of the cap",
         "line": "launcher >= 1.0x aria2c -x8", "line-curl": "curl / launcher (for reference)"}
MIBS_TO_MBPS = 1048576 * 8 / 1e6


class Release:
    """Files {path: size} of random bytes under folder/files and their manifest."""

    def __init__(self, folder, files):
        self.root = folder
        contents = {}
        for path, size in files.items():
            target = os.path.join(folder, "files", path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            data = os.urandom(size)
            with open(target, "wb") as f:
                f.write(data)
            contents[path] = data
        with open(os.path.join(folder, "manifest"), "w") as f:
            f.write(manifest_text(contents, version=1))
        self.paths = list(files)


class Nginx:
    """nginx serving a release over http, and over https with certs (the CA's "localhost")."""

    def __init__(self, release, folder, certs):
        self.port, self.tls_port = free_port(), free_port()
        cert, key = certs.pair("signed")
        body = ("root %s; location / { }\n"
                "    listen 127.0.0.1:%d ssl; ssl_certificate %s; ssl_certificate_key %s;\n"
                "    keepalive_requests 100000; sendfile on;"
                % (release.root, self.tls_port, cert, key))
        self.tmp = os.path.join(folder, "nginx")
        os.makedirs(self.tmp, exist_ok=True)
        self.process = nginx.start(self.tmp, self.port, body, log_format="'$msec $request_uri $status'")
        wait_for_port(self.port)
        wait_for_port(self.tls_port)

    def manifest_time(self):
        """When nginx last answered /manifest (its own clock, the same as time.time())."""
        with open(os.path.join(self.tmp, "access.log")) as f:
            times = [float(line.split()[0]) for line in f if " /manifest " in line]
        return times[-1]

    def stop(self):
        stop(self.process)


class Tinyproxy:
    def __init__(self, folder):
        self.port = free_port()
        conf = os.path.join(folder, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 60\nMaxClients 200\nLogLevel Critical\n"
                    "Allow 127.0.0.1\n" % self.port)
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_for_port(self.port)

    def stop(self):
        stop(self.process)


class Delay:
    """bench/latency_proxy.py in front of a port."""

    def __init__(self, to, delay_ms, samples=None, conn_mibs=0, line_mibs=0):
        command = [sys.executable, os.path.join(ROOT, "bench", "latency_proxy.py"), "--to", str(to),
                   "--delay-ms", str(delay_ms), "--rate-mbps", str(conn_mibs * MIBS_TO_MBPS),
                   "--line-mbps", str(line_mibs * MIBS_TO_MBPS)] + (["--samples", samples] if samples else [])
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())

    def stop(self):
        stop(self.process)


def run_launcher(facts, config, extra_env, done_text="Update complete"):
    """A fresh game folder with config as KMLauncher.cfg; returns (the folder, when the launcher
    logged done_text)."""
    game = launcher.GameFolder(facts, "netbench")
    game.install_launcher()
    game.write("KMLauncher.cfg", config)
    process = launcher.Launcher(facts, game.path("KMLauncher.exe"), extra_env=extra_env)
    try:
        ended = launcher.wait_until(
            lambda: [line for line in game.log_lines() if done_text in line or "Could not" in line], TIMEOUT, 0.01)
        when = time.time()
        if not ended or done_text not in ended[0]:
            raise RuntimeError("the launcher did not finish:\n%s" % "\n".join(game.log_lines()[-15:]))
        return game, when
    finally:
        process.kill()
        launcher.kill_processes_in(game.name)


def run_curl(urls, folder, extra):
    target = tempfile.mkdtemp(prefix="curl-", dir=folder)
    listing = os.path.join(folder, "curl.cfg")
    with open(listing, "w") as f:
        for index, url in enumerate(urls):
            f.write('url = "%s"\noutput = "%d"\n' % (url, index))
    started = time.time()
    subprocess.run(["curl", "-s", "-f", "-Z", "--parallel-max", "8", "-K", listing] + extra, check=True,
                   cwd=target, timeout=TIMEOUT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.time() - started
    shutil.rmtree(target, ignore_errors=True)
    return seconds


def summary(values):
    return "min %.2f  median %.2f  max %.2f  (samples %s)" % (
        min(values), statistics.median(values), max(values), ", ".join("%.2f" % v for v in values))


def measure_path(name, args, facts, folder, server):
    """Ratios curl / launcher for one path; prints each run."""
    release = server["release"]
    ratios = []
    for index in range(args.runs):
        delay = Delay(server["upstream"], args.rtt_ms / 2)
        try:
            game, done = run_launcher(facts, "Server=%s\r\n" % server["server"](delay.port), server["env"](delay.port))
            ours = done - server["nginx"].manifest_time()
            shutil.rmtree(game.linux, ignore_errors=True)
            urls = [server["url"](delay.port) + "/files/" + path for path in release.paths]
            theirs = run_curl(urls, folder, server["curl"](delay.port))
        finally:
            delay.stop()
        ratios.append(theirs / ours)
        print("  %s run %d: launcher %.2f s, curl -Z8 %.2f s, ratio %.2f" % (name, index + 1, ours, theirs,
                                                                           theirs / ours), flush=True)
    print("%s ratio: %s" % (name, summary(ratios)), flush=True)
    return ratios


def measure_cap(args, facts, folder, web):
    """Per cap: the worst 10 s window of each run as a share of the cap."""
    results = []
    for cap_mb in args.caps:
        size = int(cap_mb * 1048576 * args.cap_seconds)
        release = Release(os.path.join(folder, "cap-%g" % cap_mb), {"big.pak": size})
        server = Nginx(release, os.path.join(folder, "cap-nginx-%g" % cap_mb), web["certs"])
        worst_runs = []
        try:
            for index in range(args.runs):
                samples = os.path.join(folder, "samples-%g-%d" % (cap_mb, index))
                delay = Delay(server.port, 0, samples)
                try:
                    game, _ = run_launcher(facts, "Server=127.0.0.1:%d\r\nMaxDownloadKBps=%d\r\n"
                                           % (delay.port, int(cap_mb * 1024)), {})
                    shutil.rmtree(game.linux, ignore_errors=True)
                finally:
                    delay.stop()
                windows = ten_second_windows(samples)
                cap = cap_mb * 1048576
                shares = [w / (10 * cap) for w in windows]
                worst = max(shares, key=lambda s: abs(s - 1)) if shares else float("nan")
                worst_runs.append(worst)
                print("  cap %g MB/s run %d: %d windows, share of the cap min %.3f max %.3f"
                      % (cap_mb, index + 1, len(shares), min(shares or [0]), max(shares or [0])), flush=True)
        finally:
            server.stop()
        print("cap %g MB/s, worst window / cap: %s" % (cap_mb, summary(worst_runs)), flush=True)
        results += worst_runs
    return results


def timed(command, folder):
    target = tempfile.mkdtemp(prefix="line-", dir=folder)
    started = time.time()
    subprocess.run(command, check=True, cwd=target, timeout=TIMEOUT, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    seconds = time.time() - started
    shutil.rmtree(target, ignore_errors=True)
    return seconds


def measure_line(args, facts, folder, web):
    """One big file on a player's line: the launcher, aria2c -x8 -s8 and curl in turn, each
    through a line of its own. Returns (aria2c / launcher ratios, curl / launcher ratios)."""
    release = Release(os.path.join(folder, "line"), {"big.pak": args.big_mb * 1048576})
    server = Nginx(release, os.path.join(folder, "line-nginx"), web["certs"])
    versus_aria, versus_curl = [], []

    def line():
        return Delay(server.port, args.rtt_ms / 2, conn_mibs=args.conn_mibs, line_mibs=args.line_mibs)

    try:
        for index in range(args.runs):
            delay = line()
            try:
                game, done = run_launcher(facts, "Server=127.0.0.1:%d\r\n" % delay.port, {})
                ours = done - server.manifest_time()
                shutil.rmtree(game.linux, ignore_errors=True)
            finally:
                delay.stop()
            url_of = lambda d: "http://127.0.0.1:%d/files/big.pak" % d.port  # noqa: E731
            delay = line()
            try:
                aria = timed(["aria2c", "-q", "-x8", "-s8", "--allow-overwrite=true", "-o", "big.pak",
                              url_of(delay)], folder)
            finally:
                delay.stop()
            delay = line()
            try:
                plain = timed(["curl", "-s", "-f", "-o", "big.pak", url_of(delay)], folder)
            finally:
                delay.stop()
            versus_aria.append(aria / ours)
            versus_curl.append(plain / ours)
            print("  line run %d: launcher %.2f s, aria2c -x8 %.2f s, curl %.2f s; aria2c / launcher %.2f"
                  % (index + 1, ours, aria, plain, aria / ours), flush=True)
    finally:
        server.stop()
    print("line %d MiB, aria2c / launcher: %s" % (args.big_mb, summary(versus_aria)), flush=True)
    print("line %d MiB, curl / launcher: %s" % (args.big_mb, summary(versus_curl)), flush=True)
    return versus_aria, versus_curl


def ten_second_windows(path):
    """Bytes in every 10 s window (0.1 s steps) that lies inside the transfer after its first
    second."""
    with open(path) as f:
        rows = [(round(float(fields[0]) * 10), int(fields[1])) for fields in (line.split() for line in f)
                if fields]
    if not rows:
        return []
    first, last = rows[0][0], rows[-1][0]
    series = [0] * (last - first + 1)
    for tick, count in rows:
        series[tick - first] += count
    start = 10  # the first second fills the socket buffers
    return [sum(series[s:s + 100]) for s in range(start, len(series) - 100 + 1)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--kib", type=int, default=2)
    parser.add_argument("--rtt-ms", type=float, default=50.0)
    parser.add_argument("--cap-seconds", type=float, default=20.0)
    parser.add_argument("--caps", default="1,10,50")
    parser.add_argument("--big-mb", type=int, default=128)
    parser.add_argument("--conn-mibs", type=float, default=4.0)
    parser.add_argument("--line-mibs", type=float, default=16.0)
    parser.add_argument("--only", default="direct,proxy,https,cap,line")
    parser.add_argument("--win-build", default=os.path.join(ROOT, "build", "win"))
    args = parser.parse_args()
    args.caps = [float(c) for c in args.caps.split(",") if c]
    os.environ["KM_WIN_BUILD"] = args.win_build
    folder = tempfile.mkdtemp(prefix="kmlauncher-netbench-")
    os.environ["KM_WINE_ENV"] = os.path.join(folder, "wine-env")
    web = {}
    try:
        env.setup()
        facts = env.load()
        certs = TestCertificates(os.path.join(folder, "certs"))
        if "https" in args.only.split(","):
            certs.trust_ca(facts)
        web["certs"] = certs
        paths = {"maps/area%02d/tile%05d.dat" % (i // 100, i): args.kib * 1024 for i in range(args.count)}
        release = Release(os.path.join(folder, "small"), paths)
        web_server = Nginx(release, os.path.join(folder, "small-nginx"), certs)
        proxy = Tinyproxy(folder)
        plain = "127.0.0.1:%d" % web_server.port
        paths_setup = {
            "direct": {"upstream": web_server.port, "server": lambda p: "127.0.0.1:%d" % p, "env": lambda p: {},
                       "url": lambda p: "http://127.0.0.1:%d" % p, "curl": lambda p: []},
            "proxy": {"upstream": proxy.port, "server": lambda p: plain,
                      "env": lambda p: {"http_proxy": "http://127.0.0.1:%d" % p},
                      "url": lambda p: "http://" + plain, "curl": lambda p: ["-x", "http://127.0.0.1:%d" % p]},
            "https": {"upstream": web_server.tls_port, "server": lambda p: "https://localhost:%d" % p,
                      "env": lambda p: {}, "url": lambda p: "https://localhost:%d" % p,
                      "curl": lambda p: ["--cacert", os.path.join(certs.folder, "ca.pem")]},
        }
        results = {}
        try:
            for name in [n for n in args.only.split(",") if n in paths_setup]:
                setup = dict(paths_setup[name], release=release, nginx=web_server)
                results[name] = measure_path(name, args, facts, folder, setup)
        finally:
            proxy.stop()
            web_server.stop()
        if "cap" in args.only.split(","):
            results["cap"] = measure_cap(args, facts, folder, web)
        if "line" in args.only.split(","):
            results["line"], results["line-curl"] = measure_line(args, facts, folder, web)
        print("\nsummary:")
        for name, values in results.items():
            print("  %-6s %s: %s" % (name, GOALS[name], summary(values)))
    finally:
        env.cleanup()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
