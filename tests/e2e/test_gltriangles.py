"""gltriangles.exe under Wine, used the way a person uses it.

Run by CTest, one test case per run (see CMakeLists.txt):
    test_gltriangles.py --exe EXE --probe PROBE --prefix PREFIX --keep DIR [Class.test_x]
"""

import argparse
import os
import sys
import unittest

from wineharness import Session, wait_for, windows_path

TITLE = "Drawing Triangles With OpenGL (WEZ 6.1)"
STYLE = 0x06CF0000        # WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS
WS_VISIBLE = 0x10000000
WS_EX_DLGMODALFRAME = 0x1
CLASS_STYLE = 0x23        # CS_VREDRAW | CS_HREDRAW | CS_OWNDC
EDGE_MARGIN = 2.0         # pixels: samples this close to a triangle edge are not judged
TOLERANCE = 3             # levels out of 255, per channel (Mesa is off by at most 1)
GRID = (128, 48)          # sample columns and rows over the client area


def scene(w0, h0):
    """The two triangles as ((r, g, b), (x, y)) per vertex, in scene units:
    creation-time client pixels, origin at the bottom left, y up."""
    return [[((1, 0, 0), (10, 10)), ((1, 1, 0), (60, 70)), ((0, 1, 0), (160, 20))],
            [((0, 1, 1), (220, 90)), ((0, 0, 1), (280, 5)), ((1, 0, 1), (w0 - 10, h0 - 10))]]


def cross(o, a, b):
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])


def segment_distance(p, a, b):
    dx, dy = b[0] - a[0], b[1] - a[1]
    t = max(0.0, min(1.0, ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / (dx * dx + dy * dy)))
    return ((p[0] - a[0] - t * dx) ** 2 + (p[1] - a[1] - t * dy) ** 2) ** 0.5


def colour_at(p, triangles):
    """Expected colour at point p (client pixels), or None near an edge."""
    colour = (0, 0, 0)
    for (ca, a), (cb, b), (cc, c) in triangles:
        if min(segment_distance(p, u, v) for u, v in ((a, b), (b, c), (c, a))) < EDGE_MARGIN:
            return None
        area = cross(a, b, c)
        wa, wb = cross(p, b, c) / area, cross(a, p, c) / area
        if min(wa, wb, 1 - wa - wb) >= 0:
            colour = tuple(round(255 * (wa * x + wb * y + (1 - wa - wb) * z))
                           for x, y, z in zip(ca, cb, cc))
    return colour


def client_triangles(w, h, w0, h0):
    """The scene set up in a w0 x h0 client area, in pixels of a w x h one,
    (0, 0) at its top left. The projection keeps the creation-time range,
    so x and y stretch apart."""
    return [[(c, (x * w / w0, h - y * h / h0)) for c, (x, y) in t] for t in scene(w0, h0)]


def expected_picture(w, h, w0, h0):
    """{(x, y): colour} on a grid over a w x h client area, (0, 0) at its
    top left, for a scene set up in a w0 x h0 client area."""
    triangles = client_triangles(w, h, w0, h0)
    cols, rows = GRID
    points = {(int((i + 0.5) * w / cols), int((j + 0.5) * h / rows))
              for i in range(cols) for j in range(rows)}
    judged = ((p, colour_at((p[0] + 0.5, p[1] + 0.5), triangles)) for p in sorted(points))
    return {p: colour for p, colour in judged if colour is not None}


def off(want, got):
    return max(abs(a - b) for a, b in zip(want, got)) > TOLERANCE


def describe(win):
    return (f"window {win['window']}, client {win['client']}, "
            f"(visible, minimised, maximised) {win['state']}")


class GlTrianglesTest(unittest.TestCase):
    def setUp(self):
        name = self.id().rsplit(".", 1)[-1]
        self.keep = os.path.join(ARGS.keep, name)
        self.session = Session(ARGS.prefix, ARGS.probe, self.keep).__enter__()
        self.addCleanup(self.session.__exit__)

    # --- helpers ---------------------------------------------------------
    def window_where(self, condition, what, timeout=20.0):
        def attempt():
            win = self.session.window()
            assert condition(win), "saw " + describe(win)
            return win
        return wait_for(attempt, what, timeout)

    def launch(self, picture=True):
        """Starts the exe; waits for its window and, unless told not to,
        its first picture."""
        app = self.session.start(ARGS.exe)
        win = self.window_where(lambda w: w["state"][0] == 1, "the main window", 40.0)
        self.creation = win["client"][2:]
        if picture:
            self.first_picture = self.assert_picture(win, "the first picture")
        return app, win

    def assert_picture(self, win, what):
        x0, y0, w, h = win["client"]
        w0, h0 = self.creation
        expected = expected_picture(w, h, w0, h0)
        self.assertGreater(len(expected), 500, "too few sample points to judge")
        last = []

        def attempt():
            shot = self.session.grab()
            last[:] = [shot]
            seen = ((p, want, shot.rgb(x0 + p[0], y0 + p[1])) for p, want in expected.items())
            wrong = [(p, want, got) for p, want, got in seen if off(want, got)]
            assert not wrong, (
                f"client {w}x{h} at ({x0}, {y0}), scene {w0}x{h0}: {len(wrong)} of "
                f"{len(expected)} sample points wrong; first (client x, y) expected/actual: " +
                "; ".join(f"{p} {want}/{got}" for p, want, got in wrong[:6]))
            return shot
        try:
            return wait_for(attempt, what, 20.0)
        except AssertionError as failure:
            path = last[0].save_png(os.path.join(self.keep, "wrong-picture.png"))
            raise AssertionError(f"{failure}\nscreenshot kept at {path}") from None

    def assert_fails_with_message_box(self, fault, text):
        launcher = self.session.start(ARGS.probe, "launch", fault, windows_path(ARGS.exe))

        def attempt():
            box = self.session.probe("msgbox")
            assert box and box["state"] == "1 1", f"no active message box yet: {box}"
            return box
        box = wait_for(attempt, "the error message box", 40.0)
        self.assertEqual((box["title"], box["text"], box["buttons"].strip(), box["owner"]),
                         ("Error", text, "OK", "0"))
        self.assertIsNone(self.session.probe("window"), "a main window exists too")
        self.assert_error_icon(box)

        self.session.key("Return")
        self.assertEqual(self.session.wait_exit(launcher), 1)
        self.assertIn(f"pid {box['pid']}", launcher.output(),
                      "the box did not come from the launched exe")

    def assert_error_icon(self, box):
        """The box shows the platform's error icon, pixel for pixel."""
        x, y, w, h = map(int, box["icon"].split())
        pixels = box["iconpixels"]
        shot = self.session.grab()
        opaque = [(x + i % w, y + i // w, tuple(bytes.fromhex(pixels[6 * i:6 * i + 6])))
                  for i in range(w * h) if pixels[6 * i] != "."]
        self.assertGreater(len(opaque), w * h // 4, "the expected icon is mostly see-through")
        seen = ((px, py, want, shot.rgb(px, py)) for px, py, want in opaque)
        wrong = [(px, py, want, got) for px, py, want, got in seen if off(want, got)]
        if wrong:
            path = shot.save_png(os.path.join(self.keep, "wrong-icon.png"))
            self.fail(f"{len(wrong)} of {len(opaque)} icon pixels differ, first (x, y, "
                      f"expected, actual): {wrong[:4]}\nscreenshot kept at {path}")

    # --- what a user sees -------------------------------------------------
    def test_window(self):
        _, win = self.launch(picture=False)
        self.assertEqual((win["class"], win["title"]), ("MinimalApp", TITLE))
        self.assertEqual(win["window"], (0, 0, 400, 150))
        self.assertEqual(hex(win["style"][0] & ~WS_VISIBLE), hex(STYLE))
        self.assertTrue(win["exstyle"][0] & WS_EX_DLGMODALFRAME, hex(win["exstyle"][0]))
        self.assertEqual(hex(win["classstyle"][0]), hex(CLASS_STYLE))
        self.assertEqual(win["state"], (1, 0, 0))  # shown normally

    def test_picture(self):
        _, win = self.launch()
        x, y, w, h = win["window"]
        # For people: the window as it first appears.
        self.first_picture.save_png(os.path.join(self.keep, "screenshot.png"), (x, y, w, h))

    def test_maximise_restore(self):
        _, win = self.launch()
        self.session.click(*win["maxbutton"])
        big = self.window_where(lambda w: w["state"] == (1, 0, 1), "the window to be maximised")
        self.assertTrue(big["client"][2] > win["client"][2] and
                        big["client"][3] > win["client"][3], describe(big))
        self.assert_picture(big, "the maximised picture")

        self.session.click(*big["maxbutton"])  # now the restore button
        back = self.window_where(lambda w: w["state"] == (1, 0, 0), "the window to be restored")
        self.assertEqual(back["window"], win["window"])
        self.assert_picture(back, "the restored picture")

    def test_live_resize(self):
        _, win = self.launch()
        self.session.probe("dragfull")
        x, y = win["grip"]
        wx, wy, ww, wh = win["window"]
        self.session.press(x, y)
        try:
            for dx, dy in ((40, 20), (150, 90), (330, 260), (100, 10), (-60, -25)):
                self.session.move(x + dx, y + dy)
                step = self.window_where(
                    lambda w: w["window"] == (wx, wy, ww + dx, wh + dy) and w["movesize"] == (1,),
                    f"the window to follow the drag by {dx:+}, {dy:+} in the sizing loop")
                self.assert_picture(step, f"the picture while dragging by {dx:+}, {dy:+}")
        finally:
            self.session.release()
        self.window_where(lambda w: w["movesize"] == (0,), "the end of the sizing loop")

    def test_minimise_restore(self):
        app, win = self.launch()
        self.session.click(*win["minbutton"])
        icon = self.window_where(lambda w: w["state"] == (1, 1, 0), "the window to be minimised")
        self.assertIsNone(app.poll(), "the process ended when minimised")
        self.session.click(*icon["minbutton"])  # a minimised window's restore button
        back = self.window_where(lambda w: w["state"] == (1, 0, 0), "the window to be restored")
        self.assertIsNone(app.poll(), "the process ended")
        self.assert_picture(back, "the picture after minimising and restoring")

    def test_close_button(self):
        app, win = self.launch(picture=False)
        self.session.click(*win["closebutton"])
        self.assertEqual(self.session.wait_exit(app), 0)
        self.assertIsNone(self.session.probe("window"))

    def test_alt_f4(self):
        app, _ = self.launch(picture=False)
        self.session.key("alt+F4")
        self.assertEqual(self.session.wait_exit(app), 0)
        self.assertIsNone(self.session.probe("window"))

    def test_register_failure(self):
        self.assert_fails_with_message_box(
            "register", "Error - can't register window class...\\rProgram terminated")

    def test_create_failure(self):
        self.assert_fails_with_message_box(
            "create", "Error - can't create main window...\\rProgram terminated")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--probe", "--prefix", "--keep"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
