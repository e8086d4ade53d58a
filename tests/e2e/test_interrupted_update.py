"""An update interrupted: paused by the player, who resumes it later, or killed midway (the PC
switched off), which the next start without a connection names before the player plays."""
import os

from kmtest.case import OFFLINE, READY, UPDATING
from kmtest.launcher import kill_processes_in, wait_until
from kmtest.server import ContentServer, Rule, manifest_text
import window_support as ws
from test_accessibility import acc_client

BIG = 64 << 20


class PauseTest(ws.PlayerTestCase):
    def test_pause_stops_every_byte_and_resume_ranges_from_the_part_file(self):
        files = {"Kelmorra.dat": os.urandom(BIG)}
        server = ContentServer(files, manifest_text(files, version=5, name="Winter Gate"))
        server.rules["/files/Kelmorra.dat"] = Rule(delay_per_chunk=0.01)
        self.addCleanup(server.stop)
        game = self.game_folder()
        self.start_in(game, server.address, UPDATING)
        part = game.path("Kelmorra.dat.part")
        self.assertTrue(wait_until(lambda: os.path.exists(part) and os.path.getsize(part) > 8 << 20, 60))
        ws.settle(0.3)  # the tick that offers PAUSE in the RETRY place
        self.click_design(*ws.centre("retry"))
        paused = self.wait_for_phase_headline(game, "Update paused")
        self.assertEqual(paused[0], UPDATING)
        self.assertIn("Press RESUME", paused[2])
        self.wait_for_log(game, "Update paused by the player")
        ws.settle(0.5)  # a write the server had begun may still end
        with server.lock:
            sent, asked = server.body_bytes_sent, len(server.requests)
        held = os.path.getsize(part)
        ws.settle(3.0)
        with server.lock:
            self.assertEqual(server.body_bytes_sent, sent, "bytes were sent while the update was paused")
            self.assertEqual(len(server.requests), asked, "requests were made while the update was paused")
        self.assertEqual(os.path.getsize(part), held)
        self.assertLess(held, BIG)
        shot = ws.screen.screenshot(self.facts, self.window)
        shot.save(os.path.join(self.facts["artifacts"], "paused.png"))
        # A screen reader hears the same: the paused headline and RESUME in the RETRY place.
        code, out = acc_client(self.facts, "read")
        self.assertRegex(out, r"child 3 role=43 state=0x100000 at=\S+ name=RESUME value=")
        self.assertRegex(out, r"child 6 role=41 state=0x40 at=\S+ name=Update paused value=")

        self.click_design(*ws.centre("retry"))  # now RESUME
        self.wait_for_log(game, "Update resumed by the player")
        self.wait_for_phase(game, READY, timeout=120)
        self.assertEqual(game.read("Kelmorra.dat"), files["Kelmorra.dat"])
        resumed = [r for r in server.requests[asked:] if r.path == "/files/Kelmorra.dat"]
        self.assertTrue(resumed, server.requests[asked:])
        self.assertEqual(resumed[0].headers.get("Range"), "bytes=%d-" % held)

    def wait_for_phase_headline(self, game, headline, timeout=30):
        found = wait_until(lambda: [s for s in game.statuses() if s[1] == headline], timeout)
        self.assertTrue(found, "no %r status; statuses: %s" % (headline, game.statuses()[-5:]))
        return found[-1]


class UnfinishedUpdateTest(ws.PlayerTestCase):
    def test_a_pass_killed_midway_is_named_by_the_offline_question_until_a_pass_ends_well(self):
        files = {"a.dat": os.urandom(5000), "b.dat": os.urandom(32 << 20)}
        server = ContentServer(files, manifest_text(files, version=6, name="Winter Gate"))
        server.rules["/files/b.dat"] = Rule(delay_per_chunk=0.05)
        self.addCleanup(server.stop)
        game = self.game_folder()
        process = self.start_in(game, server.address, UPDATING)
        self.wait_for_log(game, "Updated a.dat")
        process.kill()
        kill_processes_in(game.name)
        self.assertTrue(game.exists("KMLauncher.unfinished"), "the pass left no mark")

        refused = ContentServer({}, None)
        address = refused.address
        refused.stop()
        self.start_in(game, address, OFFLINE, trace_message_boxes=True)
        self.click_design(*ws.centre("play"))
        box = ws.wait_for_message_box(self.facts)
        self.assertTrue(box, "PLAY in Offline asked nothing")
        shot = ws.screen.screenshot(self.facts, box[0])
        shot.save(os.path.join(self.facts["artifacts"], "offline-unfinished.png"))
        ws.screen.key(self.facts, box[0], "n")
        texts = ws.message_box_texts(self.wine_trace)
        self.assertEqual(len(texts), 1, texts)
        self.assertTrue(texts[0].startswith("The last update (Winter Gate) did not finish"), texts[0])
        self.assertIn("the game may not start", texts[0])
        self.assertTrue(texts[0].endswith("The game could not be checked for updates.\n\nPlay anyway?"), texts[0])
        self.wait_for_log(game, "The last update (Winter Gate) did not finish; the game may not start")
        self.assertFalse(game.exists("Kelmorra-report.txt"))

        kill_processes_in(game.name)
        server.rules.clear()
        self.start_in(game, server.address, READY)
        self.assertEqual(game.read("b.dat"), files["b.dat"])
        self.assertFalse(game.exists("KMLauncher.unfinished"), "a pass that ended well kept the mark")
