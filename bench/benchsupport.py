"""What the benchmarks in bench/ share: free ports, random files, nginx serving a release
tree (through the e2e tests' nginx starter), `kmcontent serve` on the same tree, a peak
memory sampler, stopping processes, and min/median/max summaries. Standard library only."""
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from kmtest import nginx  # noqa: E402

MIB = 1024 * 1024


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, deadline=10):
    end = time.time() + deadline
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


def write_random_file(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    piece = os.urandom(4 * MIB)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            f.write(piece[:min(left, len(piece))])
            left -= len(piece)


def start_nginx(release, folder):
    """nginx (a worker per CPU, sendfile) serving the release tree on a free port; its log is
    folder/nginx/access.log in the TIMED format. (process, port)."""
    prefix = os.path.join(folder, "nginx")
    os.makedirs(prefix, exist_ok=True)
    port = free_port()
    process = nginx.start(prefix, port, "root %s;" % release, nginx.TIMED, **nginx.FAST)
    wait_for_port(port)
    return process, port


def start_kmcontent(kmcontent, release, folder, *extra):
    """`kmcontent serve` on the release tree on a free port, its request log in folder. (process, port)."""
    port = free_port()
    process = subprocess.Popen([kmcontent, "serve", "--release", release, "--listen", "127.0.0.1:%d" % port,
                                "--accounts", os.path.join(folder, "accounts.db"),
                                "--log", os.path.join(folder, "kmcontent-requests.log")] + list(extra),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_port(port)
    return process, port


class MemorySampler:
    """Peak resident memory (VmRSS) of some processes, sampled every 20 ms."""

    def __init__(self, pids_function):
        self.pids_function = pids_function
        self.peak_kib = 0
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    @staticmethod
    def rss_kib(pid):
        try:
            with open("/proc/%d/status" % pid) as f:
                match = re.search(r"^VmRSS:\s+(\d+) kB", f.read(), re.M)
                return int(match.group(1)) if match else 0
        except OSError:
            return 0

    def run(self):
        while self.running:
            total = sum(self.rss_kib(pid) for pid in self.pids_function())
            self.peak_kib = max(self.peak_kib, total)
            time.sleep(0.02)

    def stop(self):
        self.running = False
        self.thread.join()
        return self.peak_kib


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(child) for child in f.read().split()]
    except OSError:
        return []


def stop(process):
    process.terminate()
    try:
        process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def remove_unless_kept(folder, keep):
    if keep:
        print("kept %s" % folder)
    else:
        shutil.rmtree(folder, ignore_errors=True)


def summary(values):
    return "median %.3f (%.3f to %.3f)" % (statistics.median(values), min(values), max(values))
