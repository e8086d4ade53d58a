#!/usr/bin/python3
"""Throughput of `kmcontent publish` and `kmcontent serve`, measured in one run beside nginx
serving the same release tree. Run by hand (not part of CTest):

    bench/serve_vs_nginx.py [--build-dir build/native] [--big-mb 1024] [--many-mb 256]

It makes a build folder in a temporary folder (one big file and a few thousand small ones),
then measures:
  1. publish: hashing only (--dry-run, the files in the page cache; best of three) and a
     full publish (copy, hash, flush to disk, swap in);
  2. serve and nginx, taking turns on their own loopback ports: one download of the big
     file (best of three rounds), and 50 concurrent downloads of a smaller file (best of
     two), each by curl into /dev/null; the resident memory of each server is sampled every
     20 ms throughout (goal: serve at least 0.9 of nginx);
  3. serve's peak memory for one download of a small and of the big file, which shows
     whether memory grows with the size of the file;
  4. patch day, for serve and for nginx: 200 clients that send their request head one
     byte a second (each from its own loopback address, as players would be) and 100
     downloads running flat out, while /manifest is asked for on a new connection every
     20 ms: its answer times (median, 99th percentile, worst; goal: p99 under 50 ms), the
     download throughput meanwhile, and peak memory against memory at rest.
nginx is started from its own configuration and prefix inside the temporary folder. Every
run is bounded by a time-out; nothing leaves 127.0.0.1. Needs nginx and curl.
"""
import argparse
import http.client
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from benchsupport import (MIB, MemorySampler, children, remove_unless_kept, start_kmcontent,  # noqa: E402
                          start_nginx, stop, write_random_file)

CONCURRENT = 50


def make_build(folder, big_mb, many_mb):
    build = os.path.join(folder, "build")
    write_random_file(os.path.join(build, "Data", "big.pak"), big_mb * MIB)
    write_random_file(os.path.join(build, "Data", "many.pak"), many_mb * MIB)
    small = os.urandom(64 * 1024)
    for index in range(3000):
        path = os.path.join(build, "maps", "area%02d" % (index % 30), "tile%04d.dat" % index)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(small[: 1000 + (index * 37) % len(small)])
    return build


def folder_bytes(folder):
    total = 0
    for base, _, names in os.walk(folder):
        total += sum(os.path.getsize(os.path.join(base, name)) for name in names)
    return total


def run_publish(kmcontent, build, *extra):
    started = time.perf_counter()
    subprocess.run([kmcontent, "publish", "--build", build, "--version", "1", *extra], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)
    return time.perf_counter() - started


def bench_publish(kmcontent, build, folder):
    size = folder_bytes(build)
    run_publish(kmcontent, build, "--dry-run")  # warm the page cache
    hashing = min(run_publish(kmcontent, build, "--dry-run") for _ in range(3))
    release = os.path.join(folder, "release")
    full = run_publish(kmcontent, build, "--out", release)
    return size, hashing, full, release


def curl(url, *extra):
    return subprocess.Popen(["curl", "-s", "-f", "-o", "/dev/null", "-w", "%{size_download}", *extra, url],
                            stdout=subprocess.PIPE, text=True)


def download(url, count, expected):
    """Bytes per second of `count` simultaneous downloads of url (all must be complete)."""
    started = time.perf_counter()
    processes = [curl(url) for _ in range(count)]
    sizes = []
    for process in processes:
        out, _ = process.communicate(timeout=600)
        if process.returncode != 0:
            raise RuntimeError("curl failed on %s" % url)
        sizes.append(int(out))
    seconds = time.perf_counter() - started
    if any(size != expected for size in sizes):
        raise RuntimeError("short download from %s: %s" % (url, sizes))
    return sum(sizes) / seconds


def measure(servers, big, many):
    """{name: (single download B/s, 50 concurrent B/s, peak RSS KiB)}. The servers take turns,
    round after round, and each keeps its best round, so a burst of load from elsewhere on
    the machine does not count against one of them only."""
    samplers = {name: MemorySampler(pids) for name, (_, pids) in servers.items()}
    single = {name: 0 for name in servers}
    concurrent = {name: 0 for name in servers}
    for _ in range(3):
        for name, (base, _) in servers.items():
            single[name] = max(single[name], download(base + "/files/Data/big.pak", 1, big))
    for _ in range(2):
        for name, (base, _) in servers.items():
            concurrent[name] = max(concurrent[name], download(base + "/files/Data/many.pak", CONCURRENT, many))
    return {name: (single[name], concurrent[name], samplers[name].stop()) for name in servers}


SLOW_CLIENTS = 200
PATCH_DAY_DOWNLOADS = 100
PATCH_DAY_SECONDS = 10


class SlowClients:
    """Connections that send a request head one byte a second, each from its own address."""

    def __init__(self, port, count):
        self.sockets = []
        for index in range(count):
            sock = socket.socket()
            sock.bind(("127.0.%d.%d" % (1 + index // 250, 1 + index % 250), 0))
            sock.connect(("127.0.0.1", port))
            sock.sendall(b"GET /manifest HTTP/1.1\r\nHost: x\r\nX-Slow: ")
            self.sockets.append(sock)
        self.running = True
        self.thread = threading.Thread(target=self.drip, daemon=True)
        self.thread.start()

    def drip(self):
        while self.running:
            for sock in self.sockets:
                try:
                    sock.send(b"a")
                except OSError:
                    pass
            time.sleep(1)

    def close(self):
        self.running = False
        self.thread.join()
        for sock in self.sockets:
            sock.close()


def manifest_latencies(port, seconds):
    """Seconds per GET /manifest, each on a new connection, and how many failed."""
    times, failures = [], 0
    end = time.time() + seconds
    while time.time() < end:
        started = time.perf_counter()
        try:
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=("127.0.10.1", 0))
            conn.request("GET", "/manifest")
            response = conn.getresponse()
            response.read()
            conn.close()
            if response.status != 200:
                failures += 1
            else:
                times.append(time.perf_counter() - started)
        except OSError:
            failures += 1
        time.sleep(0.02)
    return sorted(times), failures


def patch_day(port, pids_function):
    """/manifest answer times under slow clients and flat-out downloads, with throughput and memory."""
    at_rest = sum(MemorySampler.rss_kib(pid) for pid in pids_function())
    sampler = MemorySampler(pids_function)
    slow = SlowClients(port, SLOW_CLIENTS)
    started = time.perf_counter()
    downloads = [curl("http://127.0.0.1:%d/files/Data/many.pak" % port, "--max-time", str(PATCH_DAY_SECONDS),
                      "--interface", "127.0.9.%d" % (1 + index))  # a player each, like the slow clients
                 for index in range(PATCH_DAY_DOWNLOADS)]
    time.sleep(0.5)
    times, failures = manifest_latencies(port, PATCH_DAY_SECONDS - 1.5)
    downloaded = 0
    for process in downloads:
        out, _ = process.communicate(timeout=120)
        downloaded += int(out or 0)
    seconds = time.perf_counter() - started
    slow.close()
    peak = sampler.stop()
    if not times:
        return None
    pick = lambda q: times[min(len(times) - 1, int(q * len(times)))] * 1000
    return pick(0.5), pick(0.99), times[-1] * 1000, len(times), failures, downloaded / seconds, at_rest, peak


def print_patch_day(name, result):
    if result is None:
        print("  %-16s no /manifest answer at all" % name)
        return
    p50, p99, worst, count, failures, rate, at_rest, peak = result
    print("  %-16s %7.1f %7.1f %7.1f ms %5d/%-3d %8.0f MB/s %7.1f -> %7.1f MiB"
          % (name, p50, p99, worst, count, failures, rate / 1e6, at_rest / 1024, peak / 1024))


def peak_for_one_download(kmcontent, release, folder, path, size):
    process, port = start_kmcontent(kmcontent, release, folder)
    try:
        sampler = MemorySampler(lambda: [process.pid])
        download("http://127.0.0.1:%d/files/%s" % (port, path), 1, size)
        time.sleep(0.1)
        return sampler.stop()
    finally:
        stop(process)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "native"),
                        help="the native build folder holding kmcontent")
    parser.add_argument("--big-mb", type=int, default=1024, help="size of the file of the single download")
    parser.add_argument("--many-mb", type=int, default=256, help="size of the file of the 50 concurrent downloads")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    kmcontent = os.path.join(args.build_dir, "kmcontent")
    for needed in (kmcontent, shutil.which("curl"), shutil.which("nginx") or "/usr/sbin/nginx"):
        if not needed or not os.path.exists(needed):
            sys.exit("missing: %s" % needed)

    folder = tempfile.mkdtemp(prefix="kmcontent-bench-")
    try:
        print("Making a build folder in %s ..." % folder, flush=True)
        build = make_build(folder, args.big_mb, args.many_mb)
        size, hashing, full, release = bench_publish(kmcontent, build, folder)
        print("\npublish, %.0f MiB in %d files:" % (size / MIB, 3002))
        print("  hashing only (page cache, best of 3): %6.2f s  %7.0f MB/s" % (hashing, size / hashing / 1e6))
        print("  full publish (copy, hash, sync, swap): %6.2f s  %7.0f MB/s" % (full, size / full / 1e6))

        big, many = args.big_mb * MIB, args.many_mb * MIB
        ours, ours_port = start_kmcontent(kmcontent, release, folder)
        theirs, theirs_port = start_nginx(release, folder)
        try:
            results = measure({"kmcontent serve": ("http://127.0.0.1:%d" % ours_port, lambda: [ours.pid]),
                               "nginx": ("http://127.0.0.1:%d" % theirs_port,
                                         lambda: [theirs.pid] + children(theirs.pid))}, big, many)
        finally:
            stop(ours)
            stop(theirs)
        print("\nserve on loopback (curl clients), %d MiB single, %d x %d MiB concurrent:"
              % (args.big_mb, CONCURRENT, args.many_mb))
        print("  %-16s %14s %16s %14s" % ("", "one download", "50 concurrent", "peak RSS"))
        for name, (single, concurrent, peak) in results.items():
            print("  %-16s %9.0f MB/s %11.0f MB/s %11.1f MiB" % (name, single / 1e6, concurrent / 1e6, peak / 1024))
        ours, theirs = results["kmcontent serve"], results["nginx"]
        print("  ratio serve/nginx: one download %.2f, 50 concurrent %.2f" % (ours[0] / theirs[0], ours[1] / theirs[1]))

        patch = {}
        process, port = start_kmcontent(kmcontent, release, folder)
        try:
            patch["kmcontent serve"] = patch_day(port, lambda: [process.pid])
        finally:
            stop(process)
        process, port = start_nginx(release, folder)
        try:
            patch["nginx"] = patch_day(port, lambda: [process.pid] + children(process.pid))
        finally:
            stop(process)
        print("\npatch day: %d clients sending heads slowly, %d downloads for %d s, /manifest every 20 ms:"
              % (SLOW_CLIENTS, PATCH_DAY_DOWNLOADS, PATCH_DAY_SECONDS))
        print("  %-16s %7s %7s %7s    %9s %13s %21s" % ("", "p50", "p99", "worst", "ok/failed", "downloads",
                                                         "RSS at rest -> peak"))
        for name, result in patch.items():
            print_patch_day(name, result)

        small_peak = peak_for_one_download(kmcontent, release, folder, "maps/area00/tile0000.dat", 1000)
        big_peak = peak_for_one_download(kmcontent, release, folder, "Data/big.pak", big)
        print("\nserve peak RSS for one download: 1000 bytes -> %.1f MiB, %d MiB -> %.1f MiB"
              % (small_peak / 1024, args.big_mb, big_peak / 1024))
    finally:
        remove_unless_kept(folder, args.keep)


if __name__ == "__main__":
    main()
