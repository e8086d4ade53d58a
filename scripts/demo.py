"""The demo behind scripts/demo: a sample release, the content server, and the launcher
updating a fresh game folder under Wine. Run it through scripts/demo (which builds first).

With --tls the content server speaks https with a certificate for "localhost" signed by a
demo CA made here, and that CA is added to the demo Wine prefix's root store, as an
operator's CA would be on a player's machine; the launcher is pointed at
https://localhost:25858."""
import os
import random
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from kmtest import env, screen  # noqa: E402  (the Wine and X helpers of the tests)
from kmtest.certs import TestCertificates  # noqa: E402

DEMO = os.path.join(ROOT, "build", "demo")
KMCONTENT = os.path.join(ROOT, "build", "native", "kmcontent")
WIN_BUILD = os.path.join(ROOT, "build", "win")
LAUNCHER = os.path.join(WIN_BUILD, "KMLauncher.exe")
STANDIN = os.path.join(ROOT, "build", "win", "tools", "standin", "Kelmorra.exe")
NOTES = """Version 12 - Winter Gate
The northern pass is open: explore the frozen ruins of Kel Varan.
New mounts: the ice elk and the storm hawk.
Guild halls can now be decorated.

Version 11
Faster loading of the harbour district.
Fixed the lighthouse quest for players who logged out during the storm.
"""


DEMO_SPEED_CAP_KBPS = 32768  # the picture-taking run: 32 MiB/s, about ten seconds for the release


def make_game_build(folder):
    """About 320 MB of deterministic sample files in 24 folders."""
    marker = folder + ".complete"
    if os.path.exists(marker):
        return
    shutil.rmtree(folder, ignore_errors=True)
    rng = random.Random(12)
    areas = ["maps", "textures", "sounds", "models", "music", "shaders"]
    for area in areas:
        for part in range(4):
            directory = os.path.join(folder, "data", area, "pack%d" % part)
            os.makedirs(directory)
            for index in range(12):
                size = rng.choice([4_000, 60_000, 400_000, 2_500_000])
                with open(os.path.join(directory, "%s_%02d.dat" % (area, index)), "wb") as f:
                    f.write(rng.randbytes(size))
    with open(os.path.join(folder, "data", "world.pak"), "wb") as f:
        for _ in range(8):
            f.write(rng.randbytes(16 * 1048576))
    shutil.copy(STANDIN, os.path.join(folder, "Kelmorra.exe"))
    open(marker, "w").close()


def publish(build, release):
    notes = os.path.join(DEMO, "notes.txt")
    with open(notes, "w") as f:
        f.write(NOTES)
    subprocess.run([KMCONTENT, "publish", "--build", build, "--out", release, "--version", "12",
                    "--name", "Winter Gate", "--notes", notes,
                    "--gameserver", "play.kelmorra.example:7777"], check=True)


def start_server(release, certificates):
    log = open(os.path.join(DEMO, "serve.log"), "a")
    tls = []
    if certificates:
        cert, key = certificates.pair("signed")
        tls = ["--tls-cert", cert, "--tls-key", key]
    server = subprocess.Popen([KMCONTENT, "serve", "--release", release, "--listen", "127.0.0.1:25858",
                               "--accounts", os.path.join(DEMO, "accounts.db")] + tls, stdout=log, stderr=log)
    time.sleep(0.5)
    if server.poll() is not None:
        sys.exit("kmcontent serve did not start (is port 25858 in use?); see build/demo/serve.log")
    return server


def wine_setup(display):
    prefix = os.path.join(DEMO, "wine")
    wine_env = env.wine_environment(prefix, display)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        print("Creating the Wine prefix (once)...")
        env.create_prefix(prefix, wine_env)
    return prefix, wine_env


def statuses(trace):
    if not os.path.exists(trace):
        return []
    with open(trace, "rb") as f:
        return [line.split("\t") for line in f.read().decode("latin-1").splitlines() if line]


def wait_for_phase(trace, phase, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if any(row[0] == str(phase) for row in statuses(trace)):
            return True
        time.sleep(0.2)
    return False


def window_shot(facts):
    """The launcher window's own picture (a root capture can show an overlapped window black)."""
    windows = screen.find_windows(facts, "Kelmorra")
    return screen.screenshot(facts, windows[0] if windows else None)


def main():
    tls = "--tls" in sys.argv[1:]
    os.makedirs(DEMO, exist_ok=True)
    build = os.path.join(DEMO, "gamebuild")
    release = os.path.join(DEMO, "release")
    print("Generating the sample game build...")
    make_game_build(build)
    publish(build, release)
    certificates = None
    if tls:
        os.environ.setdefault("KM_WIN_BUILD", WIN_BUILD)  # where the CA tool lives
        certificates = TestCertificates(os.path.join(DEMO, "tls"))
    server = start_server(release, certificates)
    xvfb_pid = None
    display = os.environ.get("DISPLAY")
    if not display:
        display, xvfb_pid = env.start_xvfb(env.screen_size())
    facts = {"env": None}
    try:
        prefix, wine_env = wine_setup(display)
        facts["env"] = wine_env
        if certificates:
            certificates.trust_ca(facts)
        game = os.path.join(prefix, "drive_c", "Games", "Kelmorra")
        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(game)
        shutil.copy(LAUNCHER, game)
        with open(os.path.join(game, "KMLauncher.cfg"), "w") as f:
            f.write("Server=%s\r\n" % ("https://localhost:25858" if tls else "127.0.0.1:25858"))
            if xvfb_pid is not None:
                # On loopback the update would end before its picture is taken; the capped run
                # takes about ten seconds, so "updating.png" shows a real update.
                f.write("MaxDownloadKBps=%d\r\n" % DEMO_SPEED_CAP_KBPS)
        trace = os.path.join(game, "status-trace.log")
        run_env = dict(wine_env, KMLAUNCHER_STATUS_TRACE="C:\\Games\\Kelmorra\\status-trace.log")
        print("Starting KMLauncher.exe in C:\\Games\\Kelmorra (Wine prefix %s)" % prefix)
        launcher = subprocess.Popen([env.WINE, os.path.join(game, "KMLauncher.exe")], env=run_env, cwd=game)
        if xvfb_pid is None:
            launcher.wait()
            return
        shots = os.path.join(DEMO, "shots")
        os.makedirs(shots, exist_ok=True)
        if wait_for_phase(trace, 2, 60):
            time.sleep(2)
            window_shot(facts).save(os.path.join(shots, "updating.png"))
            if statuses(trace)[-1][0] != "2":
                print("The update ended before its picture was taken; updating.png shows the next phase")
        if wait_for_phase(trace, 3, 600):
            time.sleep(0.5)
            window_shot(facts).save(os.path.join(shots, "ready.png"))
            print("The launcher reached Ready; screenshots are in %s" % shots)
        else:
            print("The launcher did not reach Ready; see %s" % os.path.join(game, "KMLauncher.log"))
        launcher.kill()
    finally:
        if certificates and facts["env"]:
            certificates.trust_ca(facts, False)  # each run makes its own CA
        server.send_signal(signal.SIGTERM)
        if xvfb_pid:
            subprocess.run([env.WINESERVER, "-k"], env=facts["env"] or os.environ)
            os.kill(xvfb_pid, signal.SIGTERM)


if __name__ == "__main__":
    main()
