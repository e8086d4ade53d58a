"""What the window tests share: the launcher's window seen in design units, the colours the
painting uses composited the way the screen shows them, reference art to composite over, and
ways to hold the launcher in a phase long enough to look at it."""
import os
import subprocess
import threading

from kmtest import screen
from kmtest.case import LauncherTestCase, CONNECTING, READY, OFFLINE
from kmtest.launcher import GameFolder, Launcher, kill_processes_in, wait_until
from kmtest.server import ContentServer, manifest_text, crc32

SOURCE = os.environ.get("KM_SOURCE") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ORIGIN = (200, 75)  # the 800 x 600 window centred on the 1200 x 750 screen, scale 1.0

# ARGB colours of the painting.
TITLE_BAR = 0xEB060E1A
PANEL = 0xB904060A
PANEL_LINE = 0xA08CCDFF
TRACK = 0xFF101218
GOLD = 0xFFBEE1FF
ERROR = 0xFFF0785A
THUMB = 0xE6BEE1FF
HOVER_CLOSE = 0xFFC8283C
FILL_TOP, FILL_BOTTOM = 0xFFD7F0FF, 0xFF468CE6

BUTTONS = {  # design rectangles (left, top, right, bottom)
    "settings": (152, 528, 282, 578), "account": (288, 528, 418, 578), "retry": (424, 528, 554, 578),
    "play": (560, 528, 690, 578), "exit": (696, 528, 786, 578),
}


def centre(name):
    left, top, right, bottom = BUTTONS[name]
    return (left + right) // 2, (top + bottom) // 2


def to_screen(x, y, origin=ORIGIN, scale=1.0):
    return origin[0] + x * scale, origin[1] + y * scale


def rgb(argb):
    return (argb >> 16) & 255, (argb >> 8) & 255, argb & 255


def over(argb, under, alpha_factor=1.0):
    """The colour argb drawn over the opaque colour under, as the screen shows it."""
    alpha = ((argb >> 24) & 255) / 255.0 * alpha_factor
    return tuple(alpha * c + (1 - alpha) * u for c, u in zip(rgb(argb), under))


def distance(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


class Design:
    """A screenshot addressed in the window's design units."""

    def __init__(self, shot, origin=ORIGIN, scale=1.0):
        self.shot, self.origin, self.scale = shot, origin, scale

    def pixel(self, x, y):
        sx, sy = to_screen(x, y, self.origin, self.scale)
        return self.shot.pixel(sx, sy)

    def closest(self, box, target):
        """The smallest distance to target of any pixel in box (left, top, right, bottom)."""
        left, top, right, bottom = box
        return min(distance(self.pixel(x, y), target) for y in range(top, bottom) for x in range(left, right))


def _raw(path, size, channels):
    kind = "rgba" if channels == 4 else "rgb"
    data = subprocess.run(["/usr/bin/convert", path, "-resize", "%dx%d!" % size, "-depth", "8", kind + ":-"],
                          capture_output=True, check=True).stdout
    return data


class Art:
    """The launcher's pictures at their drawn size: the background at 800 x 600 and the normal
    button face at 130 x 50, to composite expected colours over."""
    _cache = {}

    @classmethod
    def background(cls, x, y):
        data = cls._cache.get("bg") or _raw(os.path.join(SOURCE, "resources", "background.jpg"), (800, 600), 3)
        cls._cache["bg"] = data
        offset = (y * 800 + x) * 3
        return tuple(data[offset:offset + 3])

    @classmethod
    def face(cls, x, y, hovered=False):
        """(r, g, b, alpha 0..1) of a button face at a point of a 130 x 50 button."""
        name = "button_hover.png" if hovered else "button.png"
        data = cls._cache.get(name) or _raw(os.path.join(SOURCE, "resources", name), (130, 50), 4)
        cls._cache[name] = data
        offset = (y * 130 + x) * 4
        r, g, b, a = data[offset:offset + 4]
        return (r, g, b), a / 255.0


def under_panel(x, y):
    """What the bottom panel shows at a design point where nothing else is drawn."""
    return over(PANEL, Art.background(x, y))


def button_face(name, dx, dy, faded, hovered=False):
    """The expected screen colour dx, dy into a 130-wide button with the normal (or hover) face."""
    left, top = BUTTONS[name][:2]
    colour, alpha = Art.face(dx, dy, hovered)
    alpha *= 0.45 if faded else 1.0
    under = under_panel(left + dx, top + dy)
    return tuple(alpha * c + (1 - alpha) * u for c, u in zip(colour, under))


def progress_fill_end(view):
    """The design x where the progress fill ends (25 when the track is empty)."""
    track = rgb(TRACK)
    end = 25
    for x in range(25, 775):
        if distance(view.pixel(x, 509), track) > 20:
            end = x + 1
    return end


class HeldManifest:
    """A content server whose manifest answer waits until released: the launcher stays in
    Connecting meanwhile."""

    def __init__(self, files=None, **manifest):
        self.gate = threading.Event()
        text = manifest_text(files or {}, **manifest)
        self.server = ContentServer(files or {}, lambda: (self.gate.wait(60), text)[1])

    def close(self):
        self.gate.set()
        self.server.stop()


def big_sparse_manifest(game, name="big.dat", size=3 << 30, small=None):
    """A manifest whose last file the game folder already has at the right size but not in
    its cache, so that checking must read all of it: a sparse file makes that take seconds.
    The optional small file goes first and is checked at once."""
    lines = ["KMCONTENT", "version 4"]
    entries = []
    if small:
        path, data = small
        game.write(path, data)
        entries.append("%08X %d %s" % (crc32(data), len(data), path))
    with open(game.path(name), "wb") as f:
        f.truncate(size)
    entries.append("%08X %d %s" % (0, size, name))
    return "\n".join(lines + ["files %d" % len(entries)] + entries) + "\n"


def launcher_windows(facts):
    """The visible windows of the launcher process captioned "Kelmorra" (Wine names a window's
    class after its program), with their geometry."""
    out = screen.xdotool(facts, "search", "--onlyvisible", "--class", "^kmlauncher\\.exe$")
    found = []
    for window in (int(w) for w in out.split()):
        if screen.xdotool(facts, "getwindowname", window) != "Kelmorra":
            continue
        try:
            found.append((window, screen.window_geometry(facts, window)))
        except (KeyError, ValueError):
            continue  # gone meanwhile
    return found


def main_window(facts):
    return next((w for w, geometry in launcher_windows(facts) if geometry[2] >= 700), None)


def message_boxes(facts):
    """The launcher's message boxes: its "Kelmorra" windows smaller than the main window."""
    return [w for w, geometry in launcher_windows(facts) if geometry[2] < 700]


def wait_for_message_box(facts, timeout=20):
    return wait_until(lambda: message_boxes(facts), timeout)


def message_box_texts(stderr_path):
    """The texts of the message boxes shown so far, from Wine's "msgbox" trace channel."""
    if not os.path.exists(stderr_path):
        return []
    with open(stderr_path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines()
    texts = []
    for line in lines:
        marker = "MSGBOX_OnInit L\""
        if marker in line:
            quoted = line[line.index(marker) + len(marker):].rstrip()
            texts.append(quoted[:-1].encode("latin-1").decode("unicode_escape") if quoted.endswith('"') else quoted)
    return texts


def settle(seconds=0.4):
    """A short pause after input, for the next status ticks to act on it."""
    wait_until(lambda: False, seconds)


class PlayerTestCase(LauncherTestCase):
    """Starts the launcher in a phase and drives its window with the mouse and keys."""

    def game_folder(self, standin=False, blank=False):
        game = GameFolder(self.facts, self._testMethodName, blank=blank)
        self.addCleanup(kill_processes_in, game.name)
        game.write("VERSIONINF.VER", "1")
        if standin:
            game.install_standin()
        return game

    def start_in(self, game, server_address, phase, trace_message_boxes=False, cwd=None):
        game.install_launcher()
        game.write_config(server_address)
        extra = {"KMLAUNCHER_STATUS_TRACE": game.windows + game.STATUS_TRACE}
        self.wine_trace = game.path("wine-trace.txt")
        if trace_message_boxes:
            extra["WINEDEBUG"] = "-all,trace+msgbox"
        process = Launcher(self.facts, game.path("KMLauncher.exe"), cwd=cwd, extra_env=extra,
                           stderr_path=self.wine_trace if trace_message_boxes else None)
        self.addCleanup(process.kill)
        self.wait_for_phase(game, phase)
        self.window = wait_until(lambda: main_window(self.facts), 30)
        self.assertTrue(self.window, "no launcher window")
        settle(0.3)  # a status tick has enabled the buttons
        return process

    def held_connecting(self):
        held = HeldManifest({}, version=1)
        self.addCleanup(held.close)
        game = self.game_folder()
        process = self.start_in(game, held.server.address, CONNECTING)
        return game, process

    def ready(self, game=None, trace_message_boxes=False, cwd=None, **manifest):
        """A launcher in Ready, in a fresh game folder unless one is given."""
        files = {"Kelmorra.dat": os.urandom(3000)}
        server = ContentServer(files, manifest_text(files, version=3, **manifest))
        self.addCleanup(server.stop)
        game = game or self.game_folder()
        return game, self.start_in(game, server.address, READY, trace_message_boxes, cwd)

    def offline(self, standin=False):
        server = ContentServer({}, None)
        address = server.address
        server.stop()  # refused from now on
        game = self.game_folder(standin)
        return game, self.start_in(game, address, OFFLINE, trace_message_boxes=True)

    def geometry(self):
        return screen.window_geometry(self.facts, self.window)

    def at(self, x, y):
        """Screen point of a design point of the window where it is now, at its scale."""
        left, top, width, _ = self.geometry()
        scale = width / 800.0
        return left + x * scale, top + y * scale

    def drag(self, start, offset, steps=6):
        x, y = start
        screen.press(self.facts, x, y)
        for step in range(1, steps + 1):
            screen.move_mouse(self.facts, x + offset[0] * step / steps, y + offset[1] * step / steps)
            settle(0.05)
        screen.release(self.facts, x + offset[0], y + offset[1])
        settle(0.3)

    def click_design(self, x, y):
        screen.click(self.facts, *self.at(x, y))

    def assert_stays_open(self, process):
        settle(0.8)
        self.assertTrue(process.running(), "the launcher closed")
