"""The Xvfb display as a player sees it: screenshots with pixel probes, the launcher's window,
and xdotool mouse and key input."""
import os
import subprocess
import time

from kmtest import env


class Shot:
    """A screenshot held as RGB rows; saved as PNG for a person to open."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        offset = (int(y) * self.width + int(x)) * 3
        return tuple(self.rgb[offset:offset + 3])

    def save(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        header = b"P6 %d %d 255\n" % (self.width, self.height)
        subprocess.run(["/usr/bin/convert", "ppm:-", path], input=header + self.rgb, check=True)


def _read_ppm(data):
    # "P6\n<w> <h>\n255\n" followed by the pixels; "#" comment lines may sit in the header.
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    pos += 1
    return Shot(int(fields[1]), int(fields[2]), data[pos:])


def screenshot(facts, window=None):
    """The whole screen, or one X window's own picture: under Xvfb the screen's picture shows
    the launcher's dialogs and message boxes black, while each window's own picture is right."""
    source = ["-id", str(window)] if window else ["-root"]
    xwd = subprocess.run(["xwd"] + source + ["-silent"], env=facts["env"], capture_output=True, check=True).stdout
    ppm = subprocess.run(["/usr/bin/convert", "xwd:-", "ppm:-"], input=xwd, capture_output=True, check=True).stdout
    return _read_ppm(ppm)


def wait_until_still(facts, window, still_for=0.6, timeout=15):
    """Waits until the window's own picture stops changing (a dialog that is still filling
    itself in, or still moving its selection, would take keys meant for the finished one)."""
    deadline = time.time() + timeout
    last, since = None, time.time()
    while time.time() < deadline:
        shot = screenshot(facts, window).rgb
        if shot != last:
            last, since = shot, time.time()
        elif time.time() - since >= still_for:
            return True
        time.sleep(0.1)
    return False


def xdotool(facts, *args):
    result = subprocess.run(["xdotool"] + [str(a) for a in args], env=facts["env"], capture_output=True, text=True)
    return result.stdout.strip()


def find_windows(facts, title):
    out = xdotool(facts, "search", "--onlyvisible", "--name", "^%s$" % title)
    return [int(w) for w in out.split()] if out else []


def window_geometry(facts, window):
    """(x, y, width, height) of an X window on the screen."""
    out = xdotool(facts, "getwindowgeometry", "--shell", window)
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def move_mouse(facts, x, y):
    xdotool(facts, "mousemove", int(x), int(y))


def click(facts, x, y, button=1):
    xdotool(facts, "mousemove", int(x), int(y), "click", button)


def press(facts, x, y):
    xdotool(facts, "mousemove", int(x), int(y), "mousedown", 1)


def release(facts, x, y):
    xdotool(facts, "mousemove", int(x), int(y), "mouseup", 1)


def key(facts, window, name):
    """Focuses the window and presses the key (real key events, as from a keyboard)."""
    xdotool(facts, "windowfocus", "--sync", window)
    xdotool(facts, "key", name)


def type_text(facts, text):
    xdotool(facts, "type", "--delay", "20", text)
