"""Account creation as a player does it: NEW ACCOUNT opens the form over the disabled main
window, the fields are filled with the mouse and keyboard, "Create account" checks the input
and posts it to the content server, and the server's one-line answer decides what the window
shows. The server records each POST; the status line is read off the window's own picture as
the extent of its orange text."""
import os
import threading

from kmtest import screen
from kmtest.case import LauncherTestCase, READY
from kmtest.launcher import wait_until
from kmtest.server import ContentServer, manifest_text

TITLE = "Create an Kelmorra account"
NEW_ACCOUNT = (353, 553)  # design points of the main window
EXIT = (741, 553)
CLIENT = (3, 22)  # the account window's client area inside its frame
FIELDS = {"user": (185, 43), "password": (185, 95), "repetition": (185, 147), "email": (185, 199)}
CREATE = (190, 274)
CANCEL = (305, 274)
STATUS_BOX = (20, 222, 350, 254)
STATUS_TEXT = (240, 140, 100)
# Widths of the status line's text, in pixels of the default GUI font: "Name taken" and
# "Second window" stay below NARROW, "Creating your account..." (about 117) lies between;
# "Could not reach the server. Try again in a moment." and the user-name message are wider.
NARROW = 100
WIDE = 180


class AccountTestCase(LauncherTestCase):
    def ready_launcher(self, answer):
        server = ContentServer({}, manifest_text({}, version=1), register_answer=answer)
        self.addCleanup(server.stop)
        game = self.folder()
        process = self.start_launcher(game, server=server.address)
        self.wait_for_phase(game, READY)
        self.main = self.launcher_window()
        left, top, width, _ = screen.window_geometry(self.facts, self.main)
        scale = width / 800.0  # the same tests run on larger screens
        self.on_main = lambda point: (left + point[0] * scale, top + point[1] * scale)
        return game, server, process

    def account_window(self):
        windows = screen.find_windows(self.facts, TITLE)
        return windows[0] if windows else None

    def open_account(self):
        """Clicks NEW ACCOUNT until the form is up (the button works once the status tick has
        enabled it)."""
        def opened():
            if self.account_window():
                return True
            screen.click(self.facts, *self.on_main(NEW_ACCOUNT))
            return bool(wait_until(self.account_window, 3))

        self.assertTrue(wait_until(opened, 30), "no account window after NEW ACCOUNT")
        self.origin = screen.window_geometry(self.facts, self.account_window())[:2]

    def click(self, point):
        screen.click(self.facts, self.origin[0] + CLIENT[0] + point[0], self.origin[1] + CLIENT[1] + point[1])

    def fill(self, user, password, repetition, email=""):
        for name, text in (("user", user), ("password", password), ("repetition", repetition), ("email", email)):
            self.click(FIELDS[name])
            screen.xdotool(self.facts, "key", "End", "shift+Home", "BackSpace")
            if text:
                screen.type_text(self.facts, text)

    def posts(self, server):
        with server.lock:
            # The launcher's outcome report after each update pass is a POST too.
            return [r for r in server.requests if r.method == "POST" and r.path == "/register"]

    def create_until_posted(self, server, count):
        """Presses "Create account" until the server has seen count requests: a press while a
        request runs finds the button disabled and sends nothing."""
        def posted():
            if len(self.posts(server)) >= count:
                return True
            self.click(CREATE)
            return bool(wait_until(lambda: len(self.posts(server)) >= count, 3))

        self.assertTrue(wait_until(posted, 30), "request %d never reached the server" % count)

    def status_pixels(self):
        """Where the status line's text is drawn: the set of its orange pixels."""
        shot = screen.screenshot(self.facts, self.account_window())
        left, top, right, bottom = STATUS_BOX
        return frozenset((x, y) for y in range(top, bottom) for x in range(left, right)
                         if max(abs(a - b) for a, b in zip(shot.pixel(CLIENT[0] + x, CLIENT[1] + y), STATUS_TEXT)) < 40)

    def status_width(self):
        """How wide the status line's text is drawn (0 when it is empty)."""
        xs = [x for x, _ in self.status_pixels()]
        return max(xs) - min(xs) + 1 if xs else 0

    def keep(self, name):
        """Keeps a picture of the account window under the run's artifacts."""
        screen.screenshot(self.facts, self.account_window()).save(os.path.join(self.facts["artifacts"], name + ".png"))

    def assert_main_window_disabled(self, process):
        screen.click(self.facts, *self.on_main(EXIT))
        self.assertTrue(self.account_window())
        self.assertTrue(process.running(), "EXIT on the main window worked while the form was open")


class AccountFormTest(AccountTestCase):
    def test_checks_come_first_then_the_exact_request_and_the_success_box(self):
        game, server, process = self.ready_launcher(b"OK Welcome")
        self.open_account()
        self.assert_main_window_disabled(process)
        # The checks in their order: the name first even when the passwords are wrong too.
        shown = [frozenset()]
        for user, password, repetition, shot in (("ab", "abc", "x", "account-short-name"),
                                                 ("abc", "abc", "abc", "account-short-password"),
                                                 ("abc", "abcd", "abcde", "account-passwords-differ")):
            self.fill(user, password, repetition)
            self.click(CREATE)
            changed = wait_until(lambda: [p for p in [self.status_pixels()] if p and p != shown[-1]], 10)
            self.assertTrue(changed, "no new message for %s" % shot)
            shown += changed
            self.keep(shot)
        # "Username must be ..." and "Password must be at least 4 characters." are about as
        # wide; "The two passwords don't match." is clearly narrower.
        widths = [max(x for x, _ in p) - min(x for x, _ in p) + 1 for p in shown[1:]]
        self.assertGreater(widths[0], WIDE, widths)
        self.assertGreater(widths[1] - widths[2], 20, widths)

        self.fill("new player", "pa&ss", "pa&ss")
        self.create_until_posted(server, 1)
        request = self.posts(server)[0]
        self.assertEqual(request.path, "/register")
        self.assertEqual(request.body, b"user=new%20player&pass=pa%26ss&email=")
        self.assertEqual(request.headers.get("Content-Type"), "application/x-www-form-urlencoded")

        self.wait_for_log(game, "New account created: new player")
        boxes = wait_until(lambda: len(screen.find_windows(self.facts, "Kelmorra")) == 2, 10)
        self.assertTrue(boxes, "no success message box")
        self.assertEqual(len(self.posts(server)), 1, "the invalid attempts sent requests")
        box = [w for w in screen.find_windows(self.facts, "Kelmorra") if w != self.main][0]
        screen.key(self.facts, box, "Return")
        self.assertTrue(wait_until(lambda: not self.account_window(), 10), "the form stayed after success")
        # The main window works again: the form can be opened anew.
        self.open_account()

    def test_refusals_and_no_answer_are_shown_and_create_works_again(self):
        answers = [b"ERR Name taken\r\n", b"\r\n", b"Server under maintenance, come back later please"]
        game, server, process = self.ready_launcher(lambda: answers.pop(0))
        self.open_account()
        self.fill("player1", "secret", "secret", "me@example.org")
        self.create_until_posted(server, 1)
        self.assertEqual(self.posts(server)[0].body, b"user=player1&pass=secret&email=me%40example.org")
        # "Name taken" only, without its "ERR " prefix: narrower than "Creating your account...".
        self.assertTrue(wait_until(lambda: 0 < self.status_width() < NARROW, 10), self.status_width())
        self.keep("account-refused")
        self.create_until_posted(server, 2)
        self.assertTrue(wait_until(lambda: self.status_width() > WIDE, 10), "empty answer not shown as unreachable")
        self.create_until_posted(server, 3)
        self.assertTrue(wait_until(lambda: self.status_width() > WIDE, 10))
        self.keep("account-other-answer")

        server.stop()
        self.click(CREATE)
        self.assertTrue(wait_until(lambda: self.status_width() > WIDE, 30), "unreachable server not shown")
        self.keep("account-unreachable")
        self.assertTrue(process.running())
        self.assertFalse(any("New account created" in line for line in game.log_lines()))
        self.click(CANCEL)
        self.assertTrue(wait_until(lambda: not self.account_window(), 10))

    def test_closing_during_a_request_frees_the_main_window_and_drops_the_late_answer(self):
        release = threading.Event()
        answers = []

        def answer():
            if not answers:
                answers.append(1)
                release.wait(20)
                return b"OK"
            return b"ERR Second window"

        game, server, process = self.ready_launcher(answer)
        self.open_account()
        self.fill("slowpoke", "secret", "secret")
        self.create_until_posted(server, 1)
        creating = self.status_width()
        self.assertTrue(NARROW < creating < WIDE, creating)  # "Creating your account..."
        self.keep("account-creating")
        self.click(CANCEL)
        self.assertTrue(wait_until(lambda: not self.account_window(), 10), "Cancel did not close the form")

        # The main window is enabled at once: NEW ACCOUNT opens a fresh form while the first
        # request still waits for its answer.
        self.open_account()
        release.set()
        self.fill("second", "secret", "secret")
        self.create_until_posted(server, 2)
        self.assertTrue(wait_until(lambda: 0 < self.status_width() < NARROW, 10))
        # The late "OK" went nowhere: no success, and the new form is still open.
        self.assertTrue(self.account_window())
        self.assertEqual(len(screen.find_windows(self.facts, "Kelmorra")), 1)
        self.assertFalse(any("New account created" in line for line in game.log_lines()))
        self.assertTrue(process.running())
