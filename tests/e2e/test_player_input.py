"""The launcher driven with xdotool like a player: a press on anything that does not act drags
the window, push buttons act only when pressed and released on them, EXIT, Escape and the
title-bar buttons, Return and PLAY by phase (PLAY in Offline asks first), and the "What's
new" panel's wheel and thumb."""
from kmtest import screen
from kmtest.launcher import wait_until
import window_support as ws
from window_support import Design, PlayerTestCase, settle

NOTES = ["Version 12"] + ["Fixed item %d of the older release" % i for i in range(40)]
OFFLINE_QUESTION = "The game could not be checked for updates.\n\nPlay anyway?"


class DragTest(PlayerTestCase):
    def test_press_on_what_does_not_act_drags_the_window(self):
        game, process = self.held_connecting()
        self.assertEqual(self.geometry(), (200, 75, 800, 600))
        # Hovered, the disabled PLAY keeps its faded normal face.
        screen.move_mouse(self.facts, *self.at(*ws.centre("play")))
        settle()
        face = Design(screen.screenshot(self.facts)).pixel(560 + 12, 528 + 9)
        self.assertLess(ws.distance(face, ws.button_face("play", 12, 9, faded=True)), 8)
        # The faded PLAY, the place of the undrawn SETTINGS and the title text.
        drags = ((ws.centre("play"), (60, 42)), (ws.centre("settings"), (-30, 20)), ((100, 13), (10, -40)))
        for point, offset in drags:
            before = self.geometry()
            self.drag(self.at(*point), offset)
            after = self.geometry()
            self.assertEqual((after[0] - before[0], after[1] - before[1]), offset, "drag from %s" % (point,))
        self.assertTrue(process.running())
        self.assertEqual(game.log_lines().count("Started Kelmorra.exe"), 0)


class PushButtonTest(PlayerTestCase):
    def test_exit_acts_only_when_released_on_it(self):
        game, process = self.held_connecting()
        exit_point = self.at(*ws.centre("exit"))
        # Pressed, moved off, released: nothing happens, and the window does not move.
        self.drag(exit_point, (-300, -200))
        self.assert_stays_open(process)
        self.assertEqual(self.geometry(), (200, 75, 800, 600))
        # Pressed, moved off and back on, released: EXIT closes the launcher.
        screen.press(self.facts, *exit_point)
        screen.move_mouse(self.facts, exit_point[0] - 300, exit_point[1] - 200)
        settle(0.1)
        screen.move_mouse(self.facts, *exit_point)
        settle(0.1)
        screen.release(self.facts, *exit_point)
        self.assertEqual(self.wait_for_exit(process), 0)
        self.assertEqual(game.log_lines()[-1], "Launcher closed")

    def test_title_bar_buttons_maximise_restore_and_close(self):
        game, process = self.ready()
        # Hovering the close button lights it red.
        screen.move_mouse(self.facts, *self.at(782, 13))
        settle(0.3)
        view = Design(screen.screenshot(self.facts))
        self.assertLess(ws.distance(view.pixel(770, 3), ws.rgb(ws.HOVER_CLOSE)), 12)
        self.assertGreater(ws.distance(view.pixel(740, 3), ws.rgb(ws.HOVER_CLOSE)), 100, "only close is lit")
        # Hovering an enabled button shows its hover face.
        screen.move_mouse(self.facts, *self.at(*ws.centre("play")))
        settle()
        face = Design(screen.screenshot(self.facts)).pixel(560 + 12, 528 + 9)
        self.assertLess(ws.distance(face, ws.button_face("play", 12, 9, faded=False, hovered=True)), 8)

        # Maximised: the largest 4:3 box of the 1200 x 750 work area, centred across.
        self.click_design(747, 13)
        self.assertTrue(wait_until(lambda: self.geometry() == (100, 0, 1000, 750), 10), self.geometry())
        settle()
        view = Design(self.shot("maximised"), origin=(100, 0), scale=1.25)
        self.assertGreater(ws.progress_fill_end(view), 773, "painted at the new scale")
        self.click_design(747, 13)
        self.assertTrue(wait_until(lambda: self.geometry() == (200, 75, 800, 600), 10), self.geometry())

        self.click_design(782, 13)
        self.assertEqual(self.wait_for_exit(process), 0)

    def test_minimise_hides_the_window_and_keeps_the_launcher(self):
        game, process = self.held_connecting()
        self.click_design(712, 13)
        self.assertTrue(wait_until(lambda: ws.main_window(self.facts) is None, 10), "still shown at full size")
        self.assert_stays_open(process)


class KeysAndPlayTest(PlayerTestCase):
    def test_return_and_play_do_not_start_the_game_before_asking_in_offline(self):
        game, process = self.offline(standin=True)
        screen.key(self.facts, self.window, "Return")
        self.assert_stays_open(process)
        self.assertEqual(ws.message_boxes(self.facts), [], "Return asked or played in Offline")

        # PLAY asks; No leaves everything as it was.
        self.click_design(*ws.centre("play"))
        boxes = ws.wait_for_message_box(self.facts)
        self.assertTrue(boxes, "PLAY in Offline did not ask")
        self.assertEqual(ws.message_box_texts(self.wine_trace), [OFFLINE_QUESTION])
        screen.key(self.facts, boxes[0], "n")
        self.assertTrue(wait_until(lambda: not ws.message_boxes(self.facts), 10))
        self.assert_stays_open(process)
        self.assertFalse(game.exists("Kelmorra-report.txt"))

        # Yes (the default button) plays with the files as they are.
        self.click_design(*ws.centre("play"))
        boxes = ws.wait_for_message_box(self.facts)
        self.assertTrue(boxes)
        screen.key(self.facts, boxes[0], "Return")
        self.assertEqual(self.wait_for_exit(process), 0)
        self.assertIn("Started Kelmorra.exe", game.log_lines())
        self.assertTrue(wait_until(lambda: game.exists("Kelmorra-report.txt"), 20))

    def test_return_plays_in_ready(self):
        game, process = self.ready(self.game_folder(standin=True))
        screen.key(self.facts, self.window, "Return")
        self.assertEqual(self.wait_for_exit(process), 0)
        self.assertIn("Started Kelmorra.exe", game.log_lines())
        self.assertTrue(wait_until(lambda: game.exists("Kelmorra-report.txt"), 20))

    def test_escape_closes_in_offline(self):
        game, process = self.offline()
        screen.key(self.facts, self.window, "Escape")
        self.assertEqual(self.wait_for_exit(process), 0)


class NotesScrollTest(PlayerTestCase):
    def thumb(self):
        """(top, bottom) of the scroll thumb in design units."""
        view = Design(screen.screenshot(self.facts))
        rows = [y for y in range(60, 420) if view.pixel(395, y)[1] > 150]
        return (rows[0], rows[-1]) if rows else None

    def test_wheel_scrolls_only_inside_the_panel(self):
        game, process = self.ready(notes=NOTES)
        top, bottom = self.thumb()
        self.assertEqual(top, 64)
        height = bottom - top + 1
        screen.move_mouse(self.facts, *self.at(600, 300))  # the background, right of the panel
        screen.xdotool(self.facts, "click", 5)
        settle()
        self.assertEqual(self.thumb()[0], 64, "the wheel scrolled outside the panel")
        # One notch down scrolls 48 units; the thumb moves by its share of that.
        screen.move_mouse(self.facts, *self.at(200, 200))
        screen.xdotool(self.facts, "click", 5)
        settle()
        self.assertAlmostEqual(self.thumb()[0], 64 + 48 * height / 348.0, delta=2)
        self.shot("ready-scrolled")
        screen.xdotool(self.facts, "click", 4)
        settle()
        self.assertEqual(self.thumb()[0], 64)

    def test_thumb_drag_past_either_end_pins_the_offset(self):
        game, process = self.ready(notes=NOTES)
        start = self.geometry()
        self.drag(self.at(395, 80), (0, 500))
        self.assertEqual(self.thumb()[1], 64 + 348 - 1, "thumb at the bottom of the track")
        self.drag(self.at(395, 400), (0, -500))
        self.assertEqual(self.thumb()[0], 64, "thumb back at the top")
        # A press inside a panel that scrolls does nothing, not even move the window.
        self.drag(self.at(200, 200), (40, 40))
        self.assertEqual(self.geometry(), start)
        self.assertTrue(process.running())
