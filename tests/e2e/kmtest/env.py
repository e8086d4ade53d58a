"""The Wine prefix and Xvfb display of one test run.

`python3 -m kmtest.env setup` (the CTest fixture) creates a fresh prefix with the Tahoma fonts
and crash dialogs off, starts Xvfb on a free display and a persistent wineserver, and writes
their facts to $KM_WINE_ENV/env.json; `cleanup` stops both. Tests read the facts with load().
The screen is 1200 x 750 unless $KM_SCREEN names another size ("1920x1080"): the same tests
then see the launcher at a larger scale. Screenshots go to $KM_ARTIFACTS when it is set.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
SCREEN = (1200, 750)  # the launcher's scale is exactly 1.0 on this work area


def screen_size():
    text = os.environ.get("KM_SCREEN")
    if not text:
        return SCREEN
    width, height = text.lower().split("x")
    return int(width), int(height)


def state_dir():
    return os.environ.get("KM_WINE_ENV") or os.path.join(os.getcwd(), "wine-env")


def wine_environment(prefix, display):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        # No Mono or Gecko prompts in a new prefix; no desktop entries written into $HOME
        # for the shortcuts an install makes.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "DISPLAY": display,
        "HOME": env.get("HOME") or "/root",
    })
    return env


def load():
    with open(os.path.join(state_dir(), "env.json")) as f:
        facts = json.load(f)
    facts["env"] = wine_environment(facts["prefix"], facts["display"])
    return facts


def free_display():
    for number in range(90, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists("/tmp/.X%d-lock" % number):
            return number
    raise RuntimeError("no free X display")


def _serves(process, number):
    """True once the Xvfb process serves the display; false when another server has it."""
    deadline = time.time() + 20
    while time.time() < deadline and process.poll() is None:
        if os.path.exists("/tmp/.X11-unix/X%d" % number):
            try:
                with open("/tmp/.X%d-lock" % number) as f:
                    return int(f.read().strip()) == process.pid
            except (OSError, ValueError):
                pass
        time.sleep(0.1)
    return False


def start_xvfb(size):
    """Xvfb on a free display. Setups for several screen sizes may run at once and pick the
    same number; the one that lost it tries the next."""
    for _ in range(20):
        number = free_display()
        process = subprocess.Popen(
            ["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % size, "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        if _serves(process, number):
            return ":%d" % number, process.pid
        process.kill()
        process.wait()
    raise RuntimeError("Xvfb did not start")


def create_prefix(prefix, env):
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(prefix)
    subprocess.run([WINE, "wineboot", "-i"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    os.makedirs(fonts, exist_ok=True)
    for name in os.listdir("/usr/share/wine/fonts"):
        if name.lower().startswith("tahoma"):
            shutil.copy(os.path.join("/usr/share/wine/fonts", name), fonts)
    add_registry_value(env, "HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog", "REG_DWORD", "0")
    # Xvfb runs no window manager, so Wine must place, size and frame its windows itself:
    # a "managed" window would lose the frame a manager would have drawn (its edges go
    # missing) and would wait in vain for a manager to maximise or minimise it.
    add_registry_value(env, "HKCU\\Software\\Wine\\X11 Driver", "Managed", "REG_SZ", "N")


def add_registry_value(env, key, name, kind, data, attempts=5):
    """`reg add` in a new prefix; tried again after a pause when it fails, as it once did
    while the prefix's own start-up was still writing the registry."""
    for attempt in range(attempts):
        done = subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)
        if done.returncode == 0:
            return
        time.sleep(1 + attempt)
    raise RuntimeError("reg add %s %s failed: %s" % (key, name, done.stderr.decode("latin-1")[-2000:]))


def setup():
    cleanup(quiet=True)
    root = state_dir()
    os.makedirs(root, exist_ok=True)
    size = screen_size()
    display, xvfb_pid = start_xvfb(size)
    prefix = os.path.join(root, "prefix")
    env = wine_environment(prefix, display)
    try:
        create_prefix(prefix, env)
    except BaseException:
        # Nothing records this display yet, so no cleanup would end it.
        subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        os.kill(xvfb_pid, signal.SIGTERM)
        raise
    server = subprocess.Popen([WINESERVER, "-p"], env=env, start_new_session=True)
    server.wait(timeout=30)
    artifacts = os.environ.get("KM_ARTIFACTS") or os.path.join(root, "artifacts")
    facts = {"prefix": prefix, "display": display, "xvfb_pid": xvfb_pid, "artifacts": artifacts,
             "screen": list(size)}
    os.makedirs(facts["artifacts"], exist_ok=True)
    with open(os.path.join(root, "env.json"), "w") as f:
        json.dump(facts, f)
    print("Wine prefix %s, display %s" % (prefix, display))


def cleanup(quiet=False):
    path = os.path.join(state_dir(), "env.json")
    if not os.path.exists(path):
        return
    facts = load()
    subprocess.run([WINESERVER, "-k"], env=facts["env"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    try:
        os.kill(facts["xvfb_pid"], signal.SIGTERM)
    except ProcessLookupError:
        pass
    os.remove(path)
    if not quiet:
        print("Stopped the Wine server and Xvfb on %s" % facts["display"])


if __name__ == "__main__":
    {"setup": setup, "cleanup": cleanup}[sys.argv[1]]()
